// Times the version list loop against the plain one it replaced on large lists: well-formed
// lists of N elements, and N nested opening tags before their closing tags.
// version_list_bench [elements=56000] (about 3.9 million characters); the plain loop runs up to
// 20,000 elements, past that it takes minutes.
#include "plain_version_loop.h"
#include "version_check.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {
double Ms(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void Time(const char* kind, const std::wstring& text, bool plainToo) {
    CString s(text);
    LARGE_INTEGER f, t0, t1, t2;
    QueryPerformanceFrequency(&f);
    int newCalls = 0, oldCalls = 0;
    QueryPerformanceCounter(&t0);
    ParseVersionListWith(
        s,
        [](int& a, int& b) {
            a = 10008;
            b = 20090401;
            return TRUE;
        },
        L"C:\\T\\", [&](const CString&, const CString&) { return ++newCalls, FALSE; });
    QueryPerformanceCounter(&t1);
    double plain = -1;
    if (plainToo) {
        hardening::PlainLoop(s, 10008, 20090401, L"C:\\T\\",
                             [&](const CString&, const CString&) { return ++oldCalls, FALSE; });
        QueryPerformanceCounter(&t2);
        plain = Ms(t1, t2, f);
    }
    printf("%-28s %9zu chars  linear loop %9.1f ms  plain loop (baseline) %s%9.1f ms  "
           "downloads asked %d / %d\n",
           kind, text.size(), Ms(t0, t1, f), plain < 0 ? "skipped " : "", plain, newCalls,
           plainToo ? oldCalls : -1);
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    int n = argc > 1 ? _wtoi(argv[1]) : 56000;
    std::wstring list = L"<ovVersionList>";
    for (int i = 0; i < n; ++i)
        list += L"<Version>1000820090415http://u.example/a/1000820090415.zip</Version>\r\n";
    list += L"</ovVersionList>";
    std::wstring nested = L"<ovVersionList>";
    for (int i = 0; i < n; ++i)
        nested += L"<Version>x";
    for (int i = 0; i < n; ++i)
        nested += L"</Version>";
    nested += L"</ovVersionList>";
    for (int m : {n / 8, n / 4, n / 2, n}) {
        std::wstring part = L"<ovVersionList>";
        for (int i = 0; i < m; ++i)
            part += L"<Version>1000720090415http://u.example/a/1000720090415.zip</Version>\r\n";
        part += L"</ovVersionList>";
        char kind[64];
        snprintf(kind, sizeof kind, "well-formed, %d elements", m);
        Time(kind, part, m <= 20000);
    }
    Time("nested, all elements", nested, n <= 20000);
    // Every worker refused, so the cap never ends the loop early.
    Time("matching, all elements", list, false);
    return 0;
}
