#include "Package.h"

#include "PellarSetupDlg.h"
#include "handles.h"

#include <cstring>
#include <vector>

namespace {
bool ReadAt(HANDLE hFile, ULONGLONG pos, void* buf, DWORD n) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(pos);
    DWORD got = 0;
    return ::SetFilePointerEx(hFile, at, nullptr, FILE_BEGIN) &&
           ::ReadFile(hFile, buf, n, &got, nullptr) && got == n;
}

ULONGLONG Le32(const BYTE* p) {
    return static_cast<ULONGLONG>(p[0]) | (static_cast<ULONGLONG>(p[1]) << 8) |
           (static_cast<ULONGLONG>(p[2]) << 16) | (static_cast<ULONGLONG>(p[3]) << 24);
}

// TRUE when the 4 bytes at trailerPos give a length whose package lies in the file before them
// and begins like a ZIP archive (a local header, or the end record of an empty archive).
bool DescribesPackage(HANDLE hFile, ULONGLONG trailerPos, ULONGLONG& nLength) {
    BYTE trailer[4];
    if (!ReadAt(hFile, trailerPos, trailer, 4))
        return false;
    nLength = Le32(trailer);
    BYTE sig[4];
    if (nLength < 4 || nLength > trailerPos || !ReadAt(hFile, trailerPos - nLength, sig, 4))
        return false;
    return sig[0] == 'P' && sig[1] == 'K' &&
           ((sig[2] == 3 && sig[3] == 4) || (sig[2] == 5 && sig[3] == 6));
}
} // namespace

BOOL GetCertificateTable(HANDLE hFile, ULONGLONG nFileSize, ULONGLONG& nOffset, ULONGLONG& nSize) {
    nOffset = nSize = 0;
    BYTE dos[64];
    if (nFileSize < sizeof(dos) || !ReadAt(hFile, 0, dos, sizeof(dos)) || dos[0] != 'M' ||
        dos[1] != 'Z')
        return FALSE;
    ULONGLONG pe = Le32(dos + 0x3C);
    // Signature, file header (20 bytes), then the optional header's magic.
    BYTE head[4 + 20 + 2];
    if (pe + sizeof(head) > nFileSize || !ReadAt(hFile, pe, head, sizeof(head)) ||
        memcmp(head, "PE\0\0", 4) != 0)
        return FALSE;
    WORD magic = static_cast<WORD>(head[24] | (head[25] << 8));
    // Offset of NumberOfRvaAndSizes in the optional header; the directories follow it.
    ULONGLONG count;
    if (magic == 0x10B)
        count = 92;
    else if (magic == 0x20B)
        count = 108;
    else
        return FALSE;
    ULONGLONG optional = pe + 24;
    BYTE dirs[4 + 5 * 8];
    if (optional + count + sizeof(dirs) > nFileSize ||
        !ReadAt(hFile, optional + count, dirs, sizeof(dirs)) ||
        Le32(dirs) <= IMAGE_DIRECTORY_ENTRY_SECURITY)
        return FALSE;
    const BYTE* security = dirs + 4 + IMAGE_DIRECTORY_ENTRY_SECURITY * 8;
    nOffset = Le32(security); // a file offset, not an address
    nSize = Le32(security + 4);
    return nSize != 0;
}

CopyResult LocatePackage(HANDLE hSource, ULONGLONG& nStart, ULONGLONG& nLength) {
    nStart = nLength = 0;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(hSource, &size) || size.QuadPart < 4)
        return COPY_BAD_TRAILER;
    ULONGLONG nSize = static_cast<ULONGLONG>(size.QuadPart);
    BYTE trailer[4] = {};
    if (!ReadAt(hSource, nSize - 4, trailer, 4))
        return COPY_READ;
    if (!DescribesPackage(hSource, nSize - 4, nLength)) {
        // A signed installer: the certificate table follows the trailer, after at most 7
        // bytes of zeros that align it to 8 bytes.
        ULONGLONG certOffset = 0, certSize = 0;
        if (GetCertificateTable(hSource, nSize, certOffset, certSize) &&
            certOffset + certSize == nSize && certOffset >= 4) {
            BYTE pad[8] = {};
            for (ULONGLONG k = 0; k < 8 && certOffset >= 4 + k; ++k) {
                if (k > 0 && (!ReadAt(hSource, certOffset - k, pad, 1) || pad[0] != 0))
                    break;
                if (DescribesPackage(hSource, certOffset - 4 - k, nLength)) {
                    nStart = certOffset - 4 - k - nLength;
                    return COPY_OK;
                }
            }
            return COPY_BAD_TRAILER;
        }
    }
    // The unsigned layout, exactly as the copy-out has always read it.
    nLength = Le32(trailer);
    // Never seek before the start of the file: a longer trailer means a damaged installer.
    if (nLength + 4 > nSize)
        return COPY_BAD_TRAILER;
    nStart = nSize - 4 - nLength;
    return COPY_OK;
}

CopyResult CopyPackage(HANDLE hSource, HANDLE hDest, CCopyProgress& progress) {
    ULONGLONG start = 0, remaining = 0;
    CopyResult located = LocatePackage(hSource, start, remaining);
    if (located != COPY_OK)
        return located;

    progress.SetRange(static_cast<WORD>((remaining + 1) / PACKAGE_CHUNK));

    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(start);
    if (!::SetFilePointerEx(hSource, pos, nullptr, FILE_BEGIN))
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
