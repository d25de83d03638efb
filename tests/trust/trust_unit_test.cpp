// The window-free parts of the trust features: where a signed installer's package is found,
// an archive read through a handle its caller holds, and the update signature checks.
#include "Package.h"
#include "archive.h"
#include "signature.h"
#include "zip_builder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"trust_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

void WriteBytes(const std::wstring& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
        out.append(buf, n);
    CloseHandle(h);
    return out;
}

std::string ReadHostFile(const char* path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string Le32(uint32_t v) {
    std::string s;
    Put32(s, v);
    return s;
}

// A PE32 image's headers, padded to 512 bytes, with the given security directory.
std::string FakeImage(uint32_t certOffset, uint32_t certSize) {
    std::string s(512, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    s.replace(0x3C, 4, Le32(0x80));
    s.replace(0x80, 4, std::string("PE\0\0", 4));
    s.replace(0x80 + 4, 2, "\x4c\x01"); // i386
    size_t optional = 0x80 + 24;
    s.replace(optional, 2, "\x0b\x01"); // PE32
    s.replace(optional + 92, 4, Le32(16));
    s.replace(optional + 96 + 4 * 8, 8, Le32(certOffset) + Le32(certSize));
    return s;
}

// A certificate table: header (length, revision, type), content, zeros to 8 bytes.
std::string CertTable(const std::string& content) {
    std::string body = Le32(0) + std::string("\x00\x02\x02\x00", 4) + content;
    body.resize((body.size() + 7) / 8 * 8, '\0');
    body.replace(0, 4, Le32(static_cast<uint32_t>(body.size())));
    return body;
}

ZipEntry Entry(const std::string& name, const std::string& content, bool deflate = false) {
    ZipEntry e;
    e.name = name;
    e.content = content;
    e.deflate = deflate;
    return e;
}

class CNoProgress : public CCopyProgress {
  public:
    void SetRange(WORD) override {}
    void Step() override {}
};

const std::string kPackage = BuildZip(
    {Entry("readme.txt", "package bytes\r\n"), Entry("bin/app.exe", std::string(300, 'x'))});

// Installer = image (its security directory set by the case) + gap + package + trailer +
// padding + certificate table + extra bytes.
struct TrailerCase {
    const char* what;
    bool withTable;
    size_t padding;         // zeros between trailer and table
    std::string tableBody;  // certificate content
    int64_t trailerValue;   // -1: the package's true length
    int64_t tableSizeDelta; // added to the directory's size
    std::string extra;      // bytes after the table
    CopyResult result;
    bool copiesPackage; // the destination then holds exactly the package
};

std::string BuildInstaller(const TrailerCase& c) {
    std::string tail = kPackage;
    tail += Le32(c.trailerValue < 0 ? static_cast<uint32_t>(kPackage.size())
                                    : static_cast<uint32_t>(c.trailerValue));
    tail += std::string(c.padding, '\0');
    std::string table = c.withTable ? CertTable(c.tableBody) : std::string();
    size_t imageSize = 512;
    size_t tableOffset = imageSize + tail.size();
    std::string image = c.withTable
                            ? FakeImage(static_cast<uint32_t>(tableOffset),
                                        static_cast<uint32_t>(table.size() + c.tableSizeDelta))
                            : FakeImage(0, 0);
    return image + tail + table + c.extra;
}

TEST(InstallerTrailer, FoundAtTheEndOrBeforeTheCertificateTable) {
    std::string pkBytes = std::string("\x10\x00\x00\x00", 4);
    const TrailerCase cases[] = {
        {"unsigned", false, 0, "", -1, 0, "", COPY_OK, true},
        {"signed", true, 0, std::string(200, '\x5a'), -1, 0, "", COPY_OK, true},
        {"signed, table ends in zeros", true, 0, std::string(13, '\x7f'), -1, 0, "", COPY_OK, true},
        {"signed, 7 zeros before the table", true, 7, "cert", -1, 0, "", COPY_OK, true},
        {"signed, 3 zeros before the table", true, 3, "certificate", -1, 0, "", COPY_OK, true},
        // The table's last 4 bytes name 0x10 bytes, which do not begin like a package.
        {"signed, table ends like a small length", true, 0, std::string(4, 'c') + pkBytes, -1, 0,
         "", COPY_OK, true},
        {"unsigned, trailer longer than the file", false, 0, "", 0x7FFFFFF0, 0, "",
         COPY_BAD_TRAILER, false},
        {"signed, trailer before the table longer than the file", true, 0, "cert", 0x7FFFFFF0, 0,
         "", COPY_BAD_TRAILER, false},
        // The directory does not reach the end: the old rule reads the last 4 bytes.
        {"table followed by bytes", true, 0, "cert", -1, 0, std::string("\xff\xff\xff\x7f", 4),
         COPY_BAD_TRAILER, false},
        // Not the signed layout either: the last 4 bytes (zeros) are read as before.
        {"directory longer than the table", true, 0, "cert", -1, 8, "", COPY_OK, false},
    };
    std::wstring src = TempPath(L"installer.exe");
    std::wstring dst = TempPath(L"package.zip");
    for (const TrailerCase& c : cases) {
        WriteBytes(src, BuildInstaller(c));
        HANDLE hSrc = CreateFileW(src.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE hDst = CreateFileW(dst.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(hSrc, INVALID_HANDLE_VALUE);
        ASSERT_NE(hDst, INVALID_HANDLE_VALUE);
        CNoProgress progress;
        EXPECT_EQ(CopyPackage(hSrc, hDst, progress), c.result) << c.what;
        CloseHandle(hSrc);
        CloseHandle(hDst);
        if (c.copiesPackage) {
            EXPECT_EQ(ReadBytes(dst), kPackage) << c.what;
        }
    }
    DeleteFileW(src.c_str());
    DeleteFileW(dst.c_str());
}

TEST(InstallerTrailer, NonZeroPaddingIsNoTrailerPosition) {
    // One non-zero byte between the trailer and the table: no package is looked for before it.
    TrailerCase c = {"", true, 0, "cert", -1, 0, "", COPY_OK, true};
    std::string bytes = BuildInstaller(c);
    size_t tableOffset = 512 + kPackage.size() + 4;
    bytes.insert(tableOffset, "\x01");
    bytes.replace(0x80 + 24 + 96 + 32, 4, Le32(static_cast<uint32_t>(tableOffset + 1)));
    std::wstring src = TempPath(L"padded.exe");
    WriteBytes(src, bytes);
    HANDLE h = CreateFileW(src.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ULONGLONG start = 0, length = 0;
    EXPECT_EQ(LocatePackage(h, start, length), COPY_BAD_TRAILER);
    CloseHandle(h);
    DeleteFileW(src.c_str());
}

TEST(InstallerTrailer, UnsignedLayoutIsReadAsBefore) {
    // Whatever the package holds, an unsigned installer's last 4 bytes give its length.
    std::string notZip = "not a zip archive, still the package";
    std::string bytes = FakeImage(0, 0) + notZip + Le32(static_cast<uint32_t>(notZip.size()));
    std::wstring src = TempPath(L"plain.exe");
    WriteBytes(src, bytes);
    HANDLE h = CreateFileW(src.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ULONGLONG start = 0, length = 0;
    EXPECT_EQ(LocatePackage(h, start, length), COPY_OK);
    EXPECT_EQ(start, 512u);
    EXPECT_EQ(length, notZip.size());
    ULONGLONG off = 1, size = 1;
    EXPECT_FALSE(GetCertificateTable(h, bytes.size(), off, size));
    CloseHandle(h);
    DeleteFileW(src.c_str());
}

class ArchiveFromHandle : public ::testing::Test {
  protected:
    void SetUp() override {
        m_zip = TempPath(L"handle.zip");
        m_out = TempPath(L"out");
        CreateDirectoryW(m_out.c_str(), nullptr);
        GetCurrentDirectoryW(MAX_PATH, m_saved);
        SetCurrentDirectoryW(m_out.c_str());
    }
    void TearDown() override {
        SetCurrentDirectoryW(m_saved);
        DeleteFileW((m_out + L"\\a.txt").c_str());
        DeleteFileW((m_out + L"\\sub\\b.txt").c_str());
        RemoveDirectoryW((m_out + L"\\sub").c_str());
        RemoveDirectoryW(m_out.c_str());
        DeleteFileW(m_zip.c_str());
    }
    std::wstring m_zip, m_out;
    wchar_t m_saved[MAX_PATH] = {};
};

TEST_F(ArchiveFromHandle, ExtractsWhateverTheCallersFilePointerIs) {
    WriteBytes(m_zip, BuildZip({Entry("a.txt", "first"), Entry("sub/b.txt", "second", true)}));
    HANDLE h = CreateFileW(m_zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0) {
    } // the pointer now stands at the end, as after a signature check
    ArchiveHandle archive = ArchiveOpenHandle(h);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(ArchiveExtractAllFrom(archive), AR_OK);
    EXPECT_EQ(ArchiveClose(archive), AR_OK);
    EXPECT_EQ(ReadBytes(m_out + L"\\a.txt"), "first");
    EXPECT_EQ(ReadBytes(m_out + L"\\sub\\b.txt"), "second");
    // The caller's handle is still its own and still open.
    LARGE_INTEGER zero = {};
    ASSERT_TRUE(SetFilePointerEx(h, zero, nullptr, FILE_BEGIN));
    ASSERT_TRUE(ReadFile(h, buf, 2, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "PK");
    // Held without write sharing: nobody can change the file meanwhile.
    HANDLE w = CreateFileW(m_zip.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(w, INVALID_HANDLE_VALUE);
    if (w != INVALID_HANDLE_VALUE)
        CloseHandle(w);
    CloseHandle(h);
}

TEST_F(ArchiveFromHandle, RefusesNoHandleAndNoArchive) {
    EXPECT_EQ(ArchiveOpenHandle(nullptr), nullptr);
    EXPECT_EQ(ArchiveOpenHandle(INVALID_HANDLE_VALUE), nullptr);
    EXPECT_EQ(ArchiveExtractAllFrom(nullptr), AR_NOFILE);
    WriteBytes(m_zip, "no archive here, only text");
    HANDLE h = CreateFileW(m_zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(ArchiveOpenHandle(h), nullptr);
    CloseHandle(h);
}

TEST(UpdateSignature, VerifiesOnlyTheSignedBytesWithTheKey) {
    std::string key = ReadHostFile(TRUST_KEYS "test_update.pub");
    std::string data = ReadHostFile(TRUST_KEYS "fixture.txt");
    std::string sig = ReadHostFile(TRUST_KEYS "fixture.txt.sig");
    ASSERT_EQ(key.size(), UPDATE_KEY_SIZE);
    ASSERT_EQ(sig.size(), UPDATE_SIGNATURE_SIZE);
    auto flip = [](std::string s, size_t i) {
        s[i] = static_cast<char>(s[i] ^ 0x01);
        return s;
    };
    struct {
        const char* what;
        std::string data, sig, key;
        BOOL ok;
    } cases[] = {
        {"signed bytes", data, sig, key, TRUE},
        {"a changed byte", flip(data, 7), sig, key, FALSE},
        {"one byte more", data + "\n", sig, key, FALSE},
        {"a changed signature", data, flip(sig, 40), key, FALSE},
        {"a short signature", data, sig.substr(0, 63), key, FALSE},
        {"a long signature", data, sig + "x", key, FALSE},
        {"no signature", data, "", key, FALSE},
        {"another key", data, sig, flip(key, 63), FALSE},
    };
    std::wstring path = TempPath(L"signed.bin");
    for (const auto& c : cases) {
        WriteBytes(path, c.data);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(VerifyUpdateHandle(h, reinterpret_cast<const BYTE*>(c.sig.data()),
                                     static_cast<DWORD>(c.sig.size()),
                                     reinterpret_cast<const BYTE*>(c.key.data())),
                  c.ok)
            << c.what;
        CloseHandle(h);
    }
    DeleteFileW(path.c_str());
}

TEST(UpdateSignature, SignatureFilesHoldExactly64Bytes) {
    std::wstring path = TempPath(L"file.sig");
    for (size_t n : {0u, 63u, 64u, 65u, 128u}) {
        WriteBytes(path, std::string(n, '\x42'));
        BYTE sig[UPDATE_SIGNATURE_SIZE] = {};
        EXPECT_EQ(ReadSignatureFile(path.c_str(), sig), n == 64 ? TRUE : FALSE) << n;
    }
    BYTE sig[UPDATE_SIGNATURE_SIZE];
    memset(sig, 0x17, sizeof(sig));
    ASSERT_TRUE(WriteSignatureFile(path.c_str(), sig));
    EXPECT_EQ(ReadBytes(path), std::string(64, '\x17'));
    DeleteFileW(path.c_str());
    EXPECT_FALSE(ReadSignatureFile(path.c_str(), sig));
    EXPECT_EQ(GetUpdatePublicKey(), nullptr); // this test links the build without a key
}

} // namespace
