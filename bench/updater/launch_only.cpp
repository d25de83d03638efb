// The limit for the updater's start-up: a program that only starts the lobby beside it.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[1024] = {};
    ::GetModuleFileNameW(nullptr, path, 1024);
    std::wstring lobby(path);
    lobby = lobby.substr(0, lobby.rfind(L'\\') + 1) + L"Orvane.exe";
    ::ShellExecuteW(nullptr, L"open", lobby.c_str(), L"/Show", nullptr, SW_SHOWNORMAL);
    return 0;
}
