#include "app.h"

namespace {
CWinApp* g_pApp = nullptr;

// Only System32 may supply DLLs: a DLL dropped beside the program (a downloads folder)
// must never be loaded in its place.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE k32 = ::GetModuleHandleW(L"kernel32.dll");
    auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(k32, "SetDefaultDllDirectories")));
    if (fn)
        fn(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    ::SetDllDirectoryW(L"");
}
} // namespace

CWinApp::CWinApp(const wchar_t* pszAppName) {
    if (pszAppName)
        m_strAppName = pszAppName;
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

CWinApp* CWinApp::Instance() {
    return g_pApp;
}

HINSTANCE CWinApp::ResourceHandle() {
    return g_pApp && g_pApp->m_hInstance ? g_pApp->m_hInstance : ::GetModuleHandleW(nullptr);
}

void CWinApp::Startup(HINSTANCE hInstance) {
    m_hInstance = hInstance;
    if (m_strAppName.IsEmpty()) {
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        CString s(path);
        int slash = s.ReverseFind(L'\\');
        if (slash >= 0)
            s = s.Mid(slash + 1);
        int dot = s.ReverseFind(L'.');
        if (dot >= 0)
            s = s.Left(dot);
        m_strAppName = s;
    }
    m_pszAppName = m_strAppName;
}

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    RestrictDllSearch();
    CWinApp* app = CWinApp::Instance();
    if (!app)
        return 1;
    try {
        app->Startup(hInstance);
        if (!app->InitInstance())
            return app->ExitInstance();
        return app->Run();
    } catch (...) {
        return 1;
    }
}
