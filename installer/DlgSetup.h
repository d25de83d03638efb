// The install-location page: install folder, folder browser, free and required space.
#pragma once

#include "wnd.h"

class CDlgSetup : public CDialog {
  public:
    explicit CDlgSetup(CWnd* pParent = nullptr);
    ~CDlgSetup() override;

    void SetPageTexts();
    void UpdateFreeSpace();

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnBnClickedBrowse();

    DECLARE_MESSAGE_MAP()
};

// Display text of a byte count: "16.00 MB", "1023 Byte".
CString FormatSize(LONGLONG v);

// Total free bytes of the volume whose root is the first three characters of strPath.
bool QueryFreeSpace(const CString& strPath, LONGLONG& nFree);

// The free-space label for strPath; "0 Byte" when the system cannot tell, as the install
// run then treats the drive as full.
CString FreeSpaceText(const CString& strPath);
