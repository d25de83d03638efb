#include "runvel.h"

#include "appfolder.h"
#include "pending.h"
#include "resource.h"
#include "version_check.h"

#include <shellapi.h>

CRunvelApp theApp;

BOOL CRunvelApp::InitInstance() {
    CWinApp::InitInstance();
    {
        CRunvelDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        // Workers still running end with the process; they must not post to a dead dialog.
        g_hDownloadDoneWnd.store(nullptr);
        m_pMainWnd = nullptr;
    }
    return FALSE;
}

CRunvelDlg::CRunvelDlg(CWnd* pParent) : CDialog(IDD_RUNVEL_DIALOG, pParent) {
    m_hIcon = ::LoadIconW(CWinApp::ResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

BEGIN_MESSAGE_MAP(CRunvelDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDOK, OnBnClickedOk)
ON_BN_CLICKED(IDCANCEL, OnBnClickedCancel)
ON_MESSAGE(WM_DOWNLOAD_DONE, OnDownloadDone)
END_MESSAGE_MAP()

BOOL CRunvelDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    // No taskbar button and no area: the template's visible window is never seen.
    ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW);
    MoveWindow(0, 0, 0, 0, TRUE);
    g_hDownloadDoneWnd.store(m_hWnd);

    ApplyPendingUpdates();
    DeletePendingUpdates();
    DeleteStaleDownloads();
    BOOL started = CheckForUpdates();

    CString strLobby = GetAppFolder() + L"Orvane.exe";
    ::ShellExecuteW(nullptr, L"open", strLobby, L"/Show", nullptr, SW_SHOWNORMAL);

    if (!started)
        OnCancel();
    return TRUE;
}

void CRunvelDlg::OnPaint() {
    PaintIconWhenMinimized(m_hIcon);
}

HCURSOR CRunvelDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CRunvelDlg::OnBnClickedOk() {
    OnOK();
}

void CRunvelDlg::OnBnClickedCancel() {
    OnCancel();
}

LRESULT CRunvelDlg::OnDownloadDone(WPARAM, LPARAM) {
    OnCancel();
    return 0;
}
