// The version check: fetch "<server>/zip.html", start a download for every newer minor
// version of the installed main version.
#pragma once

#include "cstring.h"

#include <functional>
#include <string>

// The update server's base address: [UPDATE] Server in the version file, else the build's.
CString GetUpdateServer();
// The version list's URL on the given base address.
CString VersionListUrl(const CString& strServer);

// Workers one start runs at most: the first matching entries in list order. The run ends
// with the first worker anyway, and a later start, with the newer version installed, takes
// the next entries.
const int UPDATE_MAX_WORKERS = 16;

// TRUE when at least one download worker was started; FALSE on every failure.
BOOL CheckForUpdates();
// How long the check waits for the whole version list: [UPDATE] CheckSeconds (1-600), else 30 s.
DWORD GetCheckTimeout();
// The version list's bytes, when the whole body arrived within the time-out.
BOOL FetchVersionListWithin(const CString& strUrl, DWORD dwTimeoutMs, std::string& bytes);
BOOL ParseVersionList(const CString& strText);
CString FileNameFromUrl(const CString& strUrl);
// A name that stays inside its folder: no separators, no drive, not "." or "..".
BOOL IsPlainFileName(const CString& strName);

// The version list body converted from the given code page as one piece (it ends at its
// first zero byte), so no character breaks at a read boundary.
CString DecodeVersionList(const std::string& bytes, UINT nCodePage);

// ParseVersionList with its collaborators given.
typedef std::function<BOOL(int& nFirst, int& nSecond)> ReadVersionFn;
typedef std::function<BOOL(const CString& strUrl, const CString& strLocalPath)> StartDownloadFn;
BOOL ParseVersionListWith(const CString& strText, const ReadVersionFn& readVersion,
                          const CString& strAppFolder, const StartDownloadFn& startDownload);
