#include "pkg/peversion.h"

#include <cstring>

namespace pkg {
namespace {

// Format notes (PE/COFF):
//   "MZ"; u32 at 0x3C = offset of "PE\0\0", then the 20-byte COFF header
//   (section count at +6, optional-header size at +20) and the optional
//   header (magic 0x10B PE32 / 0x20B PE32+). Its data directories start at
//   +96 (PE32) or +112 (PE32+), count at +92 / +108; entry 2 is the
//   resource directory (RVA, size). Sections (40 bytes each) follow the
//   optional header: virtual size +8, RVA +12, raw size +16, raw offset +20.
//   The resource tree has three levels (type, name, language); a directory
//   is 16 bytes with named/ID entry counts at +12/+14, then 8-byte entries
//   (id, offset; high bit of offset = subdirectory; offsets from the
//   tree's start). A leaf is (data RVA, size, code page, reserved).
//   VS_VERSIONINFO: u16 length, u16 value length, u16 type, UTF-16
//   "VS_VERSION_INFO\0", padding to 4, then VS_FIXEDFILEINFO: signature
//   0xFEEF04BD, structure version, file version MS, file version LS, ...
const uint16_t RT_VERSION = 16;
const uint32_t FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD;

class Reader {
public:
    explicit Reader(const Bytes& b) : b_(b) {}
    bool has(uint64_t at, uint64_t n) const { return at <= b_.size() && n <= b_.size() - at; }
    uint16_t u16(uint64_t at) const { return has(at, 2) ? static_cast<uint16_t>(b_[at] | b_[at + 1] << 8) : 0; }
    uint32_t u32(uint64_t at) const { return has(at, 4) ? u16(at) | uint32_t(u16(at + 2)) << 16 : 0; }

private:
    const Bytes& b_;
};

// The first entry of a resource directory with this ID (or any, when id < 0),
// as the raw offset word; 0 when there is none.
uint32_t findEntry(const Reader& r, uint64_t dir, int id) {
    if (!r.has(dir, 16)) return 0;
    uint32_t named = r.u16(dir + 12), ids = r.u16(dir + 14);
    for (uint32_t k = 0; k < named + ids; k++) {
        uint64_t e = dir + 16 + 8 * uint64_t(k);
        if (!r.has(e, 8)) return 0;
        uint32_t name = r.u32(e);
        if (id < 0 || (!(name & 0x80000000u) && name == static_cast<uint32_t>(id))) return r.u32(e + 4);
    }
    return 0;
}

}  // namespace

std::optional<FileVersion> peFileVersion(const Bytes& file) {
    Reader r(file);
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
    uint64_t pe = r.u32(PE_OFFSET_FIELD);
    if (!r.has(pe, 24) || std::memcmp(&file[pe], "PE\0\0", 4) != 0) return std::nullopt;
    uint32_t sections = r.u16(pe + 6), optionalSize = r.u16(pe + 20);
    uint64_t opt = pe + 24;
    uint16_t magic = r.u16(opt);
    uint64_t dirs = magic == PE_MAGIC_PE32 ? opt + 96 : magic == PE_MAGIC_PE32PLUS ? opt + 112 : 0;
    if (!dirs || r.u32(dirs - 4) <= 2 || dirs + 24 > opt + optionalSize) return std::nullopt;
    uint32_t resourceRva = r.u32(dirs + 16);
    if (!resourceRva) return std::nullopt;

    // RVA -> file offset through the section table; 0 = not in the file.
    auto fileOffset = [&](uint32_t rva) -> uint64_t {
        for (uint32_t s = 0; s < sections; s++) {
            uint64_t h = opt + optionalSize + 40 * uint64_t(s);
            if (!r.has(h, 40)) return 0;
            uint32_t vsize = r.u32(h + 8), va = r.u32(h + 12), rawSize = r.u32(h + 16), raw = r.u32(h + 20);
            uint32_t span = vsize > rawSize ? vsize : rawSize;
            if (rva >= va && rva - va < span && rva - va < rawSize) return uint64_t(raw) + (rva - va);
        }
        return 0;
    };
    uint64_t tree = fileOffset(resourceRva);
    if (!tree) return std::nullopt;
    uint32_t type = findEntry(r, tree, RT_VERSION);
    if (!(type & 0x80000000u)) return std::nullopt;
    uint32_t name = findEntry(r, tree + (type & 0x7FFFFFFF), -1);
    if (!(name & 0x80000000u)) return std::nullopt;
    uint32_t lang = findEntry(r, tree + (name & 0x7FFFFFFF), -1);
    if (!lang || (lang & 0x80000000u) || !r.has(tree + lang, 16)) return std::nullopt;
    uint32_t dataRva = r.u32(tree + lang), dataSize = r.u32(tree + lang + 4);
    uint64_t info = fileOffset(dataRva);
    if (!info || !r.has(info, dataSize)) return std::nullopt;

    static const char key[] = "VS_VERSION_INFO";
    if (dataSize < 40 + 52 || r.u16(info + 2) < 52) return std::nullopt;
    for (size_t i = 0; i < sizeof key; i++)
        if (r.u16(info + 6 + 2 * i) != static_cast<uint8_t>(key[i])) return std::nullopt;
    uint64_t fixed = info + ((6 + 2 * sizeof key + 3) & ~size_t(3));
    if (r.u32(fixed) != FIXED_FILE_INFO_SIGNATURE) return std::nullopt;
    return FileVersion{r.u32(fixed + 8), r.u32(fixed + 12)};
}

}  // namespace pkg
