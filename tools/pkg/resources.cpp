#include "pkg/resources.h"

#include <algorithm>
#include <cstring>

#include "package/dialogs.h"
#include "package/strings.h"

namespace pkg {
namespace {

// One entry of a .res file:
//   u32 DataSize, u32 HeaderSize, TYPE, NAME (each 0xFFFF + u16 ordinal, or
//   a NUL-terminated UTF-16 string), pad to 4, u32 DataVersion,
//   u16 MemoryFlags, u16 LanguageId, u32 Version, u32 Characteristics;
//   then DataSize bytes, padded to 4.
const uint16_t RT_DIALOG_TYPE = 5;

uint32_t get32(const Bytes& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
uint16_t get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// Reads a TYPE or NAME field at `at` (within `end`); ordinal or -1 for a string.
long nameOrOrdinal(const Bytes& b, size_t& at, size_t end, const std::string& what) {
    if (at + 2 > end) throw ResourceError(what + ": resource header cut short");
    if (get16(b, at) == 0xFFFF) {
        if (at + 4 > end) throw ResourceError(what + ": resource header cut short");
        long v = get16(b, at + 2);
        at += 4;
        return v;
    }
    while (true) {
        if (at + 2 > end) throw ResourceError(what + ": resource name not terminated");
        uint16_t c = get16(b, at);
        at += 2;
        if (!c) return -1;
    }
}

}  // namespace

bool isResourceFile(const Bytes& file) {
    static const uint8_t head[16] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    return file.size() >= 32 && std::memcmp(file.data(), head, 16) == 0;
}

std::map<unsigned, Bytes> dialogResources(const Bytes& b, const std::string& what) {
    if (!isResourceFile(b)) throw ResourceError(what + ": not a compiled resource file (.res)");
    std::map<unsigned, Bytes> dialogs;
    size_t pos = 0;
    while (pos < b.size()) {
        if (pos + 8 > b.size()) throw ResourceError(what + ": resource entry cut short at byte " + std::to_string(pos));
        uint32_t dataSize = get32(b, pos), headerSize = get32(b, pos + 4);
        if (headerSize < 32 || pos + headerSize > b.size() || dataSize > b.size() - pos - headerSize)
            throw ResourceError(what + ": resource entry at byte " + std::to_string(pos) + " runs past the file");
        size_t at = pos + 8, headerEnd = pos + headerSize;
        long type = nameOrOrdinal(b, at, headerEnd, what);
        long name = nameOrOrdinal(b, at, headerEnd, what);
        if (type == RT_DIALOG_TYPE && name >= 0) {
            const uint8_t* data = b.data() + headerEnd;
            dialogs[static_cast<unsigned>(name)] = Bytes(data, data + dataSize);
        }
        pos = headerEnd + ((dataSize + 3) & ~size_t(3));
    }
    return dialogs;
}

Bytes templateBlobFromDialogs(const std::map<unsigned, Bytes>& dialogs, const std::string& what) {
    Bytes blob(4 * TEMPLATE_COUNT, 0);
    std::vector<uint32_t> offsets(TEMPLATE_COUNT);
    for (unsigned n = 0; n < TEMPLATE_COUNT; n++) {
        offsets[n] = static_cast<uint32_t>(blob.size());
        auto it = dialogs.find(n);
        if (n == 8) continue;  // no dialog: the index points at the next template
        if (it == dialogs.end())
            throw ResourceError(what + ": no DIALOG numbered " + std::to_string(n) + " (templates 0-7 and 9 are needed)");
        blob.insert(blob.end(), it->second.begin(), it->second.end());
        while (blob.size() % 4) blob.push_back(0);
    }
    for (unsigned n = 0; n < TEMPLATE_COUNT; n++) {
        std::memcpy(blob.data() + 4 * n, &offsets[n], 4);
        if (n != 8 && blob.size() - offsets[n] > TEMPLATE_COPY_SIZE)
            throw ResourceError(what + ": templates from number " + std::to_string(n) + " on take " +
                                std::to_string(blob.size() - offsets[n]) + " bytes; the installer copies at most " +
                                std::to_string(TEMPLATE_COPY_SIZE));
    }
    checkTemplateBlob(blob, what);
    return blob;
}

void checkTemplateBlob(const Bytes& blob, const std::string& what) {
    uint32_t first = blob.size() >= 4 ? uint32_t(blob[0] | blob[1] << 8 | blob[2] << 16 | uint32_t(blob[3]) << 24) : 0;
    if (blob.size() < 4 * TEMPLATE_COUNT || first < 4 * TEMPLATE_COUNT)
        throw ResourceError(what + ": a template blob starts with the offsets of templates 0-9");
    for (unsigned n = 0; n < TEMPLATE_COUNT; n++) {
        if (n == 8) continue;
        uint32_t at;
        std::memcpy(&at, blob.data() + 4 * n, 4);
        uint32_t rest = at < blob.size() ? static_cast<uint32_t>(blob.size() - at) : 0;
        if (!rest || !walkDialogTemplate(blob.data() + at, std::min(rest, TEMPLATE_COPY_SIZE)))
            throw ResourceError(what + ": template " + std::to_string(n) +
                                " is no dialog template whose parts lie within the " +
                                std::to_string(TEMPLATE_COPY_SIZE) + " bytes the installer copies");
    }
}

}  // namespace pkg
