// libFuzzer target: host attributes, DOS times and local extra fields ("UT" blocks).
// Input: version made by (2 bytes), external attributes (4), DOS date and time (4), then
// the extra field.
#include "archive_internal.h"

#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10)
        return 0;
    unsigned long version = data[0] | (data[1] << 8);
    unsigned long external = static_cast<unsigned long>(data[2]) | (data[3] << 8) |
                             (data[4] << 16) | (static_cast<unsigned long>(data[5]) << 24);
    unsigned long dos = static_cast<unsigned long>(data[6]) | (data[7] << 8) | (data[8] << 16) |
                        (static_cast<unsigned long>(data[9]) << 24);
    DWORD a = AttributesFromHost(version, external);
    if (a & ~0x37u)
        abort(); // only read-only, hidden, system, directory, archive

    ArchiveItem item = {};
    item.writeTime = item.accessTime = item.createTime = DosTimeToFileTime(dos);
    ArchiveItem before = item;
    // The field in a buffer of exactly its length, so reading past it is caught.
    size_t n = size - 10;
    std::unique_ptr<uint8_t[]> field(new uint8_t[n ? n : 1]);
    memcpy(field.get(), data + 10, n);
    ApplyExtendedTimestamp(n ? field.get() : nullptr, n, &item);
    // Without any "UT" id in the field the times stay as they were.
    bool ut = false;
    for (size_t i = 0; i + 1 < n; ++i)
        if (field[i] == 0x55 && field[i + 1] == 0x54)
            ut = true;
    if (!ut && memcmp(&before, &item, sizeof item) != 0)
        abort();
    unsigned char header[12];
    if (n >= 12) {
        memcpy(header, field.get(), 12);
        DecryptHeaderCheckByte(header);
    }
    return 0;
}
