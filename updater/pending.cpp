#include "pending.h"

#include "appfolder.h"
#include "archive.h"
#include "filefind.h"
#include "inifile.h"

#include <cstdlib>
#include <functional>

namespace {
// Calls fn with the full path of every file (not folder) matching pattern, in search order.
void ForEachFile(const CString& strPattern, const std::function<void(const CFileFind&)>& fn) {
    CFileFind finder;
    for (BOOL more = finder.FindFile(strPattern); more;) {
        more = finder.FindNextFile();
        if (finder.IsDots() || finder.IsDirectory())
            continue;
        fn(finder);
    }
}
} // namespace

CString FileTitleFromPath(const CString& strPath) {
    CString name = strPath;
    int slash = name.ReverseFind(L'\\');
    if (slash >= 0)
        name = name.Mid(slash + 1);
    int dot = name.ReverseFind(L'.');
    return dot >= 0 ? name.Left(dot) : CString();
}

void VersionFromTitle(const CString& strTitle, int& nFirst, int& nSecond) {
    nFirst = ::_wtoi(strTitle.Left(5));
    nSecond = ::_wtoi(strTitle.Mid(5, 8));
}

BOOL ApplyUpdateArchiveIn(const CString& strAppFolder, const CString& strPath) {
    wchar_t saved[1024] = {};
    DWORD n = ::GetCurrentDirectoryW(1024, saved);
    bool haveSaved = n > 0 && n < 1024;
    DWORD result = AR_NOFILE;
    if (::SetCurrentDirectoryW(strAppFolder))
        result = ArchiveExtractAll(strPath);
    if (haveSaved)
        ::SetCurrentDirectoryW(saved);
    return result == AR_OK;
}

void ApplyPendingUpdatesIn(const CString& strAppFolder) {
    CString dir = strAppFolder + L"UpdateZip\\";
    CString ini = strAppFolder + L"Sys\\Config.ini";
    ForEachFile(dir + L"*.zip", [&](const CFileFind& found) {
        // A version is recorded only for an archive that was applied completely; a broken
        // one is still deleted afterwards, so the next check fetches it again.
        if (!ApplyUpdateArchiveIn(strAppFolder, found.GetFilePath()))
            return;
        int first = 0, second = 0;
        VersionFromTitle(FileTitleFromPath(found.GetFileName()), first, second);
        WriteInstalledVersionTo(ini, first, second);
    });
}

void DeletePendingUpdatesIn(const CString& strAppFolder) {
    ForEachFile(strAppFolder + L"UpdateZip\\*.zip",
                [](const CFileFind& found) { ::DeleteFileW(found.GetFilePath()); });
}

void DeleteStaleDownloadsIn(const CString& strAppFolder) {
    // A worker holds its part file open without sharing, so one still in use stays.
    ForEachFile(strAppFolder + L"UpdateZip\\*.zip.part",
                [](const CFileFind& found) { ::DeleteFileW(found.GetFilePath()); });
}

BOOL ApplyUpdateArchive(const CString& strPath) {
    return ApplyUpdateArchiveIn(GetAppFolder(), strPath);
}

void ApplyPendingUpdates() {
    ApplyPendingUpdatesIn(GetAppFolder());
}

void DeletePendingUpdates() {
    DeletePendingUpdatesIn(GetAppFolder());
}

void DeleteStaleDownloads() {
    DeleteStaleDownloadsIn(GetAppFolder());
}
