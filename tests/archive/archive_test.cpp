#include "archive.h"
#include "file_tree.h"
#include "zip_builder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(bytes.size(), written);
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string s;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        s.append(buf, got);
    CloseHandle(h);
    return s;
}

// Compares contents without printing them.
::testing::AssertionResult SameBytes(const std::string& want, const std::string& got) {
    if (want == got)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at])
        ++at;
    return ::testing::AssertionFailure() << "wanted " << want.size() << " bytes, got " << got.size()
                                         << ", first difference at " << at;
}

uint64_t Ticks(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

uint64_t UnixTicks(int64_t seconds) {
    return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

// The UTC value of a winter local time (no daylight saving), from the zone's standard bias.
uint64_t LocalWinterTicks(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    SYSTEMTIME st = {};
    st.wYear = y, st.wMonth = mo, st.wDay = d, st.wHour = h, st.wMinute = mi, st.wSecond = s;
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    TIME_ZONE_INFORMATION tz;
    GetTimeZoneInformation(&tz);
    return Ticks(ft) + static_cast<int64_t>(tz.Bias + tz.StandardBias) * 60 * 10000000LL;
}

uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
    return (static_cast<uint32_t>(y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) |
           (mi << 5) | (s / 2);
}

ZipEntry File(const std::string& name, const std::string& content, bool deflate = false) {
    ZipEntry e;
    e.name = name;
    e.content = content;
    e.deflate = deflate;
    return e;
}

std::string Pattern(size_t n) {
    std::string s;
    s.reserve(n);
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        s += static_cast<char>((i % 7 == 0) ? (x >> 16) & 0xFF : 'a' + (i % 13));
    }
    return s;
}

// Every test works in a folder of its own: the archive lives in root, extraction goes to
// root\out, which is the current directory while the archive is opened.
class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        static int serial = 0;
        m_root = std::wstring(tmp) + L"artest" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(++serial);
        RemoveTree(m_root);
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        m_out = m_root + L"\\out\\";
        ASSERT_TRUE(CreateDirectoryW(m_out.c_str(), nullptr));
        GetCurrentDirectoryW(MAX_PATH, m_saved);
        SetCurrentDirectoryW(m_out.c_str());
        m_zip = m_root + L"\\a.zip";
    }
    void TearDown() override {
        if (m_handle)
            ArchiveClose(m_handle);
        SetCurrentDirectoryW(m_saved);
        RemoveTree(m_root);
    }
    ArchiveHandle Open(const std::string& bytes) {
        if (m_handle)
            ArchiveClose(m_handle);
        m_handle = nullptr;
        WriteBytes(m_zip, bytes);
        m_handle = ArchiveOpen(m_zip.c_str());
        return m_handle;
    }
    ArchiveHandle Open(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {}) {
        return Open(BuildZip(entries, layout));
    }
    ArchiveItem Get(int index, DWORD expect = AR_OK) {
        ArchiveItem item;
        memset(&item, 0xCC, sizeof item);
        EXPECT_EQ(expect, ArchiveGetItem(m_handle, index, &item)) << "index " << index;
        return item;
    }
    std::wstring Out(const std::wstring& rel) const { return m_out + rel; }

    std::wstring m_root, m_out, m_zip;
    wchar_t m_saved[MAX_PATH] = {};
    ArchiveHandle m_handle = nullptr;
};

// ---- opening -------------------------------------------------------------------------------

struct OpenCase {
    const char* what;
    std::string bytes;
    bool opens;
};

TEST_F(ArchiveTest, OpensOnlySingleDiskArchivesWithAnEndRecordInTheLastBytes) {
    std::vector<ZipEntry> one = {File("a.txt", "alpha")};
    ZipLayout comment;
    comment.comment = std::string(2000, 'c');
    ZipLayout prefixed;
    prefixed.prefix = std::string(100000, 'P');
    ZipLayout secondDisk;
    secondDisk.disk = 1;
    ZipLayout centralOnSecondDisk;
    centralOnSecondDisk.centralDisk = 1;
    ZipLayout countsDiffer;
    countsDiffer.entriesThisDisk = 0;
    ZipLayout centralPastEnd;
    centralPastEnd.centralOffset = 1000;
    ZipLayout longestComment;
    longestComment.comment =
        std::string(65535 - 22, 'c'); // record starts 65,535 bytes from the end
    ZipLayout tooLongComment;
    tooLongComment.comment = std::string(65535, 'c');
    std::string noZip = std::string(5000, 'x');
    const OpenCase cases[] = {
        {"plain", BuildZip(one), true},
        {"2,000-byte comment", BuildZip(one, comment), true},
        {"100,000 bytes in front", BuildZip(one, prefixed), true},
        {"end record 65,535 bytes from the end", BuildZip(one, longestComment), true},
        {"end record further back", BuildZip(one, tooLongComment), false},
        {"not a zip", noZip, false},
        {"empty file", "", false},
        {"end record of disk 1", BuildZip(one, secondDisk), false},
        {"central directory on disk 1", BuildZip(one, centralOnSecondDisk), false},
        {"item counts differ", BuildZip(one, countsDiffer), false},
        {"central directory past the end record", BuildZip(one, centralPastEnd), false},
    };
    for (const OpenCase& c : cases) {
        ArchiveHandle h = Open(c.bytes);
        EXPECT_EQ(c.opens, h != nullptr) << c.what;
        if (h && c.opens) {
            EXPECT_EQ(AR_OK, ArchiveExtractItem(h, 0, L"a.txt")) << c.what;
            EXPECT_EQ("alpha", ReadBytes(Out(L"a.txt"))) << c.what;
        }
    }
}

TEST_F(ArchiveTest, MissingFileAndUnicodePath) {
    EXPECT_EQ(nullptr, ArchiveOpen((m_root + L"\\none.zip").c_str()));
    EXPECT_EQ(nullptr, ArchiveOpen(nullptr));
    std::wstring path = m_root + L"\\\x6863\x6848.zip";
    WriteBytes(path, BuildZip({File("a.txt", "alpha")}));
    ArchiveHandle h = ArchiveOpen(path.c_str());
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(AR_OK, ArchiveClose(h));
}

TEST_F(ArchiveTest, KeepsTheArchiveOpenForReadingOnly) {
    ASSERT_NE(nullptr, Open({File("a.txt", "alpha")}));
    HANDLE w = CreateFileW(m_zip.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, w);
    if (w != INVALID_HANDLE_VALUE)
        CloseHandle(w);
    HANDLE r = CreateFileW(m_zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, r);
    CloseHandle(r);
    ArchiveClose(m_handle);
    m_handle = nullptr;
    EXPECT_TRUE(DeleteFileW(m_zip.c_str())); // closed again
}

// ---- arguments and the item count ------------------------------------------------------------

TEST_F(ArchiveTest, CountAndIndexBounds) {
    ASSERT_NE(nullptr, Open({File("a.txt", "alpha"), File("b.txt", "beta")}));
    ArchiveItem count = Get(-1);
    EXPECT_EQ(2, count.index);
    EXPECT_STREQ(L"", count.name);
    EXPECT_EQ(0u, count.attributes);
    EXPECT_EQ(0u, Ticks(count.writeTime) | Ticks(count.accessTime) | Ticks(count.createTime));
    EXPECT_EQ(0u, count.size | count.compressedSize);

    for (int bad : {2, -2, 1000}) {
        ArchiveItem item = Get(bad, AR_ARGS);
        EXPECT_EQ(0, item.index);
        EXPECT_STREQ(L"", item.name);
        EXPECT_EQ(0u, item.size);
    }
    EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, 2, L"x"));
    EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, -1, L"x"));
    EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, 0, nullptr));
    EXPECT_EQ(AR_ARGS, ArchiveGetItem(m_handle, 0, nullptr));
}

TEST_F(ArchiveTest, NullHandle) {
    ArchiveItem item;
    memset(&item, 0xCC, sizeof item);
    EXPECT_EQ(AR_ARGS, ArchiveGetItem(nullptr, -1, &item));
    EXPECT_EQ(0, item.index);
    EXPECT_STREQ(L"", item.name);
    EXPECT_EQ(AR_ARGS, ArchiveGetItem(nullptr, 0, &item));
    EXPECT_EQ(AR_ARGS, ArchiveExtractItem(nullptr, 0, L"x"));
    EXPECT_EQ(AR_ARGS, ArchiveClose(nullptr));
}

// ---- names ----------------------------------------------------------------------------------

TEST_F(ArchiveTest, CleansNames) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"C:\\dir\\..\\x/y.txt", L"x/y.txt"},
        {"/abs/name.txt", L"abs/name.txt"},
        {"a/b/../c.txt", L"c.txt"},
        {"a\\b", L"a\\b"},
        {"\\\\server\\share\\f", L"server\\share\\f"},
        {"C:D:/e", L"e"},
        {"a/..\\b/../c", L"c"},
        {"../x", L"../x"}, // left as it is; extraction refuses it
        {"\xE6\x95\xB0\xE6\x8D\xAE/\xE8\xAF\xB4\xE6\x98\x8E.txt", L"\x6570\x636E/\x8BF4\x660E.txt"},
        {"\xF0\x9F\x98\x80.txt", L"\xD83D\xDE00.txt"},
        {"bad\xFF\xC3(.txt", L"bad\xFFFD\xFFFD(.txt"},
        {"over\xC0\xAF.txt", L"over\xFFFD\xFFFD.txt"},
        {"sur\xED\xA0\x80.txt", L"sur\xFFFD\xFFFD\xFFFD.txt"},
        {"cut\xE6\x95", L"cut\xFFFD"},
    };
    std::vector<ZipEntry> entries;
    for (const auto& c : cases)
        entries.push_back(File(c.first, "x"));
    ASSERT_NE(nullptr, Open(entries));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].second, std::wstring(Get(static_cast<int>(i)).name)) << cases[i].first;
}

TEST_F(ArchiveTest, NamesOfMoreThan259BytesAreRefusedNotCut) {
    std::string longest(259, 'n');
    std::string tooLong(260, 'n');
    std::string wide; // 130 two-byte characters: 260 bytes
    for (int i = 0; i < 130; ++i)
        wide += "\xC3\xA9";
    ASSERT_NE(nullptr, Open({File(longest, "a"), File(tooLong, "b"), File(wide, "c")}));
    EXPECT_EQ(259u, wcslen(Get(0).name));
    for (int i : {1, 2}) {
        ArchiveItem item = Get(i, AR_ARGS);
        EXPECT_STREQ(L"", item.name);
        EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, i, L"x.txt"));
    }
    EXPECT_FALSE(Exists(Out(L"x.txt")));
}

TEST_F(ArchiveTest, RefusesNamesThatLeaveTheBaseFolder) {
    // Names that still leave the folder after cleaning, and target names given by callers.
    const char* names[] = {
        "../evil.txt", "..\\evil.txt", "x/../../evil.txt", "C:../evil.txt", "sub/..",
        "sub\\..",     "..",           "... /evil.txt",    "sub/.. "};
    std::vector<ZipEntry> entries;
    for (const char* n : names)
        entries.push_back(File(n, "evil"));
    ZipEntry dir = File("../evildir/", "");
    dir.external = 0x10;
    entries.push_back(dir);
    ASSERT_NE(nullptr, Open(entries));
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        ArchiveItem item = Get(i);
        EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, i, item.name)) << names[0] << i;
    }
    EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, 0, L"ok/../../evil.txt"));
    EXPECT_EQ(AR_ARGS, ArchiveExtractItem(m_handle, 0, L"..\\evil.txt"));
    EXPECT_FALSE(Exists(m_root + L"\\evil.txt"));
    EXPECT_FALSE(Exists(m_root + L"\\evildir"));
    EXPECT_FALSE(Exists(Out(L"sub")));
    // Dots inside names are fine.
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"a..b/..c/d.."));
    EXPECT_EQ("evil", ReadBytes(Out(L"a..b\\..c\\d..")));
}

TEST_F(ArchiveTest, RefusesDeviceNames) {
    // Opened in any folder, these reach a device: the data would vanish (or go to a port)
    // while the extraction reported success.
    const char* names[] = {"NUL",     "sub/nul.txt", "COM1",   "lpt1.txt",   "AUX",       "con",
                           "CONOUT$", "prn.x.y",     "nul /x", "a/Com9.dat", "aux:stream"};
    std::vector<ZipEntry> entries;
    for (const char* n : names)
        entries.push_back(File(n, "data"));
    entries.push_back(File("console.txt", "ok")); // only the whole stem counts
    entries.push_back(File("com10", "ok"));
    entries.push_back(File("nul_/a.txt", "ok"));
    ASSERT_NE(nullptr, Open(entries));
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        ArchiveItem item = Get(i);
        EXPECT_EQ(i < 11 ? AR_ARGS : AR_OK, ArchiveExtractItem(m_handle, i, item.name))
            << entries[i].name;
    }
    EXPECT_FALSE(Exists(Out(L"sub")));
    EXPECT_EQ("ok", ReadBytes(Out(L"console.txt")));
    EXPECT_EQ("ok", ReadBytes(Out(L"nul_\\a.txt")));
}

TEST_F(ArchiveTest, AbsoluteTargetNamesAreTakenAsGiven) {
    ASSERT_NE(nullptr, Open({File("a.txt", "alpha")}));
    std::wstring target = m_root + L"\\abs\\a.txt";
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, target.c_str()));
    EXPECT_EQ("alpha", ReadBytes(target));
}

TEST_F(ArchiveTest, RefusesOutputPathsOver259Units) {
    std::string folder(200, 'f');
    ASSERT_NE(nullptr, Open({File(folder + "/" + std::string(58, 'n'), "x")}));
    std::wstring name = Get(0).name;
    EXPECT_GE(m_out.size() + name.size(), static_cast<size_t>(MAX_PATH));
    EXPECT_EQ(AR_NOFILE, ArchiveExtractItem(m_handle, 0, name.c_str()));
    EXPECT_EQ(AR_NOFILE, ArchiveExtractItem(m_handle, 0, (name + L"/").c_str()));

    ZipEntry dir = File(folder + "/" + std::string(57, 'd') + "/", "");
    dir.external = 0x10;
    ASSERT_NE(nullptr, Open({dir}));
    EXPECT_EQ(AR_NOFILE, ArchiveExtractItem(m_handle, 0, Get(0).name));
    EXPECT_FALSE(Exists(Out(Widen(folder))));
}

// ---- attributes ----------------------------------------------------------------------------

TEST_F(ArchiveTest, AttributesByHostSystem) {
    struct Case {
        uint16_t madeBy;
        uint32_t external;
        DWORD attributes;
    };
    const Case cases[] = {
        {0x0014, 0x26, 0x26},       {0x0014, 0xC8, 0x00},       {0x0B14, 0x21, 0x21},
        {0x0714, 0x10, 0x10},       {0x0E14, 0x37, 0x37},       {0x0314, 0x41ED0000, 0x30},
        {0x0314, 0x81A40000, 0x20}, {0x0314, 0x81240000, 0x21}, {0x1314, 0x8000003F, 0x21},
    };
    std::vector<ZipEntry> entries;
    for (const Case& c : cases) {
        ZipEntry e = File("f" + std::to_string(entries.size()), "x");
        e.versionMadeBy = c.madeBy;
        e.external = c.external;
        entries.push_back(e);
    }
    ASSERT_NE(nullptr, Open(entries));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].attributes, Get(static_cast<int>(i)).attributes)
            << std::hex << cases[i].madeBy << " " << cases[i].external;
}

TEST_F(ArchiveTest, ExtractedFilesCarryTheirAttributes) {
    ZipEntry hidden = File("hidden.txt", "h");
    hidden.external = 0x26;
    ZipEntry readOnly = File("ro.txt", "r");
    readOnly.versionMadeBy = 0x0314;
    readOnly.external = 0x81240000;
    ASSERT_NE(nullptr, Open({hidden, readOnly}));
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"hidden.txt"));
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 1, L"ro.txt"));
    EXPECT_EQ(0x26u, GetFileAttributesW(Out(L"hidden.txt").c_str()) & 0x37);
    EXPECT_EQ(0x21u, GetFileAttributesW(Out(L"ro.txt").c_str()) & 0x37);
}

TEST_F(ArchiveTest, ReadOnlyFileInTheWayIsNotReplaced) {
    ZipEntry readOnly = File("ro.txt", "r");
    readOnly.external = 0x21;
    ASSERT_NE(nullptr, Open({readOnly}));
    ASSERT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"ro.txt"));
    // The system refuses to open a read-only file for writing (Wine run as root does not).
    HANDLE probe =
        CreateFileW(Out(L"ro.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "read-only files are writable here";
    }
    EXPECT_EQ(AR_NOFILE, ArchiveExtractItem(m_handle, 0, L"ro.txt"));
}

// ---- times ---------------------------------------------------------------------------------

TEST_F(ArchiveTest, DosTimeIsLocalTimeGivenAsUtc) {
    ZipEntry e = File("a.txt", "alpha");
    e.dosDateTime = Dos(2020, 1, 15, 12, 34, 56);
    ASSERT_NE(nullptr, Open({e}));
    ArchiveItem item = Get(0);
    uint64_t expected = LocalWinterTicks(2020, 1, 15, 12, 34, 56);
    EXPECT_EQ(expected, Ticks(item.writeTime));
    EXPECT_EQ(expected, Ticks(item.accessTime));
    EXPECT_EQ(expected, Ticks(item.createTime));
}

TEST_F(ArchiveTest, InvalidDosDatesGiveZeroTimes) {
    const uint32_t bad[] = {
        Dos(2020, 1, 15, 12, 0, 0) & ~(0xFu << 21),                 // month 0
        (Dos(2020, 1, 15, 12, 0, 0) & ~(0xFu << 21)) | (13u << 21), // month 13
        Dos(2021, 2, 29, 12, 0, 0),                                 // no 29 February in 2021
        Dos(2020, 1, 0, 12, 0, 0),                                  // day 0
        Dos(2020, 1, 15, 25, 0, 0),                                 // hour 25
        Dos(2020, 1, 15, 12, 61, 0),                                // minute 61
        Dos(2020, 1, 15, 12, 0, 0) | 31,                            // second 62
    };
    std::vector<ZipEntry> entries;
    for (uint32_t d : bad) {
        ZipEntry e = File("f" + std::to_string(entries.size()), "x");
        e.dosDateTime = d;
        entries.push_back(e);
    }
    ZipEntry leap = File("leap", "x");
    leap.dosDateTime = Dos(2020, 2, 29, 12, 0, 0);
    entries.push_back(leap);
    ASSERT_NE(nullptr, Open(entries));
    for (int i = 0; i < static_cast<int>(std::size(bad)); ++i) {
        ArchiveItem item = Get(i);
        EXPECT_EQ(0u, Ticks(item.writeTime) | Ticks(item.accessTime) | Ticks(item.createTime)) << i;
        EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, i, item.name));
    }
    EXPECT_NE(0u, Ticks(Get(static_cast<int>(std::size(bad))).writeTime));
}

TEST_F(ArchiveTest, ExtendedTimestampBlocks) {
    struct Case {
        const char* what;
        std::string extra;
        int64_t write, access, create; // -1: the DOS time stays
    };
    std::string block300 = "zz";
    Put16(block300, 300);
    block300 += std::string(300, '\x55');
    std::string emptyBlock = "zz";
    Put16(emptyBlock, 0);
    const int64_t t1 = 1600000000, t2 = 1500000000, t3 = -100;
    const Case cases[] = {
        {"flags 1, time 0", UtBlock(1, {0}), 0, -1, -1},
        {"behind a 300-byte block", block300 + UtBlock(1, {t1}), t1, -1, -1},
        {"all three",
         emptyBlock + UtBlock(7, {static_cast<int32_t>(t1), static_cast<int32_t>(t2),
                                  static_cast<int32_t>(t3)}),
         t1, t2, t3},
        {"access and creation only",
         UtBlock(6, {static_cast<int32_t>(t2), static_cast<int32_t>(t3)}), -1, t2, t3},
        {"only the first UT block counts", UtBlock(1, {1}) + UtBlock(1, {2}), 1, -1, -1},
        {"values past the block's size", UtBlock(3, {static_cast<int32_t>(t1), 5}, 5), t1, -1, -1},
        {"values past the field's end", UtBlock(3, {static_cast<int32_t>(t1), 5}).substr(0, 11), t1,
         -1, -1},
        {"flags byte missing", UtBlock(1, {1}, 0).substr(0, 4), -1, -1, -1},
        {"block size past the field", "zz\xFF\xFF" + UtBlock(1, {1}), -1, -1, -1},
        {"no UT block", block300, -1, -1, -1},
    };
    std::vector<ZipEntry> entries;
    for (const Case& c : cases) {
        ZipEntry e = File("f" + std::to_string(entries.size()), "x");
        e.localExtra = c.extra;
        entries.push_back(e);
    }
    ASSERT_NE(nullptr, Open(entries));
    uint64_t dos = LocalWinterTicks(2020, 1, 15, 12, 34, 56);
    auto expect = [&](int64_t t) { return t < 0 && t != t3 ? dos : UnixTicks(t); };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        ArchiveItem item = Get(static_cast<int>(i));
        EXPECT_EQ(expect(c.write), Ticks(item.writeTime)) << c.what;
        EXPECT_EQ(expect(c.access), Ticks(item.accessTime)) << c.what;
        EXPECT_EQ(expect(c.create), Ticks(item.createTime)) << c.what;
    }
    EXPECT_EQ(116444736000000000ULL, Ticks(Get(0).writeTime));
}

TEST_F(ArchiveTest, ExtractionSetsTheRecordsTimes) {
    ZipEntry e = File("a.txt", "alpha");
    e.localExtra = UtBlock(7, {1600000000, 1500000000, 1400000000});
    ZipEntry empty = File("empty.txt", "");
    ASSERT_NE(nullptr, Open({e, empty}));
    for (int i = 0; i < 2; ++i) {
        ArchiveItem item = Get(i);
        ASSERT_EQ(AR_OK, ArchiveExtractItem(m_handle, i, item.name));
        HANDLE h = CreateFileW(Out(item.name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        FILETIME c, a, w;
        GetFileTime(h, &c, &a, &w);
        LARGE_INTEGER size;
        GetFileSizeEx(h, &size);
        CloseHandle(h);
        // Wine keeps no creation time of its own (it reports the change time), so that one
        // cannot be read back here.
        (void)c;
        EXPECT_EQ(Ticks(item.accessTime), Ticks(a)) << i;
        EXPECT_EQ(Ticks(item.writeTime), Ticks(w)) << i;
        EXPECT_EQ(item.size, size.QuadPart);
    }
    EXPECT_EQ(UnixTicks(1600000000), Ticks(Get(0).writeTime));
}

// ---- local header and central record checks -------------------------------------------------

TEST_F(ArchiveTest, LocalHeaderMustAgreeWithTheCentralRecord) {
    struct Case {
        const char* what;
        ZipEntry entry;
        DWORD result;
    };
    auto with = [](auto change) {
        ZipEntry e = File("f.txt", Pattern(1000), true);
        change(e);
        return e;
    };
    const Case cases[] = {
        {"agrees", with([](ZipEntry&) {}), AR_OK},
        {"method differs", with([](ZipEntry& e) { e.localMethod = 0; }), AR_CORRUPT},
        {"CRC differs", with([](ZipEntry& e) { e.localCrc = 1; }), AR_CORRUPT},
        {"compressed size differs", with([](ZipEntry& e) { e.localCompressed = 3; }), AR_CORRUPT},
        {"size differs", with([](ZipEntry& e) { e.localSize = 3; }), AR_CORRUPT},
        {"CRC and sizes differ under bit 3", with([](ZipEntry& e) { e.flags = 8; }), AR_OK},
        {"name length differs", with([](ZipEntry& e) { e.localNameLength = 4; }), AR_CORRUPT},
        {"no local signature", with([](ZipEntry& e) { e.localSignature = 0x04034b51; }),
         AR_CORRUPT},
        {"method 12 on both", with([](ZipEntry& e) { e.localMethod = e.centralMethod = 12; }),
         AR_CORRUPT},
        {"method 1 on both", with([](ZipEntry& e) { e.localMethod = e.centralMethod = 1; }),
         AR_CORRUPT},
    };
    for (const Case& c : cases) {
        ASSERT_NE(nullptr, Open({c.entry})) << c.what;
        ArchiveItem item = Get(0, c.result);
        if (c.result != AR_OK) {
            EXPECT_STREQ(L"", item.name) << c.what;
            EXPECT_EQ(0u, item.size) << c.what;
        }
        EXPECT_EQ(c.result, ArchiveExtractItem(m_handle, 0, L"f.txt")) << c.what;
        EXPECT_EQ(c.result == AR_OK, Exists(Out(L"f.txt"))) << c.what;
        if (c.result == AR_OK) {
            EXPECT_TRUE(SameBytes(c.entry.content, ReadBytes(Out(L"f.txt"))));
        }
        DeleteFileW(Out(L"f.txt").c_str());
    }
}

TEST_F(ArchiveTest, UnreadableLocalExtraFieldIsAReadFailure) {
    // The archive is laid out central directory, end record, local header; the local header
    // ends the file and claims a 16-byte extra field that is not there.
    std::string bytes = BuildZip({File("f.txt", "")});
    const size_t localSize = 30 + 5, centralSize = 46 + 5;
    std::string local = bytes.substr(0, localSize);
    std::string central = bytes.substr(localSize, centralSize);
    std::string end = bytes.substr(localSize + centralSize);
    local[28] = 16;
    uint32_t localAt = static_cast<uint32_t>(centralSize + end.size() + 2);
    central[42] = static_cast<char>(localAt & 0xFF);
    central[43] = static_cast<char>(localAt >> 8);
    end[16] = end[17] = end[18] = end[19] = 0; // central directory at 0
    end[20] = 2;                               // a 2-byte comment
    ASSERT_NE(nullptr, Open(central + end + "cc" + local));
    Get(0, AR_READ);
    EXPECT_EQ(AR_READ, ArchiveExtractItem(m_handle, 0, L"f.txt"));
    EXPECT_FALSE(Exists(Out(L"f.txt")));
}

TEST_F(ArchiveTest, UnreadableCentralRecordEndsStepping) {
    ZipEntry broken = File("b.txt", "beta");
    broken.centralSignature = 0x12345678;
    ASSERT_NE(nullptr, Open({File("a.txt", "alpha"), broken, File("c.txt", "gamma")}));
    EXPECT_EQ(3, Get(-1).index);
    EXPECT_STREQ(L"a.txt", Get(0).name);
    Get(1, AR_CORRUPT);
    Get(2, AR_CORRUPT);
    EXPECT_EQ(AR_CORRUPT, ArchiveExtractItem(m_handle, 2, L"c.txt"));
    EXPECT_FALSE(Exists(Out(L"c.txt")));
    // The entries before it stay readable.
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"a.txt"));
    EXPECT_EQ("alpha", ReadBytes(Out(L"a.txt")));

    ZipEntry first = File("a.txt", "alpha");
    first.centralSignature = 0;
    ASSERT_NE(nullptr, Open({first}));
    Get(0, AR_CORRUPT);
    EXPECT_EQ(AR_CORRUPT, ArchiveExtractItem(m_handle, 0, L"a.txt"));
}

TEST_F(ArchiveTest, StepsForwardAndBackThroughTheDirectory) {
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 20; ++i)
        entries.push_back(File("f" + std::to_string(i) + ".txt", "content " + std::to_string(i)));
    ASSERT_NE(nullptr, Open(entries));
    for (int i : {5, 6, 19, 0, 7, 7, 3}) {
        ArchiveItem item = Get(i);
        EXPECT_EQ(i, item.index);
        EXPECT_EQ(Widen("f" + std::to_string(i) + ".txt"), item.name);
    }
    // Extraction follows its index, whatever was asked for last.
    Get(3);
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 12, L"x.txt"));
    EXPECT_EQ("content 12", ReadBytes(Out(L"x.txt")));
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 3, L"y.txt"));
    EXPECT_EQ("content 3", ReadBytes(Out(L"y.txt")));
}

// ---- extraction ----------------------------------------------------------------------------

TEST_F(ArchiveTest, ExtractsIntoFoldersItCreates) {
    ZipEntry dir = File("UpdateZip/", "");
    dir.external = 0x10;
    std::string big = Pattern(200000);
    ASSERT_NE(nullptr,
              Open({dir, File("Skin/Button/x.bmp", "bmp"), File("Sys\\Config.ini", "[VERSION]"),
                    File("big.bin", big, true), File("stored.bin", big)}));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, i, Get(i).name)) << i;
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesW(Out(L"UpdateZip").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ("bmp", ReadBytes(Out(L"Skin\\Button\\x.bmp")));
    EXPECT_EQ("[VERSION]", ReadBytes(Out(L"Sys\\Config.ini")));
    EXPECT_TRUE(SameBytes(big, ReadBytes(Out(L"big.bin"))));
    EXPECT_TRUE(SameBytes(big, ReadBytes(Out(L"stored.bin"))));
}

TEST_F(ArchiveTest, BaseFolderIsFixedAtOpen) {
    ASSERT_NE(nullptr, Open({File("a.txt", "alpha")}));
    SetCurrentDirectoryW(m_root.c_str());
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"a.txt"));
    EXPECT_EQ("alpha", ReadBytes(Out(L"a.txt")));
    EXPECT_FALSE(Exists(m_root + L"\\a.txt"));
}

TEST_F(ArchiveTest, CreatesAMissingBaseFolder) {
    ASSERT_TRUE(SetCurrentDirectoryW(m_root.c_str()));
    ASSERT_NE(nullptr, Open({File("s/a.txt", "alpha")}));
    SetCurrentDirectoryW(m_out.c_str());
    ASSERT_TRUE(RemoveDirectoryW(m_out.c_str()) || true);
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"s/a.txt"));
    EXPECT_EQ("alpha", ReadBytes(m_root + L"\\s\\a.txt"));
}

TEST_F(ArchiveTest, ReplacesAnExistingFile) {
    WriteBytes(Out(L"a.txt"), std::string(5000, 'o'));
    ASSERT_NE(nullptr, Open({File("a.txt", "alpha")}));
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 0, L"a.txt"));
    EXPECT_EQ("alpha", ReadBytes(Out(L"a.txt")));
}

TEST_F(ArchiveTest, DamagedDataIsAFailureAndKeepsWhatWasWritten) {
    std::string content = Pattern(100000);
    ZipEntry crc = File("crc.bin", content, true);
    crc.centralCrc = crc.localCrc = Crc32(content) ^ 1;
    ZipEntry storedCrc = File("storedcrc.bin", content);
    storedCrc.centralCrc = storedCrc.localCrc = Crc32(content) ^ 1;
    ZipEntry truncated = File("short.bin", content, true);
    truncated.truncateData = true;
    ZipEntry shortStored = File("shortstored.bin", content);
    shortStored.truncateData = true;
    ZipEntry garbage = File("garbage.bin", content, true);
    ASSERT_NE(nullptr, Open({crc, storedCrc, truncated, shortStored}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(AR_INFLATE, ArchiveExtractItem(m_handle, i, Get(i).name)) << i;
    // A CRC mismatch: every byte is written, but the times are not set.
    EXPECT_TRUE(SameBytes(content, ReadBytes(Out(L"crc.bin"))));
    EXPECT_TRUE(SameBytes(content, ReadBytes(Out(L"storedcrc.bin"))));
    EXPECT_TRUE(SameBytes(content.substr(0, 50000), ReadBytes(Out(L"shortstored.bin"))));
    std::string part = ReadBytes(Out(L"short.bin"));
    EXPECT_LT(part.size(), content.size());
    EXPECT_TRUE(SameBytes(content.substr(0, part.size()), part));
    HANDLE h = CreateFileW(Out(L"crc.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    FILETIME w;
    GetFileTime(h, nullptr, nullptr, &w);
    CloseHandle(h);
    EXPECT_NE(Ticks(Get(0).writeTime), Ticks(w));

    // Data that does not inflate.
    std::string bytes = BuildZip({garbage});
    for (size_t i = 40; i < 200; ++i)
        bytes[i] = static_cast<char>(0xFF);
    ASSERT_NE(nullptr, Open(bytes));
    EXPECT_EQ(AR_INFLATE, ArchiveExtractItem(m_handle, 0, L"garbage.bin"));
    // The next extraction starts afresh.
    ASSERT_NE(nullptr, Open({crc, File("ok.txt", "fine", true)}));
    EXPECT_EQ(AR_INFLATE, ArchiveExtractItem(m_handle, 0, L"crc.bin"));
    EXPECT_EQ(AR_OK, ArchiveExtractItem(m_handle, 1, L"ok.txt"));
    EXPECT_EQ("fine", ReadBytes(Out(L"ok.txt")));
}

TEST_F(ArchiveTest, EncryptedItemsUseTheEmptyPassword) {
    struct Case {
        const char* what;
        bool deflate;
        uint16_t flags;
        bool badCheckByte;
        DWORD result;
    };
    const Case cases[] = {
        {"stored, CRC check byte", false, 0, false, AR_OK},
        {"deflated, CRC check byte", true, 0, false, AR_OK},
        {"deflated, time check byte under bit 3", true, 8, false, AR_OK},
        {"stored, wrong check byte", false, 0, true, AR_PASSWORD},
        {"deflated, wrong check byte under bit 3", true, 8, true, AR_PASSWORD},
    };
    std::string content = Pattern(40000);
    std::vector<ZipEntry> entries;
    for (const Case& c : cases) {
        ZipEntry e = File("e" + std::to_string(entries.size()), content, c.deflate);
        e.encrypt = true;
        e.flags = c.flags;
        e.badCheckByte = c.badCheckByte;
        entries.push_back(e);
    }
    ASSERT_NE(nullptr, Open(entries));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        ArchiveItem item = Get(static_cast<int>(i));
        EXPECT_EQ(c.result, ArchiveExtractItem(m_handle, static_cast<int>(i), item.name)) << c.what;
        EXPECT_TRUE(
            SameBytes(c.result == AR_OK ? content : std::string(), ReadBytes(Out(item.name))))
            << c.what;
    }
}

// ---- the callers' loop ---------------------------------------------------------------------

TEST_F(ArchiveTest, ExtractAllGoesOnPastFailuresAndReportsTheFirst) {
    ZipEntry bad = File("bad.txt", "x");
    bad.localCrc = 7;
    WriteBytes(m_zip, BuildZip({File("a.txt", "alpha"), bad, File("../evil.txt", "e"),
                                File("d/b.txt", "beta")}));
    std::vector<std::pair<int, int>> calls;
    EXPECT_EQ(AR_CORRUPT, ArchiveExtractAll(m_zip.c_str(), [&](int d, int n) {
                  calls.push_back({d, n});
              }));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}), calls);
    EXPECT_EQ("alpha", ReadBytes(Out(L"a.txt")));
    EXPECT_EQ("beta", ReadBytes(Out(L"d\\b.txt")));
    EXPECT_FALSE(Exists(m_root + L"\\evil.txt"));

    EXPECT_EQ(AR_NOFILE, ArchiveExtractAll((m_root + L"\\none.zip").c_str()));
    WriteBytes(m_zip, BuildZip({File("a.txt", "alpha")}));
    EXPECT_EQ(AR_OK, ArchiveExtractAll(m_zip.c_str()));
}

// ---- archives made by a standard ZIP tool --------------------------------------------------

class ZipToolArchiveTest : public ArchiveTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ZipToolArchiveTest, ExtractsEveryItem) {
    const std::wstring data = ZIPDATA_DIR;
    const std::wstring zip = data + L"/" + Widen(GetParam());
    const std::wstring tree = data + L"/tree/";
    std::vector<std::pair<int, int>> calls;
    ASSERT_EQ(AR_OK, ArchiveExtractAll(zip.c_str(), [&](int d, int n) {
                  calls.push_back({d, n});
              }));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().first, calls.back().second);

    const wchar_t* files[] = {L"readme.txt",        L"Sys/numbers.txt",
                              L"random.bin",        L"empty.dat",
                              L"Skin/Button/x.bmp", L"\x6570\x636E/\x8BF4\x660E.txt",
                              L"readonly.txt"};
    for (const wchar_t* f : files)
        EXPECT_TRUE(SameBytes(ReadBytes(tree + f), ReadBytes(Out(f)))) << GetParam();
    EXPECT_NE(0u, GetFileAttributesW(Out(L"UpdateZip").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(0x21u, GetFileAttributesW(Out(L"readonly.txt").c_str()) & 0x37);

    // The files' times: the "UT" value, or the DOS time made from the same local time.
    ArchiveHandle h = ArchiveOpen(zip.c_str());
    ASSERT_NE(nullptr, h);
    ArchiveItem item;
    ArchiveGetItem(h, -1, &item);
    int count = item.index;
    int seen = 0;
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(AR_OK, ArchiveGetItem(h, i, &item));
        if (std::wstring(item.name) == L"readme.txt") {
            ++seen;
            EXPECT_EQ(UnixTicks(1600000000), Ticks(item.writeTime)) << GetParam();
            EXPECT_EQ(6u, item.size);
        }
    }
    EXPECT_EQ(1, seen);
    ArchiveClose(h);
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipToolArchiveTest,
                         ::testing::Values("plain.zip", "noextra.zip", "stored.zip",
                                           "prefixed.zip"));

} // namespace
