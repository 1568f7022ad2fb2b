#include "pkg/writer.h"

#include <cstdio>
#include <stdexcept>

#include "pkg/compress.h"

namespace pkg {

void put16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Record rawRecord(uint16_t tag, const Bytes& payload) {
    Record r;
    r.tag = tag;
    r.payload = payload;
    return r;
}

Record valueRecord(uint16_t tag, uint32_t value) {
    Bytes b;
    put32(b, value);
    return rawRecord(tag, b);
}

Record startPageRecord(uint16_t page) {
    Bytes b;
    put16(b, page);
    return rawRecord(REC_START_PAGE, b);
}

// The installer refuses a buffer larger than RECORD_BUFFER_MAX (format.h).
static void checkBufferSize(size_t size, const char* what) {
    if (size > RECORD_BUFFER_MAX)
        throw std::runtime_error(std::string(what) + " of " + std::to_string(size) +
                                 " bytes is larger than the installer takes (" +
                                 std::to_string(RECORD_BUFFER_MAX) + " bytes)");
}

Record bufferRecord(uint16_t tag, const Bytes& data, Compression mode) {
    checkBufferSize(data.size(), "a record");
    Record r;
    r.tag = tag;
    if (mode != Compression::Never) {
        Bytes stream = compressStream(data.data(), data.size());
        if (mode == Compression::Always || stream.size() + 4 < data.size()) {
            r.flags = RECORD_COMPRESSED;
            put32(r.payload, static_cast<uint32_t>(data.size()));
            r.payload.insert(r.payload.end(), stream.begin(), stream.end());
            return r;
        }
    }
    r.payload = data;
    return r;
}

Record textRecord(uint16_t tag, const std::string& text, Compression mode) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return bufferRecord(tag, b, mode);
}

Bytes encodeStringTable(const std::vector<std::string>& texts) {
    if (texts.size() > 0xFFFF) throw std::runtime_error("a string table holds at most 65,535 texts");
    Bytes b;
    put16(b, static_cast<uint16_t>(texts.size()));
    for (const auto& t : texts) {
        if (t.find('\0') != std::string::npos) throw std::runtime_error("a text contains a NUL byte");
        b.insert(b.end(), t.begin(), t.end());
        b.push_back(0);
    }
    checkBufferSize(b.size(), "a string table");
    return b;
}

Record stringTablesRecord(const std::vector<std::vector<std::string>>& tables) {
    // Each table is always a compressed stream (stored blocks when they are
    // smaller), preceded by its decoded size.
    Record r;
    r.tag = REC_STRING_TABLES;
    put16(r.payload, static_cast<uint16_t>(tables.size()));
    for (const auto& t : tables) {
        Bytes plain = encodeStringTable(t);
        Bytes stream = compressStream(plain.data(), plain.size());
        put32(r.payload, static_cast<uint32_t>(plain.size()));
        r.payload.insert(r.payload.end(), stream.begin(), stream.end());
    }
    return r;
}

void appendRecord(Bytes& out, const Record& record) {
    if (record.payload.size() > 0x7FFFFFFF) throw std::runtime_error("record too large");
    put16(out, record.tag);
    put16(out, record.flags);
    put32(out, static_cast<uint32_t>(record.payload.size()));
    out.insert(out.end(), record.payload.begin(), record.payload.end());
}

Bytes buildInstaller(const Bytes& stub, const std::vector<Record>& records, const Bytes& data,
                     InstallerLayout* layout) {
    if (stub.size() != STUB_SIZE) throw std::runtime_error("the stub must be exactly 65,536 bytes");
    Bytes out = stub;
    for (const auto& r : records) {
        if (r.tag == REC_FILE_DATA) throw std::runtime_error("the file-data record is written last");
        appendRecord(out, r);
    }
    // File-data record: header, size word, data. The file must end on an
    // 8-byte boundary for signing, so the data area takes the padding.
    size_t end = out.size() + FILE_DATA_PREFIX + data.size();
    size_t pad = (8 - end % 8) % 8;
    uint64_t total = static_cast<uint64_t>(end) + pad;
    if (total > 0x7FFFFFFF) throw std::runtime_error("installer would exceed 2 GiB");
    uint32_t dataSize = static_cast<uint32_t>(data.size() + pad);
    put16(out, REC_FILE_DATA);
    put16(out, 0);
    // The header's length is only tested for zero; the size word follows
    // regardless. A zero would stop the loader before it learns the data
    // area's offset, so an empty area still gets a non-zero length.
    put32(out, dataSize ? dataSize : DATA_SIZE_WORD);
    if (layout) {
        layout->dataAreaOffset = static_cast<uint32_t>(out.size());
        layout->dataSize = dataSize;
    }
    put32(out, dataSize);
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), pad, 0);
    return out;
}

std::string volumePath(const std::string& installerPath, size_t k) {
    std::string base = installerPath;
    size_t dot = base.find_last_of('.');
    size_t slash = base.find_last_of("/\\");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, k < 10 ? VOLUME_EXTENSION_BELOW_10 : VOLUME_EXTENSION, static_cast<int>(k));
    return base + suffix;
}

}  // namespace pkg
