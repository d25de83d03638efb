#include "inet.h"

namespace {
// The WinINet calls the classes make, resolved once from System32's wininet.dll.
struct CWinInet {
    decltype(&::InternetOpenW) pOpen = nullptr;
    decltype(&::InternetOpenUrlW) pOpenUrl = nullptr;
    decltype(&::InternetReadFile) pReadFile = nullptr;
    decltype(&::InternetQueryDataAvailable) pQueryDataAvailable = nullptr;
    decltype(&::InternetSetOptionW) pSetOption = nullptr;
    decltype(&::InternetCloseHandle) pCloseHandle = nullptr;
    decltype(&::HttpQueryInfoW) pQueryInfo = nullptr;
    bool ok = false;

    CWinInet() {
        HMODULE h = LoadSystemLibrary(L"wininet.dll");
        ok = h && Get(h, "InternetOpenW", pOpen) && Get(h, "InternetOpenUrlW", pOpenUrl) &&
             Get(h, "InternetReadFile", pReadFile) &&
             Get(h, "InternetQueryDataAvailable", pQueryDataAvailable) &&
             Get(h, "InternetSetOptionW", pSetOption) &&
             Get(h, "InternetCloseHandle", pCloseHandle) && Get(h, "HttpQueryInfoW", pQueryInfo);
    }
    template <typename T> static bool Get(HMODULE h, const char* name, T& fn) {
        fn = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(h, name)));
        return fn != nullptr;
    }
};

// Every handle comes from a session, and a session exists only once this succeeded.
const CWinInet& WinInet() {
    static const CWinInet api; // thread-safe initialisation; stays loaded for the process
    return api;
}

[[noreturn]] void ThrowLastError() {
    DWORD err = ::GetLastError();
    throw CInternetException(err ? err : ERROR_INTERNET_INTERNAL_ERROR);
}

bool HasHttpScheme(const wchar_t* pszUrl) {
    return ::_wcsnicmp(pszUrl, L"http://", 7) == 0 || ::_wcsnicmp(pszUrl, L"https://", 8) == 0;
}
} // namespace

void CloseInternetHandle(HINTERNET h) {
    if (h && WinInet().ok)
        WinInet().pCloseHandle(h);
}

UINT CHttpFile::Read(void* lpBuf, UINT nCount) {
    if (!m_hFile)
        throw CInternetException(ERROR_INVALID_HANDLE);
    DWORD nRead = 0;
    if (!WinInet().pReadFile(m_hFile.Get(), lpBuf, nCount, &nRead))
        ThrowLastError();
    return nRead;
}

BOOL CHttpFile::QueryInfo(DWORD dwInfoLevel, CString& str) const {
    str.Empty();
    if (!m_hFile)
        return FALSE;
    DWORD cb = 0;
    if (!WinInet().pQueryInfo(m_hFile.Get(), dwInfoLevel, nullptr, &cb, nullptr) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return FALSE;
    if (cb == 0)
        return TRUE;
    int nChars = static_cast<int>(cb / sizeof(wchar_t)) + 1;
    wchar_t* p = str.GetBuffer(nChars);
    cb = static_cast<DWORD>(nChars) * sizeof(wchar_t);
    BOOL ok = WinInet().pQueryInfo(m_hFile.Get(), dwInfoLevel, p, &cb, nullptr);
    str.ReleaseBuffer(ok ? static_cast<int>(cb / sizeof(wchar_t)) : 0);
    return ok;
}

BOOL CHttpFile::QueryInfoStatusCode(DWORD& dwStatusCode) const {
    dwStatusCode = 0;
    if (!m_hFile)
        return FALSE;
    DWORD cb = sizeof(dwStatusCode);
    return WinInet().pQueryInfo(m_hFile.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                &dwStatusCode, &cb, nullptr);
}

DWORD CHttpFile::GetLength() {
    if (!m_hFile)
        throw CInternetException(ERROR_INVALID_HANDLE);
    DWORD n = 0;
    if (!WinInet().pQueryDataAvailable(m_hFile.Get(), &n, 0, 0))
        ThrowLastError();
    return n;
}

CInternetSession::CInternetSession(const wchar_t* pszAgent, DWORD dwAccessType, DWORD dwFlags)
    : m_hSession(!WinInet().ok ? nullptr
                               : WinInet().pOpen(pszAgent && *pszAgent ? pszAgent : L"Runvel",
                                                 dwAccessType, nullptr, nullptr, dwFlags)) {
    if (!WinInet().ok)
        throw CInternetException(ERROR_MOD_NOT_FOUND);
    if (!m_hSession)
        ThrowLastError();
}

BOOL CInternetSession::SetOption(DWORD dwOption, DWORD dwValue) {
    if (!m_hSession)
        return FALSE;
    return WinInet().pSetOption(m_hSession.Get(), dwOption, &dwValue, sizeof(dwValue));
}

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const wchar_t* pszUrl, DWORD dwFlags) {
    if (!pszUrl || !HasHttpScheme(pszUrl))
        throw CInternetException(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    HINTERNET h = WinInet().pOpenUrl(m_hSession.Get(), pszUrl, nullptr, 0, dwFlags, 0);
    if (!h)
        ThrowLastError();
    return std::unique_ptr<CHttpFile>(new CHttpFile(h));
}
