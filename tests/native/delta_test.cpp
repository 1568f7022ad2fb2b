// The delta interpreter: command bytes and distance fields on every boundary
// of their ranges, the building of a new file from old-file copies and
// inserted bytes, and the refusal of deltas a sound packager never writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/delta.h"
#include "pkg/differ.h"
#include "support.h"

using Bytes = std::vector<uint8_t>;

namespace {

DeltaCommand decode(const Bytes& bytes, size_t* used = nullptr, bool* ok = nullptr) {
    const uint8_t* p = bytes.data();
    DeltaCommand c = {99, 99, 99};
    bool r = readDeltaCommand(&p, bytes.data() + bytes.size(), &c);
    if (ok) *ok = r;
    if (used) *used = static_cast<size_t>(p - bytes.data());
    return c;
}

int32_t distanceOf(const Bytes& field) {
    Bytes command = {0x01};  // copy 2, then the field
    command.insert(command.end(), field.begin(), field.end());
    size_t used = 0;
    bool ok = false;
    DeltaCommand c = decode(command, &used, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(used, command.size());
    return c.distance;
}

}  // namespace

// Command bytes map to the insert and copy lengths of their range, at both
// ends of each range: a packager and the engine must agree on every one.
TEST(DeltaCommands, LengthsAtRangeEnds) {
    struct Case { Bytes bytes; uint32_t insert, copy; };
    const Case cases[] = {
        {{0x80}, 1, 0},
        {{0x9F}, 32, 0},
        {{0xA0, 0x80}, 1, 2},
        {{0xBF, 0x80}, 1, 33},
        {{0xC0, 0x80}, 2, 2},
        {{0xFF, 0x80}, 3, 33},
        {{0x01, 0x80}, 0, 2},
        {{0x7F, 0x80}, 0, 128},
        {{0x00, 0x00, 0x00, 0x80}, 0, 129},
        {{0x00, 0xFF, 0xFF, 0x80}, 0, 65664},
    };
    for (const Case& c : cases) {
        size_t used = 0;
        bool ok = false;
        DeltaCommand d = decode(c.bytes, &used, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(d.insertLength, c.insert) << int(c.bytes[0]);
        EXPECT_EQ(d.copyLength, c.copy) << int(c.bytes[0]);
        EXPECT_EQ(used, c.bytes.size()) << int(c.bytes[0]);
    }
}

// Distance fields of one, two and three bytes at the ends of their ranges,
// and the packager's encoder picks the shortest field that reads back.
TEST(DeltaCommands, DistanceFields) {
    EXPECT_EQ(distanceOf({0x80}), 0);
    EXPECT_EQ(distanceOf({0xBF}), -1);
    EXPECT_EQ(distanceOf({0xA0}), -32);
    EXPECT_EQ(distanceOf({0x9F}), 31);
    EXPECT_EQ(distanceOf({0x00, 0x00}), 32);
    EXPECT_EQ(distanceOf({0x7F, 0xFF}), -33);
    EXPECT_EQ(distanceOf({0x3F, 0xFF}), 16415);
    EXPECT_EQ(distanceOf({0x40, 0x00}), -16416);
    EXPECT_EQ(distanceOf({0xC0, 0x00, 0x00}), 16416);
    EXPECT_EQ(distanceOf({0xFF, 0xFF, 0xFF}), -16417);
    EXPECT_EQ(distanceOf({0xDF, 0xFF, 0xFF}), DELTA_DISTANCE_MAX);
    EXPECT_EQ(distanceOf({0xE0, 0x00, 0x00}), DELTA_DISTANCE_MIN);

    const int32_t samples[] = {0, 31, -32, 32, -33, 16415, -16416, 16416, -16417,
                               DELTA_DISTANCE_MAX, DELTA_DISTANCE_MIN};
    for (int32_t d : samples) {
        Bytes field;
        pkg::encodeDistance(field, d);
        size_t expected = d >= -32 && d <= 31 ? 1 : d >= -16416 && d <= 16415 ? 2 : 3;
        EXPECT_EQ(field.size(), expected) << d;
        EXPECT_EQ(distanceOf(field), d);
    }
    Bytes field;
    EXPECT_THROW(pkg::encodeDistance(field, DELTA_DISTANCE_MAX + 1), std::logic_error);
}

// A command cut off anywhere (length bytes, distance bytes) is reported,
// never read past the stream.
TEST(DeltaCommands, TruncatedCommands) {
    const Bytes whole[] = {{0x01, 0x80}, {0x00, 0x10, 0x00, 0x80}, {0x01, 0x00, 0x00},
                           {0x01, 0xC0, 0x00, 0x00}, {0xA0, 0x80}};
    for (const Bytes& w : whole) {
        for (size_t cut = 1; cut < w.size(); cut++) {
            Bytes part(w.begin(), w.begin() + cut);
            bool ok = true;
            decode(part, nullptr, &ok);
            EXPECT_FALSE(ok) << "command " << int(w[0]) << " cut at " << cut;
        }
    }
}

namespace {

// Runs applyDelta over files in a temporary folder.
class Apply : public ::testing::Test {
protected:
    // claimed: the entry's newSize; by default what the commands build.
    int run(const Bytes& commands, const Bytes& data, const Bytes& old, Bytes* out,
            const PreservedRegion* regions = nullptr, uint32_t regionCount = 0, int64_t claimed = -1) {
        uint64_t builds = deltaOutputSize(commands.data(), uint32_t(commands.size()));
        std::string oldPath = temp.write("old", old);
        std::string outPath = temp.path("new");
        FileHandle o = openFile(oldPath.c_str(), OPEN_READ);
        FileHandle w = createFreshFile(outPath.c_str());
        DeltaJob job = {commands.data(), static_cast<uint32_t>(commands.size()),
                        data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()),
                        o, static_cast<uint32_t>(old.size()), w,
                        static_cast<uint32_t>(claimed >= 0 ? uint64_t(claimed) : builds),
                        regions, regionCount, nullptr, nullptr, nullptr};
        int r = applyDelta(&job);
        closeFile(o);
        closeFile(w);
        *out = pkg::readFile(outPath);
        return r;
    }
    testsupport::TempDir temp;
};

Bytes ramp(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245 + 12345;
        b[i] = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

}  // namespace

// Copies run from the position where the previous copy ended; inserts come
// before the copy of a fused command.
TEST_F(Apply, BuildsFromCopiesAndInserts) {
    Bytes old = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    // copy 2 @0 ("ab"), copy 2 @+0 ("cd"), insert "XY" + copy 2 @-4 ("ab"),
    // insert 1 "Z", copy 3 @ +4 from 2 -> "gh"? (6..8)
    Bytes commands = {0x01, 0x80, 0x01, 0x80, 0xC0, 0xBC, 0x80, 0x02, 0x84 - 0x00};
    commands.back() = 0x80 | 3;  // distance +3: position 2 + 3 = 5
    Bytes data = {'X', 'Y', 'Z'};
    Bytes out;
    ASSERT_EQ(run(commands, data, old, &out), DELTA_OK);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcdXYabZfgh");
}

// An empty command stream builds an empty file; an empty data stream is fine
// as long as nothing inserts; an insert against an empty data stream is its
// own failure.
TEST_F(Apply, EmptyStreams) {
    Bytes out;
    EXPECT_EQ(run({}, {}, ramp(100), &out), DELTA_OK);
    EXPECT_TRUE(out.empty());
    Bytes old = ramp(300);
    EXPECT_EQ(run({0x7F, 0x80}, {}, old, &out), DELTA_OK);
    EXPECT_EQ(out, Bytes(old.begin(), old.begin() + 128));
    EXPECT_EQ(run({0x80}, {}, ramp(300), &out), DELTA_NO_DATA);
}

// A delta that a sound packager never writes is refused before a single
// byte is written: the output stays empty.
TEST_F(Apply, RefusesHostileDeltas) {
    Bytes old = ramp(70000);
    Bytes out;
    struct Case { const char* what; Bytes commands; Bytes data; };
    const Case cases[] = {
        {"ends inside a copy length", {0x80, 0x00, 0x10}, {1}},
        {"ends before the distance", {0x80, 0x05}, {1}},
        {"insert past the data stream", {0x80, 0x81}, {1, 2}},
        {"copy before the old file", {0x80, 0x01, 0xBF}, {1}},
        {"copy past the old file", {0x80, 0x01, 0xC1, 0x00, 0x00}, {1}},
        {"copy longer than the buffer", {0x80, 0x00, 0x80, 0xFF, 0x80}, {1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.commands, c.data, old, &out), DELTA_BAD) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
    // A copy that starts inside the old file but runs past its end, by one
    // byte; ending exactly at the end is fine.
    Bytes small = ramp(100);
    EXPECT_EQ(run({0x01, 0x00, 0x43}, {}, small, &out), DELTA_BAD) << "copy 2 from 99 of 100";
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(run({0x01, 0x00, 0x42}, {}, small, &out), DELTA_OK) << "copy 2 from 98 of 100";
    EXPECT_EQ(out, Bytes(small.begin() + 98, small.end()));
    // The largest copy the buffer holds is allowed.
    Bytes longest = {0x00, 0x7F, 0xFF, 0x80};
    ASSERT_EQ(run(longest, {}, old, &out), DELTA_OK);
    EXPECT_EQ(out, Bytes(old.begin(), old.begin() + 65536));
}

// The entry's size is checked before a byte is written: commands that build
// one byte more or less than newSize are refused, and nothing is written.
TEST_F(Apply, InsertsAndCopiesMustMakeExactlyTheNewSize) {
    Bytes old = ramp(1000);
    Bytes commands = {0x83, 0x00, 0x00, 0x00, 0x80};  // insert 4, copy 129 from 0
    Bytes data = {1, 2, 3, 4};
    Bytes out;
    EXPECT_EQ(run(commands, data, old, &out, nullptr, 0, 133), DELTA_OK);
    EXPECT_EQ(out.size(), 133u);
    for (int64_t wrong : {132, 134, 0}) {
        EXPECT_EQ(run(commands, data, old, &out, nullptr, 0, wrong), DELTA_BAD) << wrong;
        EXPECT_TRUE(out.empty()) << wrong;
    }
}

// Located preserved regions of the old file are copied as zeros.
TEST_F(Apply, RegionsReadAsZero) {
    Bytes old = ramp(64);
    PreservedRegion region = {8, 10, 1, 0};
    Bytes out;
    ASSERT_EQ(run({0x3F, 0x80}, {}, old, &out, &region, 1), DELTA_OK);
    Bytes expected = old;
    std::memset(expected.data() + 10, 0, 8);
    EXPECT_EQ(out, expected);
}

// A full disk shows as the kind of write failure it was.
TEST_F(Apply, WriteFaults) {
    Bytes old = ramp(200000);
    auto delta = pkg::diffFiles(old, old);
    Bytes out;
    fileFaults = {1000, 1};
    EXPECT_EQ(run(delta.commands, delta.data, old, &out), DELTA_WRITE_SHORT);
    fileFaults = {1000, 0};
    EXPECT_EQ(run(delta.commands, delta.data, old, &out), DELTA_WRITE_FAILED);
    fileFaults = {-1, 0};
}
