#include "DlgSetup.h"

#include "globals.h"
#include "resource.h"

#include <ole2.h>
#include <shlobj.h>

BEGIN_MESSAGE_MAP(CDlgSetup, CDialog)
ON_BN_CLICKED(IDC_BTN_BROWSE, OnBnClickedBrowse)
END_MESSAGE_MAP()

CString FormatSize(LONGLONG v) {
    const double kb = 1024.0;
    CString s;
    if (v >= (1LL << 40))
        s.Format(L"%-.2f TB", static_cast<double>(v) / (kb * kb * kb * kb));
    else if (v >= (1LL << 30))
        s.Format(L"%-.2f GB", static_cast<double>(v) / (kb * kb * kb));
    else if (v >= (1LL << 20))
        s.Format(L"%-.2f MB", static_cast<double>(v) / (kb * kb));
    else if (v >= 1024)
        s.Format(L"%-.2f KB", static_cast<double>(v) / kb);
    else
        s.Format(L"%ld Byte", static_cast<long>(v));
    return s;
}

bool QueryFreeSpace(const CString& strPath, LONGLONG& nFree) {
    CString root = strPath.Left(3);
    ULARGE_INTEGER avail, total, free;
    if (root.IsEmpty() || !::GetDiskFreeSpaceExW(root, &avail, &total, &free))
        return false;
    nFree = static_cast<LONGLONG>(free.QuadPart);
    return true;
}

CString FreeSpaceText(const CString& strPath) {
    LONGLONG nFree = 0;
    if (!QueryFreeSpace(strPath, nFree))
        nFree = 0;
    return FormatSize(nFree);
}

CDlgSetup::CDlgSetup(CWnd* pParent) : CDialog(IDD_DLG_SETUP, pParent) {}

CDlgSetup::~CDlgSetup() = default;

BOOL CDlgSetup::OnInitDialog() {
    CDialog::OnInitDialog();
    g_nRequiredSpace = 16777216;
    SetDlgItemText(IDC_STATIC_REQUIRED, FormatSize(16777216));
    SetPageTexts();
    UpdateFreeSpace();
    return TRUE;
}

void CDlgSetup::SetPageTexts() {
    SetDlgItemText(IDC_STATIC_PATH, L"C:\\Program Files\\" + g_strTitle + L"\\");
    if (!IsKnownLanguage())
        return;
    SetDlgItemText(IDC_GROUP_PATH, LangText(L"目标文件夹", L"目標檔夾", L"Save as"));
    CString explain;
    switch (g_nLangID) {
    case 2052:
        explain = L"Setup将" + g_strTitle +
                  L"安装在下列路径，如果要安装在不同的路径，单击[浏览]并选择其他的路径，单击[安装]"
                  L"开始安装" +
                  g_strTitle;
        break;
    case 1028:
        explain = L"Setup將" + g_strTitle +
                  L"安裝在下列路徑，如果要安裝在不同的路徑，單擊[瀏覽]並選擇其他的路徑，單擊[安裝]"
                  L"開始安裝" +
                  g_strTitle;
        break;
    default:
        explain =
            L"Pellar will be installed into the folder listed as below. Please click Browse and "
            L"asign another folder if you decide to change the path. Click 'Install' to start "
            L"install " +
            g_strTitle;
        break;
    }
    SetDlgItemText(IDC_STATIC_EXPLAIN, explain);
    SetDlgItemText(IDC_BTN_BROWSE, LangText(L"浏览", L"瀏覽", L"Browse"));
    SetDlgItemText(IDC_STATIC_SETUP_HEADING,
                   LangText(L"选择安装路径", L"選擇安裝路徑", L"Choose Disk File"));
    SetDlgItemText(IDC_STATIC_FREE_CAPTION,
                   LangText(L"剩余空间", L"剩餘空間", L"Space Available:"));
    SetDlgItemText(IDC_STATIC_REQUIRED_CAPTION,
                   LangText(L"所需空间", L"所需空間", L"Space Required:"));
}

void CDlgSetup::UpdateFreeSpace() {
    SetDlgItemText(IDC_STATIC_FREE, FreeSpaceText(GetDlgItemText(IDC_STATIC_PATH)));
}

namespace {
// The new-style folder browser needs OLE on the calling thread.
class COleInit {
  public:
    COleInit() : m_hr(::OleInitialize(nullptr)) {}
    ~COleInit() {
        if (SUCCEEDED(m_hr))
            ::OleUninitialize();
    }
    COleInit(const COleInit&) = delete;
    COleInit& operator=(const COleInit&) = delete;

  private:
    HRESULT m_hr;
};
} // namespace

void CDlgSetup::OnBnClickedBrowse() {
    COleInit ole;
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = m_hWnd;
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = displayName;
    bi.lpszTitle = L"Please select a folder:";
    bi.ulFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE pidl = ::SHBrowseForFolderW(&bi);
    if (!pidl)
        return;
    wchar_t path[MAX_PATH] = {};
    BOOL ok = ::SHGetPathFromIDListW(pidl, path);
    ::CoTaskMemFree(pidl);
    // A virtual folder (the computer, the network) has no path: keep the folder we had.
    if (!ok || path[0] == 0)
        return;
    CString strPath(path);
    if (strPath[strPath.GetLength() - 1] != L'\\')
        strPath += L'\\';
    SetDlgItemText(IDC_STATIC_PATH, strPath);
    UpdateFreeSpace();
}
