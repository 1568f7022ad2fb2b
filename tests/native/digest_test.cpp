// The file digest is XXH64: the stub's own lean code must give exactly what
// the xxHash library gives, for every tail length and across the chunks an
// installed file is read in, while the checksum summed in the same pass
// stays what it always was.
#include <gtest/gtest.h>
#include <xxhash.h>

#include "package/checksum.h"
#include "engine/digest.h"
#include "engine/verify.h"
#include "pkg/filetable.h"
#include "support.h"

namespace {

using Bytes = pkg::Bytes;

TEST(Digest, EqualsTheLibraryForEveryTailLength) {
    Bytes data = testsupport::noise(1000, 7);
    for (uint32_t n = 0; n <= 300; n++)
        ASSERT_EQ(bufferDigest(data.data(), n), XXH64(data.data(), n, 0)) << n << " bytes";
    EXPECT_EQ(bufferDigest("", 0), 0xEF46DB3751D8E999ull);  // the published value of nothing
}

TEST(Digest, StripesCarryTheChecksumUnchanged) {
    Bytes data = testsupport::noise(4096 + 64, 11);
    FileDigest d;
    digestBegin(&d);
    uint32_t sum = digestStripes(&d, data.data(), 4096, 0x80000001u);
    EXPECT_EQ(sum, fileChecksum(data.data(), 4096, 0x80000001u));
    sum = digestStripes(&d, data.data() + 4096, 64, sum);
    EXPECT_EQ(sum, fileChecksum(data.data(), 4096 + 64, 0x80000001u));
    EXPECT_EQ(digestEnd(&d, nullptr, 0), XXH64(data.data(), data.size(), 0));
}

// An installed file is summed and digested in chunks, regions blanked.
class InstalledDigest : public testsupport::StateTest {};

TEST_F(InstalledDigest, ChunksAndRegionsGiveTheDigestOfTheBlankedBytes) {
    const size_t sizes[] = {0, 5, 31, 32, 33, CHECKSUM_CHUNK - 1, CHECKSUM_CHUNK, CHECKSUM_CHUNK + 33,
                            3 * CHECKSUM_CHUNK + 7};
    pkg::TableEntry item;
    item.relativePath = "f";
    pkg::Region serial;
    serial.pattern = {'S', 'N', '='};
    serial.length = 11;
    item.regions = {serial};
    Bytes table = pkg::FileTableBuilder(0).add(item).bytes();
    FileEntry* entry = reinterpret_cast<FileEntry*>(table.data() + 4);
    for (size_t size : sizes) {
        Bytes data = testsupport::noise(size, static_cast<uint32_t>(size));
        if (size > 40) std::copy_n("SN=12345678", 11, data.begin() + size / 2);
        std::string path = temp.write("file", data);
        Bytes blanked = pkg::blankedCopy(data.data(), data.size(), item.regions);

        FileHandle f = openFile(path.c_str(), OPEN_READ);
        ASSERT_NE(f, INVALID_FILE);
        uint64_t digest = 1;
        uint32_t sum = checksumInstalledFile(entry, f, &digest);
        closeFile(f);
        EXPECT_EQ(digest, XXH64(blanked.data(), blanked.size(), 0)) << size;
        EXPECT_EQ(sum, fileChecksum(blanked.data(), static_cast<uint32_t>(blanked.size()), 0)) << size;
        // Without a digest the checksum is the same.
        f = openFile(path.c_str(), OPEN_READ);
        EXPECT_EQ(checksumInstalledFile(entry, f), sum) << size;
        closeFile(f);
        pkg::Proof proof = pkg::blankedProof(data.data(), data.size(), item.regions);
        EXPECT_EQ(proof.checksum, sum);
        EXPECT_EQ(proof.digest, digest);
    }
}

}  // namespace
