#include "appfolder.h"

#include "app.h"

CString GetAppFolder() {
    wchar_t buffer[1024] = {};
    ::GetModuleFileNameW(nullptr, buffer, 1024);
    CString path(buffer);
    int slash = path.ReverseFind(L'\\');
    return path.Left(slash + 1);
}

CString GetAppName() {
    CWinApp* app = CWinApp::Instance();
    if (app && !app->m_strAppName.IsEmpty())
        return app->m_strAppName;
    return L"Update";
}
