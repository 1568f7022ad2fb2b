// The parts of updpack inspect (commands.h): the walk over an installer's
// bytes (inspect_walk.cpp), the file table and data area
// (inspect_files.cpp), and the quoting every printer uses (inspect.cpp).
// Every step is checked against the bytes at hand; what cannot be read
// throws std::runtime_error with the reason.
#pragma once
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "package/format.h"
#include "pkg/codepage.h"
#include "pkg/writer.h"

namespace updpack {

inline uint32_t get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

const char* tagName(uint16_t tag);

struct RecordAt {
    size_t offset;
    PackageRecordHeader header;
    std::optional<uint32_t> decodedSize;  // buffer payloads the loader decodes
};

// Everything inspect learnt by walking the file itself.
struct Walk {
    pkg::Bytes file;
    uint32_t stubSize = STUB_SIZE;
    std::vector<RecordAt> records;
    std::map<uint16_t, pkg::Bytes> buffers;  // decoded, the last record of each tag
    std::optional<size_t> dataRecord;        // offset of the size word
    std::optional<uint32_t> codePage;        // what the code-page record says
    std::string problem;                     // why the chain cannot be read to its end
};

// Size of a file that may be an installer or a volume, checked before it
// is read: positions in the package are signed 32-bit.
uint64_t checkedSize(const std::string& path);
// Walks the chain over the bytes and reads each payload through the loader's
// own readers (readRecordPayload, readStringTables), with their bounds, as
// the stub would. Sets the stub size the loader will use.
Walk walkRecords(const std::string& path);

// The data area: the installer's part and the volume files beside it.
struct DataArea {
    pkg::Bytes bytes;  // all parts found, in order
    std::vector<std::pair<std::string, std::string>> parts;  // name, what it holds
    std::string firstMissing;                                // the volume not found
};

// The installer's part of the data area and the volume files that follow
// it, until one is missing.
DataArea readDataArea(const std::string& path, const Walk& w);

// The file table (printed when print is set); returns the end of the data
// any entry uses.
uint64_t printFiles(const DataArea& area, bool print);
void printData(const DataArea& area, uint64_t used);

// The code page the package's texts are read in.
extern pkg::CodePage packageCodePage;
// Package bytes quoted for one line: control and 8-bit bytes as escapes.
std::string quotedBytes(const char* text, size_t limit = std::string::npos);
// A package text quoted for one line, in UTF-8.
std::string quoted(const char* text);
// A UTF-8 text quoted the same way.
std::string quotedUtf8(const std::string& text);

}  // namespace updpack
