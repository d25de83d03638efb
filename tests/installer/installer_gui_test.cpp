// PellarSetup driven through its real windows: steps, texts, the install run, shortcuts,
// the running-program question, too little space and damaged packages.
#include "gui_driver.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace driver;

namespace {

const wchar_t kLink[] = L"Tessaly1.0.lnk";
const wchar_t kTempZip[] = L"viDedeTmp.Zip";

const std::wstring& SampleInstaller() {
    static std::wstring s = WinPath(PELLAR_SAMPLE);
    return s;
}
const std::wstring& Stub() {
    static std::wstring s = WinPath(PELLAR_STUB);
    return s;
}

// ---- ZIP fixtures, written byte by byte --------------------------------------------------------

std::string Trailer(unsigned long n) {
    std::string s;
    Put32(s, n);
    return s;
}

// name -> content ("" for folders, named with a trailing "\") of a ZIP, read with minizip.
std::map<std::wstring, std::string> ReadZip(const std::wstring& path) {
    std::map<std::wstring, std::string> out;
    std::string apath = Utf8(path);
    unzFile z = unzOpen64(apath.c_str());
    if (!z)
        return out;
    for (int r = unzGoToFirstFile(z); r == UNZ_OK; r = unzGoToNextFile(z)) {
        char name[512] = {};
        unz_file_info64 info;
        unzGetCurrentFileInfo64(z, &info, name, sizeof(name), nullptr, 0, nullptr, 0);
        std::wstring wname;
        for (char* p = name; *p; ++p)
            wname += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
        std::string data;
        if (unzOpenCurrentFile(z) == UNZ_OK) {
            char buf[65536];
            int n;
            while ((n = unzReadCurrentFile(z, buf, sizeof(buf))) > 0)
                data.append(buf, static_cast<size_t>(n));
            unzCloseCurrentFile(z);
        }
        out[wname] = data;
    }
    unzClose(z);
    return out;
}

// ---- shortcuts the installer writes into the prefix's shell folders ---------------------------
struct Shortcuts {
    std::wstring desktop = ShellFolder(L"Desktop");
    std::wstring group = ShellFolder(L"Programs") + L"Tessaly\\";
    std::wstring DesktopLink() const { return desktop + kLink; }
    std::wstring GroupLink() const { return group + kLink; }
    void Remove() const {
        DeleteFileW(DesktopLink().c_str());
        RemoveTree(group);
    }
};

// Removes the shortcuts before and after a test that may make them.
class ShortcutGuard {
  public:
    ShortcutGuard() { s.Remove(); }
    ~ShortcutGuard() { s.Remove(); }
    Shortcuts s;
};

// ---- one installer run with its own temporary folder and working folder ----------------------
class InstallerRun {
  public:
    explicit InstallerRun(const wchar_t* tag, const std::wstring& exe = SampleInstaller(),
                          std::vector<std::wstring> env = {})
        : dir(tag) {
        temp = dir.path() + L"tmp\\";
        cwd = dir.path() + L"cwd\\";
        CreateDirectoryW(temp.c_str(), nullptr);
        CreateDirectoryW(cwd.c_str(), nullptr);
        if (env.empty())
            env = {L"TMP=" + temp, L"TEMP=" + temp};
        started = inst.Start(exe, cwd, env) && inst.WaitWizard() && inst.license && inst.location;
    }
    HWND wiz() const { return inst.wizard; }
    // Accept, then put folder into the location page's path line.
    void ToLocation(const std::wstring& folder) {
        Click(wiz(), 1000);
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(inst.location) != FALSE; }));
        SetItemText(inst.location, 1008, folder);
    }
    // Install, then wait for Finished or Failed.
    bool InstallAndWait(DWORD timeoutMs = 60000) {
        Click(wiz(), 1002);
        return WaitFor([&] { return Finished() || Failed(); }, timeoutMs);
    }
    bool Finished() const { return Visible(wiz(), 1009); }
    bool Failed() const {
        return !Visible(wiz(), 1002) && Visible(wiz(), 1001) && Enabled(wiz(), 1001) &&
               !IsWindowVisible(inst.location) && !IsWindowVisible(inst.license);
    }
    std::wstring Status() const { return ItemText(wiz(), 1013); }
    bool TempCopyLeft() const { return FileExists(temp + kTempZip); }

    TempDir dir;
    std::wstring temp, cwd;
    Installer inst;
    bool started = false;
};

struct StepView {
    bool license, location, accept, install, cancel, finish, dir, progress;
};

void ExpectStep(const InstallerRun& r, const StepView& v, const char* step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(IsWindowVisible(r.inst.license) != FALSE, v.license);
    EXPECT_EQ(IsWindowVisible(r.inst.location) != FALSE, v.location);
    EXPECT_EQ(Visible(r.wiz(), 1000), v.accept);
    EXPECT_EQ(Visible(r.wiz(), 1002), v.install);
    EXPECT_EQ(Visible(r.wiz(), 1001), v.cancel);
    EXPECT_EQ(Visible(r.wiz(), 1009), v.finish);
    EXPECT_EQ(Visible(r.wiz(), 1012), v.dir);
    EXPECT_EQ(Visible(r.wiz(), 1010), v.progress);
    EXPECT_FALSE(Visible(r.wiz(), 1029));
    EXPECT_FALSE(Visible(r.wiz(), 1030));
}

RECT Rect(HWND dlg, int id) {
    RECT rc = {};
    GetWindowRect(GetDlgItem(dlg, id), &rc);
    return rc;
}

std::string U(const std::wstring& s) {
    return Utf8(s);
}

// The shell link stores its target normalised: the doubled separator the installer writes
// after a folder that already ends with one reads back single.
std::string Normalised(std::wstring s) {
    for (size_t p; (p = s.find(L"\\\\", 1)) != std::wstring::npos;)
        s.erase(p, 1);
    return Utf8(s);
}

// ---- the wizard's steps ------------------------------------------------------------------------

TEST(SetupWizard, LicenseThenLocationStepsWithTheirTexts) {
    InstallerRun r(L"steps");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(U(Text(r.wiz())), U(kWizardCaption));
    ExpectStep(r, {true, false, true, false, true, false, false, false}, "License");
    EXPECT_EQ(U(ItemText(r.wiz(), 1000)), "接受");
    EXPECT_EQ(U(ItemText(r.wiz(), 1001)), "取消");
    EXPECT_EQ(U(ItemText(r.wiz(), 1002)), "安装");
    EXPECT_EQ(U(ItemText(r.wiz(), 1009)), "完成");
    EXPECT_FALSE(Enabled(r.wiz(), 1028));

    // Accept and Install share one place; Cancel and Finish share the place 5 pixels beside it.
    RECT accept = Rect(r.wiz(), 1000), install = Rect(r.wiz(), 1002);
    RECT cancel = Rect(r.wiz(), 1001), finish = Rect(r.wiz(), 1009);
    EXPECT_TRUE(EqualRect(&accept, &install));
    EXPECT_TRUE(EqualRect(&cancel, &finish));
    EXPECT_EQ(cancel.left, accept.right + 5);
    EXPECT_EQ(cancel.top, accept.top);
    RECT client;
    GetClientRect(r.wiz(), &client);
    MapWindowPoints(r.wiz(), nullptr, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_LE(cancel.right, client.right) << "buttons lie inside the dialog";
    EXPECT_LE(cancel.bottom, client.bottom);

    // License page: heading, read-only text from the resource, starting at its title.
    HWND page = r.inst.license;
    EXPECT_EQ(U(ItemText(page, 1013)), "安装协议");
    EXPECT_FALSE(Visible(page, 1023));
    HWND edit = GetDlgItem(page, 1021);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY);
    std::wstring license = Text(edit);
    ASSERT_GT(license.size(), 100u);
    EXPECT_EQ(license[0], 0xFEFF) << "the byte-order mark stands first";
    EXPECT_EQ(license.substr(1, 7), L"Tessaly");
    EXPECT_EQ(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);

    r.ToLocation(L"C:\\Program Files\\Tessaly\\");
    ExpectStep(r, {false, true, false, true, true, false, false, false}, "Location");
    EXPECT_TRUE(Enabled(r.wiz(), 1002));
    EXPECT_TRUE(Enabled(r.wiz(), 1001));
    HWND loc = r.inst.location;
    EXPECT_EQ(U(ItemText(loc, 1008)), "C:\\Program Files\\Tessaly\\");
    EXPECT_EQ(U(ItemText(loc, 1027)), "16.00 MB");
    EXPECT_EQ(U(ItemText(loc, 1015)), "目标文件夹");
    EXPECT_EQ(U(ItemText(loc, 1022)),
              "Setup将Tessaly安装在下列路径，如果要安装在不同的路径，单击[浏览]并选择其他的路径，"
              "单击[安装]开始安装Tessaly");
    EXPECT_EQ(U(ItemText(loc, 1000)), "浏览");
    EXPECT_EQ(U(ItemText(loc, 1016)), "选择安装路径");
    EXPECT_EQ(U(ItemText(loc, 1024)), "剩余空间");
    EXPECT_EQ(U(ItemText(loc, 1025)), "所需空间");
    std::wstring free = ItemText(loc, 1026);
    EXPECT_TRUE(free.size() > 3 &&
                (free.substr(free.size() - 3) == L" GB" || free.substr(free.size() - 3) == L" TB" ||
                 free.substr(free.size() - 3) == L" MB"))
        << U(free);
    EXPECT_EQ(U(Text(r.wiz())), U(kWizardCaption));
}

TEST(SetupWizard, EnterAndEscInsidePagesDoNothing) {
    InstallerRun r(L"keys");
    ASSERT_TRUE(r.started);
    HWND edit = GetDlgItem(r.inst.license, 1021);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(edit, WM_KEYDOWN, key, 1);
        PostMessageW(edit, WM_KEYUP, key, 0xC0000001);
    }
    Text(r.wiz()); // the keys are handled once this is answered
    Sleep(300);
    EXPECT_FALSE(r.inst.WaitExit(0));
    ExpectStep(r, {true, false, true, false, true, false, false, false}, "License after keys");

    r.ToLocation(L"C:\\Program Files\\Tessaly\\");
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(r.inst.location, WM_KEYDOWN, key, 1);
        PostMessageW(r.inst.location, WM_KEYUP, key, 0xC0000001);
    }
    Text(r.wiz());
    Sleep(300);
    EXPECT_FALSE(r.inst.WaitExit(0));
    ExpectStep(r, {false, true, false, true, true, false, false, false}, "Location after keys");
    EXPECT_FALSE(FindOwnedDialog(r.wiz()));
}

TEST(SetupWizard, CancelEndsAtOnceWithoutWritingAnything) {
    for (bool onLocation : {false, true}) {
        SCOPED_TRACE(onLocation ? "Location" : "License");
        InstallerRun r(L"cancel");
        ASSERT_TRUE(r.started);
        std::wstring folder = r.dir.path() + L"inst\\";
        if (onLocation)
            r.ToLocation(folder);
        Click(r.wiz(), 1001);
        DWORD code = 99;
        ASSERT_TRUE(r.inst.WaitExit(10000, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(ListTree(r.temp).empty());
        EXPECT_TRUE(ListTree(r.cwd).empty());
        EXPECT_FALSE(DirExists(folder));
    }
}

// ---- a whole installation ---------------------------------------------------------------------

void ExpectTreeIsPackage(const std::wstring& folder) {
    std::map<std::wstring, std::string> package = ReadZip(WinPath(PELLAR_SAMPLE_ZIP));
    ASSERT_GT(package.size(), 10u);
    std::vector<std::wstring> names;
    for (const auto& e : package)
        names.push_back(e.first);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(ListTree(folder), names);
    for (const auto& e : package) {
        if (e.first.back() == L'\\') {
            EXPECT_TRUE(DirExists(folder + e.first)) << U(e.first);
            continue;
        }
        bool ok = false;
        std::string got = ReadFileBytes(folder + e.first, &ok);
        EXPECT_TRUE(ok) << U(e.first);
        EXPECT_TRUE(got == e.second) << U(e.first) << " differs from the package";
    }
}

TEST(SetupInstall, SampleIntoNewFolderWithShortcuts) {
    ShortcutGuard guard;
    const Shortcuts& sc = guard.s;
    // What an earlier installation and the user left: a stray Update.exe on the desktop,
    // a file and a folder in the program group.
    ASSERT_TRUE(WriteFileBytes(sc.desktop + L"Update.exe", "old"));
    ASSERT_TRUE(CreateDirectoryW(sc.group.c_str(), nullptr) || DirExists(sc.group));
    ASSERT_TRUE(WriteFileBytes(sc.group + L"readme.txt", "user file"));
    ASSERT_TRUE(CreateDirectoryW((sc.group + L"keep").c_str(), nullptr));

    InstallerRun r(L"install");
    ASSERT_TRUE(r.started);
    std::wstring folder = r.dir.path() + L"inst\\Tessaly\\";
    CreateDirectoryW((r.dir.path() + L"inst").c_str(), nullptr);
    r.ToLocation(folder);
    ASSERT_TRUE(r.InstallAndWait());
    ASSERT_TRUE(r.Finished()) << U(r.Status());

    ExpectStep(r, {false, false, false, false, false, true, false, false}, "Finished");
    EXPECT_EQ(U(r.Status()), "恭喜您，您已成功安装Tessaly");
    ExpectTreeIsPackage(folder);
    EXPECT_FALSE(r.TempCopyLeft());
    EXPECT_TRUE(ListTree(r.cwd).empty()) << "nothing extracted into the working folder";

    std::wstring target = folder + L"\\Update.exe";
    EXPECT_EQ(Normalised(ShortcutTarget(sc.DesktopLink())), Normalised(target));
    EXPECT_EQ(Normalised(ShortcutTarget(sc.GroupLink())), Normalised(target));
    EXPECT_FALSE(FileExists(sc.desktop + L"Update.exe"));
    EXPECT_FALSE(FileExists(sc.group + L"readme.txt"));
    EXPECT_TRUE(DirExists(sc.group + L"keep"));

    Click(r.wiz(), 1009);
    DWORD code = 99;
    ASSERT_TRUE(r.inst.WaitExit(10000, &code));
    EXPECT_EQ(code, 0u);
    Sleep(200);
    EXPECT_FALSE(FileExists(folder + L"Orvane.runs.txt")) << "nothing is started";
}

TEST(SetupInstall, SecondInstallReplacesPackageFilesAndKeepsOthers) {
    ShortcutGuard guard;
    TempDir dir(L"reinstall");
    std::wstring folder = dir.path() + L"Tessaly\\";
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        if (pass == 1) {
            ASSERT_TRUE(WriteFileBytes(folder + L"Sys\\Config.ini", "changed"))
                << "error " << GetLastError();
            ASSERT_TRUE(WriteFileBytes(folder + L"Skin\\mine.bmp", "user skin"));
            DeleteFileW(guard.s.GroupLink().c_str());
            ASSERT_TRUE(WriteFileBytes(guard.s.DesktopLink(), "stale"));
        }
        InstallerRun r(L"reinstall");
        ASSERT_TRUE(r.started);
        r.ToLocation(folder);
        ASSERT_TRUE(r.InstallAndWait());
        ASSERT_TRUE(r.Finished()) << U(r.Status());
        Click(r.wiz(), 1009);
        EXPECT_TRUE(r.inst.WaitExit(10000));
    }
    std::map<std::wstring, std::string> package = ReadZip(WinPath(PELLAR_SAMPLE_ZIP));
    EXPECT_TRUE(ReadFileBytes(folder + L"Sys\\Config.ini") == package[L"Sys\\Config.ini"]);
    EXPECT_EQ(ReadFileBytes(folder + L"Skin\\mine.bmp"), "user skin");
    EXPECT_EQ(Normalised(ShortcutTarget(guard.s.DesktopLink())),
              Normalised(folder + L"\\Update.exe"));
    EXPECT_EQ(Normalised(ShortcutTarget(guard.s.GroupLink())),
              Normalised(folder + L"\\Update.exe"));
}

// ---- running copies of the product ------------------------------------------------------------

// A copy of the waiting program started under a given file name; ended when destroyed.
class Stand {
  public:
    Stand(const std::wstring& folder, const wchar_t* name) {
        CreateDirectoryW(folder.c_str(), nullptr);
        path = folder + name;
        CopyFileW(WinPath(PELLAR_WAITER).c_str(), path.c_str(), FALSE);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::wstring cmd = L"\"" + path + L"\"";
        CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                       &si, &pi);
    }
    ~Stand() {
        if (pi.hProcess) {
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    bool Running(DWORD waitMs = 0) const {
        return pi.hProcess && WaitForSingleObject(pi.hProcess, waitMs) == WAIT_TIMEOUT;
    }
    bool Ended(DWORD exitWithin) const {
        return pi.hProcess && WaitForSingleObject(pi.hProcess, exitWithin) == WAIT_OBJECT_0;
    }
    std::wstring path;
    PROCESS_INFORMATION pi = {};
};

TEST(SetupRunningPrograms, FoundAskedAndEndedOnlyOnYes) {
    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        ShortcutGuard guard;
        TempDir procs(L"procs");
        std::vector<std::unique_ptr<Stand>> matching, others;
        matching.emplace_back(new Stand(procs.path() + L"a\\", L"Update.exe"));
        matching.emplace_back(new Stand(procs.path() + L"b\\", L"Update.exe"));
        matching.emplace_back(new Stand(procs.path() + L"c\\", L"viDede.exe"));
        others.emplace_back(new Stand(procs.path() + L"d\\", L"UPDATE.EXE"));
        others.emplace_back(new Stand(procs.path() + L"e\\", L"Orvane.exe"));
        for (auto& s : matching)
            ASSERT_TRUE(s->Running(300)) << U(s->path);
        for (auto& s : others)
            ASSERT_TRUE(s->Running()) << U(s->path);

        InstallerRun r(L"running");
        ASSERT_TRUE(r.started);
        std::wstring folder = r.dir.path() + L"Tessaly\\";
        r.ToLocation(folder);
        Click(r.wiz(), 1002);
        HWND box = WaitOwnedDialog(r.wiz());
        ASSERT_TRUE(box);
        EXPECT_EQ(U(Text(box)), "Tessaly安装程序");
        EXPECT_NE(DialogMessage(box).find(
                      L"安装程序检测到Tessaly正在运行，需要关闭当前运行的程序才能正确安装"),
                  std::wstring::npos)
            << U(DialogMessage(box));
        EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO));
        Answer(box, yes ? IDYES : IDNO);

        if (yes) {
            for (auto& s : matching)
                EXPECT_TRUE(s->Ended(10000)) << U(s->path) << " was not ended";
            ASSERT_TRUE(WaitFor([&] { return r.Finished() || r.Failed(); }, 60000));
            EXPECT_TRUE(r.Finished()) << U(r.Status());
        } else {
            ASSERT_TRUE(WaitFor([&] { return !FindOwnedDialog(r.wiz()); }, 10000));
            Text(r.wiz());
            Sleep(300);
            for (auto& s : matching)
                EXPECT_TRUE(s->Running()) << U(s->path) << " was ended after No";
            ExpectStep(r, {false, true, false, true, true, false, false, false},
                       "stays on Location");
            EXPECT_TRUE(Enabled(r.wiz(), 1002));
            EXPECT_TRUE(Enabled(r.wiz(), 1001));
            EXPECT_FALSE(DirExists(folder));
            EXPECT_FALSE(FindOwnedDialog(r.wiz())) << "no further message";
        }
        for (auto& s : others)
            EXPECT_TRUE(s->Running()) << U(s->path) << " must not match";
    }
}

// ---- free space ----------------------------------------------------------------------------

void ExpectSpaceMessage(InstallerRun& r, const std::wstring& folder) {
    r.ToLocation(folder);
    Click(r.wiz(), 1002);
    HWND box = WaitOwnedDialog(r.wiz());
    ASSERT_TRUE(box);
    EXPECT_EQ(U(Text(box)), "Tessaly");
    EXPECT_NE(DialogMessage(box).find(L"磁盘空间不足"), std::wstring::npos)
        << U(DialogMessage(box));
    Answer(box, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !FindOwnedDialog(r.wiz()); }, 10000));
    Text(r.wiz());
    ExpectStep(r, {false, true, false, true, true, false, false, false}, "stays on Location");
    EXPECT_TRUE(Enabled(r.wiz(), 1002));
    EXPECT_FALSE(DirExists(folder));
    EXPECT_FALSE(r.TempCopyLeft());
}

TEST(SetupFreeSpace, SmallDriveStopsWithMessage) {
    // S: is a 4 MiB tmpfs the test fixture maps into the prefix when it can mount one.
    if (GetDriveTypeW(L"S:\\") == DRIVE_NO_ROOT_DIR)
        GTEST_SKIP() << "no small drive S: (mounting a tmpfs needs root)";
    ULARGE_INTEGER a, t, f;
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"S:\\", &a, &t, &f));
    ASSERT_LT(f.QuadPart, 16777216u);
    InstallerRun r(L"small");
    ASSERT_TRUE(r.started);
    ExpectSpaceMessage(r, L"S:\\Tessaly\\");
}

TEST(SetupFreeSpace, UnknownFreeSpaceCountsAsTooLittle) {
    DWORD drives = GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t c = L'Q'; c <= L'Y' && !letter; ++c)
        if (c != L'S' && !(drives & (1u << (c - L'A'))))
            letter = c;
    ASSERT_NE(letter, 0);
    InstallerRun r(L"nodrive");
    ASSERT_TRUE(r.started);
    ExpectSpaceMessage(r, std::wstring(1, letter) + L":\\Tessaly\\");
}

// ---- damaged packages and unusable folders ---------------------------------------------------

std::string StubBytes() {
    static std::string s = ReadFileBytes(Stub());
    return s;
}

TEST(SetupFailure, DamagedPackagesEndInTheFailedState) {
    std::string good = "good entry";
    struct Case {
        const char* what;
        std::string appended; // package bytes followed by the trailer
        std::vector<std::wstring> extracted;
    } cases[] = {
        {"trailer longer than the file", "xyz" + Trailer(0x00FFFFFF), {}},
        {"trailer beyond 2 GiB", Trailer(0xFFFFFFF0), {}},
        {"empty package", Trailer(0), {}},
        {"package that is no ZIP", std::string(5000, 'j') + Trailer(5000), {}},
        {"entry with a wrong CRC-32",
         [&] {
             std::string z = MakeZip({{"ok.txt", good}, {"bad.txt", "damaged data", true}});
             return z + Trailer(static_cast<unsigned long>(z.size()));
         }(),
         {L"ok.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ShortcutGuard guard;
        TempDir build(L"damaged");
        std::wstring exe = build.path() + L"PellarSetup.exe";
        ASSERT_TRUE(WriteFileBytes(exe, StubBytes() + c.appended));
        InstallerRun r(L"damaged", exe);
        ASSERT_TRUE(r.started);
        std::wstring folder = r.dir.path() + L"Tessaly\\";
        r.ToLocation(folder);
        ASSERT_TRUE(r.InstallAndWait());
        EXPECT_FALSE(r.TempCopyLeft());
        EXPECT_TRUE(ListTree(r.cwd).empty());
        // What could be extracted is there (a damaged entry may be left as the reader wrote it).
        std::vector<std::wstring> tree = ListTree(folder);
        for (const std::wstring& name : c.extracted)
            EXPECT_NE(std::find(tree.begin(), tree.end(), name), tree.end()) << U(name);
        if (c.extracted.empty()) {
            EXPECT_TRUE(tree.empty());
        }
        ASSERT_TRUE(r.Failed()) << U(r.Status());
        ExpectStep(r, {false, false, false, false, true, false, false, false}, "Failed");
        EXPECT_EQ(U(r.Status()), "安装失败！");
        EXPECT_FALSE(FileExists(guard.s.DesktopLink())) << "no shortcut after a failure";
        if (!c.extracted.empty()) {
            EXPECT_EQ(ReadFileBytes(folder + L"ok.txt"), good);
        }
        Click(r.wiz(), 1001);
        DWORD code = 99;
        EXPECT_TRUE(r.inst.WaitExit(10000, &code));
        EXPECT_EQ(code, 0u);
    }
}

TEST(SetupFailure, UnusableFoldersEndInTheFailedState) {
    struct Case {
        const char* what;
        bool badTemp;
        const wchar_t* folder; // below the run's own folder
    } cases[] = {
        {"temporary folder missing", true, L"Tessaly\\"},
        {"install folder whose parent is missing", false, L"no\\such\\parent\\Tessaly\\"},
        {"install folder that is a file", false, L"file\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ShortcutGuard guard;
        TempDir base(L"folders");
        std::vector<std::wstring> env;
        if (c.badTemp)
            env = {L"TMP=" + base.path() + L"missing\\", L"TEMP=" + base.path() + L"missing\\"};
        InstallerRun r(L"folders", SampleInstaller(), env);
        ASSERT_TRUE(r.started);
        std::wstring folder = r.dir.path() + c.folder;
        if (std::wstring(c.folder) == L"file\\") {
            ASSERT_TRUE(WriteFileBytes(r.dir.path() + L"file", "not a folder"));
        }
        r.ToLocation(folder);
        ASSERT_TRUE(r.InstallAndWait());
        ASSERT_TRUE(r.Failed()) << U(r.Status());
        EXPECT_EQ(U(r.Status()), "安装失败！");
        EXPECT_TRUE(ListTree(r.cwd).empty()) << "nothing extracted elsewhere";
        EXPECT_FALSE(r.TempCopyLeft());
        EXPECT_FALSE(FileExists(guard.s.DesktopLink()));
        EXPECT_TRUE(ListTree(r.temp).empty());
        Click(r.wiz(), 1001);
        EXPECT_TRUE(r.inst.WaitExit(10000));
    }
}

} // namespace

namespace {

// ---- the folder browser ----------------------------------------------------------------------

TEST(SetupBrowse, CancelKeepsThePathAndOkTakesTheSelectedFolder) {
    InstallerRun r(L"browse");
    ASSERT_TRUE(r.started);
    r.ToLocation(L"C:\\Program Files\\Tessaly\\");
    HWND loc = r.inst.location;
    std::wstring free = ItemText(loc, 1026);

    Click(loc, 1000);
    HWND box = WaitOwnedDialog(r.wiz());
    ASSERT_TRUE(box);
    EXPECT_NE(DialogMessage(box).find(L"Please select a folder:"), std::wstring::npos)
        << U(DialogMessage(box));
    Answer(box, IDCANCEL);
    ASSERT_TRUE(WaitFor([&] { return !FindOwnedDialog(r.wiz()); }, 10000));
    Text(r.wiz());
    EXPECT_EQ(U(ItemText(loc, 1008)), "C:\\Program Files\\Tessaly\\");
    EXPECT_EQ(ItemText(loc, 1026), free);

    // OK takes the folder selected, which starts as the desktop: that folder itself becomes
    // the install folder, with a backslash added.
    Click(loc, 1000);
    box = WaitOwnedDialog(r.wiz());
    ASSERT_TRUE(box);
    Answer(box, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !FindOwnedDialog(r.wiz()); }, 10000));
    std::wstring desktop = ShellFolder(L"Desktop");
    EXPECT_TRUE(WaitFor([&] { return ItemText(loc, 1008) == desktop; }, 5000))
        << U(ItemText(loc, 1008)) << " instead of " << U(desktop);
    EXPECT_FALSE(ItemText(loc, 1026).empty());
}

} // namespace
