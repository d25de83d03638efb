// Lists a ZIP archive's items or extracts them into a folder through the archive reader.
//   ziptool list <archive>
//   ziptool extract <archive> <folder>
#include "archive.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Console output as UTF-8 bytes: wide printf garbles non-ASCII text on a pipe.
void Print(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n,
                        nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring Format(const wchar_t* fmt, ...) {
    wchar_t buf[512];
    va_list args;
    va_start(args, fmt);
    _vsnwprintf(buf, 511, fmt, args);
    va_end(args);
    buf[511] = 0;
    return buf;
}

std::wstring TimeText(const FILETIME& t) {
    SYSTEMTIME st;
    if ((t.dwLowDateTime == 0 && t.dwHighDateTime == 0) || !FileTimeToSystemTime(&t, &st))
        return L"-------------------";
    return Format(L"%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
}

std::wstring AttributeText(DWORD a) {
    std::wstring s = L"-----";
    if (a & FILE_ATTRIBUTE_DIRECTORY)
        s[0] = L'd';
    if (a & FILE_ATTRIBUTE_READONLY)
        s[1] = L'r';
    if (a & FILE_ATTRIBUTE_HIDDEN)
        s[2] = L'h';
    if (a & FILE_ATTRIBUTE_SYSTEM)
        s[3] = L's';
    if (a & FILE_ATTRIBUTE_ARCHIVE)
        s[4] = L'a';
    return s;
}

int Count(ArchiveHandle h) {
    ArchiveItem item;
    ArchiveGetItem(h, -1, &item);
    return item.index;
}

int List(const wchar_t* archive) {
    ArchiveHandle h = ArchiveOpen(archive);
    if (!h) {
        Print(Format(L"cannot open %ls as an archive\n", archive));
        return 2;
    }
    int count = Count(h);
    int failed = 0;
    Print(L"attrs  compressed        size  modified (UTC)       accessed (UTC)       "
          L"created (UTC)        name\n");
    for (int i = 0; i < count; ++i) {
        ArchiveItem item;
        DWORD r = ArchiveGetItem(h, i, &item);
        if (r != AR_OK) {
            Print(Format(L"item %d: error 0x%08lX\n", i, static_cast<unsigned long>(r)));
            ++failed;
            continue;
        }
        Print(Format(L"%ls %11lu %11lu  %ls  %ls  %ls  ", AttributeText(item.attributes).c_str(),
                     static_cast<unsigned long>(item.compressedSize),
                     static_cast<unsigned long>(item.size), TimeText(item.writeTime).c_str(),
                     TimeText(item.accessTime).c_str(), TimeText(item.createTime).c_str()) +
              item.name + L"\n");
    }
    Print(Format(L"%d items\n", count));
    ArchiveClose(h);
    return failed ? 1 : 0;
}

int Extract(const wchar_t* archive, const wchar_t* folder) {
    wchar_t full[MAX_PATH];
    if (!GetFullPathNameW(archive, MAX_PATH, full, nullptr)) {
        Print(Format(L"bad archive path %ls\n", archive));
        return 2;
    }
    CreateDirectoryW(folder, nullptr);
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    if (!SetCurrentDirectoryW(folder)) {
        Print(Format(L"cannot use folder %ls\n", folder));
        return 2;
    }
    ArchiveHandle h = ArchiveOpen(full);
    SetCurrentDirectoryW(saved);
    if (!h) {
        Print(Format(L"cannot open %ls as an archive\n", archive));
        return 2;
    }
    int count = Count(h);
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        ArchiveItem item;
        DWORD r = ArchiveGetItem(h, i, &item);
        if (r == AR_OK)
            r = ArchiveExtractItem(h, i, item.name);
        if (r != AR_OK) {
            Print(Format(L"item %d: error 0x%08lX ", i, static_cast<unsigned long>(r)) + item.name +
                  L"\n");
            ++failed;
        }
    }
    ArchiveClose(h);
    Print(Format(L"%d of %d items extracted\n", count - failed, count));
    return failed ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc == 3 && wcscmp(argv[1], L"list") == 0)
            return List(argv[2]);
        if (argc == 4 && wcscmp(argv[1], L"extract") == 0)
            return Extract(argv[2], argv[3]);
        Print(L"usage: ziptool list <archive>\n       ziptool extract <archive> <folder>\n");
        return 2;
    } catch (...) {
        Print(L"unexpected failure\n");
        return 3;
    }
}
