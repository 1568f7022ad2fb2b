// Preserved regions: located by their pattern in installed files and read as
// zero wherever a file is summed, so per-installation bytes (serial numbers,
// user names) never keep a file from being recognised.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/checksum.h"
#include "engine/verify.h"
#include "pkg/filetable.h"

namespace {

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<uint8_t>('a' + (seed >> 16) % 20);  // letters a..t only
    }
    return v;
}

class TempFile {
public:
    explicit TempFile(const std::vector<uint8_t>& bytes) {
        char name[] = "/tmp/upd_regions_XXXXXX";
        int fd = mkstemp(name);
        path_ = name;
        if (!bytes.empty()) EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    FileHandle open() const { return openFile(path_.c_str(), OPEN_READ); }

private:
    std::string path_;
};

// A one-entry table holding these regions; entry() points into it.
struct Table {
    std::vector<uint8_t> bytes;
    explicit Table(const std::vector<pkg::Region>& regions) {
        pkg::EntrySpec e;
        e.relativePath = "f";
        e.regions = regions;
        bytes = pkg::FileTableBuilder(0).add(e).bytes();
    }
    FileEntry* entry() { return reinterpret_cast<FileEntry*>(bytes.data() + 4); }
    PreservedRegion* region(int k) {
        PreservedRegion* r = entryRegions(entry());
        while (k--) r = nextRegion(r);
        return r;
    }
};

int32_t locate(const std::vector<uint8_t>& file, const std::vector<uint8_t>& pattern) {
    Table t({{4, 12345, false, pattern}});
    TempFile f(file);
    FileHandle h = f.open();
    locateRegions(1, t.region(0), h);
    EXPECT_EQ(tellFile(h), 0u);
    closeFile(h);
    return t.region(0)->offset;
}

int32_t expected(const std::vector<uint8_t>& file, const std::vector<uint8_t>& pattern) {
    auto it = std::search(file.begin(), file.end(), pattern.begin(), pattern.end());
    return it == file.end() ? -1 : static_cast<int32_t>(it - file.begin());
}

std::vector<uint8_t> withPatternAt(size_t size, size_t at, const std::vector<uint8_t>& pattern) {
    std::vector<uint8_t> v = noise(size, static_cast<uint32_t>(size + at));
    std::copy(pattern.begin(), pattern.end(), v.begin() + at);
    return v;
}

const std::vector<uint8_t> kPattern = {'S', 'E', 'R', 'I', 'A', 'L', '#', '1'};

}  // namespace

// The sliding window must try every position exactly once, wherever the
// pattern falls relative to the 16,384-byte steps and the end of the file.
TEST(LocateRegions, PatternAcrossTheWindowSteps) {
    const size_t size = 5 * REGION_STEP + 1000;
    for (size_t step = 1; step <= 4; step++)
        for (size_t at : {step * REGION_STEP - 8, step * REGION_STEP - 4, step * REGION_STEP - 1,
                          step * REGION_STEP, step * REGION_STEP + 1}) {
            std::vector<uint8_t> file = withPatternAt(size, at, kPattern);
            EXPECT_EQ(locate(file, kPattern), static_cast<int32_t>(at)) << "at " << at;
        }
}

TEST(LocateRegions, PatternAtTheVeryEnd) {
    for (size_t size : {size_t(8), size_t(100), size_t(REGION_WINDOW), size_t(REGION_WINDOW + 1),
                        size_t(3 * REGION_STEP + 7), size_t(REGION_WINDOW + REGION_STEP)}) {
        std::vector<uint8_t> file = withPatternAt(size, size - kPattern.size(), kPattern);
        EXPECT_EQ(locate(file, kPattern), static_cast<int32_t>(size - kPattern.size()))
            << "size " << size;
    }
}

TEST(LocateRegions, PatternNotThereOrLongerThanTheFile) {
    EXPECT_EQ(locate(noise(3 * REGION_STEP + 5, 1), kPattern), -1);
    EXPECT_EQ(locate({}, kPattern), -1);
    EXPECT_EQ(locate({'S', 'E', 'R'}, kPattern), -1);
    std::vector<uint8_t> cut(kPattern.begin(), kPattern.end() - 1);  // all but the last byte
    EXPECT_EQ(locate(cut, kPattern), -1);
}

TEST(LocateRegions, FirstOccurrenceWins) {
    std::vector<uint8_t> file = withPatternAt(4 * REGION_STEP, 3 * REGION_STEP, kPattern);
    std::copy(kPattern.begin(), kPattern.end(), file.begin() + REGION_STEP + 77);
    EXPECT_EQ(locate(file, kPattern), static_cast<int32_t>(REGION_STEP + 77));
}

TEST(LocateRegions, LongestSupportedPatternAgainstABruteForceSearch) {
    // A pattern of REGION_MAX_PATTERN bytes fills the window's reach exactly.
    std::vector<uint8_t> pattern = noise(REGION_MAX_PATTERN, 77);
    for (size_t at : {size_t(0), size_t(REGION_STEP - 1), size_t(REGION_STEP),
                      size_t(2 * REGION_STEP + 3)}) {
        std::vector<uint8_t> file = withPatternAt(at + pattern.size() + 500, at, pattern);
        EXPECT_EQ(locate(file, pattern), expected(file, pattern)) << "at " << at;
    }
}

TEST(LocateRegions, FixedRegionsKeepTheirOffset) {
    Table t({{4, 100, false, {}}, {4, 5, false, {'t'}}, {4, 7, false, {'Z'}}});
    TempFile f(noise(1000, 3));
    FileHandle h = f.open();
    locateRegions(3, t.region(0), h);
    closeFile(h);
    EXPECT_EQ(t.region(0)->offset, 100);
    EXPECT_EQ(t.region(1)->offset, expected(noise(1000, 3), {'t'}));
    EXPECT_EQ(t.region(2)->offset, -1);  // 'Z' never occurs; the stored 7 is gone
}

// zeroRegions clips every region to the chunk in hand.
TEST(ZeroRegions, OverlapsAreClippedToTheBuffer) {
    Table t({{10, 95, false, {}}, {3, 120, false, {}}, {50, -1, false, {}}, {5, 130, false, {}}});
    std::vector<uint8_t> buf(30, 0xFF);  // covers file bytes [100, 130)
    zeroRegions(4, t.region(0), buf.data(), 100, 30);
    for (size_t i = 0; i < buf.size(); i++) {
        bool zero = i < 5 || (i >= 20 && i < 23);
        EXPECT_EQ(buf[i], zero ? 0 : 0xFF) << "byte " << i;
    }
}

// checksumInstalledFile sums the file with its regions blanked, identically
// to what the packaging tool computes for the old versions.
TEST(ChecksumInstalledFile, RegionsAreBlankedInTheSum) {
    std::vector<pkg::Region> regions = {{12, -1, false, kPattern}, {4, 10, false, {}}};
    const size_t size = 2 * REGION_WINDOW + 333;  // several chunks and a tail
    std::vector<uint8_t> a = withPatternAt(size, REGION_STEP + 2, kPattern);
    std::vector<uint8_t> b = a;
    b[REGION_STEP + 2 + 9] ^= 0x55;  // inside the located region
    b[11] ^= 0x55;                   // inside the fixed region
    std::vector<uint8_t> c = a;
    c[REGION_STEP + 2 + 12] ^= 0x55;  // just behind the located region

    uint32_t sums[3];
    const std::vector<uint8_t>* files[3] = {&a, &b, &c};
    for (int i = 0; i < 3; i++) {
        Table t(regions);
        TempFile f(*files[i]);
        FileHandle h = f.open();
        sums[i] = checksumInstalledFile(t.entry(), h);
        closeFile(h);
        EXPECT_EQ(t.region(0)->offset, static_cast<int32_t>(REGION_STEP + 2));
    }
    EXPECT_EQ(sums[0], sums[1]);
    EXPECT_NE(sums[0], sums[2]);
    EXPECT_EQ(sums[0], pkg::blankedChecksum(a.data(), a.size(), regions));
    EXPECT_NE(sums[0], fileChecksum(a.data(), static_cast<uint32_t>(a.size()), 0));
}

TEST(ChecksumInstalledFile, WithoutRegionsItIsThePlainChecksum) {
    Table t({});
    for (size_t size : {size_t(0), size_t(3), size_t(CHECKSUM_CHUNK), size_t(CHECKSUM_CHUNK + 5)}) {
        std::vector<uint8_t> data = noise(size, 9);
        TempFile f(data);
        FileHandle h = f.open();
        EXPECT_EQ(checksumInstalledFile(t.entry(), h),
                  fileChecksum(data.data(), static_cast<uint32_t>(size), 0));
        closeFile(h);
    }
}

TEST(ChecksumInstalledFile, AbsentPatternBlanksNothing) {
    std::vector<uint8_t> data = noise(5000, 4);
    Table t({{100, -1, false, {'Z', 'Z'}}});
    TempFile f(data);
    FileHandle h = f.open();
    EXPECT_EQ(checksumInstalledFile(t.entry(), h), fileChecksum(data.data(), 5000, 0));
    closeFile(h);
}
