// Windows, dialogs from templates, static message maps and control wrappers.
#pragma once

#include "cstring.h"

#include <windows.h>
#include <commctrl.h>

class CWnd;
class CDialog;

// ---- message maps -------------------------------------------------------------------------
// A class's map is a static table scanned by the one dialog procedure in CDialog; entries
// point at members of the class, stored in a common type and called back by signature.
typedef void (CWnd::*PMAPFN)();

enum MessageSig : UINT {
    SigVoid,       // void f()
    SigLResultWL,  // LRESULT f(WPARAM, LPARAM)
    SigVoidSysCmd, // void f(UINT nID, LPARAM)
    SigCursorVoid, // HCURSOR f()
};

struct MessageMapEntry {
    UINT nMessage;
    UINT nCode; // notification code for WM_COMMAND
    UINT nID;   // control id for WM_COMMAND
    MessageSig nSig;
    PMAPFN pfn; // null ends the table
};

struct MessageMap {
    const MessageMap* (*pfnGetBaseMap)();
    const MessageMapEntry* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                      \
  protected:                                                                                       \
    static const MessageMap* GetThisMessageMap();                                                  \
    const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const MessageMap* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const MessageMap* theClass::GetThisMessageMap() {                                              \
        typedef theClass ThisClass;                                                                \
        typedef baseClass TheBaseClass;                                                            \
        static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, SigVoid, nullptr }                                                                  \
    }                                                                                              \
    ;                                                                                              \
    static const MessageMap map = {&TheBaseClass::GetThisMessageMap, &entries[0]};                 \
    return &map;                                                                                   \
    }

#define MAP_FN(type, fn) reinterpret_cast<PMAPFN>(static_cast<type>(fn))

#define ON_COMMAND(id, memberFxn)                                                                  \
    {WM_COMMAND, 0, static_cast<UINT>(id), SigVoid, MAP_FN(void(CWnd::*)(), &ThisClass::memberFxn)},
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), SigVoid,                                       \
     MAP_FN(void(CWnd::*)(), &ThisClass::memberFxn)},
#define ON_CBN_SELCHANGE(id, memberFxn)                                                            \
    {WM_COMMAND, CBN_SELCHANGE, static_cast<UINT>(id), SigVoid,                                    \
     MAP_FN(void(CWnd::*)(), &ThisClass::memberFxn)},
#define ON_MESSAGE(message, memberFxn)                                                             \
    {static_cast<UINT>(message), 0, 0, SigLResultWL,                                               \
     MAP_FN(LRESULT(CWnd::*)(WPARAM, LPARAM), &ThisClass::memberFxn)},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, SigVoid, MAP_FN(void(CWnd::*)(), &ThisClass::OnPaint)},
#define ON_WM_SYSCOMMAND()                                                                         \
    {WM_SYSCOMMAND, 0, 0, SigVoidSysCmd,                                                           \
     MAP_FN(void(CWnd::*)(UINT, LPARAM), &ThisClass::OnSysCommand)},
#define ON_WM_QUERYDRAGICON()                                                                      \
    {WM_QUERYDRAGICON, 0, 0, SigCursorVoid,                                                        \
     MAP_FN(HCURSOR(CWnd::*)(), &ThisClass::OnQueryDragIcon)},

// ---- windows ------------------------------------------------------------------------------
// A CWnd refers to a window; it owns it only where a subclass says so (CDialog).
class CWnd {
  public:
    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void SetWindowText(const wchar_t* psz) { ::SetWindowTextW(m_hWnd, psz); }
    void GetWindowText(CString& str) const;
    CString GetWindowText() const;
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE) {
        ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
    }
    void GetClientRect(RECT* pRect) const { ::GetClientRect(m_hWnd, pRect); }
    void GetWindowRect(RECT* pRect) const { ::GetWindowRect(m_hWnd, pRect); }
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageW(m_hWnd, msg, wParam, lParam);
    }
    BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::PostMessageW(m_hWnd, msg, wParam, lParam);
    }
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    void SetDlgItemText(int nID, const wchar_t* psz) { ::SetDlgItemTextW(m_hWnd, nID, psz); }
    CString GetDlgItemText(int nID) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(hIcon)));
    }
    BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }

    HWND m_hWnd = nullptr;

  protected:
    // Every window class with a map overrides this (DECLARE_MESSAGE_MAP).
    virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

  public:
    static const MessageMap* GetThisMessageMap();
};

// ---- data exchange ------------------------------------------------------------------------
class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds a control member to the template control nIDC.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// ---- dialogs ------------------------------------------------------------------------------
class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; returns the value given to EndDialog, or -1 when the
    // window could not be created or a quit message ended the run.
    virtual INT_PTR DoModal();
    // Creates the dialog as a modeless (child) window of pParentWnd.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // The one dialog procedure: routes messages through the class's message map.
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The CDialog behind hWnd, if it is one of ours.
    static CDialog* FromHandle(HWND hWnd);

  protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX) {}
    virtual void OnOK();
    virtual void OnCancel();
    // Inside a handler: let the dialog manager's default processing handle the message too.
    void Default() { m_bDefault = true; }
    // WM_PAINT of a dialog with an icon: the icon centred while minimised, else default painting.
    void PaintIconWhenMinimized(HICON hIcon);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

  private:
    bool Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    static bool PreTranslate(MSG& msg);

    bool m_bModal = false;
    bool m_bEnded = false;
    bool m_bDefault = false;
    int m_nModalResult = -1;
};

// ---- controls -----------------------------------------------------------------------------
class CStatic : public CWnd {};

class CEdit : public CWnd {};

class CButton : public CWnd {
  public:
    void SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }
    int GetCheck() const { return static_cast<int>(::SendMessageW(m_hWnd, BM_GETCHECK, 0, 0)); }
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange(short nLower, short nUpper) {
        SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper));
    }
    int SetStep(int nStep) { return static_cast<int>(SendMessage(PBM_SETSTEP, nStep)); }
    int StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }
    int SetPos(int nPos) { return static_cast<int>(SendMessage(PBM_SETPOS, nPos)); }
    int GetPos() const { return static_cast<int>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0)); }
};

class CComboBox : public CWnd {
  public:
    int AddString(const wchar_t* psz) {
        return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(psz)));
    }
    int GetCurSel() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)); }
    int SetCurSel(int nSelect) { return static_cast<int>(SendMessage(CB_SETCURSEL, nSelect)); }
    int GetCount() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
};
