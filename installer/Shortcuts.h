// Desktop and start-menu shortcuts to the installed updater.
#pragma once

#include "cstring.h"

class CPellarSetupDlg;

// Replaces the shortcuts an earlier installation left and writes new ones to
// strInstallPath + "\" + Update.exe. Nothing is reported.
void CreateShortcuts(CPellarSetupDlg* pDlg, const CString& strInstallPath);

// Writes a shell link to strTarget as strLinkPath; true when the file was saved.
bool CreateShellLink(const CString& strTarget, const CString& strLinkPath);

// A string value of the user's shell folders, with a trailing backslash; empty when the
// value cannot be read, is no string, or is not terminated.
CString ReadShellFolder(HKEY hKey, const wchar_t* pszName);
