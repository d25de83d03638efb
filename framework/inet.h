// Internet session and HTTP file classes over WinINet. Failures raise CInternetException,
// which carries the WinINet or system error code of the failed call.
// wininet.dll is no KnownDLL, so it is not imported: it is loaded from System32 by full path
// at the first use, and a copy beside the program is never taken in its place.
#pragma once

#include "app.h"
#include "cstring.h"
#include "exception.h"

#include <windows.h>
#include <wininet.h>

#include <memory>

// InternetCloseHandle through the run-time table (nothing to close when WinINet is absent).
void CloseInternetHandle(HINTERNET h);

class CInternetException : public CException {
  public:
    explicit CInternetException(DWORD dwError) : CException(dwError) {}
};

// Owns one HINTERNET handle.
class CInternetHandle {
  public:
    CInternetHandle() = default;
    explicit CInternetHandle(HINTERNET h) : m_h(h) {}
    ~CInternetHandle() { Close(); }
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;

    HINTERNET Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Close() {
        if (m_h)
            CloseInternetHandle(m_h);
        m_h = nullptr;
    }

  private:
    HINTERNET m_h = nullptr;
};

// The response of one HTTP request.
class CHttpFile {
  public:
    explicit CHttpFile(HINTERNET hRequest) : m_hFile(hRequest) {}

    // Reads up to nCount bytes; 0 at the end of the body. Throws when the read fails.
    UINT Read(void* lpBuf, UINT nCount);
    // A response header as text (HTTP_QUERY_*); FALSE when the server did not send it.
    BOOL QueryInfo(DWORD dwInfoLevel, CString& str) const;
    BOOL QueryInfoStatusCode(DWORD& dwStatusCode) const;
    // Bytes that can be read without waiting (waits for the next piece); 0 at the end.
    DWORD GetLength();
    void Close() { m_hFile.Close(); }

  private:
    CInternetHandle m_hFile;
};

class CInternetSession {
  public:
    // pszAgent null or empty: "Runvel".
    explicit CInternetSession(const wchar_t* pszAgent = nullptr,
                              DWORD dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG, DWORD dwFlags = 0);
    ~CInternetSession() = default;
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // FALSE when the platform refuses the option (Wine knows no connect back-off).
    BOOL SetOption(DWORD dwOption, DWORD dwValue);
    // Opens an http:// or https:// URL; other schemes raise ERROR_INTERNET_UNRECOGNIZED_SCHEME.
    std::unique_ptr<CHttpFile> OpenURL(const wchar_t* pszUrl, DWORD dwFlags);
    void Close() { m_hSession.Close(); }

  private:
    CInternetHandle m_hSession;
};
