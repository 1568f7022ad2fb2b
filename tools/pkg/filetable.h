// Writes the file table (payload of REC_FILE_TABLE) that the installer reads
// through package/filetable.h.
//
// A TableEntry says what the update does with one file; FileTableBuilder
// lays the entries out: header, optional version and times blocks, names,
// SourceVersion list, preserved regions with their patterns. Old-version
// checksums are given plain and masked with the package binding key here.
// Names are given in UTF-8 and written in the installer's code page.
// Anything the installer could not read back (a pattern longer than the
// search window, offsets past 64 KiB, a name with a NUL in it or with a
// character the code page lacks) throws std::invalid_argument.
//
// blankRegions blanks a file's preserved regions exactly as the installer
// does (the installer's own region search over the unblanked bytes, then
// its own blanking): the differ diffs such copies, blankedChecksum sums
// them for the checksums of versions that carry regions, and blankedProof
// gives the digest of the same bytes beside it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/filetable.h"
#include "pkg/codepage.h"

namespace pkg {

struct OldVersion {
    uint32_t checksum = 0;    // plain; masked with the binding key on output
    uint32_t size = 0;
    uint32_t dataOffset = 0;  // into the data area, all volumes together
    uint32_t packedSize = 0;  // whole-file entries only
    uint64_t digest = 0;      // written when the entry has newDigest
};

struct Region {
    uint32_t length = 0;
    int32_t offset = REGION_NOT_PRESENT;  // fixed regions: where they sit
    bool restore = false;
    std::vector<uint8_t> pattern;         // empty = fixed offset
};

struct FileTimes {  // FILETIME values, 100 ns since 1601
    uint64_t creation = 0;
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

struct FileVersion {
    uint32_t ms = 0;  // major << 16 | minor
    uint32_t ls = 0;  // build << 16 | revision
};

struct TableEntry {
    std::string relativePath;  // UTF-8, backslashes
    std::string altSubfolder;  // UTF-8
    uint8_t location = LOC_INSTALL_DIR;
    uint8_t presence = PRES_REQUIRED;
    uint8_t onUnknownVersion = UNK_FAIL;
    bool deleteFile = false;  // ACT_DELETE
    bool wholeFile = false;   // FE_WHOLE_FILE
    bool differenceCopies = false;  // FE_DIFFERENCE_COPIES (delta entries)
    uint32_t newSize = 0;
    uint32_t newChecksum = 0;
    // Set: FE_HAS_DIGEST, with this digest of the new file and each old
    // version's (engine/digest.h).
    std::optional<uint64_t> newDigest;
    std::vector<OldVersion> versions;
    std::optional<FileVersion> version;
    std::optional<FileTimes> times;
    std::vector<Region> regions;
};

class FileTableBuilder {
public:
    explicit FileTableBuilder(uint32_t bindingKey, const CodePage& codePage = CodePage())
        : key_(bindingKey), codePage_(codePage) {}
    FileTableBuilder& add(const TableEntry& item);
    size_t count() const { return count_; }
    // The payload: u32 count, then the entries.
    std::vector<uint8_t> bytes() const;

private:
    uint32_t key_;
    CodePage codePage_;
    size_t count_ = 0;
    std::vector<uint8_t> entries_;
};

// One entry's bytes, as FileTableBuilder lays it out.
std::vector<uint8_t> encodeEntry(const TableEntry& item, uint32_t bindingKey,
                                 const CodePage& codePage = CodePage());

// The PreservedRegion list of an entry (headers and patterns).
std::vector<uint8_t> encodeRegions(const std::vector<Region>& regions);

// Sets to zero the bytes of every region, each located (first occurrence of
// its pattern, else its fixed offset) in the bytes as given.
void blankRegions(std::vector<uint8_t>& data, const std::vector<Region>& regions);

// Checksum of data with the regions blanked as blankRegions does.
uint32_t blankedChecksum(const uint8_t* data, size_t size, const std::vector<Region>& regions);

// A copy of data with the regions blanked as blankRegions does.
std::vector<uint8_t> blankedCopy(const uint8_t* data, size_t size, const std::vector<Region>& regions);

// Checksum and digest of the same blanked bytes: what identifies a version.
struct Proof {
    uint32_t checksum = 0;
    uint64_t digest = 0;
};
Proof blankedProof(const uint8_t* data, size_t size, const std::vector<Region>& regions);

}  // namespace pkg
