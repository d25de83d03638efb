// The version list loop against the plain loop it replaced (search from the front, delete the
// two tags, search again): the same downloads in the same order for lists built to join tags
// out of their pieces, nest them and leave strays; and the cap on workers per start.
#include "plain_version_loop.h"
#include "version_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using hardening::PlainLoop;

typedef std::vector<std::pair<std::wstring, std::wstring>> Starts;

struct Rng {
    uint64_t s;
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 11);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
};

// Pieces that make tags when their neighbours go: whole tags, tags cut anywhere, entry
// heads, URLs with and without a plain last segment.
std::wstring Piece(Rng& rng) {
    static const std::wstring tags[] = {L"<Version>", L"</Version>", L"<ovVersionList>",
                                        L"</ovVersionList>"};
    static const std::wstring other[] = {L"1000820090415",
                                         L"1000820090402",
                                         L"0000000000001",
                                         L"10008",
                                         L"20090415",
                                         L"http://h/u/",
                                         L"a.zip",
                                         L"b.zip",
                                         L"/",
                                         L"\\",
                                         L":",
                                         L"..",
                                         L"\r\n",
                                         L" ",
                                         L"x",
                                         L"<",
                                         L">",
                                         L"</",
                                         L"中"};
    uint32_t k = rng.Below(10);
    if (k < 3)
        return tags[rng.Below(2)];
    if (k < 6) {
        const std::wstring& t = tags[rng.Below(k == 5 ? 4 : 2)];
        size_t cut = 1 + rng.Below(static_cast<uint32_t>(t.size() - 1));
        return rng.Below(2) ? t.substr(0, cut) : t.substr(cut);
    }
    return other[rng.Below(sizeof other / sizeof other[0])];
}

std::wstring RandomList(Rng& rng) {
    std::wstring s = rng.Below(8) ? L"<ovVersionList>" : L"";
    int n = static_cast<int>(rng.Below(rng.Below(10) ? 60 : 600));
    for (int i = 0; i < n; ++i) {
        if (rng.Below(3) == 0)
            s += L"<Version>" + std::wstring(rng.Below(2) ? L"1000820090415" : L"0000000000001") +
                 L"http://h/u/" + wchar_t(L'a' + rng.Below(26)) + L".zip</Version>";
        else
            s += Piece(rng);
    }
    if (rng.Below(8))
        s += L"</ovVersionList>";
    return s;
}

struct Recorder {
    Starts starts;
    int calls = 0;
    // Every third worker fails to start, so a refusal must not end or shift the loop.
    StartDownloadFn Fn() {
        return [this](const CString& url, const CString& path) {
            starts.emplace_back(url.str(), path.str());
            return (calls++ % 3) != 2 ? TRUE : FALSE;
        };
    }
};

const wchar_t kFolder[] = L"C:\\Games\\Tessaly\\";

// What the new loop must give: the reference's calls up to the one that made the cap full.
void ExpectSameAsPlainLoop(const std::wstring& text, int first0, int second0) {
    Recorder ref, got;
    BOOL refResult = PlainLoop(CString(text), first0, second0, kFolder, ref.Fn());
    int ok = 0;
    size_t keep = 0;
    while (keep < ref.starts.size() && ok < UPDATE_MAX_WORKERS)
        ok += (keep++ % 3) != 2 ? 1 : 0;
    ref.starts.resize(keep);
    BOOL gotResult = ParseVersionListWith(
        CString(text),
        [&](int& f, int& s) {
            f = first0;
            s = second0;
            return TRUE;
        },
        kFolder, got.Fn());
    ASSERT_EQ(ref.starts, got.starts) << "list: " << std::string(text.begin(), text.end());
    ASSERT_EQ(refResult, gotResult);
}

TEST(VersionListOrder, SameDownloadsAsThePlainLoop) {
    // (installed main, installed minor): a real version, and 0 / -1 where empty entries match.
    const std::pair<int, int> installed[] = {{10008, 20090401}, {0, -1}, {0, 0}};
    Rng rng{0x9E3779B97F4A7C15ULL};
    int lists = 0;
    for (int i = 0; i < 6000; ++i) {
        std::wstring text = RandomList(rng);
        const auto& v = installed[rng.Below(3)];
        ExpectSameAsPlainLoop(text, v.first, v.second);
        if (HasFatalFailure())
            return;
        ++lists;
    }
    EXPECT_EQ(6000, lists);
}

// Hand-made lists where removing the tags makes new ones.
TEST(VersionListOrder, TagsJoinedByRemovalsAndStrays) {
    const wchar_t* cases[] = {
        L"<ovVersionList><Vers<Version>ion>1000820090415http://h/a.zip</Version></ovVersionList>",
        L"<ovVersionList><Version>1000820090415http://h/a.zip</Ver</Version>sion></ovVersionList>",
        L"<ovVersionList><Vers<Version></Version>ion>1000820090415http://h/b.zip</Version>"
        L"</ovVersionList>",
        L"<ovVersionList></Ver<Version>sion><Version>1000820090415http://h/c.zip</Version>"
        L"</ovVersionList>",
        L"<ovVersionList></Version><Version>1000820090415http://h/d.zip</Version>"
        L"</ovVersionList>",
        L"<ovVersionList><Version>1000820090415http://h/e<Version>1000820090416http://h/f.zip"
        L"</Version></Version></ovVersionList>",
        L"<ovVersionList><Version>1000820090415</ovVersionList>http://h/g.zip</Version>",
        L"</ovVersionList><ovVersionList><Version>1000820090415http://h/h.zip</Version>",
        L"<ovVersionList><Version></Version><Version>1000820090417http://h/i.zip</Version>"
        L"</ovVersionList>",
    };
    for (const wchar_t* text : cases)
        for (int second0 : {20090401, -1}) {
            ExpectSameAsPlainLoop(text, second0 < 0 ? 0 : 10008, second0);
            ExpectSameAsPlainLoop(text, 10008, second0);
        }
}

std::wstring ManyMatches(int n, int fromMinor) {
    std::wstring s = L"<ovVersionList>\r\n";
    for (int i = 0; i < n; ++i) {
        wchar_t e[96];
        swprintf(e, 96, L"<Version>10008%08dhttp://h/u/10008%08d.zip</Version>\r\n", fromMinor + i,
                 fromMinor + i);
        s += e;
    }
    return s + L"</ovVersionList>";
}

// Thousands of matching entries: one start runs the first UPDATE_MAX_WORKERS in list order;
// once the newest of those is installed, the next start takes the ones after it.
TEST(VersionListWorkers, ThousandsOfMatchesStartTheCapInListOrder) {
    std::wstring text = ManyMatches(3000, 20090402);
    int installed = 20090401;
    for (int start = 0; start < 3; ++start) {
        std::vector<int> minors;
        BOOL result = ParseVersionListWith(
            CString(text),
            [&](int& f, int& s) {
                f = 10008;
                s = installed;
                return TRUE;
            },
            kFolder,
            [&](const CString& url, const CString&) {
                minors.push_back(::_wtoi(url.Mid(16, 8)));
                return TRUE;
            });
        EXPECT_TRUE(result);
        ASSERT_EQ(static_cast<size_t>(UPDATE_MAX_WORKERS), minors.size());
        for (int i = 0; i < UPDATE_MAX_WORKERS; ++i)
            EXPECT_EQ(installed + 1 + i, minors[i]);
        installed = minors.back();
    }
}

// A list of fewer matches than the cap starts every one of them, as before.
TEST(VersionListWorkers, RealisticListsStartEveryMatch) {
    for (int n : {1, 2, UPDATE_MAX_WORKERS - 1, UPDATE_MAX_WORKERS})
        ExpectSameAsPlainLoop(ManyMatches(n, 20090402), 10008, 20090401);
    int calls = 0;
    ParseVersionListWith(
        CString(ManyMatches(UPDATE_MAX_WORKERS, 20090402)),
        [](int& f, int& s) {
            f = 10008;
            s = 20090401;
            return TRUE;
        },
        kFolder, [&](const CString&, const CString&) { return ++calls, TRUE; });
    EXPECT_EQ(UPDATE_MAX_WORKERS, calls);
}

} // namespace
