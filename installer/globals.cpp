#include "globals.h"

int g_nLangID = 0;
CString g_strTitle;
CString g_strVersion;
CString g_strGameExe;
CString g_strUpdateExe;
CString g_strTempZip;
LONGLONG g_nRequiredSpace = 0;

void InitInstallerGlobals() {
    g_nLangID = 2052;
    g_strTitle = L"Tessaly";
    g_strVersion = L"1.0";
    g_strGameExe = L"viDede.exe";
    g_strUpdateExe = L"Update.exe";
    g_strTempZip = L"viDedeTmp.Zip";
}
