// updpack inspect shows an installer as its stub reads it, finds the volume
// files beside it and names the ones that are missing, and answers a damaged
// installer with an error, never a crash or a read out of bounds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "pkg/update.h"
#include "package/fileops.h"
#include "pkg/differ.h"
#include "support.h"
#include "updpack/commands.h"

using pkg::Bytes;

namespace {

using testsupport::noise;

class Inspect : public ::testing::Test {
protected:
    // An update of two files over an installer and two volumes.
    void SetUp() override {
        pkg::FileSet old, now;
        old["docs\\a.bin"] = noise(100000, 1);
        now["docs\\a.bin"] = noise(100000, 2);  // nothing to copy: a whole file
        now["new.txt"] = Bytes(100, 'n');
        std::vector<std::vector<std::string>> tables(8);
        tables[6] = {"Caption"};
        tables[7] = {"< &Back", "&Next >"};
        Bytes font(60, 0);
        font[16] = 0xBC, font[17] = 0x02;  // weight 700
        std::memcpy(&font[28], "Arial", 5);
        pkg::UpdateOptions options;
        options.records = {pkg::stringTablesRecord(tables), pkg::textRecord(REC_TITLE, "Inspected"),
                           pkg::bufferRecord(REC_TITLE_FONT, font), pkg::textRecord(REC_DEST_DIR, "C:\\Product")};
        options.volumeSize = 70000;
        pkg::FileRule& rule = options.rules["docs\\a.bin"];
        rule.version = pkg::FileVersion{0x00020001, 0x00030004};
        rule.times = pkg::FileTimes{132000000000000000ull, 132000000000000000ull, 132000000000000000ull};
        rule.altSubfolder = "alt";
        pkg::BuiltUpdate u = pkg::buildUpdateFromSets({old}, now, testsupport::fakeStub(), options);
        ASSERT_GE(u.volumes.size(), 2u);
        installer = temp.path("setup.exe");
        pkg::writeUpdate(u, installer);
        bytes = u.installer;
    }

    // inspect's output; `thrown` gets the error message, if any.
    std::string run(const std::string& path, unsigned sections = updpack::INSPECT_ALL, std::string* thrown = nullptr) {
        testing::internal::CaptureStdout();
        try {
            EXPECT_EQ(updpack::inspect(path, sections), updpack::COMMAND_OK);
        } catch (const std::runtime_error& e) {
            if (thrown) *thrown = e.what();
            else ADD_FAILURE() << e.what();
        }
        return testing::internal::GetCapturedStdout();
    }

    testsupport::TempDir temp;
    std::string installer;
    Bytes bytes;
};

TEST_F(Inspect, ShowsSettingsTextsFilesAndVolumes) {
    std::string out = run(installer);
    for (const char* expected : {"title             \"Inspected\"", "\"Arial\", height 0, weight 700",
                                 "destination       \"C:\\\\Product\"", "6.0    \"Caption\"", "7.1    \"&Next >\"",
                                 "\"docs\\\\a.bin\"", "whole file, required", "from nothing: stream at",
                                 "setup.D01", "setup.D02", "version 2.1.3.4", "alternate folder \"alt\"",
                                 "times created 2019-04-17 18:40:00 UTC"})
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    EXPECT_EQ(out.find("missing"), std::string::npos) << out;

    std::string texts = run(installer, updpack::INSPECT_TEXTS);
    EXPECT_NE(texts.find("6.0"), std::string::npos);
    EXPECT_EQ(texts.find("docs"), std::string::npos) << "--texts shows the texts alone";
}

// An installer whose data is not all at hand could not run as it is: it
// fails, whichever sections are shown, and names the missing volume.
TEST_F(Inspect, NamesTheFirstMissingVolumeAndFails) {
    std::filesystem::remove(temp.path("setup.D02"));
    std::string error;
    std::string out = run(installer, updpack::INSPECT_DATA, &error);
    EXPECT_NE(out.find("missing: " + temp.path("setup.D02")), std::string::npos) << out;
    EXPECT_NE(error.find("missing: " + temp.path("setup.D02")), std::string::npos) << error;
    error.clear();
    run(installer, updpack::INSPECT_TEXTS, &error);
    EXPECT_NE(error.find("only"), std::string::npos) << error;
}

TEST_F(Inspect, FindsVolumesBeyondTheNinetyNinthAndChecksTheirSizeFirst) {
    // Empty volumes .D03 to .D100 behind the two real ones.
    Bytes empty(4, 0);
    for (int k = 3; k <= 100; k++) temp.write(pkg::volumePath("setup.exe", k), empty);
    std::string out = run(installer, updpack::INSPECT_DATA);
    EXPECT_NE(out.find("setup.D100"), std::string::npos) << out;
    EXPECT_EQ(out.find("missing"), std::string::npos) << out;

    // A volume of 2 GiB (a sparse file, never read) is refused by its size.
    temp.write("setup.D101", {});
    ASSERT_EQ(truncate(temp.path("setup.D101").c_str(), 0x80000000LL), 0);
    std::string error;
    uint32_t before = memoryInUse;
    run(installer, updpack::INSPECT_DATA, &error);
    EXPECT_NE(error.find("below 2 GiB"), std::string::npos) << error;
    EXPECT_EQ(memoryInUse, before);
}

TEST_F(Inspect, DamagedInstallersGiveAnErrorNeverACrash) {
    std::string error;
    run(temp.write("stub.exe", Bytes(1000, 0)), updpack::INSPECT_ALL, &error);
    EXPECT_NE(error.find("shorter than a stub"), std::string::npos) << error;

    // Cut anywhere behind the stub: no start-page record makes up for it.
    size_t step = (bytes.size() - STUB_SIZE) / 40 + 1;
    for (size_t size = STUB_SIZE; size < bytes.size(); size += step) {
        error.clear();
        run(temp.write("cut.exe", Bytes(bytes.begin(), bytes.begin() + size)), updpack::INSPECT_ALL, &error);
        EXPECT_FALSE(error.empty()) << "cut to " << size;
    }
    error.clear();
    run(temp.write("cut.exe", Bytes(bytes.begin(), bytes.end() - 1)), updpack::INSPECT_ALL, &error);
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;

    // Bytes changed in the records: headers, sizes, compressed streams. Either
    // the loader still accepts the package or inspect says why not.
    for (size_t at = STUB_SIZE; at < STUB_SIZE + 1500 && at < bytes.size(); at += 7) {
        Bytes damaged = bytes;
        damaged[at] ^= static_cast<uint8_t>(0x81 + at);
        error.clear();
        run(temp.write("damaged.exe", damaged), updpack::INSPECT_ALL, &error);
    }
}

}  // namespace

namespace {

// A crafted installer of 64 KiB declares eight string tables of almost 2 GiB
// each: inspect, verify and diagnose read it through the installer's own
// loader and refuse it without asking for that memory.
TEST(HostileInstaller, RefusedByEveryCommandWithLittleMemory) {
    testsupport::TempDir temp;
    std::string path = temp.write("hostile.exe", testsupport::hostileInstaller());
    std::string folder = temp.path("folder");
    std::filesystem::create_directory(folder);
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"inspect", [&] { updpack::inspect(path); }},
        {"verify", [&] { updpack::verify(path, {folder}, folder); }},
        {"diagnose", [&] { updpack::diagnose(path, folder, {}); }},
    };
    for (const auto& [name, run] : commands) {
        memoryPeak = memoryInUse;
        uint32_t before = memoryInUse;
        testing::internal::CaptureStdout();
        std::string error;
        try {
            run();
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_LT(memoryPeak - before, 1u << 20) << name;
        EXPECT_EQ(memoryInUse, before) << name;
    }
}

}  // namespace
