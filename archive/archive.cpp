#include "archive_internal.h"

#include <unzip.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

namespace {

const unsigned PIECE_SIZE = 16384;

// What extraction needs of a record beyond the public fields.
struct CRecordInfo {
    unsigned long flags = 0;
    unsigned long dosDateTime = 0;
    unsigned long crc = 0;
};

// Output file handle.
class CFileHandle {
  public:
    explicit CFileHandle(HANDLE h) : m_h(h) {}
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    ~CFileHandle() {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_h;
};

// The item opened for reading in minizip; closed on every way out.
class CCurrentItem {
  public:
    explicit CCurrentItem(unzFile zip) : m_zip(zip) {}
    CCurrentItem(const CCurrentItem&) = delete;
    CCurrentItem& operator=(const CCurrentItem&) = delete;
    ~CCurrentItem() { Close(); }
    // Returns minizip's close result (UNZ_CRCERROR when all data was read and the CRC differs).
    int Close() {
        int r = UNZ_OK;
        if (m_zip)
            r = unzCloseCurrentFile(m_zip);
        m_zip = nullptr;
        return r;
    }

  private:
    unzFile m_zip;
};

bool IsZeroTime(const FILETIME& t) {
    return t.dwLowDateTime == 0 && t.dwHighDateTime == 0;
}

} // namespace

struct ArchiveHandleData {
    CArchiveFile file;
    unzFile zip = nullptr;
    wchar_t base[MAX_PATH] = {};
    int count = 0;
    int current = -1;  // minizip's current entry; -1 when unknown
    int reachable = 0; // stepping cannot reach this index or beyond (an unreadable record)
    int cachedIndex = -1;
    ArchiveItem cached = {};
    CRecordInfo cachedInfo;
    std::unique_ptr<unsigned char[]> output;

    ~ArchiveHandleData() {
        if (zip)
            unzClose(zip);
    }
};

namespace {

DWORD GoToIndex(ArchiveHandleData* h, int index) {
    if (index >= h->reachable)
        return AR_CORRUPT;
    if (h->current < 0 || index < h->current) {
        h->current = -1;
        if (unzGoToFirstFile(h->zip) != UNZ_OK) {
            h->reachable = 0;
            return AR_CORRUPT;
        }
        h->current = 0;
    }
    while (h->current < index) {
        if (unzGoToNextFile(h->zip) != UNZ_OK) {
            // minizip cannot step past this record: nothing at or after it is reachable.
            h->reachable = h->current + 1;
            h->current = -1;
            return AR_CORRUPT;
        }
        ++h->current;
    }
    return AR_OK;
}

// Builds the record of the current entry (the archive is positioned on index).
DWORD BuildRecord(ArchiveHandleData* h, int index, ArchiveItem* item, CRecordInfo* info) {
    unz_file_info64 fi;
    unsigned char rawName[MAX_PATH + 1];
    if (unzGetCurrentFileInfo64(h->zip, &fi, reinterpret_cast<char*>(rawName), MAX_PATH, nullptr, 0,
                                nullptr, 0) != UNZ_OK)
        return AR_CORRUPT;
    // Names that do not fit are refused rather than cut: a cut name is another file's name.
    if (fi.size_filename > MAX_PATH - 1)
        return AR_ARGS;
    if (fi.compression_method != 0 && fi.compression_method != Z_DEFLATED)
        return AR_CORRUPT;

    // The local header check happens on opening; raw, so no inflater is set up for it.
    std::vector<unsigned char> extra;
    {
        if (unzOpenCurrentFile3(h->zip, nullptr, nullptr, 1, nullptr) != UNZ_OK) {
            unzCloseCurrentFile(h->zip);
            return AR_CORRUPT;
        }
        CCurrentItem open(h->zip);
        int length = unzGetLocalExtrafield(h->zip, nullptr, 0);
        if (length < 0)
            return AR_READ;
        extra.resize(static_cast<size_t>(length));
        if (length > 0 &&
            unzGetLocalExtrafield(h->zip, extra.data(), static_cast<unsigned>(length)) != length)
            return AR_READ;
    }

    ArchiveItem rec = {};
    rec.index = index;
    if (!DecodeItemName(rawName, fi.size_filename, rec.name))
        return AR_ARGS;
    CleanItemName(rec.name);
    rec.attributes = AttributesFromHost(fi.version, fi.external_fa);
    rec.writeTime = rec.accessTime = rec.createTime = DosTimeToFileTime(fi.dosDate);
    ApplyExtendedTimestamp(extra.data(), extra.size(), &rec);
    rec.compressedSize = static_cast<DWORD>(fi.compressed_size);
    rec.size = static_cast<DWORD>(fi.uncompressed_size);
    *item = rec;
    info->flags = fi.flag;
    info->dosDateTime = fi.dosDate;
    info->crc = fi.crc;
    return AR_OK;
}

// Positions on index and makes its record the cached one (unless it already is).
DWORD CacheRecord(ArchiveHandleData* h, int index) {
    DWORD r = GoToIndex(h, index);
    if (r != AR_OK || h->cachedIndex == index)
        return r;
    ArchiveItem rec;
    CRecordInfo info;
    r = BuildRecord(h, index, &rec, &info);
    if (r != AR_OK)
        return r;
    h->cached = rec;
    h->cachedInfo = info;
    h->cachedIndex = index;
    return AR_OK;
}

// Reads the decrypted check byte of the open encrypted item and compares it.
bool CheckByteMatches(ArchiveHandleData* h, const CRecordInfo& info) {
    ZPOS64_T dataPos = unzGetCurrentFileZStreamPos64(h->zip);
    if (dataPos < 12)
        return false;
    unsigned char header[12];
    h->file.Seek(dataPos - 12);
    if (h->file.Read(header, 12) != 12)
        return false;
    unsigned char expected = (info.flags & 8)
                                 ? static_cast<unsigned char>((info.dosDateTime >> 8) & 0xFF)
                                 : static_cast<unsigned char>((info.crc >> 24) & 0xFF);
    return DecryptHeaderCheckByte(header) == expected;
}

DWORD ExtractFile(ArchiveHandleData* h, const ArchiveItem& rec, const CRecordInfo& info,
                  const wchar_t* path) {
    CFileHandle out(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                rec.attributes ? rec.attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.IsValid())
        return AR_NOFILE;

    bool encrypted = (info.flags & 1) != 0;
    int opened = unzOpenCurrentFile3(h->zip, nullptr, nullptr, 0, encrypted ? "" : nullptr);
    CCurrentItem item(h->zip); // minizip may leave the item open on a failed open
    if (opened != UNZ_OK)
        return AR_INFLATE;
    if (encrypted && !CheckByteMatches(h, info))
        return AR_PASSWORD;
    if (!h->output)
        h->output.reset(new unsigned char[PIECE_SIZE]);

    for (;;) {
        int n = unzReadCurrentFile(h->zip, h->output.get(), PIECE_SIZE);
        if (n < 0)
            return AR_INFLATE;
        if (n > 0) {
            DWORD written = 0;
            if (!WriteFile(out.Get(), h->output.get(), static_cast<DWORD>(n), &written, nullptr) ||
                written != static_cast<DWORD>(n))
                return AR_WRITE;
            continue;
        }
        // No bytes: the end only when the whole uncompressed size came; else the data
        // ended early.
        if (unzeof(h->zip) != 1)
            return AR_INFLATE;
        // Corrupted data is not success: the bytes stay, without the item's times.
        if (item.Close() == UNZ_CRCERROR)
            return AR_INFLATE;
        SetFileTime(out.Get(), IsZeroTime(rec.createTime) ? nullptr : &rec.createTime,
                    IsZeroTime(rec.accessTime) ? nullptr : &rec.accessTime,
                    IsZeroTime(rec.writeTime) ? nullptr : &rec.writeTime);
        return AR_OK;
    }
}

DWORD ExtractItem(ArchiveHandleData* h, int index, const wchar_t* targetName) {
    DWORD r = CacheRecord(h, index);
    if (r != AR_OK)
        return r;
    const ArchiveItem& rec = h->cached;
    if (NameLeavesBase(targetName) || NameIsDevice(targetName))
        return AR_ARGS;

    if (rec.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        bool absolute = IsAbsoluteName(targetName);
        if ((absolute ? 0 : wcslen(h->base)) + wcslen(targetName) >= MAX_PATH)
            return AR_NOFILE;
        MakeFolders(absolute ? nullptr : h->base, targetName);
        return AR_OK;
    }

    const wchar_t* sep = nullptr;
    for (const wchar_t* p = targetName; *p; ++p)
        if (*p == L'/' || *p == L'\\')
            sep = p;
    std::wstring folder = sep ? std::wstring(targetName, sep + 1) : std::wstring();
    std::wstring file = sep ? std::wstring(sep + 1) : std::wstring(targetName);
    bool absolute = IsAbsoluteName(folder.c_str());
    std::wstring path = (absolute ? L"" : std::wstring(h->base)) + folder + file;
    if (path.size() >= MAX_PATH)
        return AR_NOFILE;
    MakeFolders(absolute ? nullptr : h->base, folder.c_str());
    return ExtractFile(h, rec, h->cachedInfo, path.c_str());
}

} // namespace

namespace {
ArchiveHandle OpenWith(const std::function<bool(CArchiveFile&)>& open) {
    try {
        std::unique_ptr<ArchiveHandleData> h(new ArchiveHandleData);
        DWORD n = GetCurrentDirectoryW(MAX_PATH, h->base);
        if (n == 0 || n >= MAX_PATH)
            return nullptr;
        if (h->base[n - 1] != L'\\' && h->base[n - 1] != L'/') {
            if (n + 1 >= MAX_PATH)
                return nullptr;
            h->base[n] = L'\\';
            h->base[n + 1] = 0;
        }
        if (!open(h->file))
            return nullptr;
        zlib_filefunc64_def hooks;
        CArchiveFile::FillHooks(&hooks);
        hooks.opaque = &h->file;
        h->zip = unzOpen2_64(&h->file, &hooks);
        if (!h->zip)
            return nullptr; // the file closes with h
        unz_global_info64 gi;
        if (unzGetGlobalInfo64(h->zip, &gi) != UNZ_OK || gi.number_entry > 0x7FFFFFFF)
            return nullptr;
        h->count = static_cast<int>(gi.number_entry);
        h->reachable = h->count;
        if (h->count > 0 && GoToIndex(h.get(), 0) != AR_OK)
            h->reachable = 0;
        return h.release();
    } catch (...) {
        return nullptr;
    }
}
} // namespace

ArchiveHandle ArchiveOpen(const wchar_t* fileName) {
    if (!fileName)
        return nullptr;
    return OpenWith([fileName](CArchiveFile& file) { return file.Open(fileName); });
}

ArchiveHandle ArchiveOpenHandle(HANDLE hFile) {
    return OpenWith([hFile](CArchiveFile& file) { return file.OpenHandle(hFile); });
}

DWORD ArchiveGetItem(ArchiveHandle handle, int index, ArchiveItem* item) {
    if (!item)
        return AR_ARGS;
    item->index = 0;
    item->name[0] = 0;
    item->size = 0;
    if (!handle || index < -1 || index >= handle->count)
        return AR_ARGS;
    if (index == -1) {
        *item = ArchiveItem();
        item->index = handle->count;
        return AR_OK;
    }
    try {
        // A cached record is served without moving the archive.
        if (index != handle->cachedIndex) {
            DWORD r = CacheRecord(handle, index);
            if (r != AR_OK)
                return r;
        }
        *item = handle->cached;
        return AR_OK;
    } catch (...) {
        return AR_READ;
    }
}

DWORD ArchiveExtractItem(ArchiveHandle handle, int index, const wchar_t* targetName) {
    if (!handle || !targetName || index < 0 || index >= handle->count)
        return AR_ARGS;
    try {
        return ExtractItem(handle, index, targetName);
    } catch (...) {
        return AR_WRITE;
    }
}

DWORD ArchiveClose(ArchiveHandle handle) {
    if (!handle)
        return AR_ARGS;
    delete handle;
    return AR_OK;
}

DWORD ArchiveExtractAll(const wchar_t* fileName,
                        const std::function<void(int done, int count)>& progress) {
    std::unique_ptr<ArchiveHandleData, DWORD (*)(ArchiveHandle)> h(ArchiveOpen(fileName),
                                                                   ArchiveClose);
    return ArchiveExtractAllFrom(h.get(), progress);
}

DWORD ArchiveExtractAllFrom(ArchiveHandle handle,
                            const std::function<void(int done, int count)>& progress) {
    ArchiveItem item;
    ArchiveGetItem(handle, -1, &item);
    int count = item.index;
    if (progress)
        progress(0, count);
    DWORD first = handle ? AR_OK : AR_NOFILE;
    for (int i = 0; i < count; ++i) {
        DWORD r = ArchiveGetItem(handle, i, &item);
        DWORD e = ArchiveExtractItem(handle, i, item.name);
        if (first == AR_OK)
            first = r != AR_OK ? r : e;
        if (progress)
            progress(i + 1, count);
    }
    return first;
}
