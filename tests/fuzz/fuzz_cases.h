// Fixed hostile archives run before every fuzz run: hand-made cases for each kind of attack,
// and every case the fuzzer once failed on, rebuilt byte by byte.
#pragma once

#include "archive.h"
#include "zip_builder.h"
#include "zip_mutator.h"

#include <string>
#include <vector>

const DWORD FUZZ_ANY = 0xFFFFFFFF; // any result code will do, as long as nothing else fails

struct FuzzFixture {
    const char* name;
    std::string (*build)();
    DWORD expectAll; // result of ArchiveExtractAll
};

inline ZipEntry FuzzFile(const std::string& name, const std::string& content = "data",
                         bool deflate = false) {
    ZipEntry e;
    e.name = name;
    e.content = content;
    e.deflate = deflate;
    return e;
}

inline std::string FuzzOne(const std::string& name) {
    return BuildZip({FuzzFile(name)});
}

// The archive with one field of the first item's central record (at off) set to v.
inline std::string FuzzCentral16(size_t off, uint32_t v) {
    std::string s = BuildZip({FuzzFile("a.txt", std::string(100, 'a'), true)});
    ZipMap m = MapZip(s);
    Set16(s, m.central[0] + off, v);
    return s;
}

inline const std::vector<FuzzFixture>& FuzzFixtures() {
    static const std::vector<FuzzFixture> table = {
        {"parent traversal", [] { return FuzzOne("../evil.txt"); }, AR_ARGS},
        {"inner parent drops what is in front of it", [] { return FuzzOne("..\\..\\evil.txt"); },
         AR_OK},
        {"traversal left after cleaning, backslashes",
         [] { return FuzzOne("a\\..\\..\\evil.txt"); }, AR_ARGS},
        {"device CON", [] { return FuzzOne("CON"); }, AR_ARGS},
        {"device NUL with extension (found: reported success, wrote nothing)",
         [] { return FuzzOne("sub/nul.txt"); }, AR_ARGS},
        {"device COM1 (found: reported success, data sent to the port)",
         [] { return FuzzOne("COM1"); }, AR_ARGS},
        {"device LPT1", [] { return FuzzOne("lpt1.txt"); }, AR_ARGS},
        {"device AUX (found: reported success, wrote nothing)", [] { return FuzzOne("AUX"); },
         AR_ARGS},
        {"device CONOUT$", [] { return FuzzOne("CONOUT$"); }, AR_ARGS},
        {"traversal left after cleaning", [] { return FuzzOne("a/../../evil.txt"); }, AR_ARGS},
        {"dots and spaces as parent", [] { return FuzzOne(".. /evil.txt"); }, AR_ARGS},
        {"three dots as parent", [] { return FuzzOne("... /evil.txt"); }, AR_ARGS},
        {"trailing parent on a folder",
         [] {
             ZipEntry e = FuzzFile("a/..", "");
             e.external = 0x10;
             return BuildZip({e});
         },
         AR_ARGS},
        {"absolute name, slash", [] { return FuzzOne("/abs_evil.txt"); }, AR_OK},
        {"absolute name, drive", [] { return FuzzOne("C:\\abs_evil.txt"); }, AR_OK},
        {"drive-relative name", [] { return FuzzOne("C:evil.txt"); }, AR_OK},
        {"Unix drive name", [] { return FuzzOne("Z:/tmp/abs_evil.txt"); }, AR_OK},
        {"device-path prefix", [] { return FuzzOne("\\\\?\\Z:\\abs_evil.txt"); }, FUZZ_ANY},
        {"UNC name", [] { return FuzzOne("\\\\server\\share\\evil.txt"); }, AR_OK},
        {"overlong UTF-8 dots", [] { return FuzzOne("\xc0\xae\xc0\xae/evil.txt"); }, AR_OK},
        {"name of 260 bytes", [] { return FuzzOne(std::string(260, 'n')); }, AR_ARGS},
        {"name of 259 bytes (path too long)", [] { return FuzzOne(std::string(259, 'n')); },
         AR_NOFILE},
        {"central name length 0xFFFF", [] { return FuzzCentral16(28, 0xFFFF); }, FUZZ_ANY},
        {"central extra length past the directory", [] { return FuzzCentral16(30, 0xFFFF); },
         FUZZ_ANY},
        {"end record claims disk 1",
         [] {
             ZipLayout l;
             l.disk = 1;
             l.centralDisk = 1;
             return BuildZip({FuzzFile("a.txt")}, l);
         },
         AR_NOFILE},
        {"end record: more items than on this disk",
         [] {
             ZipLayout l;
             l.entriesTotal = 2;
             return BuildZip({FuzzFile("a.txt")}, l);
         },
         AR_NOFILE},
        {"65535 items claimed, one present",
         [] {
             ZipLayout l;
             l.entriesTotal = 0xFFFF;
             l.entriesThisDisk = 0xFFFF;
             return BuildZip({FuzzFile("a.txt")}, l);
         },
         FUZZ_ANY},
        {"local extra length 0xFFFF",
         [] {
             std::string s = BuildZip({FuzzFile("a.txt")});
             Set16(s, MapZip(s).local[0] + 28, 0xFFFF);
             return s;
         },
         FUZZ_ANY},
        {"UT block running past its field",
         [] {
             ZipEntry e = FuzzFile("a.txt");
             e.localExtra = UtBlock(7, {1, 2}, 13); // claims three times, holds two
             return BuildZip({e});
         },
         AR_OK},
        {"extra block larger than the field",
         [] {
             ZipEntry e = FuzzFile("a.txt");
             e.localExtra = "XX";
             Put16(e.localExtra, 0xFFFF);
             e.localExtra += "abcd";
             return BuildZip({e});
         },
         AR_OK},
        {"encrypted flag on plain data",
         [] {
             std::string s = BuildZip({FuzzFile("a.txt", std::string(50, 'z'), true)});
             ZipMap m = MapZip(s);
             Set16(s, m.central[0] + 8, 1);
             Set16(s, m.local[0] + 6, 1);
             return s;
         },
         FUZZ_ANY},
        {"bogus method 99 in both headers",
         [] {
             std::string s = BuildZip({FuzzFile("a.txt")});
             ZipMap m = MapZip(s);
             Set16(s, m.central[0] + 10, 99);
             Set16(s, m.local[0] + 8, 99);
             return s;
         },
         AR_CORRUPT},
        {"stored size 4 GB, data 4 bytes",
         [] {
             std::string s = BuildZip({FuzzFile("a.txt")});
             ZipMap m = MapZip(s);
             Set32(s, m.central[0] + 24, 0xFFFFFFFF);
             Set32(s, m.local[0] + 22, 0xFFFFFFFF);
             return s;
         },
         AR_INFLATE},
        {"directory offset and size swapped",
         [] {
             std::string s = BuildZip({FuzzFile("a.txt"), FuzzFile("b.txt")});
             ZipMap m = MapZip(s);
             uint32_t a = Get32(s, m.eocd + 12), b = Get32(s, m.eocd + 16);
             Set32(s, m.eocd + 12, b);
             Set32(s, m.eocd + 16, a);
             return s;
         },
         FUZZ_ANY},
        {"local header offset points at the directory",
         [] {
             std::string s = BuildZip({FuzzFile("a.txt")});
             ZipMap m = MapZip(s);
             Set32(s, m.central[0] + 42, Get32(s, m.eocd + 16));
             return s;
         },
         AR_CORRUPT},
        {"truncated inside the deflated data",
         [] {
             ZipEntry e = FuzzFile("a.txt", std::string(5000, 'q'), true);
             e.truncateData = true;
             return BuildZip({e});
         },
         AR_INFLATE},
    };
    return table;
}
