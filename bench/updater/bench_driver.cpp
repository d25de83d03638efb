// Times programs from inside Wine.
//   bench_driver lobby EXE CWD RUNS   start EXE RUNS times; per run, the time until the lobby
//                                     beside it has appended its line to Orvane.runs.txt
//   bench_driver exit EXE CWD         start EXE once; the time until it ends
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {
double Now() {
    static LARGE_INTEGER f = [] {
        LARGE_INTEGER x;
        ::QueryPerformanceFrequency(&x);
        return x;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return double(t.QuadPart) / f.QuadPart;
}

LONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d))
        return 0;
    return (LONGLONG(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

HANDLE Start(const wchar_t* exe, const wchar_t* cwd) {
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, cwd, &si, &pi))
        return nullptr;
    ::CloseHandle(pi.hThread);
    return pi.hProcess;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4)
        return 2;
    std::wstring mode = argv[1];
    if (mode == L"lobby" && argc >= 5) {
        std::wstring exe = argv[2];
        std::wstring log = exe.substr(0, exe.rfind(L'\\') + 1) + L"Orvane.runs.txt";
        int runs = _wtoi(argv[4]);
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            LONGLONG before = FileSize(log);
            double t0 = Now();
            HANDLE h = Start(argv[2], argv[3]);
            if (!h)
                return 3;
            while (FileSize(log) == before && Now() - t0 < 30)
                ::Sleep(1);
            ms.push_back((Now() - t0) * 1000);
            ::WaitForSingleObject(h, 30000);
            ::CloseHandle(h);
            ::Sleep(100); // let the lobby end
        }
        std::sort(ms.begin(), ms.end());
        printf("median_ms=%.1f min_ms=%.1f max_ms=%.1f runs=%d\n", ms[ms.size() / 2], ms.front(),
               ms.back(), runs);
        return 0;
    }
    if (mode == L"exit") {
        double t0 = Now();
        HANDLE h = Start(argv[2], argv[3]);
        if (!h)
            return 3;
        ::WaitForSingleObject(h, INFINITE);
        printf("seconds=%.3f\n", Now() - t0);
        ::CloseHandle(h);
        return 0;
    }
    return 2;
}
