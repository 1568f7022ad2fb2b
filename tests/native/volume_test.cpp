// The volume reader carries the data area across the package file and the
// volume files beside it. These tests protect its quiet paths: the names it
// gives volumes, a read that ends exactly at a volume's end, a medium lost
// in the middle of a read and put back, and a volume whose size word cannot
// be read.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "package/codepage.h"
#include "package/paths.h"
#include "package/volume.h"
#include "package/strings.h"
#include "pkg/codepage.h"
#include "support.h"

using pkg::Bytes;

namespace {

class Volumes : public testsupport::StateTest {
protected:
    // A volume file: its size word, then the data (or only the first
    // `present` bytes of it, as on a medium that lost the rest).
    std::string volume(const std::string& name, const Bytes& data, size_t present = SIZE_MAX) {
        Bytes file;
        pkg::put32(file, static_cast<uint32_t>(data.size()));
        file.insert(file.end(), data.begin(), data.begin() + std::min(present, data.size()));
        return temp.write(name, file);
    }
    // The reader stands at the end of volume `number` of the package at `path`.
    void atEndOfVolume(const std::string& path, int number) {
        copyText(state.dataPath, path.c_str());
        state.volumeNumber = number;
        state.volumeBytesLeft = 0;
        state.volumeDataSize = 0;
    }
    Bytes read(uint32_t n, int* result) {
        Bytes b(n);
        uint32_t got = 0;
        *result = readAcrossVolumes(b.data(), n, &got);
        b.resize(got);
        return b;
    }
    void TearDown() override {
        closeFile(state.dataFile);
        StateTest::TearDown();
    }
};

TEST_F(Volumes, NamesReplaceTheExtensionOrAreAppended) {
    struct Case {
        std::string package;
        int after;
        std::string expected;
    } cases[] = {
        {"setup.exe", 9, "setup.D10"},
        {"setup.exe", 99, "setup.D100"},
        {"setup.exe", 0, "setup.D01"},
        {"setup", 0, "setup.D01"},            // no extension: appended
        {"dir.v2/setup", 0, "dir.v2/setup.D01"},  // a dot in a folder is no extension
    };
    mkdir(temp.path("dir.v2").c_str(), 0755);
    for (const Case& c : cases) {
        volume(c.expected, Bytes(3, 7));
        atEndOfVolume(temp.path(c.package), c.after);
        ASSERT_NE(openNextVolume(), INVALID_FILE) << c.expected;
        EXPECT_EQ(std::string(state.dataPath), temp.path(c.expected));
        EXPECT_EQ(state.volumeNumber, c.after + 1);
        EXPECT_EQ(state.volumeBytesLeft, 3u);
        closeFile(state.dataFile);
        state.dataFile = INVALID_FILE;
    }
}

// In a double-byte code page the second byte of a character may be a
// backslash: "setup.表" (95 5C) still has its extension replaced.
TEST_F(Volumes, ASecondByteThatLooksLikeABackslashEndsNoFolder) {
    std::array<uint8_t, 256> japanese = pkg::CodePage(932).leadBytes();
    leadByteFlags = japanese.data();
    volume("setup.D01", Bytes(3, 7));
    atEndOfVolume(temp.path("setup.\x95\x5C"), 0);
    FileHandle opened = openNextVolume();
    leadByteFlags = nullptr;
    ASSERT_NE(opened, INVALID_FILE) << state.dataPath;
    EXPECT_EQ(std::string(state.dataPath), temp.path("setup.D01"));
}

TEST_F(Volumes, AReadEndingAtAVolumesEndOpensNothingMore) {
    volume("setup.D01", Bytes(10, 1));
    volume("setup.D02", Bytes(5, 2));
    atEndOfVolume(temp.path("setup.exe"), 0);
    ASSERT_NE(openNextVolume(), INVALID_FILE);
    int r;
    EXPECT_EQ(read(10, &r), Bytes(10, 1));
    EXPECT_EQ(r, INPUT_OK);
    EXPECT_EQ(state.volumeNumber, 1) << "the next volume is not opened yet";
    EXPECT_EQ(state.volumeBytesLeft, 0u);
    // The next read finds the volume at its end and moves on.
    EXPECT_EQ(read(3, &r), Bytes(3, 2));
    EXPECT_EQ(state.volumeNumber, 2);
    EXPECT_EQ(state.volumeDataBase, 10u);
    EXPECT_EQ(state.volumeBytesLeft, 2u);
    // Past the last volume: the next one is missing, silently.
    EXPECT_EQ(read(5, &r), Bytes(2, 2));
    EXPECT_EQ(r, INPUT_LOST);
    EXPECT_EQ(nativeMessages.count, 0);
}

TEST_F(Volumes, AMediumLostMidReadIsOpenedAgainAtTheSamePlace) {
    Bytes data(100);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i);
    std::string path = volume("setup.D01", data, 40);  // the medium holds only 40 bytes now
    atEndOfVolume(temp.path("setup.exe"), 0);
    ASSERT_NE(openNextVolume(), INVALID_FILE);
    // The medium comes back whole under the same name while the old handle
    // still reads the cut copy.
    volume("setup.D01.new", data);
    ASSERT_EQ(std::rename(temp.path("setup.D01.new").c_str(), path.c_str()), 0);
    int r;
    Bytes got = read(60, &r);
    EXPECT_EQ(r, INPUT_OK);
    EXPECT_EQ(got, Bytes(data.begin(), data.begin() + 60)) << "the last 20 came from the copy opened again";
    EXPECT_EQ(state.volumeNumber, 1) << "the same volume, opened again";
    EXPECT_EQ(std::string(state.dataPath), path);
    EXPECT_EQ(state.volumeBytesLeft, 40u);
    EXPECT_EQ(read(40, &r), Bytes(data.begin() + 60, data.end()));

    // Lost for good: the reopened copy is still cut, the read comes back
    // short without failing, and the next one fails.
    std::string cut = volume("other.D01", data, 40);
    atEndOfVolume(temp.path("other.exe"), 0);
    closeFile(state.dataFile);
    ASSERT_NE(openNextVolume(), INVALID_FILE);
    got = read(60, &r);
    EXPECT_EQ(r, INPUT_OK);
    EXPECT_EQ(got.size(), 40u);
}

// The decoder reads the data area through VolumeInput: a stream that runs
// on into the next volume decodes whole, and what the decoder read but did
// not use goes back to the current volume, never in front of its data.
TEST_F(Volumes, AStreamDecodesAcrossVolumesAndGivesBackWhatItDidNotUse) {
    // One stored block of 10 bytes: last-block header, LEN, the bytes.
    const Bytes stream = {0x0F, 0x0A, 0x00, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes digits(stream.begin() + 3, stream.end());
    auto decode = [&](uint32_t limit, int* result) {
        uint8_t out[10] = {};
        MemorySink sink(out, sizeof out);
        VolumeInput input;
        *result = decodeStream(&sink, &input, limit);
        return Bytes(out, out + sizeof out - sink.room);
    };
    int r;
    {
        SCOPED_TRACE("split 6 + 7, the next stream's bytes behind it in the second volume");
        Bytes second(stream.begin() + 6, stream.end());
        second.insert(second.end(), {0xA1, 0xA2, 0xA3});
        volume("split.D01", Bytes(stream.begin(), stream.begin() + 6));
        volume("split.D02", second);
        atEndOfVolume(temp.path("split.exe"), 0);
        ASSERT_NE(openNextVolume(), INVALID_FILE);
        EXPECT_EQ(decode(static_cast<uint32_t>(stream.size() + 3), &r), digits);
        EXPECT_EQ(r, INFLATE_OK);
        EXPECT_EQ(state.volumeNumber, 2);
        EXPECT_EQ(read(3, &r), (Bytes{0xA1, 0xA2, 0xA3})) << "the reader stands right behind the stream";
    }
    {
        SCOPED_TRACE("the stream ends in the first volume, the read ran on into the second");
        Bytes first = stream;
        first.insert(first.end(), {0xB1, 0xB2});
        volume("early.D01", first);
        volume("early.D02", Bytes(5, 0xC0));
        atEndOfVolume(temp.path("early.exe"), 0);
        ASSERT_NE(openNextVolume(), INVALID_FILE);
        EXPECT_EQ(decode(static_cast<uint32_t>(first.size() + 5), &r), digits);
        EXPECT_EQ(r, INFLATE_OK);
        // Only the second volume's five bytes can be given back.
        EXPECT_EQ(state.volumeNumber, 2);
        EXPECT_EQ(state.volumeBytesLeft, 5u);
        EXPECT_EQ(tellFile(state.dataFile), 4u) << "at the data, behind the size word";
    }
    {
        SCOPED_TRACE("the second volume is missing: the decode fails, it does not end early");
        volume("lost.D01", Bytes(stream.begin(), stream.begin() + 6));
        atEndOfVolume(temp.path("lost.exe"), 0);
        ASSERT_NE(openNextVolume(), INVALID_FILE);
        decode(static_cast<uint32_t>(stream.size()), &r);
        EXPECT_EQ(r, INFLATE_ERR_DATA);
        EXPECT_EQ(nativeMessages.count, 0);
    }
}

TEST_F(Volumes, ASizeWordThatCannotBeReadIsAMissingDisk) {
    temp.write("setup.D01", Bytes{1, 2});
    atEndOfVolume(temp.path("setup.exe"), 0);
    EXPECT_EQ(openNextVolume(), INVALID_FILE) << "not a relaunched copy: fails at once";
    EXPECT_EQ(nativeMessages.count, 0);

    // A relaunched copy asks for the disk; giving up ends the page.
    state.isRelaunchedCopy = 1;
    atEndOfVolume(temp.path("setup.exe"), 0);
    nativeMessageAnswer = BOX_YES;  // not OK: Cancel on the disk prompt, then Yes to giving up
    EXPECT_EQ(openNextVolume(), INVALID_FILE);
    EXPECT_EQ(nativeMessages.count, 3);
    EXPECT_EQ(state.pageResult, PAGE_RESULT_CANCEL);
    EXPECT_EQ(state.dataFile, INVALID_FILE);
}

}  // namespace
