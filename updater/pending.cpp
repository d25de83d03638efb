#include "pending.h"

#include "appfolder.h"
#include "archive.h"
#include "filefind.h"
#include "inifile.h"
#include "winhandles.h"

#include <cstdlib>
#include <functional>

#ifdef RUNVEL_UPDATE_KEY
#include "signature.h"
#endif

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

#ifdef RUNVEL_UPDATE_KEY
namespace {

// Extracts the archive only when "<strPath>.sig" verifies over the bytes read through the
// very handle the extraction reads, opened without write or delete sharing: nobody can change
// or replace the file between the check and the extraction.
DWORD ExtractSignedArchive(const CString& strPath) {
    BYTE signature[UPDATE_SIGNATURE_SIZE];
    if (!ReadSignatureFile(strPath + L".sig", signature))
        return AR_NOFILE;
    CFileHandle file(::CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() ||
        !VerifyUpdateHandle(file.Get(), signature, UPDATE_SIGNATURE_SIZE, GetUpdatePublicKey()))
        return AR_NOFILE;
    ArchiveHandle archive = ArchiveOpenHandle(file.Get());
    if (!archive)
        return AR_NOFILE;
    DWORD result = ArchiveExtractAllFrom(archive);
    ArchiveClose(archive);
    return result;
}
} // namespace
#endif

BOOL ApplyUpdateArchiveIn(const CString& strAppFolder, const CString& strPath) {
    wchar_t saved[1024] = {};
    DWORD n = ::GetCurrentDirectoryW(1024, saved);
    bool haveSaved = n > 0 && n < 1024;
    DWORD result = AR_NOFILE;
#ifdef RUNVEL_UPDATE_KEY
    if (::SetCurrentDirectoryW(strAppFolder))
        result = ExtractSignedArchive(strPath);
#else
    if (::SetCurrentDirectoryW(strAppFolder))
        result = ArchiveExtractAll(strPath);
#endif
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
#ifdef RUNVEL_UPDATE_KEY
    ForEachFile(strAppFolder + L"UpdateZip\\*.zip.sig",
                [](const CFileFind& found) { ::DeleteFileW(found.GetFilePath()); });
#endif
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
