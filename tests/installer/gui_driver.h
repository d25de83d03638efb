// Drives PellarSetup's real windows from another process of the same Wine prefix.
#pragma once

#include <windows.h>

#include "file_tree.h"

#include <functional>
#include <string>
#include <vector>

namespace driver {

extern const wchar_t kWizardCaption[]; // "Tessaly安装程序"

// A started installer; ends the process (if still running) when destroyed.
class Installer {
  public:
    Installer() = default;
    ~Installer();
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Starts exe in cwd; env entries ("NAME=value") replace or add variables.
    bool Start(const std::wstring& exe, const std::wstring& cwd,
               const std::vector<std::wstring>& env = {});
    // Waits for the wizard window of this process.
    HWND WaitWizard(DWORD timeoutMs = 20000);
    // Waits until the process ended; returns false on time-out.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Kill();

    HWND wizard = nullptr;
    HWND license = nullptr;  // page holding control 1021
    HWND location = nullptr; // page holding control 1008
    PROCESS_INFORMATION pi = {};
};

std::wstring Text(HWND h);
std::wstring ItemText(HWND dlg, int id);
bool Visible(HWND dlg, int id);
bool Enabled(HWND dlg, int id);
void SetItemText(HWND dlg, int id, const std::wstring& text);
// Clicks a button the way a user does (posted, so a modal loop it opens cannot block us).
void Click(HWND dlg, int id);
// Polls pred every 20 ms; false on time-out.
bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs = 20000);

// A message box owned by owner, or null.
HWND FindOwnedDialog(HWND owner);
HWND WaitOwnedDialog(HWND owner, DWORD timeoutMs = 20000);
// The texts of a message box's static controls, joined.
std::wstring DialogMessage(HWND box);
void Answer(HWND box, int id);

// Temporary folder made for one test and removed with everything in it.
class TempDir {
  public:
    explicit TempDir(const wchar_t* tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; } // ends with "\"

  private:
    std::wstring m_path;
};

bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
bool WriteFileBytes(const std::wstring& path, const std::string& data);
// Relative names of every file and folder below root ("Sys\\", "Sys\\Config.ini").
std::vector<std::wstring> ListTree(const std::wstring& root);

// The user's shell folders as the installer reads them (with a trailing backslash).
std::wstring ShellFolder(const wchar_t* name);
// The target path of a shortcut file, or empty.
std::wstring ShortcutTarget(const std::wstring& lnk);

// Saves a picture of the whole screen as a 24-bit BMP.
bool SaveScreen(const std::wstring& bmpPath);

std::string Utf8(const std::wstring& s);

// "Z:\..." path of a Unix path of the build.
std::wstring WinPath(const char* unixPath);

// ZIP fixtures written byte by byte.
void Put16(std::string& s, unsigned v);
void Put32(std::string& s, unsigned long v);
struct ZipEntry {
    std::string name; // a trailing "/" makes a folder entry
    std::string data;
    bool badCrc = false; // record a CRC-32 that does not match the data
};
// A ZIP of stored entries, in the order given, made on an MS-DOS host.
std::string MakeZip(const std::vector<ZipEntry>& entries);

} // namespace driver
