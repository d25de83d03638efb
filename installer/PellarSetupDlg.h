// The installer's wizard: the only top-level window, hosting the two pages.
#pragma once

#include "wnd.h"

class CDlgProtocol;
class CDlgSetup;

// Dispatches every message waiting in the thread's queue; a quit message ends the pass
// and is dropped.
void PumpMessages();

class CPellarSetupDlg : public CDialog {
  public:
    CPellarSetupDlg();
    ~CPellarSetupDlg() override;

    void SetLanguageTexts();

    HICON m_hIcon;
    CDlgProtocol* m_pDlgProtocol = nullptr;
    CDlgSetup* m_pDlgSetup = nullptr;
    CButton m_btnCancel;
    CButton m_btnAccept;
    CButton m_btnInstall;
    CButton m_btnFinish;
    CStatic m_staticDir;
    CProgressCtrl m_progress;
    CButton m_chkHomePage;
    CButton m_chkBrowser;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnBnClickedAccept();
    void OnBnClickedQuit();
    void OnBnClickedInstall();

    DECLARE_MESSAGE_MAP()

  private:
    // The steps of the install run.
    void RunInstall();
    bool CheckRunningPrograms();
    void ShowFailedState();
    void SetStatus(const wchar_t* pszText);
};

// Free bytes of the drive named by the first three characters of the location page's path;
// -1 when the system cannot tell, so that it never counts as enough.
LONGLONG GetFreeDiskSpace(CDlgSetup* pDlgSetup);
