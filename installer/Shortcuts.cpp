#include "Shortcuts.h"

#include "PellarSetupDlg.h"
#include "globals.h"
#include "filefind.h"
#include "handles.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace {
// Defined here rather than taken from libuuid, whose object would bring every GUID it holds.
const CLSID kClsidShellLink = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellLinkW = {
    0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidPersistFile = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

const wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

CString WithBackslash(const CString& s) {
    if (!s.IsEmpty() && s[s.GetLength() - 1] != L'\\')
        return s + L'\\';
    return s;
}

// Deletes the files matching pattern inside folder; folders and failures are skipped.
void DeleteMatchingFiles(const CString& folder, const wchar_t* pattern) {
    CFileFind find;
    for (BOOL more = find.FindFile(folder + pattern); more;) {
        more = find.FindNextFile();
        if (!find.IsDirectory())
            ::DeleteFileW(folder + find.GetFileName());
    }
}
} // namespace

CString ReadShellFolder(HKEY hKey, const wchar_t* pszName) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        wchar_t buf[512] = {};
        DWORD cb = sizeof(buf);
        DWORD type = 0;
        if (::RegQueryValueExW(hKey, pszName, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb) !=
            ERROR_SUCCESS)
            continue;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return CString();
        DWORD n = cb / sizeof(wchar_t);
        // Only a terminated value is a path.
        if (n == 0 || buf[n - 1] != 0)
            return CString();
        return WithBackslash(CString(buf));
    }
    return CString();
}

bool CreateShellLink(const CString& strTarget, const CString& strLinkPath) {
    CComInit com;
    CComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkW,
                                  reinterpret_cast<void**>(&link))))
        return false;
    link->SetPath(strTarget);
    CComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&file))))
        return false;
    HRESULT hr = file->Save(strLinkPath, TRUE);
    return SUCCEEDED(hr);
}

void CreateShortcuts(CPellarSetupDlg* pDlg, const CString& strInstallPath) {
    CString strLinkName = g_strTitle + g_strVersion + L".lnk";
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kShellFolders, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return;
    CString strDesktop = ReadShellFolder(key.Get(), L"Desktop");
    if (strDesktop.IsEmpty())
        return;
    DeleteMatchingFiles(strDesktop, strLinkName);
    DeleteMatchingFiles(strDesktop, g_strUpdateExe);
    CString strTarget = strInstallPath + L"\\" + g_strUpdateExe;
    CreateShellLink(strTarget, strDesktop + strLinkName);

    CString strPrograms = ReadShellFolder(key.Get(), L"Programs");
    key.Close();
    if (strPrograms.IsEmpty())
        return;
    CString strGroup = strPrograms + g_strTitle + L"\\";
    DWORD attr = ::GetFileAttributesW(strGroup);
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteMatchingFiles(strGroup, L"*.*");
    } else {
        HWND hOwner = pDlg ? pDlg->m_hWnd : nullptr;
        if (::SHCreateDirectoryExW(hOwner, strGroup, nullptr) != ERROR_SUCCESS)
            return;
    }
    CreateShellLink(strTarget, strGroup + strLinkName);
}
