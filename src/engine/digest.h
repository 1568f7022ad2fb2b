// The file digest: XXH64 (seed 0), the published 64-bit hash of the xxHash
// family, taken over the same bytes as the file checksum (preserved regions
// read as zero). Entries with FE_HAS_DIGEST carry it for the new file and
// for every old version, so that two files whose checksums and sizes agree
// can still be told apart.
//
// A file is digested in stripes of 32 bytes: digestStripes takes a multiple
// of 32 bytes, digestEnd the last 0..31 bytes and gives the value. The file
// checksum is summed in the same pass (one read of each byte for both), so
// a chunked caller feeds every chunk but the last whole.
#pragma once
#include <stdint.h>

struct FileDigest {
    uint64_t lane[4];  // the four accumulators of the stripe loop
    uint32_t length;   // bytes taken so far (files stay below 4 GiB)
};

const uint32_t DIGEST_STRIPE = 32;

void digestBegin(FileDigest* digest);
// Takes n bytes (a multiple of DIGEST_STRIPE) into the digest and the same
// bytes into the file checksum `sum`, as fileChecksum does; returns the new
// checksum.
uint32_t digestStripes(FileDigest* digest, const uint8_t* p, uint32_t n, uint32_t sum);
// Takes the last n bytes (n < DIGEST_STRIPE) and returns the digest.
uint64_t digestEnd(FileDigest* digest, const uint8_t* p, uint32_t n);

// The digest of a whole buffer.
uint64_t bufferDigest(const void* buffer, uint32_t length);
