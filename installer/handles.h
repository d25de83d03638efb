// Owners of the handle kinds only the installer uses (files and COM: winhandles.h).
#pragma once

#include "winhandles.h"

#include <windows.h>
#include <objbase.h>

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
