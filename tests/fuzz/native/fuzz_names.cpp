// libFuzzer target: stored name bytes through decoding, cleaning and the refusal checks.
#include "archive_internal.h"

#include <cstdlib>
#include <memory>

namespace {

// A component that is exactly "..", found independently of the reader's own test.
bool HasParentComponent(const wchar_t* s) {
    const wchar_t* p = s;
    for (;;) {
        const wchar_t* e = p;
        while (*e && *e != L'/' && *e != L'\\')
            ++e;
        if (e - p == 2 && p[0] == L'.' && p[1] == L'.')
            return true;
        if (!*e)
            return false;
        p = e + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly MAX_PATH units on the heap, so a write past them is caught.
    std::unique_ptr<wchar_t[]> out(new wchar_t[MAX_PATH]);
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    memcpy(bytes.get(), data, size);
    bool fits = DecodeItemName(bytes.get(), size, out.get());
    size_t len = wcsnlen(out.get(), MAX_PATH);
    if (len >= MAX_PATH)
        abort(); // not terminated inside the buffer
    if (size < MAX_PATH / 4 && !fits)
        abort(); // a short name always fits (at most 2 units per byte)
    std::wstring decoded(out.get());
    CleanItemName(out.get());
    std::wstring cleaned(out.get());
    // Cleaning only drops a front part.
    if (cleaned.size() > decoded.size() ||
        decoded.compare(decoded.size() - cleaned.size(), cleaned.size(), cleaned) != 0)
        abort();
    // A cleaned name is never absolute.
    if (IsAbsoluteName(out.get()))
        abort();
    // Either refused, or free of parent components.
    if (!NameLeavesBase(out.get()) && HasParentComponent(out.get()))
        abort();
    NameIsDevice(out.get());
    return 0;
}
