// Update archives waiting in "UpdateZip": applied over the install folder at start, then deleted.
#pragma once

#include "cstring.h"

// The file name without its last extension, after the last backslash; "" without a period.
CString FileTitleFromPath(const CString& strPath);
// The version a pending archive's title carries: _wtoi of characters 1-5 and 6-13.
void VersionFromTitle(const CString& strTitle, int& nFirst, int& nSecond);

// Extracts every pending archive over the install folder; records the version of each one
// that was extracted completely.
void ApplyPendingUpdates();
// Extracts one archive into the install folder; TRUE only when every item was extracted.
// The current directory is restored afterwards.
BOOL ApplyUpdateArchive(const CString& strPath);
void DeletePendingUpdates();
// Removes download leftovers ("*.zip.part") that a run ended before they were complete.
void DeleteStaleDownloads();

// The same for a given install folder (ending with "\").
void ApplyPendingUpdatesIn(const CString& strAppFolder);
BOOL ApplyUpdateArchiveIn(const CString& strAppFolder, const CString& strPath);
void DeletePendingUpdatesIn(const CString& strAppFolder);
void DeleteStaleDownloadsIn(const CString& strAppFolder);
