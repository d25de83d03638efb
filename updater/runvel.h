// Runvel: applies waiting updates, checks for new ones, starts the lobby, and ends when
// nothing downloads or at the first finished download. Its dialog is never seen.
#pragma once

#include "app.h"
#include "download.h"
#include "wnd.h"

class CRunvelApp : public CWinApp {
  public:
    CRunvelApp() = default;
    BOOL InitInstance() override;
};

class CRunvelDlg : public CDialog {
  public:
    explicit CRunvelDlg(CWnd* pParent = nullptr);

  protected:
    BOOL OnInitDialog() override;
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedOk();
    void OnBnClickedCancel();
    LRESULT OnDownloadDone(WPARAM wParam, LPARAM lParam);

    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()
};
