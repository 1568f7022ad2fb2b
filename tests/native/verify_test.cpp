// updpack verify and diagnose run the installer's own engine over folders.
// A sound update must pass for every old version it was built from, volumes
// included, without touching those folders; a package glued to another stub
// and a damaged data area must fail with a message that says so; diagnose
// must see what the stub would see (preserved regions blanked) and, for a
// file changed in place, name the nearest old copy and the changed bytes.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "package/filetable.h"
#include "engine/results.h"
#include "package/format.h"
#include "pkg/update.h"
#include "support.h"
#include "updpack/commands.h"
#include "updpack/verify.h"

namespace fs = std::filesystem;

namespace {

using Bytes = pkg::Bytes;

using testcommon::text;

// Code-like bytes; `shift` moves half of the addresses, as a relink does.
Bytes program(size_t n, uint32_t shift) { return testcommon::codeLike(n, 12345, shift); }

std::string settings(const std::string& version, const std::string& user) {
    return "[program]\r\nversion=" + version + "\r\n;<user>\r\n[user]\r\nname=" + user + "\r\n;</user>\r\n";
}

// What a folder holds: every file's bytes and permission bits.
std::map<std::string, std::pair<Bytes, unsigned>> snapshot(const std::string& folder) {
    std::map<std::string, std::pair<Bytes, unsigned>> files;
    for (const auto& f : fs::recursive_directory_iterator(folder))
        if (f.is_regular_file())
            files[fs::relative(f.path(), folder).string()] = {pkg::readFile(f.path().string()),
                                                              unsigned(f.status().permissions())};
    return files;
}

void writeFolder(const std::string& root, const pkg::FileSet& files) {
    for (const auto& [rel, bytes] : files) {
        std::string path = root + "/" + rel;
        std::replace(path.begin(), path.end(), '\\', '/');
        fs::create_directories(fs::path(path).parent_path());
        pkg::writeFile(path, bytes);
    }
}

// Versions 1.0 and 1.1 of a small product and the 2.0 the update makes: a
// program, texts, settings with the user's part kept, a file in a folder, a
// file 2.0 drops and two it adds (one in a new folder), a read-only file no
// version changes.
class VerifyTest : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    std::string v10 = temp.path("1.0"), v11 = temp.path("1.1"), v20 = temp.path("2.0");
    std::string installer = temp.path("out/setup.exe");

    void SetUp() override {
        pkg::FileSet common = {{"license.txt", text("Free to use.\r\n")}};
        pkg::FileSet a = common, b = common, c = common;
        a["app.exe"] = program(24000, 0);
        b["app.exe"] = program(24000, 16);
        c["app.exe"] = program(24400, 32);
        a["readme.txt"] = text("Product 1.0\r\n");
        b["readme.txt"] = text("Product 1.1\r\nSteadier.\r\n");
        c["readme.txt"] = text("Product 2.0\r\nSteadier still.\r\n");
        a["settings.ini"] = text(settings("1.0", "Anyone"));
        b["settings.ini"] = text(settings("1.1", "Anyone"));
        c["settings.ini"] = text(settings("2.0", "Anyone"));
        a["docs\\guide.txt"] = text("Guide 1.0\r\n");
        b["docs\\guide.txt"] = text("Guide 1.0\r\n");
        c["docs\\guide.txt"] = text("Guide 2.0\r\n");
        a["old-notes.txt"] = b["old-notes.txt"] = text("Notes 2.0 drops.\r\n");
        c["whatsnew.txt"] = text("New in 2.0.\r\n");
        c["extras\\tips.txt"] = text("A folder of its own.\r\n");
        writeFolder(v10, a);
        writeFolder(v11, b);
        writeFolder(v20, c);
        for (const std::string& v : {v10, v11, v20}) fs::permissions(v + "/license.txt", fs::perms(0444));
        fs::create_directories(temp.path("out"));
    }

    pkg::BuiltUpdate build(uint32_t volumeSize = 0, uint32_t optionBits = 0) {
        pkg::UpdateOptions options;
        options.records.push_back(pkg::valueRecord(REC_OPTIONS, optionBits));
        pkg::Region user;
        user.pattern = text(";<user>");
        user.length = 30;
        user.restore = true;
        options.rules["settings.ini"].regions = {user};
        options.volumeSize = volumeSize;
        options.bindingKey = pkg::stubBindingKey(testsupport::fakeStub());
        pkg::BuiltUpdate u = pkg::buildUpdate({v10, v11}, v20, testsupport::fakeStub(), options);
        pkg::writeUpdate(u, installer);
        return u;
    }

    std::string copyOf(const std::string& version, const std::string& name) {
        std::string to = temp.path(name);
        fs::copy(version, to, fs::copy_options::recursive);
        return to;
    }

    const updpack::Finding& finding(const updpack::Diagnosis& d, const std::string& path) {
        for (const auto& f : d.files)
            if (f.path == path) return f;
        static updpack::Finding none;
        ADD_FAILURE() << "no entry " << path;
        return none;
    }
};

TEST_F(VerifyTest, EveryOldVersionUpdatesAndTheFoldersStayAsTheyWere) {
    build();
    auto before10 = snapshot(v10), before11 = snapshot(v11);
    for (const std::string& old : {v10, v11}) {
        updpack::Trial t = updpack::tryUpdate(installer, old, v20);
        EXPECT_TRUE(t.passed) << old << ": " << t.failure;
        EXPECT_EQ(t.updated, 4u) << old;  // app, readme, settings, guide
        EXPECT_EQ(t.added, 2u) << old;  // whatsnew, and tips in a new folder
        EXPECT_EQ(t.removed, 1u) << old;
    }
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_OK);
    EXPECT_EQ(snapshot(v10), before10);
    EXPECT_EQ(snapshot(v11), before11);
    // The new version itself needs nothing and is current already.
    EXPECT_TRUE(updpack::tryUpdate(installer, v20, v20).passed);
}

// An all-or-nothing package proves the same way; its journal and
// temporary files are gone afterwards.
TEST_F(VerifyTest, AllOrNothingPackagesVerifyAsWell) {
    build(0, OPT_ALL_OR_NOTHING);
    for (const std::string& old : {v10, v11}) {
        updpack::Trial t = updpack::tryUpdate(installer, old, v20);
        EXPECT_TRUE(t.passed) << old << ": " << t.failure;
        EXPECT_EQ(t.updated, 4u) << old;
        EXPECT_EQ(t.removed, 1u) << old;
    }
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_OK);
}

// The differ blanks an old file's regions exactly as the installer does:
// with a region whose pattern first occurs inside another region, every
// installation must still come out byte-exact.
TEST(VerifyRegions, APatternFirstFoundInsideAnotherRegion) {
    testsupport::TempDir temp;
    Bytes old = program(30000, 0), next = old;
    const std::string key = "KEY:0000-B=11-0000", later = "B=2222";
    std::copy(key.begin(), key.end(), old.begin() + 1000);
    std::copy(later.begin(), later.end(), old.begin() + 20000);
    next = old;
    std::fill(next.begin() + 20000, next.begin() + 20006, 0);  // where a wrong blanking leaves zeros
    next[5] ^= 1;
    writeFolder(temp.path("1.0"), {{"app.dat", old}});
    writeFolder(temp.path("2.0"), {{"app.dat", next}});
    pkg::UpdateOptions options;
    options.rules["app.dat"].regions = {{20, REGION_NOT_PRESENT, false, text("KEY:")},
                                        {6, REGION_NOT_PRESENT, false, text("B=")}};
    std::string installer = temp.path("setup.exe");
    pkg::writeUpdate(pkg::buildUpdate({temp.path("1.0")}, temp.path("2.0"), testsupport::fakeStub(), options),
                     installer);
    updpack::Trial t = updpack::tryUpdate(installer, temp.path("1.0"), temp.path("2.0"));
    EXPECT_TRUE(t.passed) << t.failure;
}

TEST_F(VerifyTest, DataInVolumeFilesBesideTheInstaller) {
    pkg::BuiltUpdate whole = build();
    size_t records = whole.installer.size() - whole.dataSize;
    pkg::BuiltUpdate split = build(static_cast<uint32_t>(records + 256));
    ASSERT_FALSE(split.volumes.empty());
    ASSERT_TRUE(fs::exists(temp.path("out/setup.D01")));
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_OK);

    fs::remove(temp.path("out/setup.D01"));
    updpack::Trial t = updpack::tryUpdate(installer, v10, v20);
    EXPECT_FALSE(t.passed);
    EXPECT_NE(t.failure.find("ERR_READ"), std::string::npos) << t.failure;
}

TEST_F(VerifyTest, APackageBoundToAnotherStubIsNamedAsSuch) {
    build();
    Bytes file = pkg::readFile(installer);
    Bytes other = testsupport::fakeStub();
    other[0x2000] = 1;  // any other stub gives another binding key
    std::copy(other.begin(), other.end(), file.begin());
    pkg::writeFile(installer, file);
    updpack::Trial t = updpack::tryUpdate(installer, v10, v20);
    EXPECT_FALSE(t.passed);
    EXPECT_NE(t.failure.find("different stub"), std::string::npos) << t.failure;
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_FAILED);

    updpack::Diagnosis d = updpack::diagnoseFolder(installer, v11, {});
    EXPECT_TRUE(d.foreignKey.has_value());
    EXPECT_EQ(finding(d, "readme.txt").chosenVersion, CV_NONE);
}

TEST_F(VerifyTest, ADamagedDataAreaFailsEveryVersion) {
    pkg::BuiltUpdate u = build();
    Bytes file = pkg::readFile(installer);
    for (size_t i = file.size() - u.dataSize + 8; i + 8 < file.size(); i += 5) file[i] ^= 0x5A;
    pkg::writeFile(installer, file);
    auto before = snapshot(v10);
    for (const std::string& old : {v10, v11}) {
        updpack::Trial t = updpack::tryUpdate(installer, old, v20);
        EXPECT_FALSE(t.passed) << old;
        bool named = t.failure.find("ERR_READ") != std::string::npos ||
                     t.failure.find("ERR_VERIFY") != std::string::npos;
        EXPECT_TRUE(named) << t.failure;
    }
    EXPECT_EQ(updpack::verify(installer, {v10, v11}, v20), updpack::COMMAND_FAILED);
    EXPECT_EQ(snapshot(v10), before);
}

TEST_F(VerifyTest, NotAnInstallerIsRefusedWithAReason) {
    std::string bogus = temp.write("bogus.exe", Bytes(70000, 7));
    try {
        updpack::verify(bogus, {v10}, v20);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no stub header"), std::string::npos) << e.what();
    }
    build();
    Bytes file = pkg::readFile(installer);
    file.resize(file.size() - 100);  // cut short: the package does not load
    pkg::writeFile(installer, file);
    EXPECT_THROW(updpack::verify(installer, {v10}, v20), std::runtime_error);
}

TEST_F(VerifyTest, DiagnoseNamesTheVersionOfEveryFile) {
    build();
    // The user changed their part of the settings (same length: the size
    // counts): still version 1.0 to the stub.
    std::string installed = copyOf(v10, "installed10");
    pkg::writeFile(installed + "/settings.ini", text(settings("1.0", "Bryony")));
    auto before = snapshot(installed);
    updpack::Diagnosis d = updpack::diagnoseFolder(installer, installed, {v10, v11});
    EXPECT_EQ(d.result, ERR_NONE) << d.resultText;
    for (const char* path : {"app.exe", "readme.txt", "settings.ini", "docs\\guide.txt", "old-notes.txt"}) {
        const updpack::Finding& f = finding(d, path);
        EXPECT_GE(f.chosenVersion, 0) << path;
        EXPECT_NE(std::find(f.folders.begin(), f.folders.end(), "1.0"), f.folders.end()) << path;
    }
    EXPECT_EQ(finding(d, "whatsnew.txt").chosenVersion, CV_ABSENT);
    EXPECT_EQ(snapshot(installed), before);

    d = updpack::diagnoseFolder(installer, v11, {v10, v11});
    for (const char* path : {"app.exe", "readme.txt", "settings.ini"}) {
        const updpack::Finding& f = finding(d, path);
        EXPECT_EQ(f.folders, std::vector<std::string>{"1.1"}) << path;
    }
    // guide.txt is the same in both: one version, both folders.
    EXPECT_EQ(finding(d, "docs\\guide.txt").folders, (std::vector<std::string>{"1.0", "1.1"}));

    d = updpack::diagnoseFolder(installer, v20, {});
    EXPECT_EQ(d.result, ERR_NOTHING_TO_DO);
    EXPECT_EQ(finding(d, "app.exe").chosenVersion, CV_CURRENT);
    EXPECT_EQ(finding(d, "old-notes.txt").chosenVersion, CV_ABSENT);
}

TEST_F(VerifyTest, DiagnoseFindsTheNearestCopyOfAChangedFile) {
    build();
    std::string installed = copyOf(v11, "installed11");
    Bytes app = pkg::readFile(installed + "/app.exe");
    for (size_t i = 5000; i < 5008; i++) app[i] ^= 0xFF;
    app[9000] ^= 1;
    app.push_back(0);  // one byte longer
    pkg::writeFile(installed + "/app.exe", app);
    fs::remove(installed + "/readme.txt");
    auto before = snapshot(installed);

    updpack::Diagnosis d = updpack::diagnoseFolder(installer, installed, {v10, v11});
    EXPECT_EQ(d.result, 10) << d.resultText;  // the stub stops: unknown version
    EXPECT_FALSE(d.foreignKey.has_value());
    const updpack::Finding& f = finding(d, "app.exe");
    EXPECT_EQ(f.chosenVersion, CV_NONE);
    EXPECT_NE(f.stop.find("ERR_UNKNOWN_VERSION"), std::string::npos) << f.stop;
    EXPECT_EQ(f.nearest, "1.1");
    EXPECT_EQ(f.differingBytes, 10u);
    ASSERT_EQ(f.ranges.size(), 3u);
    EXPECT_EQ(f.ranges[0].offset, 5000u);
    EXPECT_EQ(f.ranges[0].length, 8u);
    EXPECT_EQ(f.ranges[1].offset, 9000u);
    EXPECT_EQ(f.ranges[2].offset, app.size() - 1);
    // The pass went on behind each stop: the missing file is named, later
    // files have their versions.
    const updpack::Finding& readme = finding(d, "readme.txt");
    EXPECT_EQ(readme.chosenVersion, CV_ABSENT);
    EXPECT_NE(readme.stop.find("ERR_FILE_MISSING: a file the update needs is missing: readme.txt"), std::string::npos)
        << readme.stop;
    EXPECT_GE(finding(d, "settings.ini").chosenVersion, 0);
    EXPECT_EQ(snapshot(installed), before);
}

TEST(DifferingRanges, MergedRunsAndTheLongerTail) {
    Bytes a = text("abcdefgh"), b = text("abXYefgZ!!");
    auto r = updpack::differingRanges(a, b);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].offset, 2u);
    EXPECT_EQ(r[0].length, 2u);
    EXPECT_EQ(r[1].offset, 7u);  // 'h' against 'Z' runs into the extra bytes
    EXPECT_EQ(r[1].length, 3u);
    EXPECT_TRUE(updpack::differingRanges(a, a).empty());
}

}  // namespace
