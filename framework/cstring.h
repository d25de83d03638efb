// UTF-16 string value type used throughout both programs.
#pragma once

#include <windows.h>
#include <string>

class CString {
  public:
    CString() = default;
    CString(const wchar_t* psz) : m_s(psz ? psz : L"") {}
    CString(const wchar_t* p, int nLength) : m_s(p, p + (nLength > 0 ? nLength : 0)) {}
    CString(const std::wstring& s) : m_s(s) {}
    CString(wchar_t ch, int nRepeat = 1) : m_s(nRepeat > 0 ? nRepeat : 0, ch) {}

    operator const wchar_t*() const { return m_s.c_str(); }
    const wchar_t* GetString() const { return m_s.c_str(); }
    const std::wstring& str() const { return m_s; }

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    wchar_t GetAt(int i) const { return m_s.at(static_cast<size_t>(i)); }
    wchar_t operator[](int i) const { return GetAt(i); }

    // Positions are 0-based; -1 means not found.
    int Find(const wchar_t* psz, int nStart = 0) const;
    int Find(wchar_t ch, int nStart = 0) const;
    int ReverseFind(wchar_t ch) const;
    // Out-of-range counts are clipped, never thrown.
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;
    // Removes up to nCount characters at nIndex; returns the new length.
    int Delete(int nIndex, int nCount = 1);
    int Replace(const wchar_t* pszOld, const wchar_t* pszNew);
    void TrimRight(wchar_t ch);

    void Format(const wchar_t* pszFormat, ...);
    void FormatV(const wchar_t* pszFormat, va_list args);

    // Writable buffer of at least nMinLength units (plus the terminator); ReleaseBuffer
    // cuts the string at its first NUL, or at nNewLength when given.
    wchar_t* GetBuffer(int nMinLength);
    void ReleaseBuffer(int nNewLength = -1);

    CString& operator=(const wchar_t* psz) {
        m_s = psz ? psz : L"";
        return *this;
    }
    CString& operator+=(const CString& s) {
        m_s += s.m_s;
        return *this;
    }
    CString& operator+=(const wchar_t* psz) {
        if (psz)
            m_s += psz;
        return *this;
    }
    CString& operator+=(wchar_t ch) {
        m_s += ch;
        return *this;
    }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const wchar_t* b) {
        return CString(a.m_s + (b ? b : L""));
    }
    friend CString operator+(const wchar_t* a, const CString& b) {
        return CString((a ? a : L"") + b.m_s);
    }
    friend CString operator+(const CString& a, wchar_t ch) { return CString(a.m_s + ch); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.m_s == (b ? b : L""); }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }

  private:
    std::wstring m_s;
};

// UTF-8 <-> UTF-16 helpers for tools and tests that talk to Unix pipes and files.
std::string ToUtf8(const wchar_t* psz);
CString FromUtf8(const char* psz);
