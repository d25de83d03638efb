#include "archive_internal.h"

#include <cstring>
#include <new>

bool CArchiveFile::Open(const wchar_t* fileName) {
    Close();
    return Attach(CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool CArchiveFile::OpenHandle(HANDLE hFile) {
    Close();
    HANDLE dup = INVALID_HANDLE_VALUE;
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), hFile, GetCurrentProcess(), &dup, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return false;
    if (!Attach(dup))
        return false;
    m_nOsPos = UINT64_MAX; // the caller may have moved the shared file pointer anywhere
    return true;
}

bool CArchiveFile::Attach(HANDLE hFile) {
    m_hFile = hFile;
    if (m_hFile == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    m_pCache = new (std::nothrow) unsigned char[CACHE_SIZE];
    if (!m_pCache || !GetFileSizeEx(m_hFile, &size)) {
        Close();
        return false;
    }
    m_nSize = static_cast<uint64_t>(size.QuadPart);
    m_nPos = m_nOsPos = m_nCachePos = 0;
    m_nCacheLen = 0;
    m_bError = false;
    return true;
}

void CArchiveFile::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
    delete[] m_pCache;
    m_pCache = nullptr;
    m_nCacheLen = 0;
}

bool CArchiveFile::ReadAt(uint64_t pos, void* buf, DWORD size, DWORD* got) {
    *got = 0;
    if (pos != m_nOsPos) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(pos);
        if (!SetFilePointerEx(m_hFile, to, nullptr, FILE_BEGIN)) {
            m_bError = true;
            return false;
        }
        m_nOsPos = pos;
    }
    if (!ReadFile(m_hFile, buf, size, got, nullptr)) {
        m_bError = true;
        m_nOsPos = UINT64_MAX; // unknown
        return false;
    }
    m_nOsPos += *got;
    return true;
}

unsigned long CArchiveFile::Read(void* buf, unsigned long size) {
    if (!IsOpen())
        return 0;
    unsigned char* out = static_cast<unsigned char*>(buf);
    unsigned long done = 0;
    while (done < size) {
        if (m_nPos >= m_nCachePos && m_nPos < m_nCachePos + m_nCacheLen) {
            DWORD at = static_cast<DWORD>(m_nPos - m_nCachePos);
            DWORD n = m_nCacheLen - at;
            if (n > size - done)
                n = size - done;
            memcpy(out + done, m_pCache + at, n);
            done += n;
            m_nPos += n;
            continue;
        }
        if (m_nPos >= m_nSize)
            break;
        DWORD got = 0;
        if (size - done >= CACHE_SIZE) {
            // Large reads (item data) bypass the cache.
            if (!ReadAt(m_nPos, out + done, size - done, &got) || got == 0)
                break;
            done += got;
            m_nPos += got;
            continue;
        }
        m_nCacheLen = 0;
        if (!ReadAt(m_nPos, m_pCache, CACHE_SIZE, &got) || got == 0)
            break;
        m_nCachePos = m_nPos;
        m_nCacheLen = got;
    }
    return done;
}

bool CArchiveFile::Seek(uint64_t pos) {
    m_nPos = pos;
    return true;
}

namespace {

voidpf ZCALLBACK HookOpen(voidpf opaque, const void* filename, int mode) {
    // The reader opens the file itself; the "file name" is the open object.
    CArchiveFile* file = static_cast<CArchiveFile*>(const_cast<void*>(filename));
    if (!file || file != opaque || !file->IsOpen() ||
        (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    return file;
}

uLong ZCALLBACK HookRead(voidpf, voidpf stream, void* buf, uLong size) {
    return static_cast<CArchiveFile*>(stream)->Read(buf, size);
}

uLong ZCALLBACK HookWrite(voidpf, voidpf, const void*, uLong) {
    return 0; // the archive is only read
}

ZPOS64_T ZCALLBACK HookTell(voidpf, voidpf stream) {
    return static_cast<CArchiveFile*>(stream)->Tell();
}

long ZCALLBACK HookSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    CArchiveFile* file = static_cast<CArchiveFile*>(stream);
    uint64_t pos;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        pos = offset;
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        pos = file->Tell() + offset;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        pos = file->Size() + offset;
        break;
    default:
        return -1;
    }
    return file->Seek(pos) ? 0 : -1;
}

int ZCALLBACK HookClose(voidpf, voidpf stream) {
    static_cast<CArchiveFile*>(stream)->Close();
    return 0;
}

int ZCALLBACK HookError(voidpf, voidpf stream) {
    return static_cast<CArchiveFile*>(stream)->HasError() ? 1 : 0;
}

} // namespace

void CArchiveFile::FillHooks(zlib_filefunc64_def* hooks) {
    hooks->zopen64_file = HookOpen;
    hooks->zread_file = HookRead;
    hooks->zwrite_file = HookWrite;
    hooks->ztell64_file = HookTell;
    hooks->zseek64_file = HookSeek;
    hooks->zclose_file = HookClose;
    hooks->zerror_file = HookError;
    hooks->opaque = nullptr; // set per archive
}
