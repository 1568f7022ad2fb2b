#include "pkg/filetable.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "package/checksum.h"
#include "engine/digest.h"
#include "engine/verify.h"

namespace pkg {

namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void append32(std::vector<uint8_t>& out, uint32_t v) {
    out.resize(out.size() + 4);
    put32(out, out.size() - 4, v);
}
void append64(std::vector<uint8_t>& out, uint64_t v) {
    append32(out, static_cast<uint32_t>(v));
    append32(out, static_cast<uint32_t>(v >> 32));
}
void append16(std::vector<uint8_t>& out, uint16_t v) {
    out.resize(out.size() + 2);
    put16(out, out.size() - 2, v);
}
// The name in the installer's code page, NUL-terminated.
void appendName(std::vector<uint8_t>& out, const std::string& name, const CodePage& codePage) {
    if (name.find('\0') != std::string::npos)
        throw std::invalid_argument("file table: a name holds a NUL character");
    std::string bytes = codePage.encode(name, name);
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.push_back(0);
}
uint16_t offset16(size_t offset) {
    if (offset > 0xFFFF) throw std::invalid_argument("file table: an entry outgrows 64 KiB offsets");
    return static_cast<uint16_t>(offset);
}

}  // namespace

std::vector<uint8_t> encodeEntry(const TableEntry& item, uint32_t bindingKey, const CodePage& codePage) {
    if (item.versions.size() > 0xFFFF || item.regions.size() > 0xFFFF)
        throw std::invalid_argument("file table: too many versions or regions");

    std::vector<uint8_t> out(sizeof(FileEntry), 0);
    uint16_t flags = 0;
    if (item.wholeFile) flags |= FE_WHOLE_FILE;
    if (item.differenceCopies && !item.wholeFile && !item.deleteFile) flags |= FE_DIFFERENCE_COPIES;
    if (item.version) {
        flags |= FE_HAS_VERSION;
        append32(out, item.version->ms);
        append32(out, item.version->ls);
        out.resize(out.size() + 8, 0);  // reserved
    }
    if (item.times) {
        flags |= FE_HAS_TIMES;
        for (uint64_t t : {item.times->creation, item.times->lastAccess, item.times->lastWrite}) {
            append32(out, static_cast<uint32_t>(t));
            append32(out, static_cast<uint32_t>(t >> 32));
        }
    }
    appendName(out, item.relativePath, codePage);
    appendName(out, item.altSubfolder, codePage);
    if (item.newDigest) {
        flags |= FE_HAS_DIGEST;
        // Digests end where the version list starts: new file, then versions.
        append64(out, *item.newDigest);
        for (const OldVersion& v : item.versions) append64(out, v.digest);
    }

    uint16_t versionListOffset = offset16(out.size());
    for (const OldVersion& v : item.versions) {
        append32(out, v.checksum ^ bindingKey);
        append32(out, v.size);
        append32(out, v.dataOffset);
        append32(out, v.packedSize);
    }

    uint16_t regionListOffset = offset16(out.size());
    std::vector<uint8_t> regions = encodeRegions(item.regions);
    out.insert(out.end(), regions.begin(), regions.end());
    if (out.size() > 0xFFFFFFFFu) throw std::invalid_argument("file table: entry too large");

    put32(out, offsetof(FileEntry, entrySize), static_cast<uint32_t>(out.size()));
    out[offsetof(FileEntry, location)] = item.location;
    out[offsetof(FileEntry, presence)] = item.presence;
    out[offsetof(FileEntry, onUnknownVersion)] = item.onUnknownVersion;
    out[offsetof(FileEntry, action)] = item.deleteFile ? ACT_DELETE : 0;
    put16(out, offsetof(FileEntry, flags), flags);
    put32(out, offsetof(FileEntry, newSize), item.newSize);
    put32(out, offsetof(FileEntry, newChecksum), item.newChecksum);
    put16(out, offsetof(FileEntry, versionCount), static_cast<uint16_t>(item.versions.size()));
    put16(out, offsetof(FileEntry, outcome), 0);
    put16(out, offsetof(FileEntry, versionListOffset), versionListOffset);
    put16(out, offsetof(FileEntry, chosenVersion), static_cast<uint16_t>(CV_NONE));
    put16(out, offsetof(FileEntry, regionListOffset), regionListOffset);
    put16(out, offsetof(FileEntry, regionCount), static_cast<uint16_t>(item.regions.size()));
    return out;
}

FileTableBuilder& FileTableBuilder::add(const TableEntry& item) {
    std::vector<uint8_t> entry = encodeEntry(item, key_, codePage_);
    entries_.insert(entries_.end(), entry.begin(), entry.end());
    count_++;
    return *this;
}

std::vector<uint8_t> FileTableBuilder::bytes() const {
    if (count_ > 0xFFFFFFFFu) throw std::invalid_argument("file table: too many entries");
    std::vector<uint8_t> out;
    out.reserve(4 + entries_.size());
    append32(out, static_cast<uint32_t>(count_));
    out.insert(out.end(), entries_.begin(), entries_.end());
    return out;
}

std::vector<uint8_t> encodeRegions(const std::vector<Region>& regions) {
    std::vector<uint8_t> out;
    for (const Region& r : regions) {
        if (r.pattern.size() > REGION_MAX_PATTERN)
            throw std::invalid_argument("file table: a region pattern is longer than 16,385 bytes");
        append32(out, r.length);
        append32(out, static_cast<uint32_t>(r.offset));
        append16(out, r.restore ? 1 : 0);
        append16(out, static_cast<uint16_t>(r.pattern.size()));
        out.insert(out.end(), r.pattern.begin(), r.pattern.end());
    }
    return out;
}

void blankRegions(std::vector<uint8_t>& data, const std::vector<Region>& regions) {
    if (regions.empty()) return;
    if (data.size() > 0x7FFFFFFF) throw std::invalid_argument("files must stay below 2 GiB");
    std::vector<uint8_t> list = encodeRegions(regions);
    auto* first = reinterpret_cast<PreservedRegion*>(list.data());
    uint32_t count = static_cast<uint32_t>(regions.size());
    uint32_t size = static_cast<uint32_t>(data.size());
    // Every region is located in the bytes as given before any is blanked.
    RegionSource source = {readRegionBytes, INVALID_FILE, data.data(), size};
    locateRegionsIn(count, first, &source);
    zeroRegions(count, first, data.data(), 0, size);
}

std::vector<uint8_t> blankedCopy(const uint8_t* data, size_t size, const std::vector<Region>& regions) {
    std::vector<uint8_t> copy(data, data + size);
    blankRegions(copy, regions);
    return copy;
}

uint32_t blankedChecksum(const uint8_t* data, size_t size, const std::vector<Region>& regions) {
    std::vector<uint8_t> copy = blankedCopy(data, size, regions);
    return fileChecksum(copy.data(), static_cast<uint32_t>(copy.size()), 0);
}

Proof blankedProof(const uint8_t* data, size_t size, const std::vector<Region>& regions) {
    std::vector<uint8_t> copy = blankedCopy(data, size, regions);
    Proof p;
    p.checksum = fileChecksum(copy.data(), static_cast<uint32_t>(copy.size()), 0);
    p.digest = bufferDigest(copy.data(), static_cast<uint32_t>(copy.size()));
    return p;
}

}  // namespace pkg
