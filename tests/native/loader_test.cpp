// The record loader decides whether an installer may run at all: these tests
// protect its completeness rule, the record walk over odd and hostile
// chains, and what it keeps of each record.
#include <cstring>

#include "package/loader.h"
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
    ASSERT_EQ(load(file), 1);
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
    EXPECT_EQ(load(fakeStub()), 0);
    EXPECT_EQ(nativeMessages.count, 0);
}

TEST_F(Loader, CutOrExtendedPackagesAreIncomplete) {
    InstallerLayout layout;
    Bytes file = buildInstaller(fakeStub(), {caption()}, Bytes(100, 1), &layout);
    // Extended by one byte: the chain reaches the data record, the size does not fit.
    Bytes longer = file;
    longer.push_back(0);
    EXPECT_EQ(load(longer), 0);
    EXPECT_EQ(nativeMessages.count, 1);
    EXPECT_STREQ(nativeMessages.lastText, "Incomplete");
    EXPECT_EQ(nativeMessages.lastFlags, 0x40u);

    // Cut inside the data area: message again.
    releasePackageData();
    nativeMessages = NativeMessages();
    Bytes cut(file.begin(), file.end() - 10);
    EXPECT_EQ(load(cut), 0);
    EXPECT_EQ(nativeMessages.count, 1);

    // Cut before the data record: the chain breaks, no message.
    for (size_t keep : {size_t(STUB_SIZE + 3), size_t(STUB_SIZE + 8), size_t(layout.dataAreaOffset - 4)}) {
        releasePackageData();
        nativeMessages = NativeMessages();
        Bytes shorter(file.begin(), file.begin() + keep);
        EXPECT_EQ(load(shorter), 0) << keep;
        EXPECT_EQ(nativeMessages.count, 0) << keep;
    }
}

TEST_F(Loader, IncompleteMessageIsShownOnlyWhenItHasText) {
    Bytes file = buildInstaller(fakeStub(), {caption("")}, Bytes(10, 1));
    file.push_back(0);
    EXPECT_EQ(load(file), 0);
    EXPECT_EQ(nativeMessages.count, 0);
}

TEST_F(Loader, StartPageRecordMakesThePackageComplete) {
    // A start page and a data record whose header length is zero: complete
    // without any file data, whatever follows.
    Bytes file = fakeStub();
    appendRecord(file, startPageRecord(6));
    appendRecord(file, rawRecord(REC_FILE_DATA, {}));
    file.push_back(0x55);
    EXPECT_EQ(load(file), 1);
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
    EXPECT_EQ(load(file), 1);
    EXPECT_EQ(state.titleText, nullptr);
    EXPECT_STREQ(state.iniKey, "Path");
}

TEST_F(Loader, LaterRecordReplacesEarlierOne) {
    Bytes file = buildInstaller(fakeStub(), {textRecord(REC_TITLE, "first"), textRecord(REC_TITLE, "second")}, {});
    ASSERT_EQ(load(file), 1);
    EXPECT_STREQ(state.titleText, "second");
}

TEST_F(Loader, ReadsAtMostEightStringTables) {
    std::vector<std::vector<std::string>> tables;
    for (int i = 0; i < 9; i++) tables.push_back({"table " + std::to_string(i)});
    Bytes file = buildInstaller(fakeStub(), {stringTablesRecord(tables), textRecord(REC_TITLE, "after")}, {});
    ASSERT_EQ(load(file), 1);
    for (int i = 0; i < 8; i++) EXPECT_EQ(getString(i, 0), "table " + std::to_string(i));
    EXPECT_STREQ(state.titleText, "after") << "the rest of the record was skipped by its length";
}

TEST_F(Loader, LongDestinationIsCutTo259Characters) {
    std::string dir(300, 'd');
    Bytes file = buildInstaller(fakeStub(), {textRecord(REC_DEST_DIR, dir)}, {});
    ASSERT_EQ(load(file), 1);
    EXPECT_EQ(std::string(state.destinationDir), dir.substr(0, 259));
}

TEST_F(Loader, CompressedPayloadGetsExactlyItsStatedSize) {
    Bytes blob(5000, 0x11);
    Bytes file = buildInstaller(fakeStub(), {bufferRecord(REC_TEMPLATES, blob, Compression::Always)}, {});
    ASSERT_EQ(load(file), 1);
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
    EXPECT_EQ(load(buildInstaller(fakeStub(), {bad}, {})), 0);
    EXPECT_EQ(nativeMessages.count, 0);

    // A length that would wrap the position round to an earlier record must
    // not loop for ever.
    releasePackageData();
    Bytes file = fakeStub();
    put16(file, REC_TITLE);
    put16(file, 0);
    put32(file, 0xFFFFFFF8u);
    EXPECT_EQ(load(file), 0);

    // A compressed record that states 0xFFFFFFFF bytes: one more for the
    // terminator would wrap round to an empty block.
    for (uint16_t tag : {REC_TITLE, REC_FILE_TABLE}) {
        releasePackageData();
        Record huge;
        huge.tag = tag;
        huge.flags = RECORD_COMPRESSED;
        put32(huge.payload, 0xFFFFFFFFu);
        huge.payload.push_back(0x03);
        EXPECT_EQ(load(buildInstaller(fakeStub(), {huge}, {})), 0) << tag;
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
    EXPECT_EQ(readRecordPayload(f, header, &block, &size), 5);
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
    EXPECT_EQ(load(file), 0);
}

TEST_F(Loader, StubSizeZeroRefusesAtOnce) {
    stubData.header.stubSize = 0;
    EXPECT_EQ(load(buildInstaller(fakeStub(), {}, {})), 0);
}

TEST_F(Loader, BindingKeyComesFromTheStub) {
    Bytes stub = fakeStub();
    ASSERT_EQ(load(buildInstaller(stub, {}, {})), 1);
    EXPECT_EQ(state.bindingKey, stubBindingKey(stub));
    stub[100] ^= 1;
    releasePackageData();
    ASSERT_EQ(load(buildInstaller(stub, {}, {})), 1);
    EXPECT_EQ(state.bindingKey, stubBindingKey(stub));
    EXPECT_NE(state.bindingKey, stubBindingKey(fakeStub()));
}

}  // namespace
