// The differ: every delta it writes rebuilds the new file exactly through the
// engine's interpreter, stays within the format's limits, and is small for
// the changes real updates make. The package side lays out entries, data and
// volumes the way the engine reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/delta.h"
#include "package/filetable.h"
#include "package/inflate.h"
#include "pkg/compress.h"
#include "pkg/differ.h"
#include "pkg/update.h"
#include "support.h"

using Bytes = std::vector<uint8_t>;

namespace {

using testsupport::noise;

// Text-like content: words from a small vocabulary.
Bytes text(size_t n, uint32_t seed) {
    static const char* const vocabulary[] = {"alpha ", "beta ", "gamma\n", "delta ", "update ", "file ", "the "};
    return testcommon::words(n, seed, vocabulary, 7);
}

// Binary-like content with code-style structure: records that reference
// addresses, so that an inserted byte shifts many later values.
Bytes binary(size_t n, uint32_t seed, uint32_t shift = 0) { return testcommon::codeLike(n, seed, shift); }

class Differ : public ::testing::Test {
protected:
    // Diffs, checks the limits, applies with the engine, returns the
    // encoded delta size.
    size_t roundTrip(const Bytes& oldFile, const Bytes& newFile) {
        pkg::DeltaStreams d = pkg::diffFiles(oldFile, newFile);
        std::string oldPath = temp.write("old", oldFile);
        FileHandle o = openFile(oldPath.c_str(), OPEN_READ);
        FileHandle w = createFreshFile(temp.path("new").c_str());
        DeltaJob job = {d.commands.data(), static_cast<uint32_t>(d.commands.size()),
                        d.data.empty() ? nullptr : d.data.data(), static_cast<uint32_t>(d.data.size()),
                        o, static_cast<uint32_t>(oldFile.size()), w, static_cast<uint32_t>(newFile.size()),
                        nullptr, 0, nullptr, nullptr, nullptr};
        EXPECT_EQ(checkDelta(&job), DELTA_OK);
        EXPECT_EQ(applyDelta(&job), DELTA_OK);
        closeFile(o);
        closeFile(w);
        EXPECT_TRUE(pkg::readFile(temp.path("new")) == newFile) << "rebuilt file differs";
        return pkg::encodeDelta(d).size();
    }
    testsupport::TempDir temp;
};

}  // namespace

// Pairs an update meets: identical, appended, shifted by one byte, a few
// bytes changed, fully rewritten; binaries and text. Each rebuilds exactly,
// and the cheap cases cost little.
TEST_F(Differ, RoundTripsAndCosts) {
    Bytes base = binary(300000, 7);
    EXPECT_LT(roundTrip(base, base), 200u);

    Bytes appended = base;
    Bytes tail = noise(1000, 3);
    appended.insert(appended.end(), tail.begin(), tail.end());
    EXPECT_LT(roundTrip(base, appended), 1200u);

    Bytes shifted = base;
    shifted.insert(shifted.begin() + 1000, 0x90);
    EXPECT_LT(roundTrip(base, shifted), 200u);

    Bytes patched = base;
    for (size_t i = 5000; i < patched.size(); i += 20000) patched[i] ^= 0x5A;
    EXPECT_LT(roundTrip(base, patched), 300u);

    Bytes relinked = binary(300000, 7, 16);  // addresses moved by 16 in half the records
    EXPECT_LT(roundTrip(base, relinked), pkg::compressStream(relinked.data(), relinked.size()).size());

    roundTrip(base, noise(200000, 99));  // fully rewritten
    roundTrip(Bytes(), base);            // nothing to copy from
    roundTrip(base, Bytes());            // empty new file

    Bytes t1 = text(100000, 5), t2 = t1;
    t2.insert(t2.begin() + 50000, {'n', 'e', 'w', ' '});
    t2.erase(t2.begin() + 80000, t2.begin() + 80100);
    EXPECT_LT(roundTrip(t1, t2), 200u);
}

// Long runs split into copies of at most 65,536 bytes and never leave a
// 1-byte copy; far moves use the 3-byte distance and stay in range.
TEST_F(Differ, LimitsOfTheFormat) {
    Bytes big = noise(4 * 1024 * 1024 + 1, 11);
    roundTrip(big, big);
    Bytes moved(big.begin() + 3 * 1024 * 1024, big.end());  // far from the start
    moved.insert(moved.end(), big.begin(), big.begin() + 100000);
    roundTrip(big, moved);
}

// Stream encoding: empty streams are three bytes; sizes above 65,535 switch
// to 4-byte fields; a compressed body decodes back to the raw bytes.
TEST(DifferStreams, Encoding) {
    EXPECT_EQ(pkg::encodeStream({}), (Bytes{0, 0, 0}));
    Bytes raw = text(100000, 1);
    Bytes s = pkg::encodeStream(raw);
    ASSERT_TRUE(s[0] & STREAM_COMPRESSED);
    ASSERT_TRUE(s[0] & STREAM_SIZE_32);
    uint32_t size, packed;
    std::memcpy(&size, &s[1], 4);
    EXPECT_EQ(size, raw.size());
    size_t at = 5;
    if (s[0] & STREAM_PACKED_32) { std::memcpy(&packed, &s[5], 4); at = 9; }
    else { packed = s[5] | (s[6] << 8); at = 7; }
    EXPECT_EQ(at + packed, s.size());
    testsupport::TempDir temp;
    std::string body = temp.write("body", Bytes(s.begin() + at, s.end()));
    FileHandle h = openFile(body.c_str(), OPEN_READ);
    Bytes back(size);
    EXPECT_TRUE(decodeToMemory(back.data(), size, h, 0));
    closeFile(h);
    EXPECT_EQ(back, raw);

    Bytes incompressible = noise(1000, 2);
    Bytes plain = pkg::encodeStream(incompressible);
    EXPECT_EQ(plain[0], 0);
    EXPECT_EQ(plain.size(), 3 + incompressible.size());
}

// The package side: entries in path order, unchanged files left out, new
// files whole, deletes listing old versions with an offset inside the data
// area, volumes of the given size, and the same bytes for the same inputs.
TEST(DifferPackage, Layout) {
    pkg::FileSet v1 = {{"a.bin", binary(50000, 1)}, {"same.txt", text(1000, 2)},
                       {"gone.dll", noise(3000, 3)}};
    pkg::FileSet v2 = v1;
    v2["a.bin"][100] ^= 1;
    pkg::FileSet next = {{"a.bin", binary(50000, 1)}, {"same.txt", text(1000, 2)},
                         {"sub\\new.txt", text(20000, 4)}};
    next["a.bin"][200] ^= 2;
    pkg::UpdateOptions options;
    options.volumeSize = 70000;
    Bytes stub = testsupport::fakeStub();
    pkg::BuiltUpdate u = pkg::buildUpdateFromSets({v1, v2}, next, stub, options);

    ASSERT_EQ(u.entries.size(), 3u);
    EXPECT_EQ(u.entries[0].relativePath, "a.bin");
    EXPECT_EQ(u.entries[0].versions.size(), 2u);
    EXPECT_FALSE(u.entries[0].wholeFile);
    EXPECT_EQ(u.entries[1].relativePath, "sub\\new.txt");
    EXPECT_TRUE(u.entries[1].wholeFile);
    EXPECT_EQ(u.entries[1].presence, PRES_NEW);
    EXPECT_EQ(u.entries[2].relativePath, "gone.dll");
    EXPECT_TRUE(u.entries[2].deleteFile);
    EXPECT_LT(u.entries[2].versions[0].dataOffset, u.dataSize);

    EXPECT_LE(u.installer.size(), options.volumeSize);
    size_t total = u.installer.size();
    for (const Bytes& v : u.volumes) {
        EXPECT_LE(v.size(), options.volumeSize);
        total += v.size();
    }
    EXPECT_GT(total, u.dataSize);

    pkg::BuiltUpdate again = pkg::buildUpdateFromSets({v1, v2}, next, stub, options);
    EXPECT_EQ(again.installer, u.installer);
    EXPECT_EQ(again.volumes, u.volumes);
}
