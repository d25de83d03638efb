#include "DlgProtocol.h"

#include "DlgSetup.h"
#include "PellarSetupDlg.h"
#include "app.h"
#include "globals.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CDlgProtocol, CDialog)
ON_CBN_SELCHANGE(IDC_CB_LANGUAGE, OnCbnSelchangeLanguage)
END_MESSAGE_MAP()

CDlgProtocol::CDlgProtocol(CWnd* pParent) : CDialog(IDD_DLG_PROTOCOL, pParent) {}

CDlgProtocol::~CDlgProtocol() = default;

void CDlgProtocol::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CB_LANGUAGE, m_cbLanguage);
}

BOOL CDlgProtocol::OnInitDialog() {
    CDialog::OnInitDialog();
    // The language list stays hidden and empty: the installer runs in Simplified Chinese.
    m_cbLanguage.ShowWindow(SW_HIDE);
    LoadLicenseText();
    return TRUE;
}

CString LoadLicenseResource() {
    HMODULE hModule = CWinApp::ResourceHandle();
    HRSRC hRes = ::FindResourceW(hModule, MAKEINTRESOURCEW(IDR_TXTGB_LICENSE), L"TXTGB");
    if (!hRes)
        return CString();
    HGLOBAL hData = ::LoadResource(hModule, hRes);
    const wchar_t* p = hData ? static_cast<const wchar_t*>(::LockResource(hData)) : nullptr;
    if (!p)
        return CString();
    // Bounded by the resource size, so a text without its closing NUL cannot overrun.
    int n = static_cast<int>(::SizeofResource(hModule, hRes) / sizeof(wchar_t));
    int len = 0;
    while (len < n && p[len])
        ++len;
    return CString(p, len);
}

void CDlgProtocol::LoadLicenseText() {
    const wchar_t* heading = LangText(L"安装协议", L"安裝協議", L"License Agreement");
    if (heading)
        SetDlgItemText(IDC_STATIC_HEADING, heading);
    CString text = LoadLicenseResource();
    if (!text.IsEmpty())
        SetDlgItemText(IDC_EDIT_LICENSE, text);
}

// Unreachable while the list is hidden and empty; kept so that showing it is all a
// language choice would need.
void CDlgProtocol::OnCbnSelchangeLanguage() {
    int sel = m_cbLanguage.GetCurSel();
    int lang = sel == 0 ? 2052 : sel == 1 ? 1028 : 0;
    if (lang == 0 || lang == g_nLangID)
        return;
    g_nLangID = lang;
    CDialog* pParent = CDialog::FromHandle(::GetParent(m_hWnd));
    CPellarSetupDlg* pWizard = dynamic_cast<CPellarSetupDlg*>(pParent);
    if (pWizard) {
        pWizard->SetLanguageTexts();
        if (pWizard->m_pDlgSetup)
            pWizard->m_pDlgSetup->SetPageTexts();
    }
    LoadLicenseText();
}
