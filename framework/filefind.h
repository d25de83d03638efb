// Directory search over FindFirstFileW / FindNextFileW; the search handle is owned here.
#pragma once

#include "cstring.h"

#include <windows.h>

class CFileFind {
  public:
    CFileFind() = default;
    ~CFileFind() { Close(); }
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts a search ("C:\dir\*.zip"); FALSE when nothing matches. No match is current
    // until FindNextFile. The loop over all matches:
    //   for (BOOL more = ff.FindFile(pattern); more;) { more = ff.FindNextFile(); ...use... }
    BOOL FindFile(const wchar_t* pszPattern);
    // Makes the next match current; FALSE when the match made current is the last one
    // (it is still valid) or when there was none.
    BOOL FindNextFile();
    CString GetFileName() const { return m_bHasCurrent ? CString(m_cur.cFileName) : CString(); }
    CString GetFilePath() const { return m_bHasCurrent ? m_strRoot + m_cur.cFileName : CString(); }
    BOOL IsDirectory() const {
        return m_bHasCurrent && (m_cur.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    BOOL IsDots() const;
    void Close();

  private:
    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    CString m_strRoot; // the pattern's folder with its trailing separator
    WIN32_FIND_DATAW m_cur = {};
    WIN32_FIND_DATAW m_next = {};
    bool m_bHasCurrent = false;
    bool m_bHasNext = false;
};
