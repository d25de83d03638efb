#include "PellarSetupDlg.h"

#include "DlgProtocol.h"
#include "DlgSetup.h"
#include "app.h"
#include "globals.h"
#include "resource.h"

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

BEGIN_MESSAGE_MAP(CPellarSetupDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDOK, OnBnClickedOk)
ON_BN_CLICKED(IDCANCEL, OnBnClickedCancel)
ON_BN_CLICKED(IDC_BTN_ACCEPT, OnBnClickedAccept)
ON_BN_CLICKED(IDC_BTN_QUIT, OnBnClickedQuit)
ON_BN_CLICKED(IDC_BTN_INSTALL, OnBnClickedInstall)
ON_BN_CLICKED(IDC_BTN_FINISH, OnBnClickedQuit)
END_MESSAGE_MAP()

CPellarSetupDlg::CPellarSetupDlg() : CDialog(IDD_PELLARSETUP_DIALOG, nullptr) {
    m_hIcon = ::LoadIconW(CWinApp::ResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CPellarSetupDlg::~CPellarSetupDlg() {
    delete m_pDlgProtocol;
    m_pDlgProtocol = nullptr;
    delete m_pDlgSetup;
    m_pDlgSetup = nullptr;
}

void CPellarSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BTN_QUIT, m_btnCancel);
    DDX_Control(pDX, IDC_BTN_ACCEPT, m_btnAccept);
    DDX_Control(pDX, IDC_BTN_INSTALL, m_btnInstall);
    DDX_Control(pDX, IDC_BTN_FINISH, m_btnFinish);
    DDX_Control(pDX, IDC_STATIC_DIR, m_staticDir);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_CHK_HOMEPAGE, m_chkHomePage);
    DDX_Control(pDX, IDC_CHK_BROWSER, m_chkBrowser);
}

BOOL CPellarSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // No about item in the system menu: the installer has no about box to show.
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // The home-page and browser options are never offered.
    m_chkHomePage.ShowWindow(SW_HIDE);
    m_chkHomePage.SetCheck(BST_CHECKED);
    m_chkBrowser.ShowWindow(SW_HIDE);
    m_chkBrowser.SetCheck(BST_UNCHECKED);
    ::EnableWindow(GetDlgItem(IDC_STATIC_VIDEDE), FALSE);

    SetLanguageTexts();

    // Accept and Install share one place, Cancel and Finish the place 5 pixels beside it.
    // The place is (200, 182) in dialog units, which is (350, 345) pixels at the font
    // metrics the layout was drawn for; in pixels it would fall off the dialog with
    // smaller ones.
    RECT rc;
    m_btnCancel.GetClientRect(&rc);
    int w = rc.right - rc.left;
    int h = rc.bottom - rc.top;
    RECT place = {200, 182, 200, 182};
    ::MapDialogRect(m_hWnd, &place);
    m_btnInstall.MoveWindow(place.left, place.top, w, h);
    m_btnAccept.MoveWindow(place.left, place.top, w, h);
    m_btnCancel.MoveWindow(place.left + 5 + w, place.top, w, h);
    m_btnFinish.MoveWindow(place.left + 5 + w, place.top, w, h);

    m_pDlgProtocol = new CDlgProtocol(this);
    m_pDlgProtocol->Create(IDD_DLG_PROTOCOL, this);
    // The page's focus handling selects the whole text, which scrolls it to its end;
    // the reader starts at the title.
    ::SendDlgItemMessageW(m_pDlgProtocol->m_hWnd, IDC_EDIT_LICENSE, EM_SETSEL, 0, 0);
    ::SendDlgItemMessageW(m_pDlgProtocol->m_hWnd, IDC_EDIT_LICENSE, WM_VSCROLL, SB_TOP, 0);
    m_pDlgSetup = new CDlgSetup(this);
    m_pDlgSetup->Create(IDD_DLG_SETUP, this);

    m_pDlgProtocol->ShowWindow(SW_SHOW);
    m_btnInstall.ShowWindow(SW_HIDE);
    m_btnFinish.ShowWindow(SW_HIDE);
    m_staticDir.ShowWindow(SW_HIDE);
    m_progress.ShowWindow(SW_HIDE);
    return TRUE;
}

void CPellarSetupDlg::SetLanguageTexts() {
    const wchar_t* suffix = LangText(L"安装程序", L"安裝程式", L" Install.exe");
    if (!suffix)
        return;
    SetWindowText(g_strTitle + suffix);
    SetDlgItemText(IDC_BTN_ACCEPT, LangText(L"接受", L"接受", L"Accept"));
    SetDlgItemText(IDC_BTN_QUIT, LangText(L"取消", L"取消", L"Cancel"));
    SetDlgItemText(IDC_BTN_INSTALL, LangText(L"安装", L"安裝", L"Install"));
    SetDlgItemText(IDC_BTN_FINISH, LangText(L"完成", L"完成", L"Finish"));
    SetDlgItemText(IDC_CHK_HOMEPAGE, LangText(L"将Sorvik设为首页", L"將Sorvik設為首頁",
                                              L"Set http://www.sorvik.example as homepage"));
    SetDlgItemText(IDC_CHK_BROWSER, LangText(L"添加浏览器支持（Maxthon、Firefox）",
                                             L"添加瀏覽器支持（Maxthon、Firefox）",
                                             L"Browser Solutions(Maxthon、Firefox)"));
}

void CPellarSetupDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    Default();
}

void CPellarSetupDlg::OnPaint() {
    PaintIconWhenMinimized(m_hIcon);
}

HCURSOR CPellarSetupDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CPellarSetupDlg::OnBnClickedOk() {
    OnOK();
}

void CPellarSetupDlg::OnBnClickedCancel() {
    OnCancel();
}

void CPellarSetupDlg::OnBnClickedAccept() {
    m_btnInstall.ShowWindow(SW_SHOW);
    m_btnAccept.ShowWindow(SW_HIDE);
    m_pDlgProtocol->ShowWindow(SW_HIDE);
    m_pDlgSetup->ShowWindow(SW_SHOW);
}

void CPellarSetupDlg::OnBnClickedQuit() {
    PostMessage(WM_QUIT, 0, 0);
}
