// Stand-in for the updater in the sample package while the real one is not built:
// starts the lobby beside it with "/Show", as the updater does, and ends.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = n && n < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
    if (!slash || (slash - path) + 12 >= MAX_PATH)
        return 1;
    slash[1] = 0;
    wchar_t lobby[MAX_PATH] = {};
    wcscpy(lobby, path);
    wcscat(lobby, L"Orvane.exe");
    ShellExecuteW(nullptr, L"open", lobby, L"/Show", path, SW_SHOWNORMAL);
    return 0;
}
