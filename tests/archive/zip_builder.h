// Builds ZIP archives byte by byte, so tests can set every field that matters to the reader.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;
    std::string content; // uncompressed bytes
    bool deflate = false;
    uint16_t versionMadeBy = 0x0014; // host 0 (MS-DOS)
    uint32_t external = 0x20;
    uint16_t flags = 0;
    uint32_t dosDateTime = (40u << 25) | (1u << 21) | (15u << 16) | (12u << 11) | (34u << 5) | 28u;
    std::string localExtra;
    bool encrypt = false;      // traditional encryption with the empty password
    bool badCheckByte = false; // encryption header's check byte made wrong
    // Overrides of what is written (-1: the true value).
    int64_t localMethod = -1, localCrc = -1, localCompressed = -1, localSize = -1,
            localNameLength = -1;
    int64_t centralMethod = -1, centralCrc = -1, centralCompressed = -1, centralSize = -1;
    uint32_t localSignature = 0x04034b50;
    uint32_t centralSignature = 0x02014b50;
    bool truncateData = false; // drop the second half of the stored data
};

struct ZipLayout {
    std::string prefix; // bytes before the archive (offsets stay relative to the archive)
    std::string comment;
    uint16_t disk = 0, centralDisk = 0;
    int64_t entriesThisDisk = -1, entriesTotal = -1, centralOffset = -1;
};

inline void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

inline std::string RawDeflate(const std::string& in) {
    z_stream z = {};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(in.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline uint32_t Crc32(const std::string& s) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Traditional ZIP encryption keyed with the empty password.
class ZipCrypt {
  public:
    char Encrypt(char c) {
        uint32_t t = (m_k[2] & 0xFFFF) | 2;
        char e = static_cast<char>(c ^ static_cast<char>((t * (t ^ 1)) >> 8));
        Update(static_cast<unsigned char>(c));
        return e;
    }

  private:
    static uint32_t CrcByte(uint32_t crc, unsigned char b) {
        return Table()[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    static const uint32_t* Table() { return reinterpret_cast<const uint32_t*>(get_crc_table()); }
    void Update(unsigned char c) {
        m_k[0] = CrcByte(m_k[0], c);
        m_k[1] = (m_k[1] + (m_k[0] & 0xFF)) * 134775813u + 1;
        m_k[2] = CrcByte(m_k[2], static_cast<unsigned char>(m_k[1] >> 24));
    }
    uint32_t m_k[3] = {0x12345678, 0x23456789, 0x34567890};
};

inline std::string BuildZip(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {}) {
    std::string body, central;
    for (const ZipEntry& e : entries) {
        uint32_t crc = Crc32(e.content);
        std::string data = e.deflate ? RawDeflate(e.content) : e.content;
        if (e.truncateData)
            data.resize(data.size() / 2);
        if (e.encrypt) {
            std::string header = "0123456789A";
            header += static_cast<char>((e.flags & 8) ? (e.dosDateTime >> 8) & 0xFF : crc >> 24);
            if (e.badCheckByte)
                header[11] = static_cast<char>(header[11] ^ 0x5A);
            ZipCrypt crypt;
            std::string enc;
            for (char c : header + data)
                enc += crypt.Encrypt(c);
            data = enc;
        }
        uint16_t flags = static_cast<uint16_t>(e.flags | (e.encrypt ? 1 : 0));
        uint32_t method = e.deflate ? 8 : 0;
        auto pick = [](int64_t over, uint32_t v) {
            return over >= 0 ? static_cast<uint32_t>(over) : v;
        };
        uint32_t offset = static_cast<uint32_t>(body.size());
        bool descriptor = (flags & 8) != 0;
        Put32(body, e.localSignature);
        Put16(body, 20);
        Put16(body, flags);
        Put16(body, pick(e.localMethod, method));
        Put32(body, e.dosDateTime);
        Put32(body, pick(e.localCrc, descriptor ? 0 : crc));
        Put32(body, pick(e.localCompressed, descriptor ? 0 : static_cast<uint32_t>(data.size())));
        Put32(body, pick(e.localSize, descriptor ? 0 : static_cast<uint32_t>(e.content.size())));
        Put16(body, pick(e.localNameLength, static_cast<uint32_t>(e.name.size())));
        Put16(body, static_cast<uint32_t>(e.localExtra.size()));
        body += e.name + e.localExtra + data;
        if (descriptor) {
            Put32(body, 0x08074b50);
            Put32(body, crc);
            Put32(body, static_cast<uint32_t>(data.size()));
            Put32(body, static_cast<uint32_t>(e.content.size()));
        }
        Put32(central, e.centralSignature);
        Put16(central, e.versionMadeBy);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, pick(e.centralMethod, method));
        Put32(central, e.dosDateTime);
        Put32(central, pick(e.centralCrc, crc));
        Put32(central, pick(e.centralCompressed, static_cast<uint32_t>(data.size())));
        Put32(central, pick(e.centralSize, static_cast<uint32_t>(e.content.size())));
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, 0); // extra
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, e.external);
        Put32(central, offset);
        central += e.name;
    }
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, layout.disk);
    Put16(end, layout.centralDisk);
    uint32_t n = static_cast<uint32_t>(entries.size());
    Put16(end, layout.entriesThisDisk >= 0 ? static_cast<uint32_t>(layout.entriesThisDisk) : n);
    Put16(end, layout.entriesTotal >= 0 ? static_cast<uint32_t>(layout.entriesTotal) : n);
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, layout.centralOffset >= 0 ? static_cast<uint32_t>(layout.centralOffset)
                                         : static_cast<uint32_t>(body.size()));
    Put16(end, static_cast<uint32_t>(layout.comment.size()));
    return layout.prefix + body + central + end + layout.comment;
}

// A "UT" extra block with the given flags and values.
inline std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times,
                           int declaredSize = -1) {
    std::string data(1, static_cast<char>(flags));
    for (int32_t t : times)
        Put32(data, static_cast<uint32_t>(t));
    std::string s = "UT";
    Put16(s, declaredSize >= 0 ? static_cast<uint32_t>(declaredSize)
                               : static_cast<uint32_t>(data.size()));
    return s + data;
}
