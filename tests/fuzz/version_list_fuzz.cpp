// Mutation fuzzer of the updater's version list parsing: hostile list texts through
// DecodeVersionList and ParseVersionListWith. Every download asked for must store its file
// directly in "UpdateZip" under the URL's last segment; a case that runs too long is a hang.
//
// version_list_fuzz.exe SEED COUNT [CASE_LIMIT_MS]
#include "version_check.h"
#include "zip_mutator.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

volatile LONG g_caseNo = -1;
volatile DWORD g_caseStart = 0;
volatile LONG g_inCase = 0;
DWORD g_limitMs = 10000;

DWORD WINAPI Watchdog(void*) {
    for (;;) {
        Sleep(100);
        if (g_inCase && GetTickCount() - g_caseStart > g_limitMs) {
            printf("HANG in case %ld\n", static_cast<long>(g_caseNo));
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS*) {
    printf("CRASH in case %ld\n", static_cast<long>(g_caseNo));
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const wchar_t kFolder[] = L"C:\\Games\\Tessaly\\";

std::string Entry(CFuzzRng& rng) {
    static const std::vector<std::string> urls = {
        "http://h/u/", "http://h/", "http://h/a/../../", "http://h/u\\", "",
        "C:\\",        "//h/",      "http://h/u/..",     "http://h/u/x:"};
    static const std::vector<std::string> names = {"1000820090415.zip",
                                                   "..",
                                                   ".",
                                                   "",
                                                   "a\\b.zip",
                                                   "c:x.zip",
                                                   "UpdateZip",
                                                   "\x01.zip",
                                                   std::string(300, 'z') + ".zip",
                                                   "\xe4\xb8\xad.zip",
                                                   "x.zip/",
                                                   "x.zip\\.."};
    char digits[32];
    int main = rng.Chance(70) ? 10008 : static_cast<int>(rng.Below(100000));
    int minor = rng.Chance(70) ? 20090402 + static_cast<int>(rng.Below(1000))
                               : static_cast<int>(rng.Below(100000000));
    snprintf(digits, sizeof digits, "%05d%08d", main, minor);
    std::string s = digits;
    if (rng.Chance(10))
        s = rng.Chance(50) ? "-2147483649999999999" : "99999999999999999999999";
    return "<Version>" + s + rng.Pick(urls) + rng.Pick(names) + "</Version>";
}

std::string MakeList(CFuzzRng& rng) {
    std::string s = rng.Chance(50) ? "<html>" : "";
    s += "<ovVersionList>\r\n";
    int n = static_cast<int>(rng.Below(rng.Chance(5) ? 3000 : 8));
    for (int i = 0; i < n; ++i)
        s += Entry(rng) + "\r\n";
    s += "</ovVersionList></html>";
    // Tag-level damage: cut, repeat or move pieces, stray tags, random bytes.
    static const std::vector<std::string> tags = {
        "<Version>", "</Version>", "<ovVersionList>", "</ovVersionList>", "<", ">", "\0"};
    int m = static_cast<int>(rng.Below(5));
    for (int k = 0; k < m && !s.empty(); ++k) {
        size_t at = rng.Below(s.size());
        switch (rng.Below(5)) {
        case 0:
            s.resize(at);
            break;
        case 1:
            s.insert(at, rng.Pick(tags));
            break;
        case 2:
            s.erase(at, 1 + rng.Below(20));
            break;
        case 3:
            s.insert(at, s.substr(rng.Below(s.size()), rng.Below(200)));
            break;
        default:
            s[at] = static_cast<char>(rng.Below(256));
        }
    }
    return s;
}

bool PlainName(const std::wstring& n) {
    if (n.empty() || n == L"." || n == L"..")
        return false;
    for (wchar_t c : n)
        if (c == L'\\' || c == L'/' || c == L':' || c < 32)
            return false;
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: version_list_fuzz SEED COUNT [CASE_LIMIT_MS]\n");
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);
    uint64_t seed = _wcstoui64(argv[1], nullptr, 10);
    long count = wcstol(argv[2], nullptr, 10);
    if (argc > 3)
        g_limitMs = wcstoul(argv[3], nullptr, 10);
    HANDLE dog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (dog)
        CloseHandle(dog);

    unsigned long long faults = 0, starts = 0, bytes = 0;
    DWORD t0 = GetTickCount();
    const std::wstring prefix = std::wstring(kFolder) + L"UpdateZip\\";
    for (long i = 0; i < count; ++i) {
        CFuzzRng rng(seed * 0x100000001B3ULL + static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ULL);
        std::string raw = MakeList(rng);
        bytes += raw.size();
        g_caseNo = i;
        g_caseStart = GetTickCount();
        g_inCase = 1;
        static const UINT pages[] = {CP_UTF8, 1252, 936, CP_ACP};
        CString text = DecodeVersionList(raw, pages[rng.Below(4)]);
        bool bad = false;
        ParseVersionListWith(
            text,
            [](int& f, int& s) {
                f = 10008;
                s = 20090401;
                return TRUE;
            },
            kFolder,
            [&](const CString& url, const CString& path) {
                ++starts;
                const std::wstring& p = path.str();
                if (p.compare(0, prefix.size(), prefix) != 0 || !PlainName(p.substr(prefix.size())))
                    bad = true;
                const std::wstring& u = url.str();
                std::wstring name = p.substr(prefix.size() < p.size() ? prefix.size() : p.size());
                if (u.size() < name.size() || u.compare(u.size() - name.size(), name.size(), name))
                    bad = true;
                return TRUE;
            });
        g_inCase = 0;
        if (bad) {
            ++faults;
            printf("FAULT in case %ld: a download would store outside UpdateZip\n", i);
        }
    }
    printf("cases %ld, list bytes %llu, downloads asked for %llu, faults %llu, crashes 0, "
           "hangs 0, %lu ms\n",
           count, bytes, starts, faults, static_cast<unsigned long>(GetTickCount() - t0));
    return faults ? 1 : 0;
}
