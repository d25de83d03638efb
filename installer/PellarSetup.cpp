// PellarSetup start-up: the language, the product constants and the wizard's modal run.
#include "PellarSetupDlg.h"
#include "app.h"
#include "globals.h"

#include <cstdlib>

class CPellarSetupApp : public CWinApp {
  public:
    BOOL InitInstance() override;
};

CPellarSetupApp theApp;

BOOL CPellarSetupApp::InitInstance() {
    InitCommonControlsFromSystem(0xFF);
    CWinApp::InitInstance();
    // The wizard always opens in Simplified Chinese, whatever the system language.
    InitInstallerGlobals();
    CPellarSetupDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

// The runtime's default terminate handler prints a demangled message, which drags the whole
// C++ name demangler (about 45 KB) into every installer; a GUI program has nowhere to print it.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx
