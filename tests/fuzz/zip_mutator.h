// Makes hostile archives: a random well-formed archive from zip_builder.h, then a few mutations
// that know where the ZIP fields sit. Everything comes from one seed, so a case can be replayed.
#pragma once

#include "zip_builder.h"

#include <cstdint>
#include <string>
#include <vector>

// splitmix64: small, fast and the same on every compiler.
class CFuzzRng {
  public:
    explicit CFuzzRng(uint64_t seed) : m_s(seed) {}
    uint64_t Next() {
        uint64_t z = (m_s += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (0 when n is 0).
    uint32_t Below(uint64_t n) { return n ? static_cast<uint32_t>(Next() % n) : 0; }
    bool Chance(int percent) { return Below(100) < static_cast<uint32_t>(percent); }
    template <class T> const T& Pick(const std::vector<T>& v) { return v[Below(v.size())]; }

  private:
    uint64_t m_s;
};

// Names an archive should never be able to place outside the extraction folder, and names
// that stress the decoder and the length limits.
inline const std::vector<std::string>& HostileNames() {
    static const std::vector<std::string> names = {
        "../evil.txt",
        "..\\evil.txt",
        "a/../../evil.txt",
        "a\\..\\..\\evil.txt",
        "/abs_evil.txt",
        "\\abs_evil.txt",
        "C:\\abs_evil.txt",
        "C:/abs_evil.txt",
        "C:evil.txt",
        "Z:\\tmp\\abs_evil.txt",
        "Z:/abs_evil.txt",
        "\\\\?\\Z:\\abs_evil.txt",
        "\\\\.\\Z:\\abs_evil.txt",
        "//server/share/evil.txt",
        "\\\\server\\share\\evil.txt",
        ".. /evil.txt",
        "... /evil.txt",
        "..../evil.txt",
        "a/.. /evil.txt",
        "a/..",
        "a\\..",
        "..",
        ".",
        "./a.txt",
        "a/./b.txt",
        "dir/../../../../../evil.txt",
        "..\\..\\..\\..\\evil.txt",
        "C:..\\evil.txt",
        "C:../evil.txt",
        "::/evil.txt",
        ":/evil.txt",
        "a:/../evil.txt",
        "\xc0\xae\xc0\xae/evil.txt",
        "\xe2\x80\xa4\xe2\x80\xa4/evil.txt",
        "%2e%2e/evil.txt",
        "..\xef\xbc\x8f"
        "evil.txt",
        "\xef\xbc\x8e\xef\xbc\x8e/evil.txt",
        "a\x01/../evil.txt",
        "x.txt:stream",
        "CON",
        "nul.txt",
        "sub/NUL",
        "COM1",
        "lpt2.dat",
        "AUX",
        "prn .x",
        "conout$",
        "dir/",
        "/",
        "//",
        "\\",
        "",
        "\xff\xfe\xfd",
        "\xed\xa0\x80.txt",
        "\xf4\x90\x80\x80.txt",
        "a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/x/y/z.txt",
        "trailing.",
        "trailing ",
        "dots.../x.txt",
        "UpdateZip/../../evil.zip",
        std::string(258, 'n'),
        std::string(259, 'n'),
        std::string(260, 'n'),
        std::string(300, 'n'),
        std::string(200, 'd') + "/" + std::string(70, 'f'),
        [] {
            std::string s;
            for (int i = 0; i < 90; ++i)
                s += "\xe4\xb8\xad";
            return s;
        }(),
        [] {
            std::string s;
            for (int i = 0; i < 70; ++i)
                s += "\xf0\x9f\x98\x80";
            return s;
        }(),
        [] {
            std::string s;
            for (int i = 0; i < 60; ++i)
                s += "a/";
            return s + "x";
        }(),
    };
    return names;
}

inline const std::vector<std::string>& OrdinaryNames() {
    static const std::vector<std::string> names = {"a.txt",
                                                   "Update.exe",
                                                   "Orvane.exe",
                                                   "Sys/Config.ini",
                                                   "UpdateZip/",
                                                   "Skin/",
                                                   "Skin/Button/x.bmp",
                                                   "Skin\\Button\\y.bmp",
                                                   "readme",
                                                   "\xe4\xb8\xad\xe6\x96\x87.txt",
                                                   "dir/sub/file.dat",
                                                   "empty.bin",
                                                   "a\\b"};
    return names;
}

inline std::string RandomContent(CFuzzRng& rng) {
    size_t n = rng.Chance(15) ? 0 : rng.Below(rng.Chance(10) ? 40000 : 2000);
    std::string s(n, '\0');
    bool text = rng.Chance(60);
    for (size_t i = 0; i < n; ++i)
        s[i] = text ? static_cast<char>('a' + (i * 7 + i / 13) % 26)
                    : static_cast<char>(rng.Below(256));
    return s;
}

inline std::string RandomExtra(CFuzzRng& rng) {
    std::string extra;
    int blocks = static_cast<int>(rng.Below(3));
    for (int b = 0; b < blocks; ++b) {
        if (rng.Chance(50)) {
            std::vector<int32_t> times;
            uint8_t flags = static_cast<uint8_t>(rng.Below(8));
            int present = (flags & 1) + ((flags >> 1) & 1) + ((flags >> 2) & 1);
            for (int k = 0; k < present; ++k)
                times.push_back(static_cast<int32_t>(rng.Next()));
            int declared = rng.Chance(20) ? static_cast<int>(rng.Below(40)) : -1;
            extra += UtBlock(rng.Chance(10) ? 0xFF : flags, times, declared);
        } else {
            std::string data(rng.Below(rng.Chance(10) ? 400 : 20), 'x');
            std::string blk;
            Put16(blk, static_cast<uint32_t>(rng.Below(0x10000)));
            Put16(blk, static_cast<uint32_t>(data.size()));
            extra += blk + data;
        }
    }
    return extra;
}

inline uint32_t RandomDosTime(CFuzzRng& rng) {
    if (rng.Chance(20))
        return static_cast<uint32_t>(rng.Next());
    return (rng.Below(60) << 25) | ((1 + rng.Below(12)) << 21) | ((1 + rng.Below(28)) << 16) |
           (rng.Below(24) << 11) | (rng.Below(60) << 5) | rng.Below(30);
}

// A well-formed archive with random items; hostile names mixed in when asked.
inline std::string RandomArchive(CFuzzRng& rng, bool hostileNames) {
    std::vector<ZipEntry> entries;
    int n = 1 + static_cast<int>(rng.Below(rng.Chance(10) ? 40 : 6));
    for (int i = 0; i < n; ++i) {
        ZipEntry e;
        e.name =
            hostileNames && rng.Chance(50) ? rng.Pick(HostileNames()) : rng.Pick(OrdinaryNames());
        bool dir = !e.name.empty() && (e.name.back() == '/' || e.name.back() == '\\');
        e.content = dir ? std::string() : RandomContent(rng);
        e.deflate = !dir && rng.Chance(60);
        if (rng.Chance(30)) {
            e.versionMadeBy = 0x0314; // host 3
            e.external = dir ? 0x41ED0010u : (rng.Chance(20) ? 0x81240000u : 0x81A40000u);
        } else {
            e.external =
                dir ? 0x10u : (rng.Chance(20) ? static_cast<uint32_t>(rng.Below(256)) : 0x20u);
        }
        e.dosDateTime = RandomDosTime(rng);
        if (rng.Chance(40))
            e.localExtra = RandomExtra(rng);
        if (rng.Chance(10))
            e.flags = 8; // data descriptor
        if (rng.Chance(8)) {
            e.encrypt = true;
            e.badCheckByte = rng.Chance(50);
        }
        entries.push_back(e);
    }
    ZipLayout layout;
    if (rng.Chance(8))
        layout.prefix = std::string(rng.Below(5000), 'P');
    if (rng.Chance(10))
        layout.comment = std::string(rng.Below(rng.Chance(10) ? 65535 : 100), 'c');
    return BuildZip(entries, layout);
}

// Where the fields of an archive sit, found the way a reader finds them.
struct ZipMap {
    size_t eocd = std::string::npos; // position of the end record
    size_t start = 0;                // archive start (end record - directory size - offset)
    std::vector<size_t> central;     // positions of central records
    std::vector<size_t> local;       // positions of local headers that lie inside the file
};

inline uint32_t Get16(const std::string& s, size_t at) {
    return at + 2 <= s.size()
               ? static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8)
               : 0;
}
inline uint32_t Get32(const std::string& s, size_t at) {
    return at + 4 <= s.size() ? Get16(s, at) | (Get16(s, at + 2) << 16) : 0;
}
inline void Set16(std::string& s, size_t at, uint32_t v) {
    if (at + 2 <= s.size()) {
        s[at] = static_cast<char>(v & 0xFF);
        s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
}
inline void Set32(std::string& s, size_t at, uint32_t v) {
    Set16(s, at, v & 0xFFFF);
    Set16(s, at + 2, v >> 16);
}

inline ZipMap MapZip(const std::string& s) {
    ZipMap m;
    if (s.size() < 22)
        return m;
    for (size_t p = s.size() - 22 + 1; p-- > 0;) {
        if (Get32(s, p) == 0x06054b50) {
            m.eocd = p;
            break;
        }
        if (s.size() - p > 65535 + 22)
            break;
    }
    if (m.eocd == std::string::npos)
        return m;
    uint32_t cdSize = Get32(s, m.eocd + 12), cdOffset = Get32(s, m.eocd + 16);
    uint64_t back = static_cast<uint64_t>(cdSize) + cdOffset;
    m.start = back <= m.eocd ? m.eocd - static_cast<size_t>(back) : 0;
    size_t p = m.start + cdOffset;
    for (int i = 0; i < 70000 && p + 46 <= s.size() && Get32(s, p) == 0x02014b50; ++i) {
        m.central.push_back(p);
        size_t lh = m.start + Get32(s, p + 42);
        if (lh + 30 <= s.size())
            m.local.push_back(lh);
        p += 46 + Get16(s, p + 28) + Get16(s, p + 30) + Get16(s, p + 32);
    }
    return m;
}

inline uint32_t InterestingValue(CFuzzRng& rng, const std::string& s) {
    static const uint32_t values[] = {0,          1,          2,          0x7F,       0x80,
                                      0xFF,       0x100,      0x103,      0x104,      0x3FFF,
                                      0x4000,     0x4001,     0xFFFF,     0x10000,    0x7FFFFFFE,
                                      0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFF0};
    switch (rng.Below(4)) {
    case 0:
        return static_cast<uint32_t>(s.size() + rng.Below(5) - 2);
    case 1:
        return static_cast<uint32_t>(rng.Next());
    default:
        return values[rng.Below(sizeof values / sizeof values[0])];
    }
}

// Mutation kinds, in the order of their counters.
enum MutationKind {
    MUT_TRUNCATE,
    MUT_BITFLIP,
    MUT_BYTES,
    MUT_SIZE_FIELD,
    MUT_SWAP_FIELDS,
    MUT_NAME_LENGTH,
    MUT_EXTRA_PAST_END,
    MUT_OTHER_DISK,
    MUT_COUNTS,
    MUT_ENCRYPT_FLAG,
    MUT_METHOD,
    MUT_SPLICE,
    MUT_ATTRIBUTES,
    MUT_KIND_COUNT
};

inline const char* MutationName(int k) {
    static const char* const names[MUT_KIND_COUNT] = {
        "truncation",          "bit flips",      "bytes set",          "size/offset field",
        "swapped fields",      "name length",    "extra past its end", "other disk",
        "item counts",         "encrypted flag", "bogus method",       "splice/duplicate",
        "host/attributes/time"};
    return names[k];
}

// Positions of 32-bit size/offset/CRC fields: central (crc, sizes, local offset), local (crc,
// sizes), end record (directory size and offset).
inline std::vector<size_t> Fields32(const ZipMap& m) {
    std::vector<size_t> f;
    for (size_t c : m.central)
        for (size_t off : {16, 20, 24, 42})
            f.push_back(c + off);
    for (size_t l : m.local)
        for (size_t off : {14, 18, 22})
            f.push_back(l + off);
    if (m.eocd != std::string::npos) {
        f.push_back(m.eocd + 12);
        f.push_back(m.eocd + 16);
    }
    return f;
}

// Applies one mutation of the given kind; returns false when the archive has nothing it fits.
inline bool Mutate(CFuzzRng& rng, std::string& s, int kind) {
    ZipMap m = MapZip(s);
    bool hasEnd = m.eocd != std::string::npos;
    switch (kind) {
    case MUT_TRUNCATE: {
        if (s.empty())
            return false;
        size_t at;
        if (rng.Chance(40) && !m.central.empty())
            at = m.central[rng.Below(m.central.size())] + rng.Below(60);
        else if (rng.Chance(40) && !m.local.empty())
            at = m.local[rng.Below(m.local.size())] + rng.Below(80);
        else
            at = rng.Below(s.size());
        if (at >= s.size())
            return false;
        if (rng.Chance(50) || !hasEnd) {
            s.resize(at); // cut the tail, end record included
        } else {
            // Cut out the middle but keep the end record, so the directory points past the end.
            std::string tail = s.substr(m.eocd);
            if (at >= m.eocd)
                return false;
            s = s.substr(0, at) + tail;
        }
        return true;
    }
    case MUT_BITFLIP: {
        if (s.empty())
            return false;
        int n = 1 + static_cast<int>(rng.Below(16));
        for (int i = 0; i < n; ++i) {
            size_t at = rng.Below(s.size());
            if (rng.Chance(50) && !m.central.empty()) // aim at headers, where the rules live
                at = m.central[rng.Below(m.central.size())] + rng.Below(46);
            if (at < s.size())
                s[at] = static_cast<char>(s[at] ^ (1 << rng.Below(8)));
        }
        return true;
    }
    case MUT_BYTES: {
        if (s.empty())
            return false;
        static const unsigned char values[] = {0, 0xFF, 0x7F, 0x80, 0x01, '/', '\\', '.', ':'};
        int n = 1 + static_cast<int>(rng.Below(8));
        for (int i = 0; i < n; ++i)
            s[rng.Below(s.size())] = static_cast<char>(values[rng.Below(sizeof values)]);
        return true;
    }
    case MUT_SIZE_FIELD: {
        std::vector<size_t> f = Fields32(m);
        if (f.empty())
            return false;
        size_t at = f[rng.Below(f.size())];
        Set32(s, at, rng.Chance(25) ? Get32(s, f[rng.Below(f.size())]) : InterestingValue(rng, s));
        return true;
    }
    case MUT_SWAP_FIELDS: {
        std::vector<size_t> f = Fields32(m);
        if (f.size() < 2)
            return false;
        size_t a = f[rng.Below(f.size())], b = f[rng.Below(f.size())];
        uint32_t va = Get32(s, a), vb = Get32(s, b);
        Set32(s, a, vb);
        Set32(s, b, va);
        return true;
    }
    case MUT_NAME_LENGTH: {
        static const uint32_t lengths[] = {0, 1, 259, 260, 261, 300, 1000, 0x7FFF, 0xFFFF};
        uint32_t v = lengths[rng.Below(sizeof lengths / sizeof lengths[0])];
        if (rng.Chance(50) && !m.central.empty()) {
            size_t c = m.central[rng.Below(m.central.size())];
            Set16(s, c + 28, rng.Chance(30) ? Get16(s, c + 28) + 1 : v);
        } else if (!m.local.empty()) {
            size_t l = m.local[rng.Below(m.local.size())];
            Set16(s, l + 26, rng.Chance(30) ? Get16(s, l + 26) + 1 : v);
        } else {
            return false;
        }
        return true;
    }
    case MUT_EXTRA_PAST_END: {
        if (m.local.empty())
            return false;
        size_t l = m.local[rng.Below(m.local.size())];
        switch (rng.Below(3)) {
        case 0: // extra length beyond the data or the file
            Set16(s, l + 28, rng.Chance(50) ? 0xFFFF : Get16(s, l + 28) + 1 + rng.Below(64));
            break;
        case 1: { // a block header whose size runs past the field, placed over the field
            uint32_t extraLen = Get16(s, l + 28);
            if (extraLen < 4)
                return false;
            size_t at = l + 30 + Get16(s, l + 26);
            Set16(s, at + 2, extraLen + rng.Below(300));
            if (rng.Chance(50))
                Set16(s, at, 0x5455); // "UT"
            break;
        }
        default: { // central extra / comment lengths that run past the directory
            if (m.central.empty())
                return false;
            size_t c = m.central[rng.Below(m.central.size())];
            Set16(s, c + (rng.Chance(50) ? 30 : 32), rng.Chance(50) ? 0xFFFF : rng.Below(600));
            break;
        }
        }
        return true;
    }
    case MUT_OTHER_DISK: {
        if (!hasEnd)
            return false;
        static const uint32_t disks[] = {1, 2, 0xFFFF, 0x8000};
        uint32_t v = disks[rng.Below(4)];
        switch (rng.Below(4)) {
        case 0:
            Set16(s, m.eocd + 4, v);
            break;
        case 1:
            Set16(s, m.eocd + 6, v);
            break;
        case 2:
            Set16(s, m.eocd + 4, v);
            Set16(s, m.eocd + 6, v);
            break;
        default:
            if (m.central.empty())
                return false;
            Set16(s, m.central[rng.Below(m.central.size())] + 34, v); // item's start disk
        }
        return true;
    }
    case MUT_COUNTS: {
        if (!hasEnd)
            return false;
        uint32_t n = Get16(s, m.eocd + 10);
        static const int deltas[] = {-2, -1, 1, 2, 100};
        uint32_t v = rng.Chance(30) ? static_cast<uint32_t>(rng.Pick(
                                          std::vector<uint32_t>{0, 0xFFFF, 0x7FFF, 65535, 1000}))
                                    : n + static_cast<uint32_t>(deltas[rng.Below(5)]);
        v &= 0xFFFF;
        int which = static_cast<int>(rng.Below(3));
        if (which != 1)
            Set16(s, m.eocd + 8, v);
        if (which != 0)
            Set16(s, m.eocd + 10, v);
        return true;
    }
    case MUT_ENCRYPT_FLAG: {
        if (m.central.empty())
            return false;
        size_t i = rng.Below(m.central.size());
        uint32_t bits = rng.Chance(70) ? 1u : (rng.Chance(50) ? 9u : 8u);
        int where = static_cast<int>(rng.Below(3));
        if (where != 1)
            Set16(s, m.central[i] + 8, Get16(s, m.central[i] + 8) ^ bits);
        if (where != 0 && i < m.local.size())
            Set16(s, m.local[i] + 6, Get16(s, m.local[i] + 6) ^ bits);
        return true;
    }
    case MUT_METHOD: {
        if (m.central.empty())
            return false;
        static const uint32_t methods[] = {1, 6, 9, 12, 14, 93, 95, 98, 99, 0xFFFF, 0, 8};
        uint32_t v = methods[rng.Below(sizeof methods / sizeof methods[0])];
        size_t i = rng.Below(m.central.size());
        int where = static_cast<int>(rng.Below(3));
        if (where != 1)
            Set16(s, m.central[i] + 10, v);
        if (where != 0 && i < m.local.size())
            Set16(s, m.local[i] + 8, v);
        return true;
    }
    case MUT_SPLICE: {
        if (s.empty())
            return false;
        size_t a = rng.Below(s.size()), len = 1 + rng.Below(200);
        if (a + len > s.size())
            len = s.size() - a;
        std::string chunk = s.substr(a, len);
        size_t to = rng.Below(s.size() + 1);
        if (rng.Chance(50))
            s.insert(to, chunk);
        else
            s.replace(to, std::min(len, s.size() - to), chunk);
        return true;
    }
    case MUT_ATTRIBUTES: {
        if (m.central.empty())
            return false;
        size_t c = m.central[rng.Below(m.central.size())];
        switch (rng.Below(3)) {
        case 0:
            Set16(s, c + 4, (rng.Below(20) << 8) | 0x14); // host
            break;
        case 1:
            Set32(s, c + 38, static_cast<uint32_t>(rng.Next()));
            break;
        default:
            Set32(s, c + 12, static_cast<uint32_t>(rng.Next())); // DOS time
        }
        return true;
    }
    }
    return false;
}
