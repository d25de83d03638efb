// Owners of the kernel handles and COM initialisation that both programs use.
#pragma once

#include <windows.h>
#include <objbase.h>

// Owns one kernel handle (file, process, snapshot).
class CFileHandle {
  public:
    explicit CFileHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }
    // All n bytes written, or false.
    bool Write(const void* p, DWORD n) {
        DWORD written = 0;
        return ::WriteFile(m_h, p, n, &written, nullptr) && written == n;
    }
    // False when closing failed (for a file: its last data may not have been written).
    bool Close() {
        bool ok = true;
        if (IsValid())
            ok = ::CloseHandle(m_h) != FALSE;
        m_h = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE m_h;
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
