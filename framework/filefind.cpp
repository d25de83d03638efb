#include "filefind.h"

BOOL CFileFind::FindFile(const wchar_t* pszPattern) {
    Close();
    if (!pszPattern || !*pszPattern)
        return FALSE;
    CString pattern(pszPattern);
    int slash = pattern.ReverseFind(L'\\');
    int fwd = pattern.ReverseFind(L'/');
    if (fwd > slash)
        slash = fwd;
    m_strRoot = slash >= 0 ? pattern.Left(slash + 1) : CString();
    m_hFind = ::FindFirstFileW(pattern, &m_next);
    m_bHasNext = m_hFind != INVALID_HANDLE_VALUE;
    return m_bHasNext;
}

BOOL CFileFind::FindNextFile() {
    if (!m_bHasNext) {
        m_bHasCurrent = false;
        return FALSE;
    }
    m_cur = m_next;
    m_bHasCurrent = true;
    m_bHasNext = ::FindNextFileW(m_hFind, &m_next) != FALSE;
    // TRUE while more matches follow the one now current (callers test the last one too).
    return m_bHasNext;
}

BOOL CFileFind::IsDots() const {
    if (!m_bHasCurrent || !IsDirectory())
        return FALSE;
    const wchar_t* n = m_cur.cFileName;
    return (n[0] == L'.' && n[1] == 0) || (n[0] == L'.' && n[1] == L'.' && n[2] == 0);
}

void CFileFind::Close() {
    if (m_hFind != INVALID_HANDLE_VALUE)
        ::FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
    m_bHasCurrent = m_bHasNext = false;
}
