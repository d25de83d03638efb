#include "Package.h"

#include "PellarSetupDlg.h"
#include "handles.h"

#include <vector>

CopyResult CopyPackage(HANDLE hSource, HANDLE hDest, CCopyProgress& progress) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(hSource, &size) || size.QuadPart < 4)
        return COPY_BAD_TRAILER;
    LARGE_INTEGER pos;
    pos.QuadPart = -4;
    BYTE trailer[4] = {};
    DWORD got = 0;
    if (!::SetFilePointerEx(hSource, pos, nullptr, FILE_END) ||
        !::ReadFile(hSource, trailer, 4, &got, nullptr) || got != 4)
        return COPY_READ;
    ULONGLONG remaining =
        static_cast<ULONGLONG>(trailer[0]) | (static_cast<ULONGLONG>(trailer[1]) << 8) |
        (static_cast<ULONGLONG>(trailer[2]) << 16) | (static_cast<ULONGLONG>(trailer[3]) << 24);
    // Never seek before the start of the file: a longer trailer means a damaged installer.
    if (remaining + 4 > static_cast<ULONGLONG>(size.QuadPart))
        return COPY_BAD_TRAILER;

    progress.SetRange(static_cast<WORD>((remaining + 1) / PACKAGE_CHUNK));

    pos.QuadPart = -static_cast<LONGLONG>(remaining + 4);
    if (!::SetFilePointerEx(hSource, pos, nullptr, FILE_END))
        return COPY_READ;
    std::vector<BYTE> buffer(PACKAGE_CHUNK);
    while (remaining != 0) {
        DWORD want = remaining < PACKAGE_CHUNK ? static_cast<DWORD>(remaining) : PACKAGE_CHUNK;
        DWORD read = 0;
        // A read that yields nothing before the package is complete would otherwise loop forever.
        if (!::ReadFile(hSource, buffer.data(), want, &read, nullptr) || read == 0)
            return COPY_READ;
        DWORD written = 0;
        if (!::WriteFile(hDest, buffer.data(), read, &written, nullptr) || written != read ||
            !::FlushFileBuffers(hDest))
            return COPY_WRITE;
        remaining -= read;
        progress.Step();
    }
    return COPY_OK;
}

CString GetModulePath() {
    wchar_t path[1024] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, 1024);
    if (n == 0 || n >= 1024)
        return CString();
    return CString(path);
}

namespace {
// The wizard's progress bar, kept painting while the copy runs.
class CWizardProgress : public CCopyProgress {
  public:
    explicit CWizardProgress(CPellarSetupDlg* pDlg) : m_pDlg(pDlg) {}
    void SetRange(WORD nUpper) override {
        if (!m_pDlg)
            return;
        m_pDlg->m_progress.SetRange(0, static_cast<short>(nUpper));
        m_pDlg->m_progress.SetStep(1);
    }
    void Step() override {
        if (!m_pDlg)
            return;
        m_pDlg->m_progress.StepIt();
        PumpMessages();
    }

  private:
    CPellarSetupDlg* m_pDlg;
};
} // namespace

void CopyPackageToFile(const CString& strExe, const CString& strDest, CPellarSetupDlg* pDlg) {
    CFileHandle source(::CreateFileW(strExe, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source.IsValid())
        ::ExitProcess(0);
    CFileHandle dest(::CreateFileW(strDest, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!dest.IsValid())
        return;
    CWizardProgress progress(pDlg);
    CopyResult result = CopyPackage(source.Get(), dest.Get(), progress);
    dest.Close();
    // A partial copy must not be taken for a package.
    if (result != COPY_OK)
        ::DeleteFileW(strDest);
}
