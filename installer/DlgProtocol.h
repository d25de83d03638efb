// The license page: banner, heading and the license text.
#pragma once

#include "wnd.h"

class CDlgProtocol : public CDialog {
  public:
    explicit CDlgProtocol(CWnd* pParent = nullptr);
    ~CDlgProtocol() override;

    void LoadLicenseText();

    CComboBox m_cbLanguage;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter and Esc inside the page do nothing.
    void OnOK() override {}
    void OnCancel() override {}
    void OnCbnSelchangeLanguage();

    DECLARE_MESSAGE_MAP()
};

// The license text of the module's resources (byte-order mark included), or empty.
CString LoadLicenseResource();
