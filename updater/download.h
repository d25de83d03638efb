// Download workers: one thread per update archive, storing it only when complete.
#pragma once

#include "cstring.h"

#include <windows.h>

#include <atomic>

// Posted once by every worker when it ends, whatever the outcome.
const UINT WM_DOWNLOAD_DONE = WM_USER + 4000;

// The window the workers post WM_DOWNLOAD_DONE to; null once the updater's dialog is gone.
extern std::atomic<HWND> g_hDownloadDoneWnd;

// Handed to the worker, which owns and frees it.
struct DownloadRequest {
    CString m_strUrl;
    CString m_strLocalPath;
};

// TRUE when a worker thread was started (never for an empty URL).
BOOL StartDownload(const CString& strUrl, const CString& strLocalPath);
DWORD WINAPI DownloadThreadProc(LPVOID pRequest);
// StartDownload with the thread creation given (tests make it fail).
typedef HANDLE(WINAPI* PFN_CREATETHREAD)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                         LPVOID, DWORD, LPDWORD);
BOOL StartDownloadWith(const CString& strUrl, const CString& strLocalPath,
                       PFN_CREATETHREAD pfnCreateThread);

enum DownloadResult {
    DL_STORED,       // the whole announced body is at the local path
    DL_FAILED,       // no connection, read error, or the file could not be written
    DL_STATUS,       // status other than 200
    DL_NOLENGTH,     // no usable Content-Length: body read and discarded
    DL_NEGATIVE,     // negative Content-Length: nothing read
    DL_SHORT,        // the body ended before the announced length
    DL_BADSIGNATURE, // builds with an update key: "<URL>.sig" missing or not a valid signature
};

// The worker's download without the thread and the message: fetch strUrl and store its body
// at strLocalPath through "<strLocalPath>.part", renamed into place only when complete.
DownloadResult DownloadToFile(const CString& strUrl, const CString& strLocalPath);

// A new empty file with a unique name in the temporary folder ("ov" prefix).
CString GetTempDownloadFile();
