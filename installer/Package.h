// The install package appended to the installer: executable image, ZIP archive, then the
// archive's length as 4 bytes little-endian.
#pragma once

#include "cstring.h"

#include <windows.h>

class CPellarSetupDlg;

const DWORD PACKAGE_CHUNK = 203840;

enum CopyResult {
    COPY_OK,
    COPY_BAD_TRAILER, // the trailer names more bytes than the file holds
    COPY_READ,        // a read failed or ended before the package did
    COPY_WRITE,       // a write or flush of the destination failed
};

// Receives the copy's progress: the range once, then one step per chunk.
class CCopyProgress {
  public:
    virtual ~CCopyProgress() = default;
    virtual void SetRange(WORD nUpper) = 0;
    virtual void Step() = 0;
};

// Where the package of hSource lies. Unsigned, the last 4 bytes give its length and it ends
// right before them. When they do not describe a package there and the PE certificate table
// (appended by Authenticode signing) ends at the end of the file, the trailer is read from just
// before that table instead.
CopyResult LocatePackage(HANDLE hSource, ULONGLONG& nStart, ULONGLONG& nLength);
// The certificate table's file offset and size from the image's security directory; FALSE
// when hFile is no PE image or has none.
BOOL GetCertificateTable(HANDLE hFile, ULONGLONG nFileSize, ULONGLONG& nOffset, ULONGLONG& nSize);

// Copies the package of hSource (an installer file) to hDest, chunk by chunk, each chunk
// flushed before the next is read. The range is (N + 1) / PACKAGE_CHUNK, cut to 16 bits.
CopyResult CopyPackage(HANDLE hSource, HANDLE hDest, CCopyProgress& progress);

// Full path of the running executable.
CString GetModulePath();

// Copies the package of the installer strExe into strDest with the wizard's progress bar.
// Success is judged by the caller from whether strDest exists afterwards: a failed copy
// leaves no file behind. An installer that cannot be opened ends the process (exit code 0).
void CopyPackageToFile(const CString& strExe, const CString& strDest, CPellarSetupDlg* pDlg);
