// The updater's logic without windows or network: version list parsing, names and versions
// taken from URLs and file names, the INI accessor and the version file.
#include <gtest/gtest.h>

#include "download.h"
#include "inifile.h"
#include "pending.h"
#include "version_check.h"

#include <string>
#include <vector>

namespace {

// ---- version list ------------------------------------------------------------------------

struct StartCall {
    std::wstring url;
    std::wstring localPath;
};

struct ListCase {
    const char* what;
    const wchar_t* text;
    bool haveVersionFile;
    int first, second;
    BOOL expected;
    std::vector<std::wstring> urls; // downloads asked for, in order
};

const wchar_t kFolder[] = L"C:\\Games\\Tessaly\\";

BOOL RunList(const ListCase& c, std::vector<StartCall>& calls, bool startSucceeds = true) {
    return ParseVersionListWith(
        c.text,
        [&](int& f, int& s) {
            if (!c.haveVersionFile)
                return FALSE;
            f = c.first;
            s = c.second;
            return TRUE;
        },
        kFolder,
        [&](const CString& url, const CString& path) {
            calls.push_back({url.str(), path.str()});
            return startSucceeds ? TRUE : FALSE;
        });
}

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.what;
}

class VersionList : public ::testing::TestWithParam<ListCase> {};

TEST_P(VersionList, StartsOneDownloadPerNewerMinorOfTheInstalledMain) {
    const ListCase& c = GetParam();
    std::vector<StartCall> calls;
    EXPECT_EQ(c.expected, RunList(c, calls)) << c.what;
    std::vector<std::wstring> urls;
    for (const StartCall& call : calls)
        urls.push_back(call.url);
    EXPECT_EQ(c.urls, urls) << c.what;
}

const ListCase kListCases[] = {
    {"two newer entries, document order",
     L"<html><ovVersionList>\r\n<Version>1000820090401http://h/u/1000820090401.zip</Version>\r\n"
     L"<Version>1000820090415http://h/u/1000820090415.zip</Version>\r\n</ovVersionList></html>",
     true,
     10008,
     20090324,
     TRUE,
     {L"http://h/u/1000820090401.zip", L"http://h/u/1000820090415.zip"}},
    {"other main version, although its minor is greater",
     L"<ovVersionList><Version>1000920090415http://h/1000920090415.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"equal minor version is not newer",
     L"<ovVersionList><Version>1000820090324http://h/1000820090324.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"older minor version",
     L"<ovVersionList><Version>1000820090101http://h/1000820090101.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"leading blank shifts the columns",
     L"<ovVersionList><Version> 1000820090415http://h/1000820090415.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"leading line break shifts the columns",
     L"<ovVersionList><Version>\r\n1000820090415http://h/1000820090415.zip</Version>"
     L"</ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"closing tag before the first opening tag: every entry reads empty",
     L"<ovVersionList>\r\n padding </Version>\r\n"
     L"<Version>1000820090401http://h/1000820090401.zip</Version>\r\n"
     L"<Version>1000820090415http://h/1000820090415.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"elements outside the list tags are ignored",
     L"<Version>1000820090401http://h/out1.zip</Version><ovVersionList>"
     L"<Version>1000820090415http://h/in.zip</Version></ovVersionList>"
     L"<Version>1000820090416http://h/out2.zip</Version>",
     true,
     10008,
     20090324,
     TRUE,
     {L"http://h/in.zip"}},
    {"no closing list tag",
     L"<ovVersionList><Version>1000820090415http://h/a.zip</Version>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"closing list tag before the opening one",
     L"</ovVersionList><Version>1000820090415http://h/a.zip</Version><ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"no version file",
     L"<ovVersionList><Version>1000820090415http://h/a.zip</Version>"
     L"</ovVersionList>",
     false,
     0,
     0,
     FALSE,
     {}},
    {"the same URL twice starts twice",
     L"<ovVersionList><Version>1000820090415http://h/a.zip</Version>"
     L"<Version>1000820090415http://h/a.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     TRUE,
     {L"http://h/a.zip", L"http://h/a.zip"}},
    {"matching entry with an empty URL starts nothing",
     L"<ovVersionList><Version>1000820090415</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"a name that leaves UpdateZip starts nothing",
     L"<ovVersionList><Version>1000820090415http://h/..\\Orvane.exe</Version>"
     L"<Version>1000820090416http://h/dir/</Version>"
     L"<Version>1000820090417http://h/C:x.zip</Version></ovVersionList>",
     true,
     10008,
     20090324,
     FALSE,
     {}},
    {"signed comparison with a negative installed minor",
     L"<ovVersionList><Version>1000800000000http://h/z.zip</Version></ovVersionList>",
     true,
     10008,
     -1,
     TRUE,
     {L"http://h/z.zip"}},
    {"empty list", L"<ovVersionList></ovVersionList>", true, 10008, 20090324, FALSE, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, VersionList, ::testing::ValuesIn(kListCases));

TEST(VersionListDownload, LocalPathIsUpdateZipPlusTheUrlsLastSegment) {
    ListCase c = {"",
                  L"<ovVersionList><Version>1000820090415http://h/u/1000820090415.zip"
                  L"</Version></ovVersionList>",
                  true,
                  10008,
                  20090324,
                  TRUE,
                  {}};
    std::vector<StartCall> calls;
    ASSERT_TRUE(RunList(c, calls));
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"C:\\Games\\Tessaly\\UpdateZip\\1000820090415.zip", calls[0].localPath);
}

TEST(VersionListDownload, AWorkerThatDidNotStartDoesNotCount) {
    ListCase c = {"",
                  L"<ovVersionList><Version>1000820090415http://h/a.zip</Version>"
                  L"</ovVersionList>",
                  true,
                  10008,
                  20090324,
                  FALSE,
                  {}};
    std::vector<StartCall> calls;
    EXPECT_FALSE(RunList(c, calls, false));
    EXPECT_EQ(1u, calls.size());
}

HANDLE WINAPI FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                  DWORD, LPDWORD) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST(StartDownload, NoThreadMeansNotStarted) {
    EXPECT_FALSE(
        StartDownloadWith(L"http://127.0.0.1:1/a.zip", L"C:\\x\\a.zip", &FailingCreateThread));
    EXPECT_FALSE(StartDownload(L"", L"C:\\x\\a.zip"));
}

TEST(VersionListText, DecodedAsAWholeSoNoCharacterBreaksAtAReadBoundary) {
    // "中" in GBK (D6 D0) straddles the first 1024-byte read.
    std::string bytes = "<ovVersionList>" + std::string(1023 - 15, ' ') + "\xD6\xD0" +
                        "<Version>1000820090415http://h/a.zip</Version></ovVersionList>";
    CString text = DecodeVersionList(bytes, 936);
    EXPECT_EQ(1023, text.Find(L"中"));
    EXPECT_EQ(1024, text.Find(L"<Version>"));
}

TEST(VersionListText, EndsAtTheFirstZeroByte) {
    std::string bytes("<ovVersionList>ab\0cd", 20);
    EXPECT_STREQ(L"<ovVersionList>ab", DecodeVersionList(bytes, 1252));
    EXPECT_STREQ(L"", DecodeVersionList(std::string(), 1252));
}

// ---- names and versions ------------------------------------------------------------------

struct NameCase {
    const wchar_t* input;
    const wchar_t* expected;
};

TEST(FileNameFromUrl, LastSegment) {
    const NameCase cases[] = {
        {L"http://h/u/1000820090415.zip", L"1000820090415.zip"},
        {L"http://h/a.zip?x=1#f", L"a.zip?x=1#f"}, // query and fragment stay
        {L"C:\\d\\e\\f.zip", L"f.zip"},            // no slash: last backslash
        {L"http://h/a\\b.zip", L"a\\b.zip"},       // a slash wins over backslashes
        {L"plain.zip", L"plain.zip"},
        {L"http://h/dir/", L""},
        {L"", L""},
    };
    for (const NameCase& c : cases)
        EXPECT_STREQ(c.expected, FileNameFromUrl(c.input)) << c.input;
}

TEST(FileTitleFromPath, NameWithoutItsLastExtension) {
    const NameCase cases[] = {
        {L"C:\\T\\UpdateZip\\1000820090415.zip", L"1000820090415"},
        {L"patch.zip", L"patch"},
        {L"a.b.zip", L"a.b"},
        {L"noext", L""},
        {L"C:\\dir.x\\file", L""}, // a period in a folder name does not count
        {L".zip", L""},
        {L"", L""},
    };
    for (const NameCase& c : cases)
        EXPECT_STREQ(c.expected, FileTitleFromPath(c.input)) << c.input;
}

TEST(VersionFromTitle, FiveAndEightCharacterColumns) {
    struct {
        const wchar_t* title;
        int first, second;
    } cases[] = {
        {L"1000820090415", 10008, 20090415},
        {L"patch", 0, 0},
        {L"10008", 10008, 0},
        {L"10008200904151", 10008, 20090415},
        {L"100082009", 10008, 2009},
        {L"", 0, 0},
    };
    for (const auto& c : cases) {
        int first = -1, second = -1;
        VersionFromTitle(c.title, first, second);
        EXPECT_EQ(c.first, first) << c.title;
        EXPECT_EQ(c.second, second) << c.title;
    }
}

// ---- INI accessor and version file -------------------------------------------------------

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, tmp);
        m_dir.Format(L"%srunvel_test_%lu_%lu\\", tmp, ::GetCurrentProcessId(),
                     static_cast<unsigned long>(::GetTickCount()));
        ::CreateDirectoryW(m_dir, nullptr);
    }
    void TearDown() override {
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW(m_dir + L"*", &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do
                ::DeleteFileW(m_dir + fd.cFileName);
            while (::FindNextFileW(h, &fd));
            ::FindClose(h);
        }
        ::RemoveDirectoryW(m_dir);
    }
    // Writes text as UTF-16LE with a byte-order mark.
    void WriteUtf16(const CString& path, const std::wstring& text) {
        std::string bytes("\xFF\xFE");
        for (wchar_t ch : text) {
            bytes += static_cast<char>(ch & 0xFF);
            bytes += static_cast<char>(ch >> 8);
        }
        WriteBytes(path, bytes);
    }
    void WriteBytes(const CString& path, const std::string& bytes) {
        HANDLE h = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD n = 0;
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        ::CloseHandle(h);
    }
    std::string ReadBytes(const CString& path) {
        std::string out;
        HANDLE h =
            ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return out;
        char buf[4096];
        DWORD n = 0;
        while (::ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
            out.append(buf, n);
        ::CloseHandle(h);
        return out;
    }
    std::wstring ReadUtf16(const CString& path) {
        std::string b = ReadBytes(path);
        std::wstring out;
        for (size_t i = 2; i + 1 < b.size(); i += 2)
            out += static_cast<wchar_t>(static_cast<unsigned char>(b[i]) |
                                        (static_cast<unsigned char>(b[i + 1]) << 8));
        return out;
    }
    CString m_dir;
};

using IniFile = TempFolder;

TEST_F(IniFile, IntegersParseAsWtolDoes) {
    CString path = m_dir + L"Config.ini";
    WriteUtf16(path, L"[VERSION]\r\n;one number per person\r\nFirstVersion=10008\r\n"
                     L"SecondVersion=20090324\r\nEmpty=\r\nMixed=12ab\r\nBlank= 7\r\n"
                     L"Negative=-3\r\nWord=abc\r\nZeros=00123\r\n");
    CIniFile ini(path);
    struct {
        const wchar_t* key;
        int expected;
    } cases[] = {{L"FirstVersion", 10008}, {L"SecondVersion", 20090324},
                 {L"Missing", 0},          {L"Empty", 0},
                 {L"Mixed", 12},           {L"Blank", 7},
                 {L"Negative", -3},        {L"Word", 0},
                 {L"Zeros", 123}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ini.GetInt(L"VERSION", c.key, 0)) << c.key;
    EXPECT_EQ(42, ini.GetInt(L"VERSION", L"Missing", 42));
    EXPECT_EQ(42, ini.GetInt(L"VERSION", L"Empty", 42));
    EXPECT_STREQ(L"dflt", ini.GetString(L"VERSION", L"Empty", L"dflt"));
    EXPECT_STREQ(L"12ab", ini.GetString(L"VERSION", L"Mixed", L""));
}

TEST_F(IniFile, StringsAreCutTo254Characters) {
    CString path = m_dir + L"Config.ini";
    WriteUtf16(path, L"[S]\r\nLong=" + std::wstring(300, L'x') + L"\r\n");
    EXPECT_EQ(254, CIniFile(path).GetString(L"S", L"Long", L"").GetLength());
}

TEST_F(IniFile, WritingAMissingFileCreatesItAsUtf16) {
    CString path = m_dir + L"New.ini";
    CIniFile ini(path);
    ini.WriteString(L"UPDATE", L"Server", L"http://127.0.0.1:8080");
    ini.WriteInt(L"VERSION", L"SecondVersion", -3);
    std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    EXPECT_STREQ(L"http://127.0.0.1:8080", ini.GetString(L"UPDATE", L"Server", L""));
    EXPECT_EQ(-3, ini.GetInt(L"VERSION", L"SecondVersion", 0));
}

TEST_F(IniFile, VersionWriteKeepsEverythingElseAsItWas) {
    CString path = m_dir + L"Config.ini";
    // No blank lines: Wine's profile writer drops them (Windows keeps them).
    std::wstring before = L"[LOBBY]\r\nSkin=默认\r\nWidth=800\r\n[VERSION]\r\n"
                          L";one number per day\r\nFirstVersion=00123\r\n"
                          L"SecondVersion=20090324\r\n[UPDATE]\r\nServer=x\r\n";
    WriteUtf16(path, before);
    WriteInstalledVersionTo(path, 123, 20090415);
    std::wstring after = ReadUtf16(path);
    std::wstring expected = before;
    expected.replace(expected.find(L"FirstVersion=00123"), 18, L"FirstVersion=123");
    expected.replace(expected.find(L"SecondVersion=20090324"), 22, L"SecondVersion=20090415");
    EXPECT_EQ(expected, after);
    int first = 0, second = 0;
    EXPECT_TRUE(ReadInstalledVersionFrom(path, first, second));
    EXPECT_EQ(123, first);
    EXPECT_EQ(20090415, second);
}

TEST_F(IniFile, MissingVersionFileIsNeitherReadNorCreated) {
    CString path = m_dir + L"Absent.ini";
    int first = 7, second = 8;
    EXPECT_FALSE(ReadInstalledVersionFrom(path, first, second));
    EXPECT_EQ(7, first);
    EXPECT_EQ(8, second);
    WriteInstalledVersionTo(path, 10008, 20090415);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path));
}

TEST(UpdateServer, VersionListUrl) {
    EXPECT_STREQ(L"http://update.tessaly.example/zip.html",
                 VersionListUrl(L"http://update.tessaly.example"));
    EXPECT_STREQ(L"http://127.0.0.1:8080/zip.html", VersionListUrl(L"http://127.0.0.1:8080/"));
    EXPECT_STREQ(L"http://127.0.0.1:8080/zip.html", VersionListUrl(L"127.0.0.1:8080"));
}

} // namespace
