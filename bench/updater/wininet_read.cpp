// The limit for the download: a plain WinINet read loop from a URL into a file.
// Prints seconds, bytes and the process's peak memory.
#include <windows.h>
#include <wininet.h>
#include <psapi.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 2;
    LARGE_INTEGER f, t0, t1;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t0);
    HINTERNET s = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET h = ::InternetOpenUrlW(
        s, argv[1], nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY, 0);
    if (!h)
        return 3;
    HANDLE out = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::vector<char> buf(65536);
    unsigned long long total = 0;
    DWORD n = 0;
    while (::InternetReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &n) && n > 0) {
        DWORD w = 0;
        ::WriteFile(out, buf.data(), n, &w, nullptr);
        total += n;
    }
    ::CloseHandle(out);
    ::InternetCloseHandle(h);
    ::InternetCloseHandle(s);
    ::QueryPerformanceCounter(&t1);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    printf("seconds=%.3f bytes=%llu peak_working_set=%lu peak_pagefile=%lu\n",
           double(t1.QuadPart - t0.QuadPart) / f.QuadPart, total,
           static_cast<unsigned long>(pmc.PeakWorkingSetSize),
           static_cast<unsigned long>(pmc.PeakPagefileUsage));
    return 0;
}
