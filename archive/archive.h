// ZIP archive reader shared by the installer and the updater.
// Relative item names extract below the process's current directory at the time of ArchiveOpen.
#pragma once

#include <windows.h>
#include <functional>

// Result codes (ArchiveOpen reports failure as a null handle instead).
const DWORD AR_OK = 0x00000000;
const DWORD AR_NOFILE = 0x00000200; // archive cannot be opened / is no archive; output cannot be
                                    // created (also: output path longer than MAX_PATH - 1 units)
const DWORD AR_WRITE = 0x00000400; // writing the output file failed
const DWORD AR_CORRUPT =
    0x00000700; // local header disagrees with the central record, method not 0/8,
                // or a central record cannot be read (nothing after it is reachable)
const DWORD AR_READ = 0x00000800;     // local extra field cannot be read
const DWORD AR_PASSWORD = 0x00001000; // encryption check byte does not match
const DWORD AR_ARGS = 0x00010000; // null handle, index out of range, or a name that leaves the base
                                  // folder (a ".." component), names a device (CON, NUL, COM1...)
                                  // or is stored with more than 259 bytes
const DWORD AR_INFLATE =
    0x05000000; // reading/inflating failed, data ended early, or CRC-32 mismatch

struct ArchiveItem {
    int index;              // item position; for index -1 the item count
    wchar_t name[MAX_PATH]; // cleaned name, NUL-terminated
    DWORD attributes;       // FILE_ATTRIBUTE_* bits
    FILETIME accessTime;    // UTC
    FILETIME createTime;    // UTC
    FILETIME writeTime;     // UTC
    DWORD compressedSize;
    DWORD size;
};

struct ArchiveHandleData;
typedef ArchiveHandleData* ArchiveHandle;

ArchiveHandle ArchiveOpen(const wchar_t* fileName);
// ArchiveOpen over a file the caller already holds open with read access. The archive reads a
// duplicate of the handle (the caller's handle stays the caller's to close); the two share one
// file position, so the caller must not read through its handle while the archive is open.
ArchiveHandle ArchiveOpenHandle(HANDLE hFile);
DWORD ArchiveGetItem(ArchiveHandle handle, int index, ArchiveItem* item);
DWORD ArchiveExtractItem(ArchiveHandle handle, int index, const wchar_t* targetName);
DWORD ArchiveClose(ArchiveHandle handle);

// The callers' common loop: open fileName, extract every item under its own name into the
// current directory, close. progress (may be empty) is called with (0, count) before the first
// item and with (i + 1, count) after item i. Returns AR_OK only when the archive opened and every
// item was extracted; otherwise the first failure (AR_NOFILE when it did not open). Failed items
// do not stop the loop.
DWORD ArchiveExtractAll(const wchar_t* fileName,
                        const std::function<void(int done, int count)>& progress = {});
// The same loop over an archive already open (not closed here); AR_NOFILE for a null handle.
DWORD ArchiveExtractAllFrom(ArchiveHandle handle,
                            const std::function<void(int done, int count)>& progress = {});
