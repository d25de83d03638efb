// Update archive signatures: ECDSA P-256 over the SHA-256 of the archive's exact bytes, kept
// as the raw 64-byte r||s form beside the archive. Verified through Windows CNG (bcrypt),
// loaded from System32 only when a check is made.
#pragma once

#include <windows.h>

#include <memory>

const DWORD UPDATE_SIGNATURE_SIZE = 64;
const DWORD UPDATE_KEY_SIZE = 64; // the public point X||Y, big-endian

// The key the build embeds; null in builds without signed updates.
const BYTE* GetUpdatePublicKey();

// SHA-256 of data given in pieces. A hash that could not be set up or fed fails Finish.
class CUpdateHash {
  public:
    CUpdateHash();
    ~CUpdateHash();
    CUpdateHash(const CUpdateHash&) = delete;
    CUpdateHash& operator=(const CUpdateHash&) = delete;
    void Update(const void* p, DWORD n);
    bool Finish(BYTE digest[32]);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_p;
};

// TRUE when signature (cbSignature bytes; only UPDATE_SIGNATURE_SIZE is accepted) is key's
// signature of the SHA-256 digest.
BOOL VerifyUpdateDigest(const BYTE digest[32], const BYTE* signature, DWORD cbSignature,
                        const BYTE key[UPDATE_KEY_SIZE]);

// Hashes the whole file behind hFile from its start, through that handle, and verifies.
BOOL VerifyUpdateHandle(HANDLE hFile, const BYTE* signature, DWORD cbSignature,
                        const BYTE key[UPDATE_KEY_SIZE]);

// Reads a signature file; FALSE unless it holds exactly UPDATE_SIGNATURE_SIZE bytes.
BOOL ReadSignatureFile(const wchar_t* pszPath, BYTE signature[UPDATE_SIGNATURE_SIZE]);
// Writes one, replacing an older file; FALSE (and nothing left) when writing fails.
BOOL WriteSignatureFile(const wchar_t* pszPath, const BYTE signature[UPDATE_SIGNATURE_SIZE]);
