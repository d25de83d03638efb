// Paths of the updater: everything lives below the folder of the running executable.
#pragma once

#include "cstring.h"

// The executable's folder, ending with "\".
CString GetAppFolder();
// The application name (the executable's file title unless the program names itself);
// the agent string of every HTTP session.
CString GetAppName();
