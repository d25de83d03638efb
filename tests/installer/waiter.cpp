// Stand-in for a running copy of the product: waits (at most a minute) and ends.
// The tests start copies of it under the names the installer looks for.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    Sleep(60000);
    return 0;
}
