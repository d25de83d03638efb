#include <gtest/gtest.h>

#include "cstring.h"

TEST(CString, SlicesClipInsteadOfThrowing) {
    CString s(L"1000820090415http://h/x.zip");
    EXPECT_STREQ(L"10008", s.Left(5));
    EXPECT_STREQ(L"20090415", s.Mid(5, 8));
    EXPECT_STREQ(L"http://h/x.zip", s.Mid(13));
    EXPECT_STREQ(L"", s.Mid(100));
    EXPECT_STREQ(L"", s.Left(-1));
    EXPECT_STREQ(L"abc", CString(L"abc").Mid(0, 100));
    EXPECT_STREQ(L"abc", CString(L"abc").Right(10));
}

TEST(CString, FindDeleteAndFormat) {
    CString s(L"<a><b></b>");
    EXPECT_EQ(3, s.Find(L"<b>"));
    EXPECT_EQ(-1, s.Find(L"<c>"));
    EXPECT_EQ(-1, s.Find(L"<a>", 1));
    EXPECT_EQ(6, s.ReverseFind(L'<'));
    s.Delete(0, 3);
    EXPECT_STREQ(L"<b></b>", s);
    s.Delete(3, 100);
    EXPECT_STREQ(L"<b>", s);
    CString f;
    f.Format(L"%d|%-.2f|%s", -3, 16.0, L"长文本");
    EXPECT_STREQ(L"-3|16.00|长文本", f);
    CString big;
    big.Format(L"%0600d", 7);
    EXPECT_EQ(600, big.GetLength());
}

TEST(CString, BufferAndUtf8RoundTrip) {
    CString s;
    wchar_t* p = s.GetBuffer(10);
    wcscpy(p, L"ab");
    s.ReleaseBuffer();
    EXPECT_EQ(2, s.GetLength());
    EXPECT_EQ(std::string("\xe5\xae\x89\xe8\xa3\x85"), ToUtf8(L"安装"));
    EXPECT_STREQ(L"安装", FromUtf8("\xe5\xae\x89\xe8\xa3\x85"));
}
