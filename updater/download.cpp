#include "download.h"

#include "appfolder.h"
#include "inet.h"
#include "winhandles.h"

#include <objbase.h>

#ifdef RUNVEL_UPDATE_KEY
#include "signature.h"
#endif

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#ifdef RUNVEL_BENCH
#include <psapi.h>
#endif

std::atomic<HWND> g_hDownloadDoneWnd{nullptr};

namespace {
const DWORD kDownloadFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
// The body streams to disk through this one buffer, so memory does not grow with the body.
const UINT kReadSize = 65536;

// Deletes a file at the end of its scope unless released.
class CDeleteOnExit {
  public:
    explicit CDeleteOnExit(const CString& strPath) : m_strPath(strPath) {}
    ~CDeleteOnExit() {
        if (!m_strPath.IsEmpty())
            ::DeleteFileW(m_strPath);
    }
    CDeleteOnExit(const CDeleteOnExit&) = delete;
    CDeleteOnExit& operator=(const CDeleteOnExit&) = delete;
    void Release() { m_strPath.Empty(); }

  private:
    CString m_strPath;
};

// Reads a body of unknown length to its end into a temporary file that is then deleted.
void DiscardBody(CHttpFile& file, BYTE* buffer, UINT cbBuffer) {
    CString strTemp = GetTempDownloadFile();
    CDeleteOnExit removeTemp(strTemp);
    CFileHandle temp(strTemp.IsEmpty()
                         ? INVALID_HANDLE_VALUE
                         : ::CreateFileW(strTemp, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    for (;;) {
        DWORD avail = file.GetLength();
        if (avail == 0)
            break;
        UINT n = file.Read(buffer, avail < cbBuffer ? avail : cbBuffer);
        if (n == 0)
            break;
        if (temp.IsValid())
            temp.Write(buffer, n);
    }
}

#ifdef RUNVEL_BENCH
// Bench builds record the process's peak memory beside the stored archive.
void RecordPeakMemory(const CString& strLocalPath, ULONGLONG msElapsed) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc)))
        return;
    char line[160];
    int n = wsprintfA(line, "worker_ms=%lu peak_working_set=%lu peak_pagefile=%lu\r\n",
                      static_cast<unsigned long>(msElapsed),
                      static_cast<unsigned long>(pmc.PeakWorkingSetSize),
                      static_cast<unsigned long>(pmc.PeakPagefileUsage));
    CFileHandle out(::CreateFileW(strLocalPath + L".mem.txt", GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.IsValid())
        out.Write(line, static_cast<DWORD>(n));
}
#endif

#ifdef RUNVEL_UPDATE_KEY
// Fetches "<strUrl>.sig" and checks it over the digest of the stored body: TRUE only for a
// signature of exactly the right size made with the embedded key.
BOOL FetchAndVerifySignature(CInternetSession& session, const CString& strUrl,
                             const BYTE digest[32], BYTE signature[UPDATE_SIGNATURE_SIZE]) {
    std::unique_ptr<CHttpFile> file = session.OpenURL(strUrl + L".sig", kDownloadFlags);
    CString strStatus;
    file->QueryInfo(HTTP_QUERY_STATUS_CODE, strStatus);
    if (strStatus != L"200")
        return FALSE;
    // One byte more than a signature is read, so that a longer body is refused.
    BYTE buffer[UPDATE_SIGNATURE_SIZE + 1];
    UINT total = 0;
    while (total < sizeof(buffer)) {
        UINT got = file->Read(buffer + total, sizeof(buffer) - total);
        if (got == 0)
            break;
        total += got;
    }
    if (total != UPDATE_SIGNATURE_SIZE)
        return FALSE;
    memcpy(signature, buffer, UPDATE_SIGNATURE_SIZE);
    return VerifyUpdateDigest(digest, signature, UPDATE_SIGNATURE_SIZE, GetUpdatePublicKey());
}
#endif
} // namespace

// _wtoi64 as documented: a value past 64 bits saturates. The C library under Wine wraps it
// instead, so "18446744073709551617" would read as 1 and one byte pass as the whole body.
static long long ParseContentLength(const CString& strLength) {
    const wchar_t* p = strLength;
    while (*p == L' ' || *p == L'\t')
        ++p;
    bool negative = *p == L'-';
    if (*p == L'-' || *p == L'+')
        ++p;
    long long n = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        int digit = *p - L'0';
        if (n > (LLONG_MAX - digit) / 10)
            return negative ? LLONG_MIN : LLONG_MAX;
        n = n * 10 + digit;
    }
    return negative ? -n : n;
}

CString GetTempDownloadFile() {
    wchar_t folder[MAX_PATH] = {};
    wchar_t name[MAX_PATH] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH || !::GetTempFileNameW(folder, L"ov", 0, name))
        return CString();
    return CString(name);
}

DownloadResult DownloadToFile(const CString& strUrl, const CString& strLocalPath) {
#ifdef RUNVEL_BENCH
    ULONGLONG msStart = ::GetTickCount64();
#endif
    CInternetSession session(GetAppName(), INTERNET_OPEN_TYPE_PRECONFIG);
    session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, 30000);
    session.SetOption(INTERNET_OPTION_CONNECT_BACKOFF, 1000);
    session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, 1);
    std::unique_ptr<CHttpFile> file = session.OpenURL(strUrl, kDownloadFlags);

    CString strStatus;
    file->QueryInfo(HTTP_QUERY_STATUS_CODE, strStatus);
    if (strStatus != L"200")
        return DL_STATUS; // 407 (proxy authentication) included

    CString strLength;
    file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, strLength);
    // Parsed in 64 bits: a length beyond 32 bits must not wrap to a smaller one and let a
    // truncated body pass as complete.
    long long nLength = ParseContentLength(strLength);

    std::unique_ptr<BYTE[]> buffer(new BYTE[kReadSize]);
    if (nLength == 0) {
        DiscardBody(*file, buffer.get(), kReadSize);
        return DL_NOLENGTH;
    }
    if (nLength < 0)
        return DL_NEGATIVE;

    // The body goes to a name the pending search ("*.zip") does not match, without sharing,
    // so a second worker for the same path cannot interleave with this one.
    CString strPart = strLocalPath + L".part";
    CDeleteOnExit removePart(strPart); // after the handle below is closed
    CFileHandle part(::CreateFileW(strPart, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!part.IsValid()) {
        removePart.Release(); // most likely another worker's file
        return DL_FAILED;
    }

#ifdef RUNVEL_UPDATE_KEY
    // The digest covers exactly the bytes written to the part file.
    CUpdateHash hash;
#endif
    long long remaining = nLength;
    while (remaining > 0) {
        UINT want = remaining < kReadSize ? static_cast<UINT>(remaining) : kReadSize;
        UINT got = file->Read(buffer.get(), want);
        if (got == 0)
            break;
        if (!part.Write(buffer.get(), got))
            return DL_FAILED;
#ifdef RUNVEL_UPDATE_KEY
        hash.Update(buffer.get(), got);
#endif
        remaining -= got;
    }
    file->Close();
#ifdef RUNVEL_UPDATE_KEY
    if (remaining > 0)
        return DL_SHORT;
    BYTE digest[32];
    BYTE signature[UPDATE_SIGNATURE_SIZE];
    if (!hash.Finish(digest) || !FetchAndVerifySignature(session, strUrl, digest, signature))
        return DL_BADSIGNATURE; // the part file goes with removePart
    session.Close();
    // The signature is in place before the archive, so a stored archive always has one.
    CString strSignature = strLocalPath + L".sig";
    if (!WriteSignatureFile(strSignature, signature))
        return DL_FAILED;
    CDeleteOnExit removeSignature(strSignature);
#else
    session.Close();
    if (remaining > 0)
        return DL_SHORT;
#endif
    if (!part.Close())
        return DL_FAILED;
    if (!::MoveFileExW(strPart, strLocalPath, MOVEFILE_REPLACE_EXISTING))
        return DL_FAILED;
    removePart.Release();
#ifdef RUNVEL_UPDATE_KEY
    removeSignature.Release();
#endif
#ifdef RUNVEL_BENCH
    RecordPeakMemory(strLocalPath, ::GetTickCount64() - msStart);
#endif
    return DL_STORED;
}

DWORD WINAPI DownloadThreadProc(LPVOID pParam) {
    std::unique_ptr<DownloadRequest> request(static_cast<DownloadRequest*>(pParam));
    CComInit com;
    try {
        DownloadToFile(request->m_strUrl, request->m_strLocalPath);
    } catch (const CException&) {
        // Connection, status or read failure: nothing stored.
    } catch (...) {
        // Nothing may leave the thread; the updater still gets its message.
    }
    ::PostMessageW(g_hDownloadDoneWnd.load(), WM_DOWNLOAD_DONE, 0, 0);
    request.reset();
    return 0;
}

BOOL StartDownload(const CString& strUrl, const CString& strLocalPath) {
    return StartDownloadWith(strUrl, strLocalPath, &::CreateThread);
}

BOOL StartDownloadWith(const CString& strUrl, const CString& strLocalPath,
                       PFN_CREATETHREAD pfnCreateThread) {
    if (strUrl.IsEmpty())
        return FALSE;
    DownloadRequest* request = new DownloadRequest{strUrl, strLocalPath};
    HANDLE hThread = pfnCreateThread(nullptr, 0, &DownloadThreadProc, request, 0, nullptr);
    if (!hThread) {
        // No worker: no WM_DOWNLOAD_DONE will come, so this is no started download.
        delete request;
        return FALSE;
    }
    ::CloseHandle(hThread);
    return TRUE;
}
