// The record loader decides whether an installer may run at all: these tests
// protect its completeness rule, the record walk over odd and hostile
// chains, and what it keeps of each record.
#include <cstring>

#include "package/inflate.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "support.h"

using namespace pkg;
using testsupport::fakeStub;

namespace {

class Loader : public testsupport::StateTest {
protected:
    int load(const Bytes& installer) {
        std::string path = temp.write("setup.exe", installer);
        copyText(state.sourcePath, path.c_str());
        return loadPackage();
    }
    static Record caption(const std::string& text33 = "Incomplete") {
        std::vector<std::vector<std::string>> tables(7);
        tables[6].resize(34);
        tables[6][0] = "Caption";
        tables[6][33] = text33;
        return stringTablesRecord(tables);
    }
};

TEST_F(Loader, AcceptsCompletePackagesAndKeepsTheirRecords) {
    Bytes data(1000, 0xAB);
    InstallerLayout layout;
    Bytes file = buildInstaller(fakeStub(),
                                {valueRecord(REC_OPTIONS, OPT_FULL_SCREEN), valueRecord(REC_REG_ROOT, 2),
                                 textRecord(REC_REG_KEY, "Software\\Vendor"), textRecord(REC_TITLE, "Title"),
                                 caption()},
                                data, &layout);
    ASSERT_EQ(load(file), LOAD_OK);
    EXPECT_EQ(state.options, OPT_FULL_SCREEN);
    EXPECT_EQ(state.registryRoot, 2u);
    EXPECT_STREQ(state.registrySubKey, "Software\\Vendor");
    EXPECT_STREQ(state.titleText, "Title");
    EXPECT_STREQ(getString(6, 0), "Caption");
    EXPECT_EQ(state.dataAreaOffset, layout.dataAreaOffset);
    EXPECT_EQ(state.volumeDataSize, layout.dataSize);
    EXPECT_EQ(state.volumeBytesLeft, layout.dataSize);
    EXPECT_EQ(file.size() % 8, 0u) << "the file ends where a signature can follow";
    EXPECT_STREQ(state.dataPath, state.sourcePath);
    EXPECT_EQ(nativeMessages.count, 0);
}

TEST_F(Loader, OnlyAStubFailsSilently) {
    EXPECT_EQ(load(fakeStub()), LOAD_FAILED);
    EXPECT_EQ(nativeMessages.count, 0);
}

TEST_F(Loader, CutOrExtendedPackagesAreIncomplete) {
    InstallerLayout layout;
    Bytes file = buildInstaller(fakeStub(), {caption()}, Bytes(100, 1), &layout);
    // Extended by one byte: the chain reaches the data record, the size does not fit.
    Bytes longer = file;
    longer.push_back(0);
    EXPECT_EQ(load(longer), LOAD_INCOMPLETE);
    EXPECT_EQ(nativeMessages.count, 1);
    EXPECT_STREQ(nativeMessages.lastText, "Incomplete");
    EXPECT_EQ(nativeMessages.lastFlags, 0x40u);

    // Cut inside the data area: message again.
    releasePackageData();
    nativeMessages = NativeMessages();
    Bytes cut(file.begin(), file.end() - 10);
    EXPECT_EQ(load(cut), LOAD_INCOMPLETE);
    EXPECT_EQ(nativeMessages.count, 1);

    // Cut before the data record: the chain breaks, no message.
    for (size_t keep : {size_t(STUB_SIZE + 3), size_t(STUB_SIZE + 8), size_t(layout.dataAreaOffset - 4)}) {
        releasePackageData();
        nativeMessages = NativeMessages();
        Bytes shorter(file.begin(), file.begin() + keep);
        EXPECT_EQ(load(shorter), LOAD_FAILED) << keep;
        EXPECT_EQ(nativeMessages.count, 0) << keep;
    }
}

TEST_F(Loader, IncompleteMessageIsShownOnlyWhenItHasText) {
    Bytes file = buildInstaller(fakeStub(), {caption("")}, Bytes(10, 1));
    file.push_back(0);
    EXPECT_EQ(load(file), LOAD_INCOMPLETE);
    EXPECT_EQ(nativeMessages.count, 0);
}

TEST_F(Loader, StartPageRecordMakesThePackageComplete) {
    // A start page and a data record whose header length is zero: complete
    // without any file data, whatever follows.
    Bytes file = fakeStub();
    appendRecord(file, startPageRecord(6));
    appendRecord(file, rawRecord(REC_FILE_DATA, {}));
    file.push_back(0x55);
    EXPECT_EQ(load(file), LOAD_OK);
    EXPECT_EQ(stubData.header.startPage, 6);
    EXPECT_EQ(state.dataAreaOffset, 0u);
}

TEST_F(Loader, SkipsUnknownTagsAndEmptyRecords) {
    Bytes file = fakeStub();
    appendRecord(file, rawRecord(0x123A, Bytes(17, 0xEE)));
    appendRecord(file, rawRecord(0x7F80, Bytes(5, 0xEE)));
    appendRecord(file, rawRecord(0xFFFF, Bytes(3, 0xEE)));
    appendRecord(file, rawRecord(0x0001, {}));
    appendRecord(file, rawRecord(REC_TITLE, {}));  // empty: no payload, nothing kept
    appendRecord(file, textRecord(REC_INI_KEY, "Path"));
    Bytes tail = buildInstaller(fakeStub(), {}, Bytes(4, 9));
    file.insert(file.end(), tail.begin() + STUB_SIZE, tail.end());
    // The file length is no longer 8-aligned, which does not matter.
    EXPECT_EQ(load(file), LOAD_OK);
    EXPECT_EQ(state.titleText, nullptr);
    EXPECT_STREQ(state.iniKey, "Path");
}

TEST_F(Loader, LaterRecordReplacesEarlierOne) {
    Bytes file = buildInstaller(fakeStub(), {textRecord(REC_TITLE, "first"), textRecord(REC_TITLE, "second")}, {});
    ASSERT_EQ(load(file), LOAD_OK);
    EXPECT_STREQ(state.titleText, "second");
}

TEST_F(Loader, ReadsAtMostEightStringTables) {
    std::vector<std::vector<std::string>> tables;
    for (int i = 0; i < 9; i++) tables.push_back({"table " + std::to_string(i)});
    Bytes file = buildInstaller(fakeStub(), {stringTablesRecord(tables), textRecord(REC_TITLE, "after")}, {});
    ASSERT_EQ(load(file), LOAD_OK);
    for (int i = 0; i < 8; i++) EXPECT_EQ(getString(i, 0), "table " + std::to_string(i));
    EXPECT_STREQ(state.titleText, "after") << "the rest of the record was skipped by its length";
}

TEST_F(Loader, LongDestinationIsCutTo259Characters) {
    std::string dir(300, 'd');
    Bytes file = buildInstaller(fakeStub(), {textRecord(REC_DEST_DIR, dir)}, {});
    ASSERT_EQ(load(file), LOAD_OK);
    EXPECT_EQ(std::string(state.destinationDir), dir.substr(0, 259));
}

TEST_F(Loader, CompressedPayloadGetsExactlyItsStatedSize) {
    Bytes blob(5000, 0x11);
    Bytes file = buildInstaller(fakeStub(), {bufferRecord(REC_TEMPLATES, blob, Compression::Always)}, {});
    ASSERT_EQ(load(file), LOAD_OK);
    EXPECT_EQ(state.templateBlobSize, 5000u);
    EXPECT_EQ(std::memcmp(state.templateBlob, blob.data(), blob.size()), 0);
}

TEST_F(Loader, DamagedStreamsAndHostileLengthsFailSilently) {
    // A compressed payload whose stream is broken (block type 0).
    Record bad;
    bad.tag = REC_TITLE;
    bad.flags = RECORD_COMPRESSED;
    put32(bad.payload, 10);
    bad.payload.push_back(0x08);
    EXPECT_EQ(load(buildInstaller(fakeStub(), {bad}, {})), LOAD_FAILED);
    EXPECT_EQ(nativeMessages.count, 0);

    // A length that would wrap the position round to an earlier record must
    // not loop for ever.
    releasePackageData();
    Bytes file = fakeStub();
    put16(file, REC_TITLE);
    put16(file, 0);
    put32(file, 0xFFFFFFF8u);
    EXPECT_EQ(load(file), LOAD_FAILED);

    // A compressed record that states 0xFFFFFFFF bytes: one more for the
    // terminator would wrap round to an empty block.
    for (uint16_t tag : {REC_TITLE, REC_FILE_TABLE}) {
        releasePackageData();
        Record huge;
        huge.tag = tag;
        huge.flags = RECORD_COMPRESSED;
        put32(huge.payload, 0xFFFFFFFFu);
        huge.payload.push_back(0x03);
        EXPECT_EQ(load(buildInstaller(fakeStub(), {huge}, {})), LOAD_FAILED) << tag;
    }
    // ... and is refused as an impossible size before any memory is asked
    // for, not as a stream that failed to decode.
    Record huge;
    huge.tag = REC_TITLE;
    huge.flags = RECORD_COMPRESSED;
    put32(huge.payload, 0xFFFFFFFFu);
    huge.payload.push_back(0x03);
    Bytes hugeFile = buildInstaller(fakeStub(), {huge}, {});
    FileHandle f = openFile(temp.write("huge.exe", hugeFile).c_str(), OPEN_READ);
    ASSERT_NE(f, INVALID_FILE);
    seekTo(f, STUB_SIZE + sizeof(PackageRecordHeader));
    PackageRecordHeader header = {REC_TITLE, RECORD_COMPRESSED, static_cast<uint32_t>(huge.payload.size())};
    uint8_t* block = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(readRecordPayload(f, header, &block, &size), PAYLOAD_NO_MEMORY);
    EXPECT_EQ(block, nullptr);
    closeFile(f);

    // A string table too large for memory.
    releasePackageData();
    file = fakeStub();
    Record tables;
    tables.tag = REC_STRING_TABLES;
    put16(tables.payload, 1);
    put32(tables.payload, 0xFFFFFFFFu);
    appendRecord(file, tables);
    EXPECT_EQ(load(file), LOAD_FAILED);
}

// Declared sizes are checked against what the record can hold before any
// memory is asked for: a crafted installer of 64 KiB never makes the
// installer zero-fill gigabytes.
class BoundedLoading : public Loader {
protected:
    // The stub read for the binding key and one decoder's buffers: what a
    // refused load may hold, far below any size the tests declare.
    static constexpr uint32_t kLittle = 1u << 20;
    // Loads and returns the most heap the load held at once.
    uint32_t peakOfLoad(const Bytes& installer, int* result) {
        memoryPeak = memoryInUse;
        uint32_t before = memoryInUse;
        *result = load(installer);
        return memoryPeak - before;
    }
};

TEST_F(BoundedLoading, EightTablesOfAlmostTwoGigabytesAreRefused) {
    Bytes file = testsupport::hostileInstaller();
    EXPECT_LT(file.size(), 65536u + 1024);
    int result;
    EXPECT_LT(peakOfLoad(file, &result), kLittle) << "refused before allocating";
    EXPECT_EQ(result, LOAD_FAILED);
    EXPECT_EQ(nativeMessages.count, 0);
    for (auto* table : state.stringTables) EXPECT_EQ(table, nullptr);
}

TEST_F(BoundedLoading, CompressedSizesMustFitTheirRecordAndTheirStream) {
    Bytes text(3000, 'x');
    Record good = bufferRecord(REC_TITLE, text, Compression::Always);
    ASSERT_EQ(good.flags, RECORD_COMPRESSED);
    ASSERT_EQ(load(buildInstaller(fakeStub(), {good}, {})), LOAD_OK);

    // One byte more or less than the stream decodes to: damaged.
    for (int delta : {-1, 1}) {
        releasePackageData();
        Record r = good;
        uint32_t size = 3000 + delta;
        std::memcpy(r.payload.data(), &size, 4);
        EXPECT_EQ(load(buildInstaller(fakeStub(), {r}, {})), LOAD_FAILED) << delta;
        EXPECT_EQ(state.titleText, nullptr);
    }

    // More than the stream's bytes could ever decode to, or than any package
    // may hold: refused with nothing allocated.
    size_t streamBytes = good.payload.size() - 4;
    for (uint64_t size : {uint64_t(streamBytes) * INFLATE_MAX_EXPANSION + 1, uint64_t(0xFFFFFFFFu)}) {
        releasePackageData();
        Record r = good;
        uint32_t claim = static_cast<uint32_t>(size);
        std::memcpy(r.payload.data(), &claim, 4);
        int result;
        EXPECT_LT(peakOfLoad(buildInstaller(fakeStub(), {r}, {}), &result), kLittle) << size;
        EXPECT_EQ(result, LOAD_FAILED);
    }
    Record big;
    big.tag = REC_TITLE;
    big.flags = RECORD_COMPRESSED;
    put32(big.payload, RECORD_BUFFER_MAX + 1);
    big.payload.resize(4 + RECORD_BUFFER_MAX / INFLATE_MAX_EXPANSION + 100, 0);  // enough bytes for the ratio
    releasePackageData();
    int result;
    EXPECT_LT(peakOfLoad(buildInstaller(fakeStub(), {big}, {}), &result), kLittle);
    EXPECT_EQ(result, LOAD_FAILED);
    EXPECT_TRUE(possibleBufferSize(RECORD_BUFFER_MAX, RECORD_BUFFER_MAX / INFLATE_MAX_EXPANSION + 1, true));
    EXPECT_FALSE(possibleBufferSize(RECORD_BUFFER_MAX + 1, 0xFFFFFFF0u, true));
    EXPECT_FALSE(possibleBufferSize(10, 0, true)) << "a compressed payload needs a stream";
    EXPECT_TRUE(possibleBufferSize(0, 0, false));
}

TEST_F(BoundedLoading, StringTablesStayWithinTheirRecord) {
    std::vector<std::vector<std::string>> tables = {{"zero"}, {"one", "uno"}};
    Record r = stringTablesRecord(tables);
    ASSERT_EQ(load(buildInstaller(fakeStub(), {r, textRecord(REC_TITLE, "after")}, {})), LOAD_OK);
    EXPECT_STREQ(getString(1, 1), "uno");

    // The record cut by its length before the second stream ends: the
    // stream may not run on into the next record.
    for (size_t cut : {size_t(1), size_t(4), r.payload.size() - 9}) {
        releasePackageData();
        Record shorter = r;
        shorter.payload.resize(r.payload.size() - cut);
        Bytes file = buildInstaller(fakeStub(), {shorter, textRecord(REC_TITLE, "after")}, {});
        EXPECT_EQ(load(file), LOAD_FAILED) << cut;
    }

    // A table count beyond what the record holds.
    releasePackageData();
    Record counted = r;
    counted.payload[0] = 5;
    EXPECT_EQ(load(buildInstaller(fakeStub(), {counted}, {})), LOAD_FAILED);
}

TEST_F(BoundedLoading, RecordsMustLieWithinTheFile) {
    // A stored payload declaring more than the file holds: refused before
    // its block is had, whatever tag it has.
    for (uint16_t tag : {uint16_t(REC_TITLE), uint16_t(REC_OPTIONS), uint16_t(0x7000)}) {
        releasePackageData();
        Bytes file = buildInstaller(fakeStub(), {textRecord(REC_TITLE, "x", Compression::Never)}, {});
        Bytes lying = fakeStub();
        put16(lying, tag);
        put16(lying, 0);
        put32(lying, 0x7FFFFFF0u);
        lying.insert(lying.end(), file.begin() + STUB_SIZE, file.end());
        int result;
        EXPECT_LT(peakOfLoad(lying, &result), kLittle) << tag;
        EXPECT_EQ(result, LOAD_FAILED) << tag;
    }
    // A record that would put the next one between 2 and 4 GiB: on Win32
    // the seek fails and the loader would read on inside this payload.
    releasePackageData();
    Bytes file = fakeStub();
    put16(file, 0x7000);
    put16(file, 0);
    put32(file, 0x90000000u);
    Bytes rest = buildInstaller(fakeStub(), {startPageRecord(6)}, {});
    file.insert(file.end(), rest.begin() + STUB_SIZE, rest.end());
    EXPECT_EQ(load(file), LOAD_FAILED);
}

TEST_F(BoundedLoading, PicturesAndTheTitleFontKeepTheirSize) {
    // A 2 x 2 picture of 24 bits: rows of 8 bytes (6 padded to 4).
    Bytes bmp = {'B', 'M'};
    bmp.resize(14, 0);
    for (uint32_t v : {40u, 2u, 2u}) put32(bmp, v);
    put16(bmp, 1);
    put16(bmp, 24);
    for (int k = 0; k < 6; k++) put32(bmp, 0);
    bmp.resize(54 + 16, 0x5A);
    Bytes font(60, 0);
    std::memcpy(&font[28], "Arial", 5);
    auto loadWith = [&](const Bytes& picture, const Bytes& titleFont) {
        releasePackageData();
        return load(buildInstaller(fakeStub(),
                                   {bufferRecord(REC_FRAME_IMAGE, picture), bufferRecord(REC_BACKGROUND_IMAGE, picture),
                                    bufferRecord(REC_TITLE_FONT, titleFont)},
                                   {}));
    };
    ASSERT_EQ(loadWith(bmp, font), LOAD_OK);
    EXPECT_NE(state.frameImage, nullptr);
    EXPECT_NE(state.backgroundImage, nullptr);
    EXPECT_NE(state.titleFont, nullptr);

    // Rows cut short, a colour table beyond the record, compression, a
    // wrong header size, a font record one byte off: each counts as none,
    // and the package still loads.
    Bytes cut(bmp.begin(), bmp.end() - 1);
    Bytes colours = bmp;
    colours[46] = 0xFF;  // clrUsed
    Bytes rle = bmp;
    rle[30] = 1;
    Bytes header = bmp;
    header[14] = 124;
    Bytes wide = bmp;
    wide[21] = 0x7F;  // width near 2^31
    for (const Bytes& bad : {cut, colours, rle, header, wide, Bytes(10, 'B')}) {
        ASSERT_EQ(loadWith(bad, Bytes(59, 0)), LOAD_OK);
        EXPECT_EQ(state.frameImage, nullptr);
        EXPECT_EQ(state.backgroundImage, nullptr);
        EXPECT_EQ(state.titleFont, nullptr);
    }
    ASSERT_EQ(loadWith(bmp, Bytes(61, 0)), LOAD_OK);
    EXPECT_EQ(state.titleFont, nullptr);
}

TEST_F(Loader, StubSizeZeroRefusesAtOnce) {
    stubData.header.stubSize = 0;
    EXPECT_EQ(load(buildInstaller(fakeStub(), {}, {})), LOAD_FAILED);
}

TEST_F(Loader, BindingKeyComesFromTheStub) {
    Bytes stub = fakeStub();
    ASSERT_EQ(load(buildInstaller(stub, {}, {})), LOAD_OK);
    EXPECT_EQ(state.bindingKey, stubBindingKey(stub));
    stub[100] ^= 1;
    releasePackageData();
    ASSERT_EQ(load(buildInstaller(stub, {}, {})), LOAD_OK);
    EXPECT_EQ(state.bindingKey, stubBindingKey(stub));
    EXPECT_NE(state.bindingKey, stubBindingKey(fakeStub()));
}

}  // namespace
