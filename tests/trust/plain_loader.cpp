// The control for the DLL search tests: loads each named DLL the way a program without a
// restricted search would (plain LoadLibraryW by name), showing that a DLL beside the program
// would be taken. Prints "NAME=loaded" or "NAME=failed".
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        HMODULE h = ::LoadLibraryW(argv[i]);
        wprintf(L"%ls=%ls\n", argv[i], h ? L"loaded" : L"failed");
    }
    return 0;
}
