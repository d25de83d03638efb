// Bench helper (bench/signing_bench.sh): one worker download of URL into PATH with the
// updater's own DownloadToFile, then, in the build with a key, the check made when the stored
// archive is applied (re-read through one handle, hashed, verified). Prints key=value lines.
#include "download.h"
#include "signature.h"

#include <windows.h>

#include <cstdio>

namespace {
double Ms(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 2;
    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    DownloadResult r = DL_FAILED;
    try {
        r = DownloadToFile(argv[1], argv[2]);
    } catch (...) {
    }
    QueryPerformanceCounter(&t1);
    printf("result=%d\ndownload_ms=%.1f\n", static_cast<int>(r), Ms(t0, t1));
#ifdef TRUST_BENCH_SIGNED
    BYTE sig[UPDATE_SIGNATURE_SIZE];
    CString strSig = CString(argv[2]) + L".sig";
    HANDLE h = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    BOOL ok = h != INVALID_HANDLE_VALUE && ReadSignatureFile(strSig, sig) &&
              VerifyUpdateHandle(h, sig, UPDATE_SIGNATURE_SIZE, GetUpdatePublicKey());
    QueryPerformanceCounter(&t2);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    printf("apply_check_ok=%d\napply_check_ms=%.1f\n", ok ? 1 : 0, Ms(t1, t2));
#else
    (void)t2;
#endif
    fflush(stdout);
    return r == DL_STORED ? 0 : 1;
}
