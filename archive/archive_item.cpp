#include "archive_internal.h"

#include <cwchar>
#include <cstring>

bool DecodeItemName(const unsigned char* s, size_t n, wchar_t* out) {
    const size_t limit = MAX_PATH - 1;
    size_t len = 0;
    auto put = [&](wchar_t c) {
        if (len >= limit)
            return false;
        out[len++] = c;
        return true;
    };
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b == 0)
            break;
        if (b < 0x80) {
            if (!put(static_cast<wchar_t>(b))) {
                out[len] = 0;
                return false;
            }
            ++i;
            continue;
        }
        // Sequence length and the range of the first continuation byte (no overlong forms,
        // no surrogates, nothing above U+10FFFF).
        int need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0)
                lo = 0xA0;
            if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0)
                lo = 0x90;
            if (b == 0xF4)
                hi = 0x8F;
        }
        ++i;
        bool ok = need > 0;
        for (int k = 0; ok && k < need; ++k) {
            if (i >= n || s[i] < lo || s[i] > hi) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (s[i] & 0x3F);
            ++i;
            lo = 0x80;
            hi = 0xBF;
        }
        bool fits;
        if (!ok)
            fits = put(0xFFFD); // the offending byte starts the next sequence
        else if (cp >= 0x10000)
            fits = put(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10))) &&
                   put(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        else
            fits = put(static_cast<wchar_t>(cp));
        if (!fits) {
            out[len] = 0;
            return false;
        }
    }
    out[len] = 0;
    return true;
}

void CleanItemName(wchar_t* name) {
    static const wchar_t* const parents[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (;;) {
        size_t len = wcslen(name);
        size_t drop = 0;
        if (len >= 2 && name[1] == L':') {
            drop = 2;
        } else if (name[0] == L'\\' || name[0] == L'/') {
            drop = 1;
        } else {
            for (const wchar_t* p : parents) {
                if (const wchar_t* at = wcsstr(name, p)) {
                    drop = static_cast<size_t>(at - name) + 4;
                    break;
                }
            }
        }
        if (drop == 0)
            return;
        memmove(name, name + drop, (len - drop + 1) * sizeof(wchar_t));
    }
}

bool NameLeavesBase(const wchar_t* name) {
    const wchar_t* p = name;
    for (;;) {
        const wchar_t* end = p;
        while (*end && *end != L'/' && *end != L'\\')
            ++end;
        int dots = 0;
        bool onlyDots = end > p;
        for (const wchar_t* q = p; q < end; ++q) {
            if (*q == L'.')
                ++dots;
            else if (*q != L' ')
                onlyDots = false;
        }
        if (onlyDots && dots >= 2)
            return true;
        if (!*end)
            return false;
        p = end + 1;
    }
}

bool NameIsDevice(const wchar_t* name) {
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    const wchar_t* p = name;
    for (;;) {
        const wchar_t* end = p;
        while (*end && *end != L'/' && *end != L'\\')
            ++end;
        // The stem: up to the first dot or colon, trailing spaces dropped (Windows ignores them).
        const wchar_t* stem = p;
        while (stem < end && *stem != L'.' && *stem != L':')
            ++stem;
        while (stem > p && stem[-1] == L' ')
            --stem;
        size_t n = static_cast<size_t>(stem - p);
        auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; };
        for (const wchar_t* d : devices) {
            size_t k = 0;
            while (k < n && d[k] && upper(p[k]) == d[k])
                ++k;
            if (k == n && !d[k])
                return true;
        }
        // COM and LPT with one digit, superscript 1-3 included.
        if (n == 4 &&
            ((upper(p[0]) == L'C' && upper(p[1]) == L'O' && upper(p[2]) == L'M') ||
             (upper(p[0]) == L'L' && upper(p[1]) == L'P' && upper(p[2]) == L'T')) &&
            ((p[3] >= L'0' && p[3] <= L'9') || p[3] == 0xB9 || p[3] == 0xB2 || p[3] == 0xB3))
            return true;
        if (!*end)
            return false;
        p = end + 1;
    }
}

bool IsAbsoluteName(const wchar_t* name) {
    return name[0] == L'/' || name[0] == L'\\' || (name[0] && name[1] == L':');
}

DWORD AttributesFromHost(unsigned long versionMadeBy, unsigned long external) {
    unsigned host = (versionMadeBy >> 8) & 0xFF;
    if (host == 0 || host == 7 || host == 11 || host == 14)
        return external & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
    DWORD a = FILE_ATTRIBUTE_ARCHIVE;
    if (external & 0x40000000)
        a |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(external & 0x00800000))
        a |= FILE_ATTRIBUTE_READONLY;
    return a;
}

FILETIME DosTimeToFileTime(unsigned long dosDateTime) {
    FILETIME none = {0, 0};
    unsigned date = (dosDateTime >> 16) & 0xFFFF, time = dosDateTime & 0xFFFF;
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(1980 + (date >> 9));
    st.wMonth = static_cast<WORD>((date >> 5) & 0x0F);
    st.wDay = static_cast<WORD>(date & 0x1F);
    st.wHour = static_cast<WORD>(time >> 11);
    st.wMinute = static_cast<WORD>((time >> 5) & 0x3F);
    st.wSecond = static_cast<WORD>(2 * (time & 0x1F));
    // Checked here rather than left to the system: the result must not depend on how
    // lenient SystemTimeToFileTime is.
    static const WORD days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59)
        return none;
    bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
    WORD maxDay = static_cast<WORD>(days[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1 : 0));
    if (st.wDay > maxDay)
        return none;
    FILETIME local, utc;
    if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc))
        return none;
    return utc;
}

void ApplyExtendedTimestamp(const unsigned char* f, size_t length, ArchiveItem* item) {
    size_t p = 0;
    while (p + 4 < length) {
        size_t size = f[p + 2] | (f[p + 3] << 8);
        if (f[p] != 0x55 || f[p + 1] != 0x54) {
            p += 4 + size;
            continue;
        }
        // Values count only inside both the block and the field.
        size_t end = p + 4 + size;
        if (end > length)
            end = length;
        size_t q = p + 4;
        if (q >= end)
            return;
        unsigned flags = f[q++];
        FILETIME* times[3] = {&item->writeTime, &item->accessTime, &item->createTime};
        for (int bit = 0; bit < 3; ++bit) {
            if (!(flags & (1u << bit)))
                continue;
            if (q + 4 > end)
                return;
            int32_t t =
                static_cast<int32_t>(static_cast<uint32_t>(f[q]) | (f[q + 1] << 8) |
                                     (f[q + 2] << 16) | (static_cast<uint32_t>(f[q + 3]) << 24));
            q += 4;
            uint64_t ft = static_cast<uint64_t>(t + 11644473600LL) * 10000000ULL;
            times[bit]->dwLowDateTime = static_cast<DWORD>(ft);
            times[bit]->dwHighDateTime = static_cast<DWORD>(ft >> 32);
        }
        return;
    }
}

namespace {

uint32_t CrcByte(uint32_t crc, unsigned char b) {
    crc ^= b;
    for (int k = 0; k < 8; ++k)
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    return crc;
}

} // namespace

unsigned char DecryptHeaderCheckByte(const unsigned char header[12]) {
    // Keys as set up by the empty password.
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    unsigned char plain = 0;
    for (int i = 0; i < 12; ++i) {
        uint32_t t = (k2 & 0xFFFF) | 2;
        plain =
            static_cast<unsigned char>(header[i] ^ static_cast<unsigned char>((t * (t ^ 1)) >> 8));
        k0 = CrcByte(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = CrcByte(k2, static_cast<unsigned char>(k1 >> 24));
    }
    return plain;
}

namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFoldersBelow(const std::wstring& base, const std::wstring& folder) {
    if (folder.empty())
        return;
    size_t sep = folder.find_last_of(L"/\\");
    if (sep != std::wstring::npos && sep != 0)
        MakeFoldersBelow(base, folder.substr(0, sep));
    std::wstring path = base + folder;
    if (!Exists(path))
        CreateDirectoryW(path.c_str(), nullptr);
}

} // namespace

void MakeFolders(const wchar_t* base, const wchar_t* folder) {
    std::wstring b = base ? base : L"";
    std::wstring f = folder ? folder : L"";
    if (b.size() + f.size() >= MAX_PATH)
        return;
    // When the whole path is there, so is every folder above it and the base.
    if (!f.empty() && Exists(b + f))
        return;
    if (base && !Exists(b))
        CreateDirectoryW(b.c_str(), nullptr);
    MakeFoldersBelow(b, f);
}
