// Clicks through a whole installation with PellarSetup's real windows and reports what it did:
//   pellar_drive INSTALLER INSTALL_FOLDER [SHOT_FOLDER] [--expect-failure]
// With SHOT_FOLDER every wizard step is saved there as a BMP (step-N-name.bmp).
// Prints UTF-8 lines "folder=", "shortcut=... -> target", "shot=", "result=".
#include "gui_driver.h"

#include <cstdio>
#include <string>

using namespace driver;

namespace {
std::wstring g_shots;
int g_failures = 0;

void Say(const std::string& line) {
    std::string s = line + "\n";
    fwrite(s.data(), 1, s.size(), stdout);
    fflush(stdout);
}

void Shot(const wchar_t* name) {
    if (g_shots.empty())
        return;
    Sleep(300); // let the step paint
    std::wstring path = g_shots + name + L".bmp";
    if (SaveScreen(path))
        Say("shot=" + Utf8(path));
    else
        Say("shot-failed=" + Utf8(path));
}

// Stops the installer's thread at a status so that a transient step can be pictured.
void ShotWhileStatus(Installer& inst, const wchar_t* status, const wchar_t* name, bool& done) {
    if (done || ItemText(inst.wizard, 1013) != status)
        return;
    // The repaints the step is waiting for are sent to the installer's thread and done at
    // its next queue drain.
    RedrawWindow(inst.wizard, nullptr, nullptr, RDW_ALLCHILDREN | RDW_UPDATENOW);
    SuspendThread(inst.pi.hThread);
    Shot(name);
    ResumeThread(inst.pi.hThread);
    done = true;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        Say("usage: pellar_drive INSTALLER INSTALL_FOLDER [SHOT_FOLDER] [--expect-failure]");
        return 2;
    }
    std::wstring installer = argv[1];
    std::wstring folder = argv[2];
    if (folder.back() != L'\\')
        folder += L'\\';
    bool expectFailure = false;
    for (int i = 3; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--expect-failure")
            expectFailure = true;
        else
            g_shots = a.back() == L'\\' ? a : a + L'\\';
    }

    Installer inst;
    if (!inst.Start(installer, L"") || !inst.WaitWizard()) {
        Say("result=no-wizard");
        return 1;
    }
    // A failure run pictures only its last step.
    if (!expectFailure)
        Shot(L"step-1-license");

    Click(inst.wizard, 1000);
    WaitFor([&] { return IsWindowVisible(inst.location) != FALSE; });
    SetItemText(inst.location, 1008, folder);
    if (!expectFailure)
        Shot(L"step-2-location");

    DWORD start = GetTickCount();
    Click(inst.wizard, 1002);
    bool copying = expectFailure, extracting = expectFailure;
    bool ended = WaitFor(
        [&] {
            if (HWND box = FindOwnedDialog(inst.wizard)) {
                Say("question=" + Utf8(DialogMessage(box)) + " -> yes");
                Answer(box, IDYES);
            }
            ShotWhileStatus(inst, L"正在安装......", L"step-3-copying", copying);
            ShotWhileStatus(inst, L"正在移除临时文件......", L"step-4-extracting", extracting);
            return Visible(inst.wizard, 1009) ||
                   (!Visible(inst.wizard, 1002) && Enabled(inst.wizard, 1001));
        },
        120000);
    DWORD ms = GetTickCount() - start;
    bool finished = ended && Visible(inst.wizard, 1009);
    Shot(finished ? L"step-5-finished" : L"step-6-failed");
    Say("status=" + Utf8(ItemText(inst.wizard, 1013)));
    Say("install-ms=" + std::to_string(ms));
    if (finished) {
        Say("folder=" + Utf8(folder));
        std::wstring lnk = L"Tessaly1.0.lnk";
        std::wstring desktop = ShellFolder(L"Desktop") + lnk;
        std::wstring group = ShellFolder(L"Programs") + L"Tessaly\\" + lnk;
        for (const std::wstring& p : {desktop, group})
            Say("shortcut=" + Utf8(p) + " -> " +
                (FileExists(p) ? Utf8(ShortcutTarget(p)) : std::string("(missing)")));
        Click(inst.wizard, 1009);
    } else {
        Click(inst.wizard, 1001);
    }
    DWORD code = 0;
    if (!inst.WaitExit(10000, &code))
        ++g_failures;
    bool asExpected = expectFailure ? (ended && !finished) : finished;
    Say(std::string("result=") + (asExpected && !g_failures ? "ok" : "unexpected"));
    return asExpected && !g_failures ? 0 : 1;
}
