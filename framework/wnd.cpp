#include "wnd.h"
#include "app.h"

#include <vector>

const MessageMap* CWnd::GetThisMessageMap() {
    static const MessageMapEntry entries[] = {{0, 0, 0, SigVoid, nullptr}};
    static const MessageMap map = {nullptr, &entries[0]};
    return &map;
}

void CWnd::GetWindowText(CString& str) const {
    str = GetWindowText();
}

CString CWnd::GetWindowText() const {
    int n = ::GetWindowTextLengthW(m_hWnd);
    if (n <= 0)
        return CString();
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    ::GetWindowTextW(m_hWnd, buf.data(), n + 1);
    return CString(buf.data());
}

CString CWnd::GetDlgItemText(int nID) const {
    CWnd item(GetDlgItem(nID));
    CString s = item.GetWindowText();
    item.m_hWnd = nullptr;
    return s;
}

BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
    DWORD style = static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
    DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, static_cast<LONG>(newStyle));
    if (nFlags)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (!rControl.m_hWnd)
        rControl.m_hWnd = pDX->m_pDlgWnd->GetDlgItem(nIDC);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

CDialog* CDialog::FromHandle(HWND hWnd) {
    if (!hWnd || ::GetWindowLongPtrW(hWnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&DialogProc))
        return nullptr;
    return reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND hParent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    HWND h = ::CreateDialogParamW(CWinApp::ResourceHandle(), MAKEINTRESOURCEW(nIDTemplate), hParent,
                                  &DialogProc, reinterpret_cast<LPARAM>(this));
    return h != nullptr;
}

// Keys go to the innermost of our dialogs first, so Enter and Esc inside a child page reach
// that page's own IDOK/IDCANCEL handlers and not the dialog that hosts it.
bool CDialog::PreTranslate(MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)
        return false;
    for (HWND h = msg.hwnd; h; h = ::GetParent(h)) {
        if (FromHandle(h) && ::IsDialogMessageW(h, &msg))
            return true;
        if (!(::GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
            break;
    }
    return false;
}

INT_PTR CDialog::DoModal() {
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    m_bModal = true;
    m_bEnded = false;
    m_nModalResult = -1;
    HWND h = ::CreateDialogParamW(CWinApp::ResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate),
                                  hParent, &DialogProc, reinterpret_cast<LPARAM>(this));
    if (!h) {
        m_bModal = false;
        return -1;
    }
    bool parentDisabled = false;
    if (hParent && ::IsWindowEnabled(hParent)) {
        ::EnableWindow(hParent, FALSE);
        parentDisabled = true;
    }
    MSG msg;
    while (!m_bEnded) {
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0) {
            // The quit message ends the run; keep it for any outer loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            m_nModalResult = -1;
            break;
        }
        if (r < 0)
            break;
        if (!PreTranslate(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (parentDisabled)
        ::EnableWindow(hParent, TRUE);
    if (m_hWnd) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    m_bModal = false;
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEnded = true;
    if (m_bModal && m_hWnd)
        ::ShowWindow(m_hWnd, SW_HIDE);
    // Wake the modal loop if the call came from outside a dispatched message.
    if (m_hWnd)
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

void CDialog::PaintIconWhenMinimized(HICON hIcon) {
    if (!IsIconic()) {
        Default();
        return;
    }
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(hdc, x, y, hIcon);
    ::EndPaint(m_hWnd, &ps);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool CDialog::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    UINT code = msg == WM_COMMAND ? HIWORD(wParam) : 0;
    UINT id = msg == WM_COMMAND ? LOWORD(wParam) : 0;
    for (const MessageMap* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const MessageMapEntry* e = map->lpEntries; e->pfn; ++e) {
            if (e->nMessage != msg || e->nCode != code || e->nID != id)
                continue;
            switch (e->nSig) {
            case SigVoid:
                (this->*(e->pfn))();
                result = 0;
                break;
            case SigLResultWL:
                result = (this->*reinterpret_cast<LRESULT (CWnd::*)(WPARAM, LPARAM)>(e->pfn))(
                    wParam, lParam);
                break;
            case SigVoidSysCmd:
                (this->*reinterpret_cast<void (CWnd::*)(UINT, LPARAM)>(e->pfn))(
                    static_cast<UINT>(wParam), lParam);
                result = 0;
                break;
            case SigCursorVoid:
                result = reinterpret_cast<LRESULT>(
                    (this->*reinterpret_cast<HCURSOR (CWnd::*)()>(e->pfn))());
                break;
            }
            return true;
        }
    }
    // Unmapped OK and Cancel commands behave as the dialog's own OnOK and OnCancel.
    if (msg == WM_COMMAND && code == BN_CLICKED && (id == IDOK || id == IDCANCEL)) {
        if (id == IDOK)
            OnOK();
        else
            OnCancel();
        result = 0;
        return true;
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        if (msg == WM_INITDIALOG) {
            CDialog* self = reinterpret_cast<CDialog*>(lParam);
            ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
            self->m_hWnd = hWnd;
            return self->OnInitDialog();
        }
        CDialog* self = FromHandle(hWnd);
        if (!self)
            return FALSE;
        if (msg == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
            self->m_hWnd = nullptr;
            return FALSE;
        }
        self->m_bDefault = false;
        LRESULT result = 0;
        if (!self->Dispatch(msg, wParam, lParam, result) || self->m_bDefault)
            return FALSE;
        switch (msg) {
        // These return their value directly from a dialog procedure.
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORMSGBOX:
            return static_cast<INT_PTR>(result);
        default:
            ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
    } catch (...) {
        // A handler's failure must not unwind through the window manager.
        return TRUE;
    }
}
