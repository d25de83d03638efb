// Just enough of the Win32 types and calls for the archive reader's name, attribute, time and
// extra-field code to build natively for libFuzzer. The calls that touch the system are
// stand-ins: times are converted as UTC, and file-system calls do nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <cwchar>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef int BOOL;
typedef int64_t LONGLONG;
typedef void* HANDLE;
typedef unsigned int UINT;
#define TRUE 1
#define FALSE 0
#define WINAPI
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_HIDDEN 0x02u
#define FILE_ATTRIBUTE_SYSTEM 0x04u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

// Proleptic Gregorian days since 1601-01-01, as the system counts them.
inline BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
    if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wYear < 1601 || st->wYear > 30827)
        return FALSE;
    int64_t y = st->wYear, m = st->wMonth;
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    int64_t days = 365 * y + y / 4 - y / 100 + y / 400 + (153 * (m - 3) + 2) / 5 + st->wDay;
    int64_t base = 365 * 1600 + 1600 / 4 - 1600 / 100 + 1600 / 400 + (153 * 10 + 2) / 5 + 1;
    uint64_t t = static_cast<uint64_t>(
        ((days - base) * 86400 + st->wHour * 3600 + st->wMinute * 60 + st->wSecond) * 10000000LL +
        st->wMilliseconds * 10000LL);
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
    return TRUE;
}
inline BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
    *utc = *local;
    return TRUE;
}
inline DWORD GetFileAttributesW(const wchar_t*) {
    return INVALID_FILE_ATTRIBUTES;
}
inline BOOL CreateDirectoryW(const wchar_t*, void*) {
    return FALSE;
}
inline BOOL CloseHandle(HANDLE) {
    return TRUE;
}
