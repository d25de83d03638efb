// Stand-in for the product's lobby program: records each start (command line and current
// directory) as one UTF-8 line in "Orvane.runs.txt" beside the executable, then ends.
#include <windows.h>

#include <string>

namespace {
std::string Utf8(const wchar_t* s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}
} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszArgs, int) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash || (slash - path) + 16 >= MAX_PATH)
        return 1;
    wcscpy(slash + 1, L"Orvane.runs.txt");
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::string line = "args=" + Utf8(pszArgs ? pszArgs : L"") + "\tcwd=" + Utf8(cwd) + "\r\n";
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
    return 0;
}
