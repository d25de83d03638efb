// Times a program of an installed product from inside Wine:
//   e2e_timer EXE CWD RUNS
// starts EXE RUNS times in CWD and measures, per run, the time until the lobby beside it has
// appended its line to Orvane.runs.txt and the time until EXE has ended. With the lobby
// itself as EXE this gives the cost of a bare program start to compare with.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
double Now() {
    static const LONGLONG freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(freq);
}

LONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d))
        return 0;
    return (LONGLONG(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: e2e_timer EXE CWD RUNS\n");
        return 2;
    }
    std::wstring exe = argv[1];
    std::wstring log = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"Orvane.runs.txt";
    int runs = _wtoi(argv[3]);
    std::vector<double> lobby, ended;
    for (int i = 0; i < runs; ++i) {
        LONGLONG before = FileSize(log);
        std::wstring cmd = L"\"" + exe + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        double t0 = Now();
        if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, argv[2],
                              &si, &pi)) {
            printf("start_error=%lu\n", ::GetLastError());
            return 3;
        }
        double tLobby = 0, tEnd = 0;
        while (Now() - t0 < 60000 && (tLobby == 0 || tEnd == 0)) {
            if (tLobby == 0 && FileSize(log) > before)
                tLobby = Now() - t0;
            if (tEnd == 0 && ::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
                tEnd = Now() - t0;
            if (tLobby == 0 || tEnd == 0)
                ::Sleep(1);
        }
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
        if (tLobby == 0 || tEnd == 0) {
            printf("timeout=1\n");
            return 4;
        }
        lobby.push_back(tLobby);
        ended.push_back(tEnd);
        ::Sleep(100); // let the lobby finish before the next run
    }
    printf("runs=%d lobby_median_ms=%.1f lobby_min_ms=%.1f ended_median_ms=%.1f\n", runs,
           Median(lobby), *std::min_element(lobby.begin(), lobby.end()), Median(ended));
    return 0;
}
