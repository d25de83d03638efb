// The INI accessor and the installed version kept in "Sys\Config.ini", section [VERSION].
#pragma once

#include "cstring.h"

// One INI file, read and written through the profile-string functions on every call.
class CIniFile {
  public:
    explicit CIniFile(const CString& strPath) : m_strPath(strPath) {}

    // The value, cut to 254 characters; default when the key is missing or empty.
    CString GetString(const wchar_t* pszSection, const wchar_t* pszKey,
                      const wchar_t* pszDefault) const;
    // The value parsed as _wtol does (0 without digits).
    int GetInt(const wchar_t* pszSection, const wchar_t* pszKey, int nDefault) const;
    // Creates a missing file as UTF-16 (byte-order mark only) first, so it stays UTF-16.
    void WriteString(const wchar_t* pszSection, const wchar_t* pszKey, const wchar_t* pszValue);
    void WriteInt(const wchar_t* pszSection, const wchar_t* pszKey, int nValue);

    const CString& GetPath() const { return m_strPath; }

  private:
    CString m_strPath;
};

CString GetConfigIniPath();
// FALSE (outputs untouched) when the version file is missing.
BOOL ReadInstalledVersion(int& nFirst, int& nSecond);
// Never creates the version file.
void WriteInstalledVersion(int nFirst, int nSecond);

// The same on a given file, for callers that do not live in the install folder.
BOOL ReadInstalledVersionFrom(const CString& strIniPath, int& nFirst, int& nSecond);
void WriteInstalledVersionTo(const CString& strIniPath, int nFirst, int nSecond);
