#include "cstring.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

int CString::Find(const wchar_t* psz, int nStart) const {
    if (nStart < 0 || nStart > GetLength() || !psz)
        return -1;
    size_t pos = m_s.find(psz, static_cast<size_t>(nStart));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(wchar_t ch, int nStart) const {
    if (nStart < 0 || nStart > GetLength())
        return -1;
    size_t pos = m_s.find(ch, static_cast<size_t>(nStart));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(wchar_t ch) const {
    size_t pos = m_s.rfind(ch);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int nCount) const {
    if (nCount <= 0)
        return CString();
    return CString(m_s.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    if (nFirst < 0)
        nFirst = 0;
    if (nFirst >= GetLength() || nCount <= 0)
        return CString();
    return CString(m_s.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
    if (nCount <= 0)
        return CString();
    if (nCount >= GetLength())
        return *this;
    return CString(m_s.substr(m_s.size() - static_cast<size_t>(nCount)));
}

int CString::Delete(int nIndex, int nCount) {
    if (nIndex >= 0 && nIndex < GetLength() && nCount > 0)
        m_s.erase(static_cast<size_t>(nIndex), static_cast<size_t>(nCount));
    return GetLength();
}

int CString::Replace(const wchar_t* pszOld, const wchar_t* pszNew) {
    if (!pszOld || !*pszOld)
        return 0;
    std::wstring from(pszOld), to(pszNew ? pszNew : L"");
    int n = 0;
    for (size_t pos = m_s.find(from); pos != std::wstring::npos; pos = m_s.find(from, pos)) {
        m_s.replace(pos, from.size(), to);
        pos += to.size();
        ++n;
    }
    return n;
}

void CString::TrimRight(wchar_t ch) {
    while (!m_s.empty() && m_s.back() == ch)
        m_s.pop_back();
}

void CString::Format(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::FormatV(const wchar_t* pszFormat, va_list args) {
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = _vsnwprintf(buf.data(), buf.size() - 1, pszFormat, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buf.size() - 1) {
            m_s.assign(buf.data(), static_cast<size_t>(n));
            return;
        }
        buf.resize(buf.size() * 2);
    }
}

wchar_t* CString::GetBuffer(int nMinLength) {
    if (nMinLength > GetLength())
        m_s.resize(static_cast<size_t>(nMinLength));
    return &m_s[0];
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        size_t end = m_s.find(L'\0');
        if (end != std::wstring::npos)
            m_s.resize(end);
    } else if (static_cast<size_t>(nNewLength) <= m_s.size()) {
        m_s.resize(static_cast<size_t>(nNewLength));
    }
}

std::string ToUtf8(const wchar_t* psz) {
    if (!psz || !*psz)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, psz, -1, &out[0], n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

CString FromUtf8(const char* psz) {
    if (!psz || !*psz)
        return CString();
    int n = MultiByteToWideChar(CP_UTF8, 0, psz, -1, nullptr, 0);
    CString out;
    wchar_t* p = out.GetBuffer(n > 0 ? n : 1);
    MultiByteToWideChar(CP_UTF8, 0, psz, -1, p, n);
    out.ReleaseBuffer();
    return out;
}
