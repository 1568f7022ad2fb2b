// The walk of updpack inspect over an installer's bytes and its volume
// files (see updpack/inspect.h).
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "package/fileops.h"
#include "package/loader.h"
#include "pkg/stub.h"
#include "base/state.h"
#include "updpack/commands.h"
#include "updpack/inspect.h"

namespace updpack {

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
    case REC_CODE_PAGE: return "code page";
    case REC_FILE_DATA: return "file data";
    default: return "(skipped)";
    }
}

uint64_t checkedSize(const std::string& path) {
    std::error_code ec;
    uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) throw std::runtime_error(path + ": cannot be read (" + ec.message() + ")");
    if (size > FILE_POSITION_MAX)
        throw std::runtime_error(path + ": " + grouped(size) + " bytes; installers and volumes stay below 2 GiB");
    return size;
}

Walk walkRecords(const std::string& path) {
    Walk w;
    checkedSize(path);
    w.file = pkg::readFile(path);
    if (w.file.size() < STUB_SIZE)
        throw std::runtime_error(path + ": " + std::to_string(w.file.size()) + " bytes, shorter than a stub");
    pkg::Bytes stub(w.file.begin(), w.file.begin() + STUB_SIZE);
    long at = pkg::findStubHeader(stub);
    if (at < 0) throw std::runtime_error(path + ": not an installer (no stub header in its first 65,536 bytes)");
    StubHeader header;
    std::memcpy(&header, stub.data() + at, sizeof header);
    w.stubSize = header.stubSize;
    if (w.stubSize < sizeof(StubData) || w.stubSize > w.file.size())
        throw std::runtime_error(path + ": the stub header gives an impossible stub size " +
                                 std::to_string(w.stubSize));
    stubData.header.stubSize = w.stubSize;
    FileHandle file = openFile(path.c_str(), OPEN_READ);
    if (file == INVALID_FILE) throw std::runtime_error(path + ": cannot be opened");
    size_t pos = w.stubSize;
    while (true) {
        if (pos + sizeof(PackageRecordHeader) > w.file.size()) {
            w.problem = pos == w.file.size() ? "the record chain ends without a file-data record"
                                             : "the file ends inside a record header at " + std::to_string(pos);
            break;
        }
        RecordAt r{pos, {}, std::nullopt};
        std::memcpy(&r.header, w.file.data() + pos, sizeof r.header);
        uint16_t tag = r.header.tag;
        if (tag == REC_FILE_DATA) {
            w.records.push_back(r);
            // A header length of 0 stops the loader before the size word:
            // such a package has no data area at all.
            if (r.header.length == 0)
                break;
            else if (pos + FILE_DATA_PREFIX > w.file.size())
                w.problem = "the file ends inside the file-data record";
            else
                w.dataRecord = pos + sizeof(PackageRecordHeader);
            break;
        }
        uint64_t next = pos + sizeof(PackageRecordHeader) + uint64_t(r.header.length);
        if (r.header.length && next > w.file.size()) {
            w.records.push_back(r);
            char text[160];
            std::snprintf(text, sizeof text, "record %04X (%s) at %zX runs past the end of the file (%u bytes)",
                          tag, tagName(tag), pos, r.header.length);
            w.problem = text;
            break;
        }
        if (r.header.length && isBufferRecord(tag)) {
            seekTo(file, static_cast<uint32_t>(pos + sizeof(PackageRecordHeader)));
            uint8_t* block = nullptr;
            uint32_t size = 0;
            int rc = readRecordPayload(file, r.header, &block, &size);
            if (rc) {
                w.records.push_back(r);
                bool compressed = r.header.flags & RECORD_COMPRESSED;
                uint32_t claimed = compressed && r.header.length >= 4 ? get32(&w.file[pos + sizeof(PackageRecordHeader)]) : r.header.length;
                char text[200];
                bool possible = !(compressed && r.header.length < 4) &&
                                possibleBufferSize(claimed, r.header.length - (compressed ? 4 : 0), compressed);
                if (rc == PAYLOAD_NO_MEMORY && !possible)
                    std::snprintf(text, sizeof text, "record %04X (%s) at %zX claims an impossible size (%u bytes)",
                                  tag, tagName(tag), pos, claimed);
                else if (rc == PAYLOAD_NO_MEMORY)
                    std::snprintf(text, sizeof text, "record %04X (%s) at %zX: out of memory", tag, tagName(tag), pos);
                else
                    std::snprintf(text, sizeof text, "record %04X (%s) at %zX cannot be decoded", tag, tagName(tag), pos);
                w.problem = text;
                break;
            }
            r.decodedSize = size;
            w.buffers[tag] = pkg::Bytes(block, block + size);
            freeBuffer(block);
        }
        if (tag == REC_CODE_PAGE && r.header.length >= 4) w.codePage = get32(&w.file[pos + sizeof(PackageRecordHeader)]);
        if (r.header.length && tag == REC_STRING_TABLES) {
            seekTo(file, static_cast<uint32_t>(pos + sizeof(PackageRecordHeader)));
            if (readStringTables(file, static_cast<uint32_t>(next)) != PAYLOAD_OK) {
                w.records.push_back(r);
                char text[160];
                std::snprintf(text, sizeof text,
                              "the string tables at %zX cannot be decoded or declare sizes their record cannot hold",
                              pos);
                w.problem = text;
                break;
            }
        }
        w.records.push_back(r);
        pos = static_cast<size_t>(next);
    }
    closeFile(file);
    return w;
}

DataArea readDataArea(const std::string& path, const Walk& w) {
    DataArea area;
    if (!w.dataRecord) {
        area.parts.push_back({path, "no data area"});
        return area;
    }
    size_t at = state.dataAreaOffset + DATA_SIZE_WORD;
    size_t inFile = std::min<size_t>(state.volumeDataSize, w.file.size() - std::min(at, w.file.size()));
    area.bytes.assign(w.file.begin() + at, w.file.begin() + at + inFile);
    area.parts.push_back({path, grouped(state.volumeDataSize) + " bytes at " + std::to_string(at)});
    // Volumes follow one another until one is missing (.D01 ... .D99, .D100 ...).
    for (size_t k = 1;; k++) {
        std::string name = pkg::volumePath(path, k);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(name, ec)) {
            area.firstMissing = name;
            break;
        }
        checkedSize(name);
        pkg::Bytes v = pkg::readFile(name);
        if (v.size() < DATA_SIZE_WORD) {
            area.parts.push_back({name, "too short for a volume (" + std::to_string(v.size()) + " bytes)"});
            break;
        }
        uint32_t declared = get32(v.data());
        std::string what = grouped(declared) + " bytes";
        if (v.size() != DATA_SIZE_WORD + uint64_t(declared))
            what += ", but the file holds " + grouped(v.size() - DATA_SIZE_WORD) + ": damaged";
        area.parts.push_back({name, what});
        size_t take = std::min<size_t>(declared, v.size() - DATA_SIZE_WORD);
        area.bytes.insert(area.bytes.end(), v.begin() + DATA_SIZE_WORD, v.begin() + DATA_SIZE_WORD + take);
    }
    return area;
}

}  // namespace updpack
