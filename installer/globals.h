// Installer-wide values: the interface language and the product constants.
#pragma once

#include "cstring.h"

extern int g_nLangID; // 2052, 1028 or 1033
extern CString g_strTitle;
extern CString g_strVersion;
extern CString g_strGameExe;
extern CString g_strUpdateExe;
extern CString g_strTempZip;
extern LONGLONG g_nRequiredSpace; // bytes

// Sets the language and the product constants, as start-up does.
void InitInstallerGlobals();

inline bool IsKnownLanguage() {
    return g_nLangID == 2052 || g_nLangID == 1028 || g_nLangID == 1033;
}

// The variant of a text for g_nLangID; null for a language the installer has no texts for.
inline const wchar_t* LangText(const wchar_t* zhCN, const wchar_t* zhTW, const wchar_t* en) {
    switch (g_nLangID) {
    case 2052:
        return zhCN;
    case 1028:
        return zhTW;
    case 1033:
        return en;
    default:
        return nullptr;
    }
}

// Same, for texts that must always show something: other languages get the Simplified one.
inline const wchar_t* RunText(const wchar_t* zhCN, const wchar_t* zhTW, const wchar_t* en) {
    const wchar_t* p = LangText(zhCN, zhTW, en);
    return p ? p : zhCN;
}
