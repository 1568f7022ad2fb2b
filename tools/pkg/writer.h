// Writing installers: a stub followed by the record chain.
//
// Records are built one by one (buffer payloads are compressed when that is
// smaller) and glued behind a stub by buildInstaller, which also puts the
// file-data record last and pads the data area so the file ends on an 8-byte
// boundary, where a signing tool appends its certificate table without
// padding of its own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

namespace pkg {

using Bytes = std::vector<uint8_t>;

struct Record {
    uint16_t tag = 0;
    uint16_t flags = 0;
    Bytes payload;  // everything behind the 8-byte header
};

enum class Compression { Auto, Never, Always };

Record rawRecord(uint16_t tag, const Bytes& payload);
Record valueRecord(uint16_t tag, uint32_t value);       // 4-byte raw value
Record startPageRecord(uint16_t page);
// Buffer payload; Auto compresses when the stream is smaller than the bytes.
Record bufferRecord(uint16_t tag, const Bytes& data, Compression mode = Compression::Auto);
Record textRecord(uint16_t tag, const std::string& text, Compression mode = Compression::Auto);
// Up to any number of tables (the installer reads the first eight).
Record stringTablesRecord(const std::vector<std::vector<std::string>>& tables);
Bytes encodeStringTable(const std::vector<std::string>& texts);

void appendRecord(Bytes& out, const Record& record);

struct InstallerLayout {
    uint32_t dataAreaOffset = 0;  // file offset of the data size word
    uint32_t dataSize = 0;        // after padding
};

// stub + records + file-data record holding `data`. The stub must be exactly
// STUB_SIZE bytes.
Bytes buildInstaller(const Bytes& stub, const std::vector<Record>& records, const Bytes& data,
                     InstallerLayout* layout = nullptr);

// The path of volume k (1, 2, ...) of the installer at installerPath: its
// extension replaced by the volume's (package/format.h).
std::string volumePath(const std::string& installerPath, size_t k);

// Little-endian helpers.
void put16(Bytes& out, uint16_t v);
void put32(Bytes& out, uint32_t v);

}  // namespace pkg
