// The installer's window-free parts: size texts, the package copy-out, shell-folder values,
// free-space queries, and the resources built into PellarSetup.exe.
#include "DlgSetup.h"
#include "Package.h"
#include "Shortcuts.h"
#include "handles.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

std::wstring WinPath(const char* unixPath) {
    std::wstring s = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        s += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return s;
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"pellar-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           name;
}

void WriteBytes(const std::wstring& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
}

std::string ReadBytes(const std::wstring& path) {
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n)
        out.append(buf, n);
    CloseHandle(h);
    return out;
}

std::string Trailer(DWORD n) {
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
}

std::string Pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 9)) & 0xFF);
    return s;
}

class RecordingProgress : public CCopyProgress {
  public:
    void SetRange(WORD nUpper) override {
        range = nUpper;
        ++rangeCalls;
    }
    void Step() override { ++steps; }
    int range = -1;
    int rangeCalls = 0;
    int steps = 0;
};

// ---- FormatSize ----------------------------------------------------------------------------

TEST(FormatSize, UnitStepsAndRounding) {
    struct Case {
        LONGLONG bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L"0 Byte"},
        {1023, L"1023 Byte"},
        {1024, L"1.00 KB"},
        {1536, L"1.50 KB"},
        {1048575, L"1024.00 KB"},
        {1048576, L"1.00 MB"},
        {16777216, L"16.00 MB"},
        {1073741824, L"1.00 GB"},
        {5000000000LL, L"4.66 GB"},
        {1LL << 40, L"1.00 TB"},
        {(1LL << 40) * 1536 / 1024, L"1.50 TB"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(FormatSize(c.bytes).GetString(), c.text) << c.bytes;
}

// ---- copy-out of the package ------------------------------------------------------------------

TEST(CopyPackage, ChunksRangeAndBytes) {
    struct Case {
        DWORD n;
        int range;
        int steps;
    } cases[] = {
        {0, 0, 0},      {1, 0, 1},      {203839, 1, 1}, {203840, 1, 1}, {203841, 1, 2},
        {407679, 2, 2}, {407680, 2, 2}, {632867, 3, 4}, // the shipped package: four chunks, range
                                                        // 0..3
    };
    std::wstring exe = TempFile(L"copy.exe");
    std::wstring dest = TempFile(L"copy.zip");
    for (const Case& c : cases) {
        std::string image = Pattern(4096, 1);
        std::string package = Pattern(c.n, 2);
        WriteBytes(exe, image + package + Trailer(c.n));
        CFileHandle src(CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        CFileHandle dst(CreateFileW(dest.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
        RecordingProgress progress;
        EXPECT_EQ(CopyPackage(src.Get(), dst.Get(), progress), COPY_OK) << c.n;
        dst.Close();
        EXPECT_EQ(progress.range, c.range) << c.n;
        EXPECT_EQ(progress.steps, c.steps) << c.n;
        EXPECT_TRUE(ReadBytes(dest) == package) << c.n;
    }
    DeleteFileW(exe.c_str());
    DeleteFileW(dest.c_str());
}

TEST(CopyPackage, DamagedTrailersFailWithoutReadingBeforeTheFile) {
    struct Case {
        const char* what;
        std::string file;
        CopyResult result;
    } cases[] = {
        {"trailer one byte too long", Pattern(100, 3) + Trailer(101), COPY_BAD_TRAILER},
        {"trailer far beyond the file", Pattern(100, 3) + Trailer(0xFFFFFFFF), COPY_BAD_TRAILER},
        {"file shorter than a trailer", std::string("\x01\x02", 2), COPY_BAD_TRAILER},
        {"empty file", std::string(), COPY_BAD_TRAILER},
        {"package is the whole file", Pattern(96, 4) + Trailer(96), COPY_OK},
    };
    std::wstring exe = TempFile(L"damaged.exe");
    std::wstring dest = TempFile(L"damaged.zip");
    for (const Case& c : cases) {
        WriteBytes(exe, c.file);
        CFileHandle src(CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        CFileHandle dst(CreateFileW(dest.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr));
        RecordingProgress progress;
        EXPECT_EQ(CopyPackage(src.Get(), dst.Get(), progress), c.result) << c.what;
        if (c.result != COPY_OK) {
            EXPECT_EQ(progress.steps, 0) << c.what;
        }
    }
    DeleteFileW(exe.c_str());
    DeleteFileW(dest.c_str());
}

TEST(CopyPackageToFile, ReplacesAnOldCopyAndLeavesNoPartialOne) {
    std::wstring exe = TempFile(L"tofile.exe");
    std::wstring dest = TempFile(L"tofile.zip");
    std::string package = Pattern(300000, 5);
    WriteBytes(exe, Pattern(5000, 6) + package + Trailer(static_cast<DWORD>(package.size())));
    WriteBytes(dest, Pattern(1000000, 7));
    CopyPackageToFile(exe.c_str(), dest.c_str(), nullptr);
    EXPECT_TRUE(ReadBytes(dest) == package);

    WriteBytes(exe, Pattern(5000, 6) + Trailer(6000));
    CopyPackageToFile(exe.c_str(), dest.c_str(), nullptr);
    EXPECT_EQ(GetFileAttributesW(dest.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a damaged package must not leave a copy to extract";

    // A destination that cannot be created leaves nothing either.
    std::wstring bad = TempFile(L"no-such-dir\\x.zip");
    CopyPackageToFile(exe.c_str(), bad.c_str(), nullptr);
    EXPECT_EQ(GetFileAttributesW(bad.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(exe.c_str());
    DeleteFileW(dest.c_str());
}

// ---- shell folder values ----------------------------------------------------------------------

TEST(ReadShellFolder, OnlyTerminatedStringsArePaths) {
    const wchar_t* sub = L"Software\\TessalyInstallerTest";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    auto setSz = [&](const wchar_t* name, const std::wstring& v, bool terminated, DWORD type) {
        DWORD cb = static_cast<DWORD>((v.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(v.c_str()), cb);
    };
    setSz(L"NoSlash", L"C:\\users\\me\\Desktop", true, REG_SZ);
    setSz(L"Slash", L"C:\\users\\me\\Desktop\\", true, REG_SZ);
    setSz(L"Expand", L"C:\\x", true, REG_EXPAND_SZ);
    setSz(L"TooLong", std::wstring(600, L'a'), true, REG_SZ);
    setSz(L"Empty", L"", true, REG_SZ);
    DWORD dw = 5;
    RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), sizeof(dw));

    struct Case {
        const wchar_t* name;
        const wchar_t* path;
    } cases[] = {
        {L"NoSlash", L"C:\\users\\me\\Desktop\\"},
        {L"Slash", L"C:\\users\\me\\Desktop\\"},
        {L"Expand", L"C:\\x\\"},
        {L"TooLong", L""},
        {L"Empty", L""},
        {L"Number", L""},
        {L"Missing", L""},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(ReadShellFolder(key, c.name).GetString(), c.path) << ToUtf8(c.name);
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, sub);
}

// ---- free space ----------------------------------------------------------------------------

TEST(FreeSpace, UnknownDriveShowsZeroNeverGarbage) {
    DWORD drives = GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t c = L'Q'; c <= L'Y' && !letter; ++c)
        if (!(drives & (1u << (c - L'A'))))
            letter = c;
    ASSERT_NE(letter, 0);
    std::wstring path = std::wstring(1, letter) + L":\\Tessaly\\";
    LONGLONG n = 12345;
    EXPECT_FALSE(QueryFreeSpace(path.c_str(), n));
    EXPECT_STREQ(FreeSpaceText(path.c_str()).GetString(), L"0 Byte");
    EXPECT_FALSE(QueryFreeSpace(L"", n));
    EXPECT_STREQ(FreeSpaceText(L"\\\\").GetString(), L"0 Byte");

    ULARGE_INTEGER a, t, f;
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &a, &t, &f));
    ASSERT_TRUE(QueryFreeSpace(L"C:\\Program Files\\Tessaly\\", n));
    EXPECT_GT(n, 0);
}

// ---- resources of the built installer --------------------------------------------------------

class Resources : public ::testing::Test {
  protected:
    void SetUp() override {
        std::wstring stub = WinPath(PELLAR_STUB);
        m_h = LoadLibraryExW(stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_h, nullptr);
    }
    void TearDown() override {
        if (m_h)
            FreeLibrary(m_h);
    }
    std::string Data(const wchar_t* type, const wchar_t* name) {
        HRSRC r =
            FindResourceExW(m_h, type, name, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
        if (!r)
            return std::string();
        HGLOBAL g = LoadResource(m_h, r);
        const char* p = static_cast<const char*>(LockResource(g));
        return std::string(p, SizeofResource(m_h, r));
    }
    HMODULE m_h = nullptr;
};

TEST_F(Resources, LicenseTextIsBomUtf16WithOneClosingNul) {
    std::string d = Data(L"TXTGB", MAKEINTRESOURCEW(171));
    ASSERT_GE(d.size(), 4u);
    ASSERT_EQ(d.size() % 2, 0u);
    EXPECT_EQ(d.substr(0, 2), std::string("\xFF\xFE"));
    std::wstring text(reinterpret_cast<const wchar_t*>(d.data()), d.size() / 2);
    ASSERT_EQ(text.back(), L'\0');
    EXPECT_NE(text[text.size() - 2], L'\0') << "exactly one closing NUL";
    EXPECT_EQ(text.find(L'\0'), text.size() - 1);
    // Every line ends with CR LF and there are no bare line feeds.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == L'\r') << i;
        }
    }
    std::wstring title = text.substr(1, text.find(L"\r\n") - 1);
    EXPECT_NE(title.find(L"Tessaly"), std::wstring::npos);
    EXPECT_NE(title.find(L"许可协议"), std::wstring::npos);
    const wchar_t* clauses[] = {L"\r\n一、", L"\r\n二、", L"\r\n三、", L"\r\n四、",
                                L"\r\n五、", L"\r\n六、", L"\r\n七、"};
    size_t at = 0;
    for (const wchar_t* c : clauses) {
        size_t p = text.find(c, at);
        ASSERT_NE(p, std::wstring::npos) << ToUtf8(c);
        EXPECT_EQ(text.substr(p - 2, 2), L"\r\n") << "blank line before " << ToUtf8(c);
        at = p + 1;
    }
    size_t r = text.find(L"\r\n二、");
    size_t s = text.find(L"\r\n三、");
    std::wstring restrictions = text.substr(r, s - r);
    for (const wchar_t* item : {L"\r\n    1．", L"\r\n    2．", L"\r\n    3．"})
        EXPECT_NE(restrictions.find(item), std::wstring::npos) << ToUtf8(item);
}

TEST_F(Resources, PicturesIconAndManifest) {
    struct Bmp {
        int id, w, h, bpp;
    } bitmaps[] = {{130, 508, 76, 24}, {138, 48, 48, 24}};
    for (const Bmp& b : bitmaps) {
        std::string d = Data(RT_BITMAP, MAKEINTRESOURCEW(b.id));
        ASSERT_GE(d.size(), sizeof(BITMAPINFOHEADER)) << b.id;
        auto* bi = reinterpret_cast<const BITMAPINFOHEADER*>(d.data());
        EXPECT_EQ(bi->biWidth, b.w) << b.id;
        EXPECT_EQ(bi->biHeight, b.h) << b.id;
        EXPECT_EQ(bi->biBitCount, b.bpp) << b.id;
    }
    std::string group = Data(RT_GROUP_ICON, MAKEINTRESOURCEW(128));
    ASSERT_EQ(group.size(), 6u + 14u) << "one image";
    const unsigned char* g = reinterpret_cast<const unsigned char*>(group.data());
    EXPECT_EQ(g[6], 48);
    EXPECT_EQ(g[7], 48);
    EXPECT_EQ(g[6 + 6] | (g[6 + 7] << 8), 32);

    std::string manifest = Data(RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("asInvoker"), std::string::npos);
}

// Dialog templates: id, class atom or name, position and size of every control, in order.
struct Ctl {
    int id;
    const wchar_t* cls; // "Button", "Static", "Edit", "ComboBox" or a window class name
    short x, y, cx, cy;
    DWORD styleBits; // bits that must be set
};

struct Template {
    DWORD style;
    DWORD exStyle;
    short cx, cy;
    std::wstring caption, font;
    WORD pointSize;
    std::vector<Ctl> controls;
    std::vector<DWORD> styles;
    std::vector<std::wstring> classes;
    std::vector<std::wstring> texts;
};

// Parses a DLGTEMPLATEEX resource.
bool ParseTemplate(const std::string& d, Template& t) {
    const BYTE* p = reinterpret_cast<const BYTE*>(d.data());
    const BYTE* end = p + d.size();
    auto word = [&]() -> WORD {
        WORD w = *reinterpret_cast<const WORD*>(p);
        p += 2;
        return w;
    };
    auto dword = [&]() -> DWORD {
        DWORD v = *reinterpret_cast<const DWORD*>(p);
        p += 4;
        return v;
    };
    auto sz = [&]() -> std::wstring {
        std::wstring s;
        if (*reinterpret_cast<const WORD*>(p) == 0xFFFF) {
            p += 2;
            s = L"#" + std::to_wstring(word());
            return s;
        }
        while (WORD w = word())
            s += static_cast<wchar_t>(w);
        return s;
    };
    const BYTE* base = p;
    auto align = [&]() {
        p = base + ((static_cast<size_t>(p - base) + 3) & ~static_cast<size_t>(3));
    };
    if (d.size() < 26 || word() != 1 || word() != 0xFFFF)
        return false;
    dword(); // help id
    t.exStyle = dword();
    t.style = dword();
    WORD n = word();
    word();
    word();
    t.cx = static_cast<short>(word());
    t.cy = static_cast<short>(word());
    sz(); // menu
    sz(); // class
    t.caption = sz();
    if (t.style & DS_SETFONT) {
        t.pointSize = word();
        word();
        p += 2; // italic, charset
        t.font = sz();
    }
    for (WORD i = 0; i < n && p < end; ++i) {
        align();
        dword(); // help id
        dword(); // ex style
        DWORD style = dword();
        Ctl c;
        c.x = static_cast<short>(word());
        c.y = static_cast<short>(word());
        c.cx = static_cast<short>(word());
        c.cy = static_cast<short>(word());
        c.id = static_cast<int>(dword());
        std::wstring cls = sz();
        std::wstring text = sz();
        WORD extra = word();
        p += extra;
        c.cls = nullptr;
        c.styleBits = 0;
        t.controls.push_back(c);
        t.styles.push_back(style);
        t.classes.push_back(cls);
        t.texts.push_back(text);
    }
    return t.controls.size() == n;
}

// Predefined classes appear as atoms or as names; compare them as lower-case names.
std::wstring ClassName(std::wstring c) {
    static const std::pair<const wchar_t*, const wchar_t*> atoms[] = {
        {L"#128", L"button"}, {L"#129", L"edit"}, {L"#130", L"static"}, {L"#133", L"combobox"}};
    for (const auto& a : atoms)
        if (c == a.first)
            return a.second;
    for (wchar_t& ch : c)
        ch = static_cast<wchar_t>(towlower(ch));
    return c;
}

TEST_F(Resources, DialogTemplatesPlaceEveryControl) {
    const int S = -1; // controls without an id
    struct Want {
        int tmpl;
        DWORD style, exStyle;
        short cx, cy;
        std::vector<Ctl> controls;
        std::vector<const wchar_t*> texts;
    } wants[] = {
        {102,
         WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
         WS_EX_APPWINDOW,
         307,
         202,
         {{1000, L"#128", 44, 182, 48, 13, WS_TABSTOP},
          {1001, L"#128", 118, 182, 48, 13, WS_TABSTOP},
          {1002, L"#128", 179, 182, 48, 13, WS_TABSTOP},
          {1009, L"#128", 247, 182, 48, 13, WS_TABSTOP},
          {1010, L"msctls_progress32", 10, 79, 285, 12, 0},
          {1012, L"#130", 11, 66, 280, 8, 0},
          {1013, L"#130", 15, 32, 233, 8, 0},
          {S, L"#130", 258, 12, 32, 32, SS_BITMAP},
          {S, L"#130", 13, 52, 280, 1, SS_ETCHEDHORZ},
          {S, L"#130", 34, 176, 265, 1, SS_ETCHEDHORZ},
          {1028, L"#130", 11, 172, 34, 8, 0},
          {1029, L"#128", 13, 103, 247, 10, BS_AUTOCHECKBOX},
          {1030, L"#128", 13, 119, 247, 10, BS_AUTOCHECKBOX}},
         {L"接受", L"取消", L"安装", L"完成", L"", L"安装目录：", L"正在安装...", L"#138", L"", L"",
          L"VIDede", L"Check1", L"选中1"}},
        {103,
         WS_CHILD,
         0,
         354,
         171,
         {{1018, L"#130", 8, 7, 339, 51, SS_BITMAP},
          {1013, L"#130", 9, 53, 33, 8, 0},
          {1023, L"#133", 217, 51, 80, 30, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
          {1021, L"#129", 9, 67, 289, 100,
           ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP}},
         {L"#130", L"安装协议", L"", L""}},
        {104,
         WS_CHILD,
         0,
         366,
         158,
         {{1016, L"#130", 16, 13, 33, 8, 0},
          {S, L"#130", 9, 27, 286, 1, SS_ETCHEDHORZ},
          {1022, L"#130", 16, 45, 275, 24, 0},
          {1015, L"#128", 7, 85, 293, 31, BS_GROUPBOX},
          {1008, L"#130", 16, 99, 231, 8, 0},
          {1000, L"#128", 250, 95, 43, 13, WS_TABSTOP},
          {1024, L"#130", 4, 130, 76, 8, SS_RIGHT},
          {1026, L"#130", 82, 130, 70, 8, 0},
          {1025, L"#130", 4, 145, 76, 8, SS_RIGHT},
          {1027, L"#130", 82, 145, 67, 8, 0}},
         {L"安装位置", L"", L"Static", L"S", L"目标路径", L"浏览", L"剩余空间：", L"Static",
          L"所需空间：", L"16.00 MB"}},
    };
    for (const Want& w : wants) {
        Template t;
        ASSERT_TRUE(ParseTemplate(Data(RT_DIALOG, MAKEINTRESOURCEW(w.tmpl)), t)) << w.tmpl;
        EXPECT_EQ(t.style & w.style, w.style) << w.tmpl;
        EXPECT_EQ(t.style & WS_VISIBLE, w.style & WS_VISIBLE) << w.tmpl;
        EXPECT_EQ(t.exStyle & w.exStyle, w.exStyle) << w.tmpl;
        EXPECT_EQ(t.cx, w.cx) << w.tmpl;
        EXPECT_EQ(t.cy, w.cy) << w.tmpl;
        EXPECT_EQ(t.font, L"Arial") << w.tmpl;
        EXPECT_EQ(t.pointSize, 9) << w.tmpl;
        ASSERT_EQ(t.controls.size(), w.controls.size()) << w.tmpl;
        for (size_t i = 0; i < w.controls.size(); ++i) {
            const Ctl& want = w.controls[i];
            const Ctl& got = t.controls[i];
            SCOPED_TRACE(testing::Message() << "template " << w.tmpl << " control " << i);
            EXPECT_EQ(static_cast<short>(got.id), static_cast<short>(want.id));
            EXPECT_EQ(ClassName(t.classes[i]), ClassName(want.cls)) << ToUtf8(t.classes[i].c_str());
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
            EXPECT_EQ(got.cx, want.cx);
            EXPECT_EQ(got.cy, want.cy);
            EXPECT_EQ(t.styles[i] & want.styleBits, want.styleBits);
            EXPECT_EQ(t.texts[i], w.texts[i]) << ToUtf8(t.texts[i].c_str());
        }
    }
    Template t;
    ASSERT_TRUE(ParseTemplate(Data(RT_DIALOG, MAKEINTRESOURCEW(102)), t));
    EXPECT_EQ(t.caption, L"PellarSetup");
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(t.styles[i] & 0x0F, static_cast<DWORD>(BS_PUSHBUTTON)) << "no default button";
}

} // namespace
