#include "inifile.h"

#include "appfolder.h"
#include "filefind.h"

#include <shlwapi.h>

#include <cstdlib>

CString CIniFile::GetString(const wchar_t* pszSection, const wchar_t* pszKey,
                            const wchar_t* pszDefault) const {
    wchar_t buffer[1024] = {};
    ::GetPrivateProfileStringW(pszSection, pszKey, L"", buffer, 255, m_strPath);
    if (buffer[0] == 0)
        return CString(pszDefault);
    return CString(buffer);
}

int CIniFile::GetInt(const wchar_t* pszSection, const wchar_t* pszKey, int nDefault) const {
    CString strDefault;
    strDefault.Format(L"%d", nDefault);
    return static_cast<int>(::_wtol(GetString(pszSection, pszKey, strDefault)));
}

void CIniFile::WriteString(const wchar_t* pszSection, const wchar_t* pszKey,
                           const wchar_t* pszValue) {
    CFileFind finder;
    if (!finder.FindFile(m_strPath)) {
        HANDLE h = ::CreateFileW(m_strPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            static const BYTE bom[2] = {0xFF, 0xFE};
            DWORD written = 0;
            ::WriteFile(h, bom, sizeof(bom), &written, nullptr);
            ::CloseHandle(h);
        }
    }
    finder.Close();
    ::WritePrivateProfileStringW(pszSection, pszKey, pszValue, m_strPath);
}

void CIniFile::WriteInt(const wchar_t* pszSection, const wchar_t* pszKey, int nValue) {
    CString strValue;
    strValue.Format(L"%d", nValue);
    WriteString(pszSection, pszKey, strValue);
}

CString GetConfigIniPath() {
    return GetAppFolder() + L"Sys\\Config.ini";
}

BOOL ReadInstalledVersionFrom(const CString& strIniPath, int& nFirst, int& nSecond) {
    if (!::PathFileExistsW(strIniPath))
        return FALSE;
    CIniFile ini(strIniPath);
    nFirst = ini.GetInt(L"VERSION", L"FirstVersion", 0);
    nSecond = ini.GetInt(L"VERSION", L"SecondVersion", 0);
    return TRUE;
}

void WriteInstalledVersionTo(const CString& strIniPath, int nFirst, int nSecond) {
    if (!::PathFileExistsW(strIniPath))
        return;
    CIniFile ini(strIniPath);
    ini.WriteInt(L"VERSION", L"FirstVersion", nFirst);
    ini.WriteInt(L"VERSION", L"SecondVersion", nSecond);
}

BOOL ReadInstalledVersion(int& nFirst, int& nSecond) {
    return ReadInstalledVersionFrom(GetConfigIniPath(), nFirst, nSecond);
}

void WriteInstalledVersion(int nFirst, int nSecond) {
    WriteInstalledVersionTo(GetConfigIniPath(), nFirst, nSecond);
}
