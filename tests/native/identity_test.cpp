// Versions the checksum cannot tell apart. Two releases of a settings file
// whose edits lie 128 bytes apart have the same checksum and size; with
// digests the installer still knows which one is installed and proves the
// result, without them updpack stores the file whole and says so. verify
// compares results with the new version byte by byte.
#include <filesystem>

#include "package/checksum.h"
#include "package/filetable.h"
#include "pkg/compress.h"
#include "pkg/update.h"
#include "support.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace {

using Bytes = pkg::Bytes;

// A settings file whose two digits stand 128 bytes apart.
Bytes settings(char retries, char timeout) {
    std::string head = "[connection]\nretries=";
    std::string s = head + retries + "\n# how often a lost connection is retried before the user is asked\n";
    s.resize(head.size() + 128 - 8, 'x');
    s += std::string("timeout=") + timeout + "\n# seconds\n";
    return Bytes(s.begin(), s.end());
}

uint32_t sum(const Bytes& b) { return fileChecksum(b.data(), static_cast<uint32_t>(b.size()), 0); }

class Identity : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    std::string v10 = temp.path("1.0"), v11 = temp.path("1.1"), v20 = temp.path("2.0");
    std::string installer = temp.path("setup.exe");
    void SetUp() override {
        for (auto [dir, a, b] : {std::make_tuple(v10, '1', '0'), std::make_tuple(v11, '2', '1'),
                                 std::make_tuple(v20, '5', '9')}) {
            fs::create_directories(dir);
            pkg::writeFile(dir + "/net.ini", settings(a, b));
            pkg::writeFile(dir + "/app.exe", testsupport::noise(5000, 3));
        }
    }
    pkg::BuiltUpdate build(bool digest) {
        pkg::UpdateOptions options;
        options.digest = digest;
        options.oldNames = {"1.0", "1.1"};
        pkg::BuiltUpdate u = pkg::buildUpdate({v10, v11}, v20, testsupport::fakeStub(), options);
        pkg::writeUpdate(u, installer);
        return u;
    }
};

TEST_F(Identity, TheTwoReleasesCollide) {
    Bytes a = settings('1', '0'), b = settings('2', '1');
    ASSERT_NE(a, b);
    EXPECT_EQ(sum(a), sum(b));
}

TEST_F(Identity, DigestsTellThemApart) {
    pkg::BuiltUpdate u = build(true);
    ASSERT_EQ(u.entries.size(), 1u);  // app.exe is the same everywhere
    EXPECT_TRUE(u.entries[0].newDigest.has_value());
    EXPECT_FALSE(u.entries[0].wholeFile);
    EXPECT_TRUE(u.notes.empty());
    for (const std::string& old : {v10, v11}) {
        updpack::Trial t = updpack::tryUpdate(installer, old, v20);
        EXPECT_TRUE(t.passed) << old << ": " << t.failure;
        EXPECT_EQ(t.updated, 1u);
    }
    updpack::Diagnosis d = updpack::diagnoseFolder(installer, v11, {v10, v11});
    ASSERT_EQ(d.files.size(), 1u);
    EXPECT_EQ(d.files[0].folders, std::vector<std::string>{"1.1"});
}

TEST_F(Identity, WithoutDigestsTheFileIsStoredWholeAndTheBuildSaysSo) {
    pkg::BuiltUpdate u = build(false);
    ASSERT_EQ(u.entries.size(), 1u);
    EXPECT_FALSE(u.entries[0].newDigest.has_value());
    EXPECT_TRUE(u.entries[0].wholeFile);
    ASSERT_EQ(u.notes.size(), 1u);
    EXPECT_NE(u.notes[0].find("net.ini: the versions in 1.0 and in 1.1 have the same checksum and size"),
              std::string::npos) << u.notes[0];
    EXPECT_NE(u.notes[0].find("stored whole"), std::string::npos);
    for (const std::string& old : {v10, v11}) EXPECT_TRUE(updpack::tryUpdate(installer, old, v20).passed) << old;
}

// The final proof: a package whose data rebuilds a file with the new
// file's checksum and size but other bytes.
TEST_F(Identity, TheFinalProofChecksTheDigest) {
    Bytes wanted = settings('3', '2'), forged = settings('2', '1');
    ASSERT_EQ(sum(wanted), sum(forged));
    pkg::writeFile(v20 + "/net.ini", wanted);
    for (bool digest : {true, false}) {
        pkg::TableEntry e;
        e.relativePath = "net.ini";
        e.presence = PRES_NEW;
        e.wholeFile = true;
        e.newSize = static_cast<uint32_t>(wanted.size());
        e.newChecksum = sum(wanted);
        if (digest) e.newDigest = pkg::blankedProof(wanted.data(), wanted.size(), {}).digest;
        Bytes stream = pkg::compressStream(forged.data(), forged.size());
        e.versions = {pkg::OldVersion{0, 0xFFFFFFFF, 0, static_cast<uint32_t>(stream.size()), 0}};
        Bytes stub = testsupport::fakeStub();
        std::vector<pkg::Record> records = {
            pkg::bufferRecord(REC_FILE_TABLE, pkg::FileTableBuilder(pkg::stubBindingKey(stub)).add(e).bytes())};
        pkg::writeFile(installer, pkg::buildInstaller(stub, records, stream));
        std::string empty = temp.path(digest ? "empty1" : "empty2");
        fs::create_directories(empty);
        updpack::Trial t = updpack::tryUpdate(installer, empty, v20);
        EXPECT_FALSE(t.passed);
        if (digest) {
            EXPECT_NE(t.failure.find("ERR_VERIFY"), std::string::npos) << t.failure;
            EXPECT_EQ(t.added, 0u);
        } else {
            // The checksum and size alone let it through; only the bytes tell.
            EXPECT_NE(t.failure.find("net.ini: differs from the new version at offset 0x15"), std::string::npos)
                << t.failure;
        }
    }
}

TEST_F(Identity, VerifyNamesTheFirstDifferingOffsetAndHonoursSkipRules) {
    build(true);
    Bytes changed = settings('5', '9');
    changed[140] ^= 0x20;
    pkg::writeFile(v20 + "/net.ini", changed);  // not what the installer was built from
    updpack::Trial t = updpack::tryUpdate(installer, v10, v20);
    EXPECT_FALSE(t.passed);
    EXPECT_NE(t.failure.find("net.ini: differs from the new version at offset 0x8C"), std::string::npos) << t.failure;
    pkg::writeFile(v20 + "/net.ini", settings('5', '9'));

    // An unknown copy under a skip rule stays as it was: not a failure.
    pkg::UpdateOptions options;
    options.rules["net.ini"].onUnknownVersion = UNK_SKIP;
    pkg::writeUpdate(pkg::buildUpdate({v10, v11}, v20, testsupport::fakeStub(), options), installer);
    std::string mine = temp.path("mine");
    fs::copy(v10, mine);
    pkg::writeFile(mine + "/net.ini", settings('7', '7'));
    t = updpack::tryUpdate(installer, mine, v20);
    EXPECT_TRUE(t.passed) << t.failure;
    EXPECT_EQ(t.skipped, 1u);
}

}  // namespace
