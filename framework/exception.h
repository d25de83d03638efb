// The exception family of the class layer: thrown by value, caught by reference;
// every error object carries its own code.
#pragma once

#include <windows.h>

class CException {
  public:
    explicit CException(DWORD dwError = 0) : m_dwError(dwError) {}
    virtual ~CException() = default;
    DWORD GetErrorCode() const { return m_dwError; }

  protected:
    DWORD m_dwError;
};
