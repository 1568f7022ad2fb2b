#include "package/binding.h"

#include <string.h>

#include "package/checksum.h"
#include "package/format.h"

static uint32_t read32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Sums [from, to) of the stub, skipping nothing; chunk borders are multiples
// of 4 so the running value carries over exactly.
static uint32_t sumRange(const uint8_t* stub, uint32_t from, uint32_t to, uint32_t seed) {
    return from < to ? fileChecksum(stub + from, to - from, seed) : seed;
}

uint32_t certificateEntryOffset(const uint8_t* stub, uint32_t size) {
    if (size < 0x40 || stub[0] != 'M' || stub[1] != 'Z') return 0;
    uint32_t pe = read32(stub + PE_OFFSET_FIELD);
    if (pe >= size || size - pe < PE_SECURITY_DIR_PE32PLUS + 8 || (pe & 3) != 0 ||
        memcmp(stub + pe, "PE\0\0", 4) != 0)
        return 0;
    uint16_t magic = static_cast<uint16_t>(stub[pe + 24] | (stub[pe + 25] << 8));
    if (magic == PE_MAGIC_PE32) return pe + PE_SECURITY_DIR_PE32;
    if (magic == PE_MAGIC_PE32PLUS) return pe + PE_SECURITY_DIR_PE32PLUS;
    return 0;
}

StubBinding computeBinding(const uint8_t* stub, uint32_t size) {
    StubBinding result = {0, 0, 0};
    uint32_t directoryAt = certificateEntryOffset(stub, size), checksumAt = 0;
    if (directoryAt) {
        checksumAt = read32(stub + PE_OFFSET_FIELD) + PE_CHECKSUM_OFFSET;
        result.certificateOffset = read32(stub + directoryAt);
        result.certificateSize = read32(stub + directoryAt + 4);
    }
    if (!checksumAt) {
        result.key = fileChecksum(stub, size, 0);
        return result;
    }
    // The checksum word and the two directory words are all 4-aligned, so the
    // sum with them zeroed is the sum of the pieces with zero words between.
    static const uint8_t zeros[8] = {0};
    uint32_t a = sumRange(stub, 0, checksumAt, 0);
    a = fileChecksum(zeros, 4, a);
    a = sumRange(stub, checksumAt + 4, directoryAt, a);
    a = fileChecksum(zeros, 8, a);
    a = sumRange(stub, directoryAt + 8, size, a);
    result.key = a;
    return result;
}
