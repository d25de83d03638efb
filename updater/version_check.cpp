#include "version_check.h"

#include "appfolder.h"
#include "download.h"
#include "inet.h"
#include "inifile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

#ifndef RUNVEL_UPDATE_SERVER
#define RUNVEL_UPDATE_SERVER L"http://update.tessaly.example"
#endif

namespace {
// A version list is a few lines; anything far larger is no version list, and holding it
// would only exhaust the process.
const size_t kMaxVersionList = 4 * 1024 * 1024;
} // namespace

CString GetUpdateServer() {
    CIniFile ini(GetConfigIniPath());
    CString server = ini.GetString(L"UPDATE", L"Server", RUNVEL_UPDATE_SERVER);
    return server;
}

CString VersionListUrl(const CString& strServer) {
    CString base = strServer;
    base.TrimRight(L'/');
    if (base.Find(L"://") < 0)
        base = L"http://" + base;
    return base + L"/zip.html";
}

CString FileNameFromUrl(const CString& strUrl) {
    int slash = strUrl.ReverseFind(L'/');
    if (slash < 0)
        slash = strUrl.ReverseFind(L'\\');
    return slash >= 0 ? strUrl.Mid(slash + 1) : strUrl;
}

BOOL IsPlainFileName(const CString& strName) {
    if (strName.IsEmpty() || strName == L"." || strName == L"..")
        return FALSE;
    for (int i = 0; i < strName.GetLength(); ++i) {
        wchar_t ch = strName[i];
        if (ch == L'\\' || ch == L'/' || ch == L':' || ch < 32)
            return FALSE;
    }
    return TRUE;
}

CString DecodeVersionList(const std::string& bytes, UINT nCodePage) {
    size_t n = bytes.find('\0');
    if (n == std::string::npos)
        n = bytes.size();
    if (n == 0)
        return CString();
    int cch = ::MultiByteToWideChar(nCodePage, 0, bytes.data(), static_cast<int>(n), nullptr, 0);
    if (cch <= 0)
        return CString();
    CString text;
    wchar_t* p = text.GetBuffer(cch);
    ::MultiByteToWideChar(nCodePage, 0, bytes.data(), static_cast<int>(n), p, cch);
    text.ReleaseBuffer(cch);
    return text;
}

namespace {
const wchar_t kOpenTag[] = L"<Version>";   // 9 characters
const wchar_t kCloseTag[] = L"</Version>"; // 10
const int kOpenLen = 9;
const int kCloseLen = 10;

// The list body as a chain of characters. Removing a tag relinks a few nodes instead of
// moving the rest of the body, and node numbers keep the text's order, so positions compare
// as numbers after removals too.
class CTagChain {
  public:
    explicit CTagChain(const std::wstring& text)
        : m_text(text), m_nEnd(static_cast<int>(text.size()) + 1),
          m_next(static_cast<size_t>(m_nEnd) + 1), m_prev(static_cast<size_t>(m_nEnd) + 1),
          m_removed(static_cast<size_t>(m_nEnd) + 1, false) {
        // Node 0 heads the chain, node i + 1 holds character i, m_nEnd ends it.
        for (int i = 0; i <= m_nEnd; ++i) {
            m_next[i] = i < m_nEnd ? i + 1 : m_nEnd;
            m_prev[i] = i > 0 ? i - 1 : 0;
        }
    }
    int Begin() const { return m_next[0]; }
    int End() const { return m_nEnd; }
    int Next(int node) const { return m_next[node]; }
    int Prev(int node) const { return m_prev[node]; }
    wchar_t At(int node) const { return m_text[static_cast<size_t>(node) - 1]; }
    bool IsRemoved(int node) const { return m_removed[node]; }

    bool MatchAt(int node, const wchar_t* tag, int len) const {
        for (int i = 0; i < len; ++i, node = m_next[node])
            if (node == m_nEnd || At(node) != tag[i])
                return false;
        return true;
    }
    int Find(int from, const wchar_t* tag, int len) const {
        for (int node = from; node != m_nEnd; node = m_next[node])
            if (MatchAt(node, tag, len))
                return node;
        return m_nEnd;
    }
    // Up to count live nodes before node (fewer at the front).
    int Back(int node, int count) const {
        while (count-- > 0 && m_prev[node] != 0)
            node = m_prev[node];
        return node;
    }
    // The live node count nodes after node, or stop if that comes first.
    int Skip(int node, int count, int stop) const {
        while (count-- > 0 && node != stop && node != m_nEnd)
            node = m_next[node];
        return node;
    }
    // Up to max characters from node on, before stop.
    CString Text(int node, int stop, int max) const {
        std::wstring s;
        for (; node != stop && node != m_nEnd && static_cast<int>(s.size()) < max;
             node = m_next[node])
            s += At(node);
        return CString(s);
    }
    // Removes len live nodes from node on; returns the live node before them.
    int Remove(int node, int len) {
        int before = m_prev[node];
        int after = node;
        for (int i = 0; i < len && after != m_nEnd; ++i) {
            m_removed[after] = true;
            after = m_next[after];
        }
        m_next[before] = after;
        m_prev[after] = before;
        return before;
    }

  private:
    const std::wstring& m_text;
    int m_nEnd;
    std::vector<int> m_next, m_prev;
    std::vector<bool> m_removed;
};

} // namespace

BOOL ParseVersionListWith(const CString& strText, const ReadVersionFn& readVersion,
                          const CString& strAppFolder, const StartDownloadFn& startDownload) {
    static const wchar_t kListOpen[] = L"<ovVersionList>";   // 15 characters
    static const wchar_t kListClose[] = L"</ovVersionList>"; // 16

    int a = strText.Find(kListOpen);
    int b = strText.Find(kListClose);
    if (a < 0 || b < 0)
        return FALSE;
    int first0 = 0, second0 = 0;
    if (!readVersion(first0, second0))
        return FALSE;

    // From the opening list tag through the closing one, both tags removed; empty when the
    // closing tag comes first.
    CString body = strText.Mid(a, b + 16 - a);
    body = body.GetLength() >= 31 ? body.Mid(15, body.GetLength() - 31) : CString();

    // Each element found takes its two tags out of the body and the search starts again from
    // the front. Taking a tag out can join the text around it into a new tag, so the searches
    // resume a tag's length before each join; closing tags that appear behind the far search
    // point are kept in `behind`.
    CTagChain chain(body.str());
    int openFrom = chain.Begin();  // no opening tag starts before it
    int closeFrom = chain.Begin(); // every closing tag before it is in `behind`
    std::set<int> behind;
    int started = 0;
    for (;;) {
        int p = chain.Find(openFrom, kOpenTag, kOpenLen);
        openFrom = p;
        if (behind.empty() || *behind.begin() >= closeFrom)
            closeFrom = chain.Find(closeFrom, kCloseTag, kCloseLen);
        int q = behind.empty() ? closeFrom : std::min(*behind.begin(), closeFrom);
        if (p == chain.End() || q == chain.End())
            break;

        // A closing tag cannot start inside an opening one: q > p is an element, and q < p
        // gives an empty entry.
        bool element = q > p;
        int entry = chain.Skip(p, kOpenLen, q);
        CString head = element ? chain.Text(entry, q, 13) : CString();
        int main = ::_wtoi(head.Left(5));
        int minor = ::_wtoi(head.Mid(5, 8));
        if (main == first0 && minor > second0) {
            CString url = element ? chain.Text(chain.Skip(entry, 13, q), q, INT_MAX) : CString();
            CString name = FileNameFromUrl(url);
            // The name comes from the server: one that would leave "UpdateZip" gets no worker.
            if (IsPlainFileName(name) && startDownload(url, strAppFolder + L"UpdateZip\\" + name))
                if (++started >= UPDATE_MAX_WORKERS)
                    break;
        }

        // Drop the opening tag, then the closing tag. A closing tag before the opening one
        // stays, so every later entry reads empty.
        int beforeOpen = chain.Remove(p, kOpenLen);
        if (chain.IsRemoved(closeFrom))
            closeFrom = chain.Back(chain.Next(beforeOpen), kCloseLen - 1);
        int beforeClose = -1;
        if (element) {
            behind.erase(q);
            beforeClose = chain.Remove(q, kCloseLen);
            if (chain.IsRemoved(closeFrom))
                closeFrom = chain.Back(chain.Next(beforeClose), kCloseLen - 1);
        }
        // Tags the removals joined together.
        auto noteJoinedClose = [&](int join) {
            for (int s = chain.Back(join, kCloseLen - 1); s != join; s = chain.Next(s))
                if (s < closeFrom && chain.MatchAt(s, kCloseTag, kCloseLen))
                    behind.insert(s);
        };
        noteJoinedClose(chain.Next(beforeOpen));
        if (beforeClose >= 0)
            noteJoinedClose(chain.Next(beforeClose));
        openFrom = chain.Back(chain.Next(beforeOpen), kOpenLen - 1);
    }
    return started > 0;
}

BOOL ParseVersionList(const CString& strText) {
    return ParseVersionListWith(
        strText, [](int& f, int& s) { return ReadInstalledVersion(f, s); }, GetAppFolder(),
        [](const CString& url, const CString& path) { return StartDownload(url, path); });
}

DWORD GetCheckTimeout() {
    CIniFile ini(GetConfigIniPath());
    int seconds = ini.GetInt(L"UPDATE", L"CheckSeconds", 30);
    if (seconds < 1 || seconds > 600)
        seconds = 30;
    return static_cast<DWORD>(seconds) * 1000;
}

namespace {
// What the fetching thread hands back; shared, so an abandoned fetch can still finish.
struct CListFetch {
    CString strUrl;
    CString strAgent;
    std::string bytes;
    bool ok = false;
    HANDLE hDone = nullptr;
    ~CListFetch() {
        if (hDone)
            ::CloseHandle(hDone);
    }
};

void FetchVersionList(CListFetch& fetch) {
    try {
        CInternetSession session(fetch.strAgent, INTERNET_OPEN_TYPE_PRECONFIG);
        std::unique_ptr<CHttpFile> file =
            session.OpenURL(fetch.strUrl, INTERNET_FLAG_TRANSFER_ASCII);
        char buffer[1024];
        for (;;) {
            UINT n = file->Read(buffer, sizeof(buffer));
            if (n == 0)
                break;
            fetch.bytes.append(buffer, n);
            if (fetch.bytes.size() > kMaxVersionList)
                return;
        }
        file->Close();
        fetch.ok = true;
    } catch (...) {
        // Session, connection or read failure: a run without downloads.
    }
}

DWORD WINAPI FetchThreadProc(LPVOID pParam) {
    std::unique_ptr<std::shared_ptr<CListFetch>> fetch(
        static_cast<std::shared_ptr<CListFetch>*>(pParam));
    FetchVersionList(**fetch);
    ::SetEvent((*fetch)->hDone);
    return 0;
}
} // namespace

BOOL FetchVersionListWithin(const CString& strUrl, DWORD dwTimeoutMs, std::string& bytes) {
    // The fetch runs on a thread of its own so that the wait has an end: the platform's
    // receive time-out may be unlimited, and a server trickling its bytes never trips it.
    // A fetch still running at the deadline is abandoned and ends with the process.
    auto fetch = std::make_shared<CListFetch>();
    fetch->strUrl = strUrl;
    fetch->strAgent = GetAppName();
    fetch->hDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!fetch->hDone)
        return FALSE;
    auto* arg = new std::shared_ptr<CListFetch>(fetch);
    HANDLE hThread = ::CreateThread(nullptr, 0, &FetchThreadProc, arg, 0, nullptr);
    if (!hThread) {
        delete arg;
        return FALSE;
    }
    ::CloseHandle(hThread);
    if (::WaitForSingleObject(fetch->hDone, dwTimeoutMs) != WAIT_OBJECT_0 || !fetch->ok)
        return FALSE;
    bytes.swap(fetch->bytes);
    return TRUE;
}

BOOL CheckForUpdates() {
    try {
        std::string bytes;
        if (!FetchVersionListWithin(VersionListUrl(GetUpdateServer()), GetCheckTimeout(), bytes))
            return FALSE;
        return ParseVersionList(DecodeVersionList(bytes, CP_THREAD_ACP));
    } catch (...) {
        return FALSE;
    }
}
