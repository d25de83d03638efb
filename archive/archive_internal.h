// Pieces of the archive reader that need no open archive; kept apart so they can be tested alone.
#pragma once

#include "archive.h"

#include <ioapi.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The archive file under minizip: a CreateFileW handle read through a cache, since minizip reads
// headers a few bytes at a time.
class CArchiveFile {
  public:
    CArchiveFile() = default;
    CArchiveFile(const CArchiveFile&) = delete;
    CArchiveFile& operator=(const CArchiveFile&) = delete;
    ~CArchiveFile() { Close(); }

    bool Open(const wchar_t* fileName);
    // Reads through a duplicate of hFile, from wherever its file pointer is.
    bool OpenHandle(HANDLE hFile);
    void Close();
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    // Reads up to size bytes at the current position; returns the count read.
    unsigned long Read(void* buf, unsigned long size);
    bool Seek(uint64_t pos);
    uint64_t Tell() const { return m_nPos; }
    uint64_t Size() const { return m_nSize; }
    bool HasError() const { return m_bError; }

    // minizip's hooks over this object (the object is passed as the "path" to open).
    static void FillHooks(zlib_filefunc64_def* hooks);

  private:
    bool Attach(HANDLE hFile);
    bool ReadAt(uint64_t pos, void* buf, DWORD size, DWORD* got);

    static const DWORD CACHE_SIZE = 65536;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    uint64_t m_nSize = 0;
    uint64_t m_nPos = 0;      // logical position
    uint64_t m_nOsPos = 0;    // position of the OS file pointer
    uint64_t m_nCachePos = 0; // file position of m_cache[0]
    DWORD m_nCacheLen = 0;
    bool m_bError = false;
    unsigned char* m_pCache = nullptr;
};

// Decodes a stored name as UTF-8 into out (MAX_PATH units). Invalid sequences become U+FFFD; a
// NUL byte ends the name. Returns false when the result does not fit in MAX_PATH - 1 units.
bool DecodeItemName(const unsigned char* bytes, size_t count, wchar_t* out);

// Drops drive prefixes, leading separators and everything in front of an inner ".." component.
void CleanItemName(wchar_t* name);

// True when a component of name is "..", or made only of dots and spaces with two or more dots
// (Windows trims trailing dots and spaces, so "... " can act as ".."). Joined to the base
// folder such a name could point outside it.
bool NameLeavesBase(const wchar_t* name);

// True when a component of name is a Windows device name (CON, PRN, AUX, NUL, COM0-9,
// LPT0-9, CONIN$, CONOUT$), with or without an extension: opening such a path reaches the
// device in any folder, so the data would not land in a file.
bool NameIsDevice(const wchar_t* name);

// True when name is absolute for extraction: it begins with a separator or its second
// character is ':'.
bool IsAbsoluteName(const wchar_t* name);

// Win32 attribute bits from the version-made-by field and the external attributes.
DWORD AttributesFromHost(unsigned long versionMadeBy, unsigned long externalAttributes);

// DOS date (high word) and time (low word) taken as local time, as a UTC FILETIME. A date or time
// that is no valid calendar value gives a zero FILETIME ("unknown").
FILETIME DosTimeToFileTime(unsigned long dosDateTime);

// Applies the first "UT" block of a local extra field to the record's times.
void ApplyExtendedTimestamp(const unsigned char* field, size_t length, ArchiveItem* item);

// Traditional ZIP decryption of the 12-byte encryption header with the empty password;
// returns its last byte after decryption.
unsigned char DecryptHeaderCheckByte(const unsigned char header[12]);

// Creates base + folder and every folder above it that is missing; base may be null.
// Paths longer than MAX_PATH - 1 units are not attempted.
void MakeFolders(const wchar_t* base, const wchar_t* folder);
