// Test driver: starts a program in a given current directory, watches its top-level windows
// until it ends, and prints what a user could have seen, one "key=value" per line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {
struct Watch {
    DWORD pid = 0;
    int windows = 0;          // top-level windows of the process seen at least once
    bool visibleArea = false; // any of them visible with a non-empty area
    bool appWindow = false;   // any with WS_EX_APPWINDOW (taskbar button)
    bool toolWindow = false;  // any with WS_EX_TOOLWINDOW
    HWND seen[64] = {};
};

BOOL CALLBACK OnWindow(HWND hWnd, LPARAM lParam) {
    Watch& w = *reinterpret_cast<Watch*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid != w.pid)
        return TRUE;
    wchar_t cls[64] = {};
    ::GetClassNameW(hWnd, cls, 64);
    if (wcscmp(cls, L"#32770") != 0) // the program's dialogs, not Wine's helper windows
        return TRUE;
    bool known = false;
    for (int i = 0; i < w.windows && i < 64; ++i)
        known = known || w.seen[i] == hWnd;
    if (!known && w.windows < 64)
        w.seen[w.windows++] = hWnd;
    RECT r = {};
    ::GetWindowRect(hWnd, &r);
    LONG ex = ::GetWindowLongW(hWnd, GWL_EXSTYLE);
    if (::IsWindowVisible(hWnd) && r.right > r.left && r.bottom > r.top)
        w.visibleArea = true;
    // Judge the taskbar once the program has set its styles (after the window got no area).
    if (r.right <= r.left) {
        w.appWindow = w.appWindow || (ex & WS_EX_APPWINDOW) != 0;
        w.toolWindow = w.toolWindow || (ex & WS_EX_TOOLWINDOW) != 0;
    }
    return TRUE;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: runvel_probe PROGRAM CWD\n");
        return 2;
    }
    std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, argv[2], &si,
                          &pi)) {
        printf("start_error=%lu\n", ::GetLastError());
        return 3;
    }
    Watch w;
    w.pid = pi.dwProcessId;
    DWORD start = ::GetTickCount();
    for (;;) {
        ::EnumWindows(&OnWindow, reinterpret_cast<LPARAM>(&w));
        if (::WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0)
            break;
        if (::GetTickCount() - start > 60000) {
            ::TerminateProcess(pi.hProcess, 99);
            printf("timeout=1\n");
            break;
        }
    }
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    printf("exit=%lu\nwindows=%d\nvisible_area=%d\napp_window=%d\ntool_window=%d\n", code,
           w.windows, w.visibleArea ? 1 : 0, w.appWindow ? 1 : 0, w.toolWindow ? 1 : 0);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return 0;
}
