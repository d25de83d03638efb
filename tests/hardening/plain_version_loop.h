// The version list loop as it was before it became linear: search from the front, delete the
// two tags, search again. The reference for the order test and the bench.
#pragma once

#include "version_check.h"

#include <cstdlib>

namespace hardening {

inline BOOL PlainLoop(const CString& strText, int first0, int second0, const CString& strAppFolder,
                      const StartDownloadFn& startDownload) {
    int a = strText.Find(L"<ovVersionList>");
    int b = strText.Find(L"</ovVersionList>");
    if (a < 0 || b < 0)
        return FALSE;
    CString body = strText.Mid(a, b + 16 - a);
    body = body.GetLength() >= 31 ? body.Mid(15, body.GetLength() - 31) : CString();
    BOOL started = FALSE;
    for (;;) {
        int p = body.Find(L"<Version>");
        int q = body.Find(L"</Version>");
        if (p < 0 || q < 0)
            break;
        CString entry = q >= p + 9 ? body.Mid(p + 9, q - (p + 9)) : CString();
        int main = ::_wtoi(entry.Left(5));
        int minor = ::_wtoi(entry.Mid(5, 8));
        CString url = entry.Mid(13);
        CString name = FileNameFromUrl(url);
        if (main == first0 && minor > second0 && IsPlainFileName(name)) {
            if (startDownload(url, strAppFolder + L"UpdateZip\\" + name))
                started = TRUE;
        }
        body.Delete(p, 9);
        if (q > p)
            body.Delete(q - 9, 10);
    }
    return started;
}

} // namespace hardening
