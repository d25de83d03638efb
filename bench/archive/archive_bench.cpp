// Extraction speed of the archive reader against its limit: raw inflate of the same data with
// zlib plus writing the files out. Generates the archive, extracts it both ways (best of a few
// rounds, alternating), prints MB/s of both and their ratio.
//   archive_bench <work folder> [rounds]
#include "archive.h"
#include "file_tree.h"

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const unsigned SMALL_FILES = 3000;
const unsigned LARGE_FILES = 4;
const uint32_t LARGE_SIZE = 50u << 20;
const DWORD PIECE = 16384;

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void Fail(const char* what) {
    fprintf(stderr, "archive_bench: %s (error %lu)\n", what, GetLastError());
    ExitProcess(2);
}

class COut {
  public:
    explicit COut(const std::wstring& path) {
        m_h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_h == INVALID_HANDLE_VALUE)
            Fail("cannot create output");
    }
    ~COut() { CloseHandle(m_h); }
    void Write(const void* p, DWORD n) {
        DWORD w = 0;
        if (n && (!WriteFile(m_h, p, n, &w, nullptr) || w != n))
            Fail("write failed");
    }
    HANDLE Get() const { return m_h; }

  private:
    HANDLE m_h;
};

void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
uint32_t Get16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
uint32_t Get32(const unsigned char* p) {
    return Get16(p) | (Get16(p + 2) << 16);
}

// Text-like content: words from a small vocabulary with numbers, compressing about 3:1.
void FillContent(std::string& s, size_t n, uint32_t seed) {
    static const char* const words[] = {"lobby",  "skin",   "button", "config", "version",
                                        "update", "player", "table",  "round",  "score",
                                        "window", "sound",  "image",  "frame",  "level"};
    s.clear();
    s.reserve(n + 32);
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < n) {
        x = x * 1664525u + 1013904223u;
        s += words[(x >> 8) % 15];
        s += static_cast<char>(' ' + ((x >> 4) & 1));
        if ((x & 0x70) == 0) {
            char num[16];
            snprintf(num, sizeof num, "%u\n", x >> 12);
            s += num;
        }
    }
    s.resize(n);
}

struct Entry {
    std::string name;
    uint32_t size;
};

// Writes the archive: stored directory entries and deflated files.
uint64_t MakeArchive(const std::wstring& path, std::vector<Entry>* entries) {
    COut out(path);
    std::string central, content, packed, header;
    uint32_t offset = 0;
    uint64_t total = 0;
    uint32_t count = 0;
    auto add = [&](const std::string& name, const std::string& data, bool dir) {
        packed.clear();
        if (!dir) {
            z_stream z = {};
            deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            packed.resize(deflateBound(&z, static_cast<uLong>(data.size())));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
            z.avail_in = static_cast<uInt>(data.size());
            z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
            z.avail_out = static_cast<uInt>(packed.size());
            deflate(&z, Z_FINISH);
            packed.resize(z.total_out);
            deflateEnd(&z);
        }
        uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        uint32_t dos = (44u << 25) | (3u << 21) | (1u << 16);
        uint32_t method = dir ? 0 : 8;
        header.clear();
        Put32(header, 0x04034b50);
        Put16(header, 20);
        Put16(header, 0);
        Put16(header, method);
        Put32(header, dos);
        Put32(header, crc);
        Put32(header, static_cast<uint32_t>(packed.size()));
        Put32(header, static_cast<uint32_t>(data.size()));
        Put16(header, static_cast<uint32_t>(name.size()));
        Put16(header, 0);
        header += name;
        out.Write(header.data(), static_cast<DWORD>(header.size()));
        out.Write(packed.data(), static_cast<DWORD>(packed.size()));
        Put32(central, 0x02014b50);
        Put16(central, 0x0014);
        Put16(central, 20);
        Put16(central, 0);
        Put16(central, method);
        Put32(central, dos);
        Put32(central, crc);
        Put32(central, static_cast<uint32_t>(packed.size()));
        Put32(central, static_cast<uint32_t>(data.size()));
        Put16(central, static_cast<uint32_t>(name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, dir ? 0x10 : 0x20);
        Put32(central, offset);
        central += name;
        offset += static_cast<uint32_t>(header.size() + packed.size());
        total += data.size();
        ++count;
        entries->push_back({name, static_cast<uint32_t>(data.size())});
    };
    std::string none;
    for (unsigned d = 0; d < 30; ++d)
        add("data/d" + std::to_string(d) + "/", none, true);
    uint32_t x = 99;
    for (unsigned i = 0; i < SMALL_FILES; ++i) {
        x = x * 1103515245u + 12345u;
        size_t n = 1024 + (x >> 8) % (64 * 1024);
        FillContent(content, n, i);
        add("data/d" + std::to_string(i % 30) + "/f" + std::to_string(i) + ".txt", content, false);
    }
    for (unsigned i = 0; i < LARGE_FILES; ++i) {
        FillContent(content, LARGE_SIZE, 7000 + i);
        add("big" + std::to_string(i) + ".dat", content, false);
    }
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count);
    Put16(end, count);
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, offset);
    Put16(end, 0);
    out.Write(central.data(), static_cast<DWORD>(central.size()));
    out.Write(end.data(), static_cast<DWORD>(end.size()));
    return total;
}

// The limit: the archive's central directory read directly, each item's compressed bytes read
// and inflated with zlib, and the result written to its file.
void ExtractRaw(const std::wstring& zip, const std::wstring& base) {
    HANDLE in = CreateFileW(zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        Fail("cannot open archive");
    LARGE_INTEGER size;
    GetFileSizeEx(in, &size);
    auto readAt = [&](uint64_t pos, void* buf, DWORD n) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(pos);
        DWORD got = 0;
        if (!SetFilePointerEx(in, to, nullptr, FILE_BEGIN) ||
            !ReadFile(in, buf, n, &got, nullptr) || got != n)
            Fail("read failed");
    };
    unsigned char end[22];
    readAt(static_cast<uint64_t>(size.QuadPart) - 22, end, 22);
    uint32_t count = Get16(end + 10), cdSize = Get32(end + 12), cdOffset = Get32(end + 16);
    std::vector<unsigned char> cd(cdSize);
    readAt(cdOffset, cd.data(), cdSize);
    std::vector<unsigned char> input(65536), output(PIECE);
    CreateDirectoryW(base.c_str(), nullptr);
    std::set<std::wstring> made;
    const unsigned char* p = cd.data();
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t method = Get16(p + 10), packed = Get32(p + 20), nameLen = Get16(p + 28);
        uint32_t skip = nameLen + Get16(p + 30) + Get16(p + 32);
        uint32_t local = Get32(p + 42);
        std::string name(reinterpret_cast<const char*>(p + 46), nameLen);
        p += 46 + skip;
        std::wstring wname(name.begin(), name.end());
        for (size_t s = wname.find(L'/'); s != std::wstring::npos; s = wname.find(L'/', s + 1)) {
            std::wstring folder = base + wname.substr(0, s);
            if (made.insert(folder).second)
                CreateDirectoryW(folder.c_str(), nullptr);
        }
        if (!wname.empty() && wname.back() == L'/')
            continue;
        if (method != 8)
            Fail("the bench archive holds deflated files only");
        unsigned char lh[30];
        readAt(local, lh, 30);
        uint64_t pos = local + 30 + Get16(lh + 26) + Get16(lh + 28);
        COut out(base + wname);
        z_stream z = {};
        inflateInit2(&z, -MAX_WBITS);
        uint32_t left = packed;
        int r = Z_OK;
        while (r != Z_STREAM_END) {
            if (z.avail_in == 0 && left > 0) {
                DWORD n = left < input.size() ? left : static_cast<DWORD>(input.size());
                readAt(pos, input.data(), n);
                pos += n;
                left -= n;
                z.next_in = input.data();
                z.avail_in = n;
            }
            z.next_out = output.data();
            z.avail_out = PIECE;
            r = inflate(&z, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END)
                Fail("inflate failed");
            out.Write(output.data(), PIECE - z.avail_out);
        }
        inflateEnd(&z);
    }
    CloseHandle(in);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: archive_bench <work folder> [rounds]\n");
        return 2;
    }
    std::wstring work = argv[1];
    int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
    CreateDirectoryW(work.c_str(), nullptr);
    std::wstring zip = work + L"\\bench.zip";
    std::vector<Entry> entries;
    double t = Now();
    uint64_t total = MakeArchive(zip, &entries);
    WIN32_FILE_ATTRIBUTE_DATA za;
    GetFileAttributesExW(zip.c_str(), GetFileExInfoStandard, &za);
    printf("archive: %zu items, %.1f MB uncompressed, %.1f MB compressed (made in %.1f s)\n",
           entries.size(), total / 1e6, za.nFileSizeLow / 1e6, Now() - t);

    std::wstring outReader = work + L"\\reader", outLimit = work + L"\\limit";
    double bestReader = 1e30, bestLimit = 1e30;
    // Rounds alternate which side runs first, so the write-back of one run's output falls on
    // both sides alike; each side's best round counts.
    auto runLimit = [&]() {
        RemoveTree(outLimit);
        double start = Now();
        ExtractRaw(zip, outLimit + L"\\");
        return Now() - start;
    };
    auto runReader = [&]() {
        RemoveTree(outReader);
        CreateDirectoryW(outReader.c_str(), nullptr);
        wchar_t saved[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, saved);
        SetCurrentDirectoryW(outReader.c_str());
        double start = Now();
        DWORD r = ArchiveExtractAll(zip.c_str());
        double took = Now() - start;
        SetCurrentDirectoryW(saved);
        if (r != AR_OK) {
            fprintf(stderr, "archive_bench: extraction failed with 0x%08lX\n", r);
            ExitProcess(1);
        }
        return took;
    };
    for (int round = 0; round < rounds; ++round) {
        double reader, limit;
        if (round % 2 == 0) {
            limit = runLimit();
            reader = runReader();
        } else {
            reader = runReader();
            limit = runLimit();
        }
        printf("round %d: reader %.2f s, limit %.2f s\n", round + 1, reader, limit);
        if (reader < bestReader)
            bestReader = reader;
        if (limit < bestLimit)
            bestLimit = limit;
    }
    // Spot check: the reader's output matches the limit's for a large and a small file.
    for (const wchar_t* f : {L"\\big0.dat", L"\\data\\d7\\f7.txt"}) {
        WIN32_FILE_ATTRIBUTE_DATA a, b;
        if (!GetFileAttributesExW((outReader + f).c_str(), GetFileExInfoStandard, &a) ||
            !GetFileAttributesExW((outLimit + f).c_str(), GetFileExInfoStandard, &b) ||
            a.nFileSizeLow != b.nFileSizeLow) {
            fprintf(stderr, "archive_bench: outputs differ\n");
            return 1;
        }
    }
    // For reading the figures: the reader checks every item's CRC-32, the limit does not.
    std::string sample;
    FillContent(sample, LARGE_SIZE, 1);
    t = Now();
    uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(sample.data()), static_cast<uInt>(sample.size()));
    double crcTime = (Now() - t) * static_cast<double>(total) / sample.size();
    double mbReader = total / 1e6 / bestReader, mbLimit = total / 1e6 / bestLimit;
    printf("reader: %.1f MB/s (best of %d: %.2f s)\n", mbReader, rounds, bestReader);
    printf("limit (zlib inflate + write): %.1f MB/s (%.2f s)\n", mbLimit, bestLimit);
    printf("ratio reader/limit: %.3f (goal >= 0.9)\n", mbReader / mbLimit);
    printf("CRC-32 of all output alone: %.2f s (%08lX)\n", crcTime, crc);
    RemoveTree(outReader);
    RemoveTree(outLimit);
    DeleteFileW(zip.c_str());
    RemoveDirectoryW(work.c_str());
    return 0;
}
