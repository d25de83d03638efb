#include "gui_driver.h"

#include <objbase.h>
#include <zlib.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>

namespace driver {

const wchar_t kWizardCaption[] = L"Tessaly安装程序";

namespace {
struct FindCtx {
    DWORD pid;
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindWizardProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindCtx*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (pid == ctx->pid && wcscmp(cls, L"#32770") == 0 && GetWindow(h, GW_OWNER) == nullptr &&
        GetDlgItem(h, 1002) && IsWindowVisible(h)) {
        ctx->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindOwnedProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindCtx*>(lp);
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (GetWindow(h, GW_OWNER) == ctx->owner && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(h)) {
        ctx->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindPagesProc(HWND h, LPARAM lp) {
    auto* inst = reinterpret_cast<Installer*>(lp);
    if (GetParent(h) != inst->wizard)
        return TRUE;
    if (GetDlgItem(h, 1021))
        inst->license = h;
    if (GetDlgItem(h, 1008))
        inst->location = h;
    return TRUE;
}

struct TextCtx {
    std::wstring text;
};

BOOL CALLBACK CollectStaticProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<TextCtx*>(lp);
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (_wcsicmp(cls, L"Static") == 0) {
        std::wstring t = Text(h);
        if (!t.empty()) {
            if (!ctx->text.empty())
                ctx->text += L"\n";
            ctx->text += t;
        }
    }
    return TRUE;
}

std::vector<wchar_t> MakeEnvironment(const std::vector<std::wstring>& overrides) {
    std::vector<std::wstring> vars;
    wchar_t* block = GetEnvironmentStringsW();
    for (wchar_t* p = block; p && *p; p += wcslen(p) + 1)
        vars.emplace_back(p);
    FreeEnvironmentStringsW(block);
    for (const std::wstring& o : overrides) {
        std::wstring name = o.substr(0, o.find(L'=') + 1);
        vars.erase(std::remove_if(vars.begin(), vars.end(),
                                  [&](const std::wstring& v) {
                                      return _wcsnicmp(v.c_str(), name.c_str(), name.size()) == 0;
                                  }),
                   vars.end());
        vars.push_back(o);
    }
    std::vector<wchar_t> out;
    for (const std::wstring& v : vars) {
        out.insert(out.end(), v.begin(), v.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}
} // namespace

Installer::~Installer() {
    Kill();
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
}

bool Installer::Start(const std::wstring& exe, const std::wstring& cwd,
                      const std::vector<std::wstring>& env) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::wstring cmd = L"\"" + exe + L"\"";
    std::vector<wchar_t> envBlock = MakeEnvironment(env);
    return CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          envBlock.data(), cwd.empty() ? nullptr : cwd.c_str(), &si, &pi) != FALSE;
}

HWND Installer::WaitWizard(DWORD timeoutMs) {
    FindCtx ctx = {pi.dwProcessId, nullptr, nullptr};
    WaitFor(
        [&] {
            EnumWindows(FindWizardProc, reinterpret_cast<LPARAM>(&ctx));
            return ctx.found != nullptr;
        },
        timeoutMs);
    wizard = ctx.found;
    if (wizard)
        EnumChildWindows(wizard, FindPagesProc, reinterpret_cast<LPARAM>(this));
    return wizard;
}

bool Installer::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!pi.hProcess || WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(pi.hProcess, exitCode);
    return true;
}

void Installer::Kill() {
    if (pi.hProcess && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
    }
}

std::wstring Text(HWND h) {
    wchar_t buf[4096] = {};
    DWORD_PTR len = 0;
    if (!h || !SendMessageTimeoutW(h, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf),
                                   SMTO_ABORTIFHUNG, 5000, &len))
        return std::wstring();
    return std::wstring(buf, std::min<size_t>(len, 4095));
}

std::wstring ItemText(HWND dlg, int id) {
    return Text(GetDlgItem(dlg, id));
}

bool Visible(HWND dlg, int id) {
    return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE;
}

bool Enabled(HWND dlg, int id) {
    return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE;
}

void SetItemText(HWND dlg, int id, const std::wstring& text) {
    DWORD_PTR r = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, &r);
}

void Click(HWND dlg, int id) {
    PostMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (pred())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
}

HWND FindOwnedDialog(HWND owner) {
    FindCtx ctx = {0, owner, nullptr};
    EnumWindows(FindOwnedProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

HWND WaitOwnedDialog(HWND owner, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitFor([&] { return (box = FindOwnedDialog(owner)) != nullptr; }, timeoutMs);
    return box;
}

std::wstring DialogMessage(HWND box) {
    TextCtx ctx;
    EnumChildWindows(box, CollectStaticProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.text;
}

void Answer(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

TempDir::TempDir(const wchar_t* tag) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    wchar_t name[64];
    wsprintfW(name, L"pellar-%s-%lu-%lu\\", tag, GetCurrentProcessId(), GetTickCount());
    m_path = std::wstring(temp) + name;
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path, bool* ok) {
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (ok)
        *ok = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
        out.append(buf, n);
    CloseHandle(h);
    return out;
}

bool WriteFileBytes(const std::wstring& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
    return ok && n == data.size();
}

namespace {
void ListInto(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + rel + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(rel + n + L"\\");
            ListInto(root, rel + n + L"\\", out);
        } else {
            out.push_back(rel + n);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}
} // namespace

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> out;
    std::wstring r = root;
    if (!r.empty() && r.back() != L'\\')
        r += L'\\';
    ListInto(r, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

std::wstring ShellFolder(const wchar_t* name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t buf[1024] = {};
    DWORD cb = sizeof(buf) - sizeof(wchar_t);
    LONG r = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS)
        return std::wstring();
    std::wstring s = buf;
    if (!s.empty() && s.back() != L'\\')
        s += L'\\';
    return s;
}

std::wstring ShortcutTarget(const std::wstring& lnk) {
    std::wstring out;
    HRESULT init = CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Load(lnk.c_str(), STGM_READ))) {
                wchar_t path[MAX_PATH * 2] = {};
                if (SUCCEEDED(link->GetPath(path, MAX_PATH * 2, nullptr, SLGP_RAWPATH)))
                    out = path;
            }
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return out;
}

bool SaveScreen(const std::wstring& bmpPath) {
    int w = GetSystemMetrics(SM_CXSCREEN);
    int h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        DWORD stride = ((w * 3 + 3) / 4) * 4;
        DWORD size = stride * h;
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + size;
        std::string data(reinterpret_cast<char*>(&fh), sizeof(fh));
        data.append(reinterpret_cast<char*>(&bi.bmiHeader), sizeof(bi.bmiHeader));
        data.append(static_cast<char*>(bits), size);
        ok = WriteFileBytes(bmpPath, data);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::string Utf8(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::wstring WinPath(const char* unixPath) {
    std::wstring s = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        s += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return s;
}

void Put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, unsigned long v) {
    Put16(s, v & 0xFFFF);
    Put16(s, (v >> 16) & 0xFFFF);
}

std::string MakeZip(const std::vector<ZipEntry>& entries) {
    std::string out, central;
    for (const ZipEntry& e : entries) {
        unsigned long crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                  static_cast<uInt>(e.data.size()));
        if (e.badCrc)
            crc ^= 0x5A5A5A5A;
        bool dir = !e.name.empty() && e.name.back() == '/';
        unsigned long offset = static_cast<unsigned long>(out.size());
        std::string common;
        Put16(common, 20);     // version needed
        Put16(common, 0);      // flags
        Put16(common, 0);      // stored
        Put16(common, 0);      // time
        Put16(common, 0x3A78); // date 2009-03-24
        Put32(common, crc);
        Put32(common, static_cast<unsigned long>(e.data.size()));
        Put32(common, static_cast<unsigned long>(e.data.size()));
        Put16(common, static_cast<unsigned>(e.name.size()));
        Put16(common, 0); // extra
        out += "PK\x03\x04";
        out += common;
        out += e.name;
        out += e.data;
        central += "PK\x01\x02";
        Put16(central, 20); // made by
        central += common;
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, dir ? 0x10 : 0x20);
        Put32(central, offset);
        central += e.name;
    }
    unsigned long cdOffset = static_cast<unsigned long>(out.size());
    out += central;
    out += "PK\x05\x06";
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<unsigned>(entries.size()));
    Put16(out, static_cast<unsigned>(entries.size()));
    Put32(out, static_cast<unsigned long>(central.size()));
    Put32(out, cdOffset);
    Put16(out, 0);
    return out;
}

} // namespace driver
