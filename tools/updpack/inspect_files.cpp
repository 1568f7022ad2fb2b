// The file table and the data area as updpack inspect shows them (see
// updpack/inspect.h).
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "engine/delta.h"
#include "package/filetable.h"
#include "base/state.h"
#include "updpack/commands.h"
#include "updpack/inspect.h"

namespace updpack {
namespace {

// Length of one encoded stream (header, size, [packed length], body) at
// `at`, or nothing when its header lies beyond the bytes at hand.
std::optional<uint64_t> streamLength(const pkg::Bytes& area, uint64_t at) {
    if (at >= area.size()) return std::nullopt;
    uint8_t header = area[at];
    uint64_t n = 1;
    auto field = [&](bool wide) -> std::optional<uint32_t> {
        if (at + n + (wide ? 4 : 2) > area.size()) return std::nullopt;
        uint32_t v = wide ? get32(&area[at + n]) : get16(&area[at + n]);
        n += wide ? 4 : 2;
        return v;
    };
    auto size = field(header & STREAM_SIZE_32);
    if (!size) return std::nullopt;
    if (!(header & STREAM_COMPRESSED)) return n + *size;
    auto packed = field(header & STREAM_PACKED_32);
    if (!packed) return std::nullopt;
    return n + *packed;
}

// Length of a difference stream (size word and chunks) at `at`.
std::optional<uint64_t> differenceLength(const pkg::Bytes& area, uint64_t at) {
    if (at + 4 > area.size()) return std::nullopt;
    uint32_t size = get32(&area[at]);
    uint64_t n = 4;
    for (uint64_t chunks = (uint64_t(size) + DELTA_DIFFERENCE_CHUNK - 1) / DELTA_DIFFERENCE_CHUNK; chunks; chunks--) {
        auto chunk = streamLength(area, at + n);
        if (!chunk) return std::nullopt;
        n += *chunk;
    }
    return n;
}

std::string fileTime(const EntryFileTime& t) {
    uint64_t ticks = (uint64_t(t.high) << 32) | t.low;
    int64_t seconds = int64_t(ticks / 10000000) - 11644473600LL;
    std::time_t when = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[40];
    if (!gmtime_r(&when, &tm) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm))
        return "(out of range)";
    return text;
}

}  // namespace

// Prints the file table; returns the end of the data any entry uses.
uint64_t printFiles(const DataArea& area, bool print) {
    const char* locations[3] = {"installation folder", "Windows folder", "shared (system) folder"};
    const char* presences[3] = {"optional", "new (may be absent)", "required"};
    const char* unknowns[3] = {"fail", "skip", "ask for a folder"};
    if (print) std::printf("files: %u entries\n", state.entryCount);
    uint64_t used = 0;
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount && e; i++, e = nextEntry(e)) {
        bool remove = e->action == ACT_DELETE;
        bool whole = e->flags & FE_WHOLE_FILE;
        bool difference = !whole && !remove && (e->flags & FE_DIFFERENCE_COPIES);
        if (print) {
            std::printf("  %s\n", quoted(entryName(e, 0)).c_str());
            std::printf("    %s, %s, unknown version: %s, location %s\n",
                        remove ? "delete" : whole ? "whole file" : difference ? "delta with difference copies" : "delta",
                        e->presence < 3 ? presences[e->presence] : "presence ?",
                        e->onUnknownVersion < 3 ? unknowns[e->onUnknownVersion] : "?",
                        e->location < 3 ? locations[e->location] : "?");
            std::printf("    flags %04X", e->flags);
            if (!remove) std::printf(", new %08X %s bytes", e->newChecksum, grouped(e->newSize).c_str());
            if (*entryName(e, 1)) std::printf(", alternate folder %s", quoted(entryName(e, 1)).c_str());
            std::printf("\n");
            if (const EntryVersionBlock* v = entryVersionBlock(e))
                std::printf("    version %u.%u.%u.%u\n", v->versionMs >> 16, v->versionMs & 0xFFFF,
                            v->versionLs >> 16, v->versionLs & 0xFFFF);
            if (const EntryTimesBlock* t = entryTimesBlock(e))
                std::printf("    times created %s, accessed %s, written %s\n", fileTime(t->creation).c_str(),
                            fileTime(t->lastAccess).c_str(), fileTime(t->lastWrite).c_str());
        }
        SourceVersion* versions = entryVersions(e);
        for (unsigned k = 0; k < e->versionCount; k++) {
            SourceVersion v;
            std::memcpy(&v, versions + k, sizeof v);
            std::string where;
            std::optional<uint64_t> length;
            if (whole) {
                length = v.packedSize;
            } else if (!remove) {
                auto commands = streamLength(area.bytes, v.dataOffset);
                auto data = commands ? streamLength(area.bytes, v.dataOffset + *commands) : std::nullopt;
                if (commands && data) length = *commands + *data;
                if (length && difference) {
                    auto more = differenceLength(area.bytes, v.dataOffset + *length);
                    length = more ? std::optional<uint64_t>(*length + *more) : std::nullopt;
                }
            }
            if (length) used = std::max(used, v.dataOffset + *length);
            else if (!remove) used = std::max<uint64_t>(used, uint64_t(v.dataOffset) + 1);
            if (!print) continue;
            if (remove) where = "data at " + grouped(v.dataOffset);
            else if (length) where = (whole ? "stream at " : "delta at ") + grouped(v.dataOffset) + ", " +
                                     grouped(*length) + " bytes";
            else where = "delta at " + grouped(v.dataOffset) + " (beyond the data found)";
            if (v.size == 0xFFFFFFFFu)
                std::printf("    from nothing: %s\n", where.c_str());
            else
                std::printf("    from %08X %11s bytes: %s\n", v.maskedChecksum ^ state.bindingKey,
                            grouped(v.size).c_str(), where.c_str());
        }
        if (!print) continue;
        PreservedRegion* r = entryRegions(e);
        for (unsigned k = 0; k < e->regionCount; k++, r = nextRegion(r)) {
            PreservedRegion h;
            std::memcpy(&h, r, sizeof h);
            std::printf("    region %u: %s bytes, %s, %s\n", k, grouped(h.length).c_str(),
                        h.patternLength ? ("after pattern " +
                                           quotedBytes(reinterpret_cast<const char*>(regionPattern(r)), h.patternLength))
                                              .c_str()
                                        : ("at " + grouped(uint32_t(h.offset))).c_str(),
                        h.restore ? "kept from the installed file" : "not compared");
        }
    }
    return used;
}

void printData(const DataArea& area, uint64_t used) {
    std::printf("data:\n");
    std::printf("  data area %s bytes in all; the entries use %s\n", grouped(area.bytes.size()).c_str(),
                grouped(used).c_str());
    for (const auto& [name, what] : area.parts) std::printf("  %-40s %s\n", name.c_str(), what.c_str());
    if (used > area.bytes.size())
        std::printf("  missing: %s (and %s bytes of data in all)\n", area.firstMissing.c_str(),
                    grouped(used - area.bytes.size()).c_str());
}

}  // namespace updpack
