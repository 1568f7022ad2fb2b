// Preserved regions: located by their pattern in installed files and read as
// zero wherever a file is summed, so per-installation bytes (serial numbers,
// user names) never keep a file from being recognised.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "package/checksum.h"
#include "engine/verify.h"
#include "pkg/filetable.h"

namespace {

std::vector<uint8_t> noise(size_t n, uint32_t seed) {  // letters a..t only
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>('a' + ((seed = seed * 1103515245 + 12345) >> 16) % 20);
    return v;
}

// The bytes as a file, opened through the file operations; closed and
// removed with the object.
struct OpenFile {
    std::string path;
    FileHandle h;
    explicit OpenFile(const std::vector<uint8_t>& bytes) {
        char name[] = "/tmp/upd_regions_XXXXXX";
        int fd = mkstemp(name);
        path = name;
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
        h = openFile(name, OPEN_READ);
    }
    ~OpenFile() {
        closeFile(h);
        unlink(path.c_str());
    }
};

// A one-entry table holding these regions.
struct Table {
    std::vector<uint8_t> bytes;
    explicit Table(const std::vector<pkg::Region>& regions) {
        pkg::TableEntry e;
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
    OpenFile f(file);
    locateRegions(1, t.region(0), f.h);
    EXPECT_EQ(tellFile(f.h), 0u);
    return +t.region(0)->offset;
}

int32_t bruteForce(const std::vector<uint8_t>& file, const std::vector<uint8_t>& pattern) {
    auto it = std::search(file.begin(), file.end(), pattern.begin(), pattern.end());
    return it == file.end() ? -1 : static_cast<int32_t>(it - file.begin());
}

std::vector<uint8_t> withPatternAt(size_t size, size_t at, const std::vector<uint8_t>& pattern) {
    std::vector<uint8_t> v = noise(size, static_cast<uint32_t>(size + at));
    std::copy(pattern.begin(), pattern.end(), v.begin() + at);
    return v;
}

const std::vector<uint8_t> kPattern = {'S', 'E', 'R', 'I', 'A', 'L', '#', '1'};
const size_t S = REGION_STEP;

}  // namespace

// The sliding window must try every position once, wherever the pattern
// falls against the 16,384-byte steps and the end of the file.
TEST(LocateRegions, AgreesWithABruteForceSearch) {
    struct Case { size_t size, at; };
    const Case cases[] = {
        {5 * S, S - 8}, {5 * S, S - 1}, {5 * S, S}, {5 * S, 2 * S - 4}, {5 * S, 4 * S + 1},
        {8, 0}, {100, 92}, {2 * S, 2 * S - 8}, {2 * S + 1, 2 * S - 7}, {3 * S + 7, 3 * S - 1},
        {3 * S, 3 * S - 8},  // at the very end, in a window moved twice
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file = withPatternAt(c.size, c.at, kPattern);
        EXPECT_EQ(locate(file, kPattern), static_cast<int32_t>(c.at)) << c.size << " " << c.at;
    }
    std::vector<uint8_t> twice = withPatternAt(4 * S, 3 * S, kPattern);
    std::copy(kPattern.begin(), kPattern.end(), twice.begin() + S + 77);
    EXPECT_EQ(locate(twice, kPattern), static_cast<int32_t>(S + 77));  // the first wins
    // The longest supported pattern fills the window's reach exactly.
    std::vector<uint8_t> longest = noise(REGION_MAX_PATTERN, 77);
    for (size_t at : {size_t(0), S - 1, S, 2 * S + 3}) {
        std::vector<uint8_t> file = withPatternAt(at + longest.size() + 500, at, longest);
        EXPECT_EQ(locate(file, longest), bruteForce(file, longest)) << at;
    }
}

// The packager reads the same search from memory: the same first
// occurrences, wherever they fall against the window's steps.
TEST(LocateRegions, BytesInMemoryAgreeWithTheFile) {
    for (size_t at : {size_t(0), S - 3, S, 2 * S + 1, 3 * S - 8}) {
        std::vector<uint8_t> file = withPatternAt(3 * S, at, kPattern);
        Table t({{4, 0, false, kPattern}});
        RegionSource source = {readRegionBytes, INVALID_FILE, file.data(), uint32_t(file.size())};
        locateRegionsIn(1, t.region(0), &source);
        EXPECT_EQ(+t.region(0)->offset, locate(file, kPattern)) << at;
    }
}

// Every region is located in the bytes as they are before any is blanked,
// by the installer and the packager alike: a pattern whose first
// occurrence lies inside another region is found there, and a later copy
// of it stays as it is.
TEST(BlankRegions, EveryRegionIsLocatedBeforeAnyIsBlanked) {
    std::vector<uint8_t> data = noise(3000, 5);
    const std::string key = "KEY:0000-B=11-0000", later = "B=2222";
    std::copy(key.begin(), key.end(), data.begin() + 100);
    std::copy(later.begin(), later.end(), data.begin() + 2000);
    std::vector<pkg::Region> regions = {{20, -1, false, {'K', 'E', 'Y', ':'}}, {6, -1, false, {'B', '='}}};
    Table t(regions);
    OpenFile f(data);
    locateRegions(2, t.region(0), f.h);
    EXPECT_EQ(+t.region(0)->offset, 100);
    EXPECT_EQ(+t.region(1)->offset, int32_t(100 + key.find("B="))) << "inside the first region";
    std::vector<uint8_t> blanked = data;
    pkg::blankRegions(blanked, regions);
    for (size_t i = 0; i < data.size(); i++)
        EXPECT_EQ(blanked[i], i >= 100 && i < 120 ? 0 : data[i]) << i;
}

TEST(LocateRegions, AbsentPatternsAndFixedRegions) {
    EXPECT_EQ(locate(noise(3 * S + 5, 1), kPattern), -1);
    EXPECT_EQ(locate({}, kPattern), -1);
    EXPECT_EQ(locate({'S', 'E', 'R'}, kPattern), -1);  // file shorter than the pattern
    EXPECT_EQ(locate(std::vector<uint8_t>(kPattern.begin(), kPattern.end() - 1), kPattern), -1);

    Table t({{4, 100, false, {}}, {4, 7, false, {'Z'}}});
    OpenFile f(noise(1000, 3));
    locateRegions(2, t.region(0), f.h);
    EXPECT_EQ(+t.region(0)->offset, 100);  // no pattern: the stored offset stands
    EXPECT_EQ(+t.region(1)->offset, -1);   // pattern absent: the stored 7 is gone
}

TEST(ZeroRegions, OverlapsAreClippedToTheBuffer) {
    Table t({{10, 95, false, {}}, {3, 120, false, {}}, {50, -1, false, {}}, {5, 130, false, {}}});
    std::vector<uint8_t> buf(30, 0xFF);  // file bytes [100, 130)
    zeroRegions(4, t.region(0), buf.data(), 100, 30);
    for (size_t i = 0; i < buf.size(); i++)
        EXPECT_EQ(buf[i], (i < 5 || (i >= 20 && i < 23)) ? 0 : 0xFF) << i;
}

// The installer's sum of an installed file equals the packaging tool's sum
// of the old version it knows, whatever the installation wrote into regions.
TEST(ChecksumInstalledFile, RegionsAreBlankedInTheSum) {
    std::vector<pkg::Region> regions = {{12, -1, false, kPattern}, {4, 10, false, {}}};
    std::vector<uint8_t> a = withPatternAt(2 * REGION_WINDOW + 333, S + 2, kPattern);
    std::vector<uint8_t> b = a, c = a;
    b[S + 2 + 9] ^= 0x55;  // inside the located region
    b[11] ^= 0x55;         // inside the fixed region
    c[S + 2 + 12] ^= 0x55;  // just behind the located region
    uint32_t sums[3];
    const std::vector<uint8_t>* files[3] = {&a, &b, &c};
    for (int i = 0; i < 3; i++) {
        Table t(regions);
        OpenFile f(*files[i]);
        sums[i] = checksumInstalledFile(t.entry(), f.h);
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
        OpenFile f(data);
        EXPECT_EQ(checksumInstalledFile(t.entry(), f.h),
                  fileChecksum(data.data(), static_cast<uint32_t>(size), 0));
    }
}
