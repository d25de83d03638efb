#include "version_check.h"

#include "appfolder.h"
#include "download.h"
#include "inet.h"
#include "inifile.h"

#include <cstdlib>
#include <memory>

#ifndef RUNVEL_UPDATE_SERVER
#define RUNVEL_UPDATE_SERVER L"http://update.tessaly.example"
#endif

namespace {
// A version list is a few lines; anything far larger is no version list, and holding it
// would only exhaust the process.
const size_t kMaxVersionList = 4 * 1024 * 1024;
} // namespace

CString GetUpdateServer() {
    CIniFile ini(GetConfigIniPath());
    CString server = ini.GetString(L"UPDATE", L"Server", RUNVEL_UPDATE_SERVER);
    return server;
}

CString VersionListUrl(const CString& strServer) {
    CString base = strServer;
    base.TrimRight(L'/');
    if (base.Find(L"://") < 0)
        base = L"http://" + base;
    return base + L"/zip.html";
}

CString FileNameFromUrl(const CString& strUrl) {
    int slash = strUrl.ReverseFind(L'/');
    if (slash < 0)
        slash = strUrl.ReverseFind(L'\\');
    return slash >= 0 ? strUrl.Mid(slash + 1) : strUrl;
}

BOOL IsPlainFileName(const CString& strName) {
    if (strName.IsEmpty() || strName == L"." || strName == L"..")
        return FALSE;
    for (int i = 0; i < strName.GetLength(); ++i) {
        wchar_t ch = strName[i];
        if (ch == L'\\' || ch == L'/' || ch == L':' || ch < 32)
            return FALSE;
    }
    return TRUE;
}

CString DecodeVersionList(const std::string& bytes, UINT nCodePage) {
    size_t n = bytes.find('\0');
    if (n == std::string::npos)
        n = bytes.size();
    if (n == 0)
        return CString();
    int cch = ::MultiByteToWideChar(nCodePage, 0, bytes.data(), static_cast<int>(n), nullptr, 0);
    if (cch <= 0)
        return CString();
    CString text;
    wchar_t* p = text.GetBuffer(cch);
    ::MultiByteToWideChar(nCodePage, 0, bytes.data(), static_cast<int>(n), p, cch);
    text.ReleaseBuffer(cch);
    return text;
}

BOOL ParseVersionListWith(const CString& strText, const ReadVersionFn& readVersion,
                          const CString& strAppFolder, const StartDownloadFn& startDownload) {
    static const wchar_t kListOpen[] = L"<ovVersionList>";   // 15 characters
    static const wchar_t kListClose[] = L"</ovVersionList>"; // 16
    static const wchar_t kOpen[] = L"<Version>";             // 9
    static const wchar_t kClose[] = L"</Version>";           // 10

    int a = strText.Find(kListOpen);
    int b = strText.Find(kListClose);
    if (a < 0 || b < 0)
        return FALSE;
    int first0 = 0, second0 = 0;
    if (!readVersion(first0, second0))
        return FALSE;

    // From the opening list tag through the closing one, both tags removed; empty when the
    // closing tag comes first.
    CString body = strText.Mid(a, b + 16 - a);
    body = body.GetLength() >= 31 ? body.Mid(15, body.GetLength() - 31) : CString();

    BOOL started = FALSE;
    for (;;) {
        int p = body.Find(kOpen);
        int q = body.Find(kClose);
        if (p < 0 || q < 0)
            break;
        CString entry = q >= p + 9 ? body.Mid(p + 9, q - (p + 9)) : CString();
        int main = ::_wtoi(entry.Left(5));
        int minor = ::_wtoi(entry.Mid(5, 8));
        CString url = entry.Mid(13);
        CString name = FileNameFromUrl(url);
        // The name comes from the server: one that would leave "UpdateZip" gets no worker.
        if (main == first0 && minor > second0 && IsPlainFileName(name)) {
            if (startDownload(url, strAppFolder + L"UpdateZip\\" + name))
                started = TRUE;
        }
        // Drop the opening tag, then the closing tag where it now stands. A closing tag
        // before the opening one stays, so every later entry reads empty.
        body.Delete(p, 9);
        if (q > p)
            body.Delete(q - 9, 10);
    }
    return started;
}

BOOL ParseVersionList(const CString& strText) {
    return ParseVersionListWith(
        strText, [](int& f, int& s) { return ReadInstalledVersion(f, s); }, GetAppFolder(),
        [](const CString& url, const CString& path) { return StartDownload(url, path); });
}

BOOL CheckForUpdates() {
    try {
        std::string bytes;
        {
            CInternetSession session(GetAppName(), INTERNET_OPEN_TYPE_PRECONFIG);
            std::unique_ptr<CHttpFile> file =
                session.OpenURL(VersionListUrl(GetUpdateServer()), INTERNET_FLAG_TRANSFER_ASCII);
            char buffer[1024];
            for (;;) {
                UINT n = file->Read(buffer, sizeof(buffer));
                if (n == 0)
                    break;
                bytes.append(buffer, n);
                if (bytes.size() > kMaxVersionList)
                    return FALSE;
            }
            file->Close();
        }
        return ParseVersionList(DecodeVersionList(bytes, CP_THREAD_ACP));
    } catch (...) {
        // Session, connection or read failure: a run without downloads.
        return FALSE;
    }
}
