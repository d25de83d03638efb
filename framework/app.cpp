#include "app.h"

#include <commctrl.h>

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
        fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}

// Runs before every other global constructor of the program (priority 101 is the earliest
// a program may take), so no object built at start-up can load a DLL before the restriction.
struct CDllSearchRestriction {
    CDllSearchRestriction() { RestrictDllSearch(); }
};
CDllSearchRestriction g_dllSearchRestriction __attribute__((init_priority(101)));
} // namespace

HMODULE LoadSystemLibrary(const wchar_t* pszName) {
    wchar_t path[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(path, MAX_PATH);
    size_t cchName = ::wcslen(pszName);
    if (n == 0 || n + 1 + cchName >= MAX_PATH)
        return nullptr;
    path[n] = L'\\';
    ::wcscpy(path + n + 1, pszName);
    // The altered search path makes the DLL's own dependencies come from its folder too.
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

BOOL InitCommonControlsFromSystem(DWORD dwICC) {
    // By name, so that the manifest's side-by-side version is the one taken; otherwise only
    // System32 is searched. Older systems without the search flags get the System32 copy.
    HMODULE h = ::LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!h)
        h = LoadSystemLibrary(L"comctl32.dll");
    if (!h)
        return FALSE;
    typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
    auto fn = reinterpret_cast<InitFn>(
        reinterpret_cast<void*>(::GetProcAddress(h, "InitCommonControlsEx")));
    if (!fn)
        return FALSE;
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = dwICC;
    return fn(&icc);
}

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
