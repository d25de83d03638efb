// Mutation fuzzer of the archive reader: hostile archives through open, list and extract into
// a sandbox folder. One process; a watchdog thread ends it when a case runs too long, and a
// crash or hang leaves the case's bytes in the save folder so it can become a fixture.
//
// archive_fuzz.exe WORKDIR SEED COUNT [BATCH] [CASE_LIMIT_MS]
//   runs the fixture table, then COUNT random cases of SEED; exit 0 only when nothing failed.
// archive_fuzz.exe WORKDIR SEED --case N   replays case N alone (files stay in WORKDIR\box).
#include "archive.h"
#include "file_tree.h"
#include "fuzz_cases.h"
#include "zip_mutator.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring g_work, g_box, g_outside, g_input, g_save, g_replay;
uint64_t g_seed = 0;

// What the watchdog and the crash filter need to name the running case.
volatile LONG g_caseNo = -1;
volatile DWORD g_caseStart = 0;
volatile LONG g_inCase = 0;
const std::string* volatile g_caseBytes = nullptr;
DWORD g_caseLimitMs = 10000;

void Print(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vfprintf(stdout, fmt, args);
    va_end(args);
    fflush(stdout);
}

std::string Narrow(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

// Keeps a failing case: save folder + kind-seed-case.zip.
void SaveCase(const char* kind, LONG caseNo, const std::string* bytes) {
    if (!bytes)
        return;
    wchar_t name[128];
    swprintf(name, 128, L"\\%hs-%llu-%ld.zip", kind, static_cast<unsigned long long>(g_seed),
             static_cast<long>(caseNo));
    CreateDirectoryW(g_save.c_str(), nullptr);
    WriteBytes(g_save + name, *bytes);
    Print("saved %s%s\n", Narrow(g_save).c_str(), Narrow(name).c_str());
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    Print("CRASH in case %ld: exception 0x%08lx at %p\n", static_cast<long>(g_caseNo),
          info ? static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode) : 0UL,
          info ? info->ExceptionRecord->ExceptionAddress : nullptr);
    SaveCase("crash", g_caseNo, g_caseBytes);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void OnTerminate() {
    Print("CRASH in case %ld: std::terminate\n", static_cast<long>(g_caseNo));
    SaveCase("crash", g_caseNo, g_caseBytes);
    TerminateProcess(GetCurrentProcess(), 3);
}

DWORD WINAPI Watchdog(void*) {
    for (;;) {
        Sleep(100);
        if (g_inCase && GetTickCount() - g_caseStart > g_caseLimitMs) {
            Print("HANG in case %ld: over %lu ms\n", static_cast<long>(g_caseNo),
                  static_cast<unsigned long>(g_caseLimitMs));
            SaveCase("hang", g_caseNo, g_caseBytes);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
}

// Every path below dir but the sandbox and the fuzzer's own files.
void ListTree(const std::wstring& dir, int depth, std::set<std::wstring>* out) {
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..")
            continue;
        std::wstring p = dir + L"\\" + n;
        if (_wcsicmp(p.c_str(), g_box.c_str()) == 0 || _wcsicmp(p.c_str(), g_save.c_str()) == 0 ||
            _wcsicmp(p.c_str(), g_input.c_str()) == 0 || _wcsicmp(p.c_str(), g_replay.c_str()) == 0)
            continue;
        out->insert(p);
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && depth > 0)
            ListTree(p, depth - 1, out);
    } while (FindNextFileW(f, &fd));
    FindClose(f);
}

// What lies outside the sandbox where a bad name could land: the folders above it (down to
// the work folder) in full, the roots of the drives by their top level.
std::set<std::wstring> Outside() {
    std::set<std::wstring> s;
    ListTree(g_work, 8, &s);
    ListTree(L"Z:", 0, &s);
    ListTree(L"C:", 0, &s);
    wchar_t tmp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, tmp);
    if (n > 1 && n < MAX_PATH) {
        tmp[n - 1] = 0;
        ListTree(tmp, 0, &s);
    }
    return s;
}

struct CStats {
    unsigned long long cases = 0, opened = 0, items = 0, extractedOk = 0, extractAllRuns = 0;
    unsigned long long mutations[MUT_KIND_COUNT] = {};
    unsigned long long hostileNameCases = 0;
    std::vector<std::pair<DWORD, unsigned long long>> codes; // extraction results
    unsigned long long faults = 0, escapes = 0, leaks = 0, badRecords = 0, badCodes = 0;
    void Code(DWORD c) {
        for (auto& p : codes)
            if (p.first == c) {
                ++p.second;
                return;
            }
        codes.push_back({c, 1});
    }
} g_stats;

bool KnownCode(DWORD c) {
    return c == AR_OK || c == AR_NOFILE || c == AR_WRITE || c == AR_CORRUPT || c == AR_READ ||
           c == AR_PASSWORD || c == AR_ARGS || c == AR_INFLATE;
}

void Fault(LONG caseNo, const std::string& bytes, const char* kind, const char* what) {
    ++g_stats.faults;
    Print("FAULT in case %ld: %s\n", static_cast<long>(caseNo), what);
    SaveCase(kind, caseNo, &bytes);
}

bool RecordSound(const ArchiveItem& item) {
    return wmemchr(item.name, L'\0', MAX_PATH) != nullptr;
}

// One archive through the callers' loop (or ArchiveExtractAll) with the reader's invariants
// checked. useAll picks ArchiveExtractAll; extraProbe adds out-of-order and out-of-range calls.
void RunCase(LONG caseNo, const std::string& bytes, bool useAll, bool extraProbe) {
    ++g_stats.cases;
    if (!WriteBytes(g_input, bytes)) {
        Fault(caseNo, bytes, "harness", "cannot write the case file");
        return;
    }
    g_caseBytes = &bytes;
    g_caseNo = caseNo;
    g_caseStart = GetTickCount();
    g_inCase = 1;

    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    CreateDirectoryW(g_box.c_str(), nullptr);
    SetCurrentDirectoryW(g_box.c_str());
    if (useAll) {
        ++g_stats.extractAllRuns;
        int last = -1;
        bool ordered = true;
        DWORD r = ArchiveExtractAll(g_input.c_str(), [&](int done, int count) {
            if (done != last + 1 || done > count)
                ordered = false;
            last = done;
        });
        g_stats.Code(r);
        if (!KnownCode(r)) {
            ++g_stats.badCodes;
            Fault(caseNo, bytes, "code", "ArchiveExtractAll gave an unknown code");
        }
        if (!ordered)
            Fault(caseNo, bytes, "progress", "progress out of order");
    } else {
        ArchiveHandle h = ArchiveOpen(g_input.c_str());
        ArchiveItem item;
        ArchiveGetItem(h, -1, &item);
        int count = item.index;
        if (h)
            ++g_stats.opened;
        if (count < 0 || count > 65535 || (!h && count != 0))
            Fault(caseNo, bytes, "count", "item count out of range");
        for (int i = 0; i < count && i <= 65535; ++i) {
            memset(&item, 0xCC, sizeof item);
            DWORD r1 = ArchiveGetItem(h, i, &item);
            if (!RecordSound(item)) {
                ++g_stats.badRecords;
                Fault(caseNo, bytes, "record", "item name not terminated");
                item.name[0] = 0;
            }
            DWORD r2 = ArchiveExtractItem(h, i, item.name);
            ++g_stats.items;
            g_stats.Code(r2);
            if (r2 == AR_OK)
                ++g_stats.extractedOk;
            if (!KnownCode(r1) || !KnownCode(r2)) {
                ++g_stats.badCodes;
                Fault(caseNo, bytes, "code", "unknown result code");
            }
        }
        if (extraProbe && h) {
            // Back to the start and beyond the end: positioning must stay bounded.
            ArchiveGetItem(h, 0, &item);
            ArchiveGetItem(h, count - 1, &item);
            ArchiveGetItem(h, count / 2, &item);
            if (ArchiveGetItem(h, count, &item) != AR_ARGS ||
                ArchiveExtractItem(h, count, L"x") != AR_ARGS ||
                ArchiveExtractItem(h, -1, L"x") != AR_ARGS)
                Fault(caseNo, bytes, "code", "index out of range not refused");
        }
        DWORD rc = ArchiveClose(h);
        if (rc != (h ? AR_OK : AR_ARGS))
            Fault(caseNo, bytes, "code", "ArchiveClose result");
    }
    SetCurrentDirectoryW(saved);
    g_inCase = 0;
    // The archive file must be closed again in every case.
    if (!DeleteFileW(g_input.c_str())) {
        ++g_stats.leaks;
        Fault(caseNo, bytes, "leak", "archive file still open after the run");
    }
}

// Checks the outside after a batch; on a change, finds the case that did it by replaying the
// batch one case at a time.
template <class Gen>
void CheckBatch(const std::set<std::wstring>& before, LONG first, LONG last, Gen&& gen) {
    std::set<std::wstring> now = Outside();
    if (now == before) {
        RemoveTree(g_box);
        return;
    }
    auto cleanup = [&](const std::set<std::wstring>& seen) {
        // Newest first, so files go before their folders.
        for (auto it = seen.rbegin(); it != seen.rend(); ++it)
            if (!before.count(*it)) {
                SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileW(it->c_str()))
                    RemoveTree(*it);
            }
    };
    for (const std::wstring& p : now)
        if (!before.count(p))
            Print("ESCAPE: %s appeared outside the sandbox\n", Narrow(p).c_str());
    cleanup(now);
    RemoveTree(g_box);
    for (LONG i = first; i <= last; ++i) {
        bool useAll = false;
        std::string bytes = gen(i, &useAll);
        RunCase(i, bytes, useAll, true);
        std::set<std::wstring> after = Outside();
        RemoveTree(g_box);
        if (after != before) {
            ++g_stats.escapes;
            Fault(i, bytes, "escape", "a file appeared outside the sandbox");
            cleanup(after);
        }
    }
}

// Case i of the seed: a random archive (hostile names in about a third) and 0-4 mutations.
std::string MakeCase(LONG i, bool* useAll, bool count) {
    CFuzzRng rng(g_seed * 0x100000001B3ULL + static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ULL);
    bool hostile = rng.Chance(35);
    std::string s = RandomArchive(rng, hostile);
    int n = hostile && rng.Chance(30) ? 0 : 1 + static_cast<int>(rng.Below(4));
    for (int k = 0; k < n; ++k) {
        int kind = static_cast<int>(rng.Below(MUT_KIND_COUNT));
        if (Mutate(rng, s, kind) && count)
            ++g_stats.mutations[kind];
    }
    if (count && hostile)
        ++g_stats.hostileNameCases;
    *useAll = rng.Chance(25);
    return s;
}

void PrintStats(DWORD ms) {
    Print("cases %llu (fixtures %zu), archives opened %llu, item calls %llu, extracted OK %llu, "
          "ExtractAll runs %llu, hostile-name cases %llu\n",
          g_stats.cases, FuzzFixtures().size(), g_stats.opened, g_stats.items, g_stats.extractedOk,
          g_stats.extractAllRuns, g_stats.hostileNameCases);
    Print("mutations:");
    for (int k = 0; k < MUT_KIND_COUNT; ++k)
        Print(" %s %llu;", MutationName(k), g_stats.mutations[k]);
    Print("\nresults:");
    for (auto& p : g_stats.codes)
        Print(" 0x%08lx x%llu;", static_cast<unsigned long>(p.first), p.second);
    Print("\nfaults %llu (escapes %llu, open files %llu, bad records %llu, bad codes %llu), "
          "crashes 0, hangs 0, %lu ms\n",
          g_stats.faults, g_stats.escapes, g_stats.leaks, g_stats.badRecords, g_stats.badCodes,
          static_cast<unsigned long>(ms));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: archive_fuzz WORKDIR SEED COUNT [BATCH] [CASE_LIMIT_MS]\n"
                         L"       archive_fuzz WORKDIR SEED --case N\n");
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);
    std::set_terminate(OnTerminate);

    g_work = argv[1];
    while (!g_work.empty() && (g_work.back() == L'\\' || g_work.back() == L'/'))
        g_work.pop_back();
    for (wchar_t& c : g_work)
        if (c == L'/')
            c = L'\\';
    g_seed = _wcstoui64(argv[2], nullptr, 10);
    // The sandbox sits three folders below the work folder, so a name that climbs out lands
    // where the check looks.
    g_outside = g_work + L"\\outside";
    g_box = g_outside + L"\\up1\\up2\\box";
    g_input = g_work + L"\\input.zip";
    g_save = g_work + L"\\failed";
    g_replay = g_work + L"\\case.zip";
    RemoveTree(g_outside);
    CreateDirectoryW(g_work.c_str(), nullptr);
    CreateDirectoryW(g_outside.c_str(), nullptr);
    CreateDirectoryW((g_outside + L"\\up1").c_str(), nullptr);
    CreateDirectoryW((g_outside + L"\\up1\\up2").c_str(), nullptr);
    DeleteFileW(g_input.c_str());

    if (wcscmp(argv[3], L"--case") == 0 && argc > 4) {
        LONG i = wcstol(argv[4], nullptr, 10);
        bool useAll = false;
        std::string bytes = MakeCase(i, &useAll, false);
        WriteBytes(g_replay, bytes);
        Print("case %ld: %zu bytes (written to case.zip), %s\n", static_cast<long>(i), bytes.size(),
              useAll ? "ArchiveExtractAll" : "item loop");
        RunCase(i, bytes, useAll, true);
        return g_stats.faults ? 1 : 0;
    }
    LONG count = wcstol(argv[3], nullptr, 10);
    LONG batch = argc > 4 ? wcstol(argv[4], nullptr, 10) : 250;
    if (batch < 1)
        batch = 250;
    if (argc > 5)
        g_caseLimitMs = wcstoul(argv[5], nullptr, 10);

    HANDLE dog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (dog)
        CloseHandle(dog);
    DWORD t0 = GetTickCount();
    RemoveTree(g_box);
    std::set<std::wstring> before = Outside();

    // The fixture table first: cases built by hand, and every case that once failed. Fixture
    // k runs as case -1-k, once through each caller loop.
    const std::vector<FuzzFixture>& fixtures = FuzzFixtures();
    bool verbose = GetEnvironmentVariableW(L"ARCHIVE_FUZZ_VERBOSE", nullptr, 0) > 0;
    for (size_t k = 0; k < fixtures.size(); ++k) {
        std::string bytes = fixtures[k].build();
        LONG no = -1 - static_cast<LONG>(k);
        for (bool useAll : {false, true}) {
            if (useAll) {
                WriteBytes(g_input, bytes);
                wchar_t saved[MAX_PATH];
                GetCurrentDirectoryW(MAX_PATH, saved);
                CreateDirectoryW(g_box.c_str(), nullptr);
                SetCurrentDirectoryW(g_box.c_str());
                DWORD r = ArchiveExtractAll(g_input.c_str());
                if (verbose) {
                    std::set<std::wstring> made;
                    ListTree(g_box, 8, &made);
                    Print("fixture %s: 0x%08lx, %zu entries made\n", fixtures[k].name,
                          static_cast<unsigned long>(r), made.size());
                    for (const std::wstring& p : made)
                        Print("  %s\n", Narrow(p).c_str());
                }
                SetCurrentDirectoryW(saved);
                DeleteFileW(g_input.c_str());
                if (fixtures[k].expectAll != FUZZ_ANY && r != fixtures[k].expectAll) {
                    Print("fixture %s: ArchiveExtractAll gave 0x%08lx, expected 0x%08lx\n",
                          fixtures[k].name, static_cast<unsigned long>(r),
                          static_cast<unsigned long>(fixtures[k].expectAll));
                    Fault(no, bytes, "fixture", fixtures[k].name);
                }
            }
            RunCase(no, bytes, false, true);
            std::set<std::wstring> after = Outside();
            RemoveTree(g_box);
            if (after != before) {
                ++g_stats.escapes;
                Fault(no, bytes, "escape", fixtures[k].name);
                for (const std::wstring& p : after)
                    if (!before.count(p))
                        Print("ESCAPE: %s (fixture %s)\n", Narrow(p).c_str(), fixtures[k].name);
            }
        }
    }

    auto gen = [](LONG i, bool* useAll) { return MakeCase(i, useAll, false); };
    for (LONG first = 0; first < count; first += batch) {
        LONG last = first + batch - 1 < count ? first + batch - 1 : count - 1;
        for (LONG i = first; i <= last; ++i) {
            bool useAll = false;
            std::string bytes = MakeCase(i, &useAll, true);
            RunCase(i, bytes, useAll, (i % 4) == 0);
        }
        CheckBatch(before, first, last, gen);
        if ((last + 1) % 5000 == 0)
            Print("... %ld cases, %llu faults, %lu ms\n", static_cast<long>(last + 1),
                  g_stats.faults, static_cast<unsigned long>(GetTickCount() - t0));
    }
    PrintStats(GetTickCount() - t0);
    RemoveTree(g_outside);
    return g_stats.faults ? 1 : 0;
}
