// updpack inspect (what an installer holds) and checksum.
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "engine/checksum.h"
#include "pkg/stub.h"
#include "updpack/commands.h"

namespace updpack {
namespace {

const char* tagName(uint16_t tag) {
    switch (tag) {
    case REC_OPTIONS: return "options";
    case REC_DEST_DIR: return "destination";
    case REC_FRAME_IMAGE: return "frame image";
    case REC_BACKGROUND_IMAGE: return "background image";
    case REC_TITLE: return "title";
    case REC_STRING_TABLES: return "string tables";
    case REC_REG_ROOT: return "registry root";
    case REC_REG_KEY: return "registry key";
    case REC_REG_VALUE: return "registry value";
    case REC_INI_FILE: return "INI file";
    case REC_INI_SECTION: return "INI section";
    case REC_INI_KEY: return "INI key";
    case REC_TEMPLATES: return "templates";
    case REC_FILE_TABLE: return "file table";
    case REC_START_PAGE: return "start page";
    case REC_TITLE_FONT: return "title font";
    case REC_FILE_DATA: return "file data";
    default: return "(skipped)";
    }
}

}  // namespace

int inspect(const std::string& path) {
    pkg::Bytes file = pkg::readFile(path);
    if (file.size() < STUB_SIZE) throw std::runtime_error(path + ": shorter than a stub");
    pkg::Bytes stub(file.begin(), file.begin() + STUB_SIZE);
    std::printf("%s: %zu bytes, binding key %08X\n", path.c_str(), file.size(), pkg::stubBindingKey(stub));
    size_t pos = STUB_SIZE;
    while (pos + 8 <= file.size()) {
        PackageRecordHeader h;
        std::memcpy(&h, file.data() + pos, 8);
        std::printf("  %08zX  tag %04X %-17s flags %X length %u\n", pos, h.tag, tagName(h.tag), h.flags, h.length);
        pos += 8;
        if (h.tag == REC_FILE_DATA) {
            if (h.length && pos + 4 <= file.size()) {
                uint32_t d;
                std::memcpy(&d, file.data() + pos, 4);
                uint64_t end = pos + 4 + uint64_t(d);
                std::printf("            data area: %u bytes at %zX, file %s\n", d, pos + 4,
                            end == file.size() ? "complete" : end < file.size() ? "longer than the package" : "cut short");
            }
            return 0;
        }
        pos += h.length;
    }
    std::printf("  the record chain ends without a file-data record\n");
    return 1;
}


int checksum(const std::vector<std::string>& files) {
    for (const auto& f : files) {
        pkg::Bytes data = pkg::readFile(f);
        if (data.size() > 0x7FFFFFFF) throw std::runtime_error(f + ": files must stay below 2 GiB");
        std::printf("%08X  %10zu  %s\n", fileChecksum(data.data(), static_cast<uint32_t>(data.size()), 0),
                    data.size(), f.c_str());
    }
    return 0;
}

}  // namespace updpack
