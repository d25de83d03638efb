#include "signature.h"

#include "inet.h"
#include "winhandles.h"

#include <bcrypt.h>

#include <cstring>
#include <vector>

namespace {
#ifndef STATUS_SUCCESS
const NTSTATUS STATUS_SUCCESS = 0;
#endif

// bcrypt.dll is no KnownDLL: it is taken from System32 by path, never by search.
struct CBcrypt {
    decltype(&::BCryptOpenAlgorithmProvider) pOpen = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) pCloseAlg = nullptr;
    decltype(&::BCryptCreateHash) pCreateHash = nullptr;
    decltype(&::BCryptHashData) pHashData = nullptr;
    decltype(&::BCryptFinishHash) pFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) pDestroyHash = nullptr;
    decltype(&::BCryptImportKeyPair) pImportKeyPair = nullptr;
    decltype(&::BCryptDestroyKey) pDestroyKey = nullptr;
    decltype(&::BCryptVerifySignature) pVerify = nullptr;
    bool ok = false;

    CBcrypt() {
        HMODULE h = LoadSystemLibrary(L"bcrypt.dll");
        if (!h)
            return;
        ok = Get(h, "BCryptOpenAlgorithmProvider", pOpen) &&
             Get(h, "BCryptCloseAlgorithmProvider", pCloseAlg) &&
             Get(h, "BCryptCreateHash", pCreateHash) && Get(h, "BCryptHashData", pHashData) &&
             Get(h, "BCryptFinishHash", pFinishHash) && Get(h, "BCryptDestroyHash", pDestroyHash) &&
             Get(h, "BCryptImportKeyPair", pImportKeyPair) &&
             Get(h, "BCryptDestroyKey", pDestroyKey) && Get(h, "BCryptVerifySignature", pVerify);
    }
    template <typename T> static bool Get(HMODULE h, const char* name, T& fn) {
        fn = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(h, name)));
        return fn != nullptr;
    }
};

const CBcrypt& Bcrypt() {
    static const CBcrypt api; // the library stays loaded for the process
    return api;
}

// Owns one algorithm provider.
class CAlgorithm {
  public:
    explicit CAlgorithm(const wchar_t* pszId) {
        if (!Bcrypt().ok || Bcrypt().pOpen(&m_h, pszId, nullptr, 0) != STATUS_SUCCESS)
            m_h = nullptr;
    }
    ~CAlgorithm() {
        if (m_h)
            Bcrypt().pCloseAlg(m_h, 0);
    }
    CAlgorithm(const CAlgorithm&) = delete;
    CAlgorithm& operator=(const CAlgorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return m_h; }

  private:
    BCRYPT_ALG_HANDLE m_h = nullptr;
};

// Owns one imported key.
class CKey {
  public:
    CKey() = default;
    ~CKey() {
        if (m_h)
            Bcrypt().pDestroyKey(m_h);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    BCRYPT_KEY_HANDLE* Put() { return &m_h; }
    BCRYPT_KEY_HANDLE Get() const { return m_h; }

  private:
    BCRYPT_KEY_HANDLE m_h = nullptr;
};

} // namespace

struct CUpdateHash::Impl {
    CAlgorithm alg{BCRYPT_SHA256_ALGORITHM};
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;
    ~Impl() {
        if (hash)
            Bcrypt().pDestroyHash(hash);
    }
};

CUpdateHash::CUpdateHash() : m_p(new Impl) {
    if (!m_p->alg.Get() || Bcrypt().pCreateHash(m_p->alg.Get(), &m_p->hash, nullptr, 0, nullptr, 0,
                                                0) != STATUS_SUCCESS) {
        m_p->hash = nullptr;
        m_p->failed = true;
    }
}

CUpdateHash::~CUpdateHash() = default;

void CUpdateHash::Update(const void* p, DWORD n) {
    if (m_p->failed || n == 0)
        return;
    if (Bcrypt().pHashData(m_p->hash, static_cast<PUCHAR>(const_cast<void*>(p)), n, 0) !=
        STATUS_SUCCESS)
        m_p->failed = true;
}

bool CUpdateHash::Finish(BYTE digest[32]) {
    if (m_p->failed)
        return false;
    m_p->failed = true; // one digest per hash
    return Bcrypt().pFinishHash(m_p->hash, digest, 32, 0) == STATUS_SUCCESS;
}

BOOL VerifyUpdateDigest(const BYTE digest[32], const BYTE* signature, DWORD cbSignature,
                        const BYTE key[UPDATE_KEY_SIZE]) {
    if (!digest || !signature || !key || cbSignature != UPDATE_SIGNATURE_SIZE)
        return FALSE;
    CAlgorithm alg(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!alg.Get())
        return FALSE;
    BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + UPDATE_KEY_SIZE];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, UPDATE_KEY_SIZE / 2};
    memcpy(blob, &header, sizeof(header));
    memcpy(blob + sizeof(header), key, UPDATE_KEY_SIZE);
    CKey hKey;
    if (Bcrypt().pImportKeyPair(alg.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, hKey.Put(), blob,
                                sizeof(blob), 0) != STATUS_SUCCESS)
        return FALSE;
    BYTE d[32];
    BYTE s[UPDATE_SIGNATURE_SIZE];
    memcpy(d, digest, sizeof(d));
    memcpy(s, signature, sizeof(s));
    return Bcrypt().pVerify(hKey.Get(), nullptr, d, sizeof(d), s, sizeof(s), 0) == STATUS_SUCCESS;
}

BOOL VerifyUpdateHandle(HANDLE hFile, const BYTE* signature, DWORD cbSignature,
                        const BYTE key[UPDATE_KEY_SIZE]) {
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(hFile, zero, nullptr, FILE_BEGIN))
        return FALSE;
    CUpdateHash hash;
    std::vector<BYTE> buffer(65536);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(hFile, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return FALSE;
        if (got == 0)
            break;
        hash.Update(buffer.data(), got);
    }
    BYTE digest[32];
    return hash.Finish(digest) && VerifyUpdateDigest(digest, signature, cbSignature, key);
}

BOOL ReadSignatureFile(const wchar_t* pszPath, BYTE signature[UPDATE_SIGNATURE_SIZE]) {
    CFileHandle file(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return FALSE;
    // One byte more than a signature, so that a longer file is seen as such.
    BYTE buffer[UPDATE_SIGNATURE_SIZE + 1];
    DWORD total = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer + total, sizeof(buffer) - total, &got, nullptr))
            return FALSE;
        if (got == 0)
            break;
        total += got;
        if (total == sizeof(buffer))
            break;
    }
    if (total != UPDATE_SIGNATURE_SIZE)
        return FALSE;
    memcpy(signature, buffer, UPDATE_SIGNATURE_SIZE);
    return TRUE;
}

BOOL WriteSignatureFile(const wchar_t* pszPath, const BYTE signature[UPDATE_SIGNATURE_SIZE]) {
    CFileHandle file(::CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return FALSE;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file.Get(), signature, UPDATE_SIGNATURE_SIZE, &written, nullptr) &&
              written == UPDATE_SIGNATURE_SIZE;
    if (!file.Close() || !ok) {
        ::DeleteFileW(pszPath);
        return FALSE;
    }
    return TRUE;
}

const BYTE* GetUpdatePublicKey() {
#ifdef RUNVEL_UPDATE_KEY
    static const BYTE key[UPDATE_KEY_SIZE] = {
#include RUNVEL_UPDATE_KEY
    };
    return key;
#else
    return nullptr;
#endif
}
