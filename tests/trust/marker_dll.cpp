// Stands in for a system DLL dropped beside a program: when any process loads it, it leaves
// "<its own path>.loaded" (with the loading program's path) next to itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    if (dwReason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t self[MAX_PATH + 8] = {};
    DWORD n = ::GetModuleFileNameW(hInstance, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return TRUE;
    ::lstrcatW(self, L".loaded");
    HANDLE h = ::CreateFileW(self, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return TRUE;
    char exe[MAX_PATH * 3] = {};
    DWORD len = ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    exe[len++] = '\n';
    DWORD written = 0;
    ::WriteFile(h, exe, len, &written, nullptr);
    ::CloseHandle(h);
    return TRUE;
}
