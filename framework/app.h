// The application object: one global instance per program, started by the framework's wWinMain.
#pragma once

#include "cstring.h"
#include "wnd.h"

class CWinApp {
  public:
    // Without a name the executable's file name without extension is used.
    explicit CWinApp(const wchar_t* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returning FALSE ends the process without a message loop.
    virtual BOOL InitInstance() { return TRUE; }
    virtual int Run();
    virtual int ExitInstance() { return 0; }

    static CWinApp* Instance();
    static HINSTANCE ResourceHandle();

    HINSTANCE m_hInstance = nullptr;
    CString m_strAppName;
    const wchar_t* m_pszAppName = nullptr;
    CWnd* m_pMainWnd = nullptr;

    // Called by wWinMain before InitInstance.
    void Startup(HINSTANCE hInstance);
};

// Loads a system DLL from the System32 folder by full path; null when that fails. For DLLs
// that are no KnownDLLs, which a DLL of the same name beside the program could otherwise replace.
HMODULE LoadSystemLibrary(const wchar_t* pszName);

// InitCommonControlsEx through comctl32.dll loaded at run time, after the DLL search is
// restricted: imported, it would load (and start loading its own DLLs) before any of our code.
BOOL InitCommonControlsFromSystem(DWORD dwICC);

// The main window of the application, or null.
inline HWND AppMainWindow() {
    CWinApp* app = CWinApp::Instance();
    return app && app->m_pMainWnd ? app->m_pMainWnd->m_hWnd : nullptr;
}
