// The install run behind the Install button, and the running-program check.
#include "PellarSetupDlg.h"

#include "DlgSetup.h"
#include "Package.h"
#include "Shortcuts.h"
#include "archive.h"
#include "globals.h"
#include "handles.h"
#include "resource.h"

#include <shlwapi.h>
#include <tlhelp32.h>

LONGLONG GetFreeDiskSpace(CDlgSetup* pDlgSetup) {
    LONGLONG nFree = 0;
    if (!pDlgSetup || !QueryFreeSpace(pDlgSetup->GetDlgItemText(IDC_STATIC_PATH), nFree))
        return -1;
    return nFree;
}

void CPellarSetupDlg::SetStatus(const wchar_t* pszText) {
    SetDlgItemText(IDC_STATIC_STATUS, pszText);
}

void CPellarSetupDlg::ShowFailedState() {
    SetStatus(RunText(L"安装失败！", L"安裝失敗！", L"Initialization failed！"));
    m_staticDir.ShowWindow(SW_HIDE);
    m_progress.SetPos(0);
    m_progress.ShowWindow(SW_HIDE);
    m_btnInstall.ShowWindow(SW_HIDE);
    m_btnCancel.ShowWindow(SW_SHOW);
    m_btnCancel.EnableWindow(TRUE);
}

bool CPellarSetupDlg::CheckRunningPrograms() {
    CFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid())
        return true;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    bool found = false;
    if (::Process32FirstW(snapshot.Get(), &pe)) {
        do {
            // Exact, case-sensitive names: only our own programs are ended.
            if (g_strGameExe == pe.szExeFile || g_strUpdateExe == pe.szExeFile)
                found = true;
        } while (::Process32NextW(snapshot.Get(), &pe));
    }
    if (!found)
        return true;

    CString caption;
    CString text;
    switch (g_nLangID) {
    case 1028:
        caption = g_strTitle + L"安裝程式";
        text = L"安裝程式檢測到" + g_strTitle + L"正在運行，需要關閉當前運行的程式才能正確安裝";
        break;
    case 1033:
        caption = g_strTitle + L" Install.exe";
        text = L"The installation procedure detected " + g_strTitle +
               L" is processing, needs to close to be able to install correctly";
        break;
    default:
        caption = g_strTitle + L"安装程序";
        text = L"安装程序检测到" + g_strTitle + L"正在运行，需要关闭当前运行的程序才能正确安装";
        break;
    }
    if (::MessageBoxW(m_hWnd, text, caption, MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return false;

    pe.dwSize = sizeof(pe);
    if (::Process32FirstW(snapshot.Get(), &pe)) {
        do {
            for (const CString* name : {&g_strGameExe, &g_strUpdateExe}) {
                if (*name != pe.szExeFile)
                    continue;
                CFileHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pe.th32ProcessID));
                if (process.IsValid())
                    ::TerminateProcess(process.Get(), 1);
            }
        } while (::Process32NextW(snapshot.Get(), &pe));
    }
    return true;
}

void CPellarSetupDlg::OnBnClickedInstall() {
    try {
        RunInstall();
    } catch (...) {
        // Never leave the wizard with Install and Cancel both disabled.
        ShowFailedState();
    }
}

namespace {
// Makes a folder the current directory for as long as it lives, then restores the old one.
class CCurrentDirectory {
  public:
    explicit CCurrentDirectory(const CString& folder) {
        wchar_t old[MAX_PATH] = {};
        DWORD n = ::GetCurrentDirectoryW(MAX_PATH, old);
        if (n == 0 || n >= MAX_PATH)
            return;
        m_strOld = old;
        m_bEntered = ::SetCurrentDirectoryW(folder) != FALSE;
    }
    ~CCurrentDirectory() {
        if (m_bEntered)
            ::SetCurrentDirectoryW(m_strOld);
    }
    CCurrentDirectory(const CCurrentDirectory&) = delete;
    CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;
    bool Entered() const { return m_bEntered; }

  private:
    CString m_strOld;
    bool m_bEntered = false;
};

// Extracts every entry of the archive into the current directory, one progress step each.
// True only when the archive opened and every entry was written.
bool ExtractPackage(const CString& strZip, CProgressCtrl& progress) {
    DWORD r = ArchiveExtractAll(strZip, [&progress](int done, int count) {
        if (done == 0) {
            progress.ShowWindow(SW_SHOW);
            progress.SetRange(0, static_cast<short>(count));
            return;
        }
        progress.StepIt();
        PumpMessages();
    });
    return r == AR_OK;
}
} // namespace

void CPellarSetupDlg::RunInstall() {
    if (GetFreeDiskSpace(m_pDlgSetup) < g_nRequiredSpace) {
        ::MessageBoxW(m_hWnd, RunText(L"磁盘空间不足", L"磁碟空間不足", L"Insufficient disk space"),
                      g_strTitle, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!CheckRunningPrograms())
        return;

    m_pDlgSetup->ShowWindow(SW_HIDE);
    m_staticDir.ShowWindow(SW_SHOW);
    m_progress.ShowWindow(SW_SHOW);
    m_btnCancel.EnableWindow(FALSE);
    m_btnInstall.EnableWindow(FALSE);

    CString strPath = m_pDlgSetup->GetDlgItemText(IDC_STATIC_PATH);
    m_staticDir.SetWindowText(RunText(L"安装路径：", L"安裝路徑：", L"Install path：") + strPath);
    SetStatus(RunText(L"正在安装......", L"正在安裝......", L"installing......"));

    wchar_t temp[MAX_PATH] = {};
    DWORD nTemp = ::GetTempPathW(MAX_PATH, temp);
    if (nTemp == 0 || nTemp >= MAX_PATH) {
        ShowFailedState();
        return;
    }
    CString strTempZip = CString(temp) + g_strTempZip;

    CopyPackageToFile(GetModulePath(), strTempZip, this);

    m_staticDir.ShowWindow(SW_HIDE);
    m_progress.SetPos(0);
    m_progress.ShowWindow(SW_HIDE);

    if (!::PathFileExistsW(strTempZip)) {
        ShowFailedState();
        return;
    }
    SetStatus(RunText(L"正在移除临时文件......", L"正在移除暫存檔案......",
                      L"Uninstalling Temporary Files......"));

    if (!::PathFileExistsW(strPath))
        ::CreateDirectoryW(strPath, nullptr);

    bool extracted = false;
    {
        CCurrentDirectory cwd(strPath);
        // Without the install folder as base, extraction would land in whatever folder is current.
        if (cwd.Entered())
            extracted = ExtractPackage(strTempZip, m_progress);
    }
    ::DeleteFileW(strTempZip);
    if (!extracted) {
        ShowFailedState();
        return;
    }

    CreateShortcuts(this, strPath);

    switch (g_nLangID) {
    case 1028:
        SetStatus(L"恭喜您，您已成功安裝" + g_strTitle);
        break;
    case 1033:
        SetStatus(L"Successfully Installed ");
        break;
    default:
        SetStatus(L"恭喜您，您已成功安装" + g_strTitle);
        break;
    }
    m_progress.ShowWindow(SW_HIDE);
    m_btnInstall.ShowWindow(SW_HIDE);
    m_btnCancel.ShowWindow(SW_HIDE);
    m_btnFinish.ShowWindow(SW_SHOW);
}
