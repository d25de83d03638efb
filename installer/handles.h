// One small owner per Win32 handle kind the installer uses.
#pragma once

#include <windows.h>
#include <objbase.h>

class CFileHandle {
  public:
    explicit CFileHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }
    void Close() {
        if (IsValid())
            ::CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE m_h;
};

class CFindHandle {
  public:
    CFindHandle(const wchar_t* pattern, WIN32_FIND_DATAW* data)
        : m_h(::FindFirstFileW(pattern, data)) {}
    ~CFindHandle() {
        if (IsValid())
            ::FindClose(m_h);
    }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAW* data) { return ::FindNextFileW(m_h, data) != FALSE; }

  private:
    HANDLE m_h;
};

class CRegKey {
  public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    LONG Open(HKEY parent, const wchar_t* subKey, REGSAM access) {
        Close();
        return ::RegOpenKeyExW(parent, subKey, 0, access, &m_h);
    }
    HKEY Get() const { return m_h; }
    void Close() {
        if (m_h)
            ::RegCloseKey(m_h);
        m_h = nullptr;
    }

  private:
    HKEY m_h = nullptr;
};

// COM for the current thread, for the lifetime of the object.
class CComInit {
  public:
    CComInit() : m_hr(::CoInitialize(nullptr)) {}
    ~CComInit() {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

  private:
    HRESULT m_hr;
};

// An owned COM interface pointer.
template <class T> class CComPtr {
  public:
    CComPtr() = default;
    ~CComPtr() { Release(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    T* operator->() const { return m_p; }
    T** operator&() {
        Release();
        return &m_p;
    }
    explicit operator bool() const { return m_p != nullptr; }
    void Release() {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }

  private:
    T* m_p = nullptr;
};
