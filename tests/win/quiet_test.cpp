// The administrators' switches in the real installer under Wine: /D= sets
// the folder the wizard offers, /L= logs a wizard run as it logs a quiet
// one, /? shows the list of switches and nothing else, a quiet start from a
// removable disk hands its switches to the copy and ends with the copy's
// exit code, and a quiet run that meets another installer does not report
// success.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "pkg/stub.h"
#include "run/run.h"
#include "wizard_support.h"

using namespace wiztest;
using winsupport::TempDir;

namespace {

const std::vector<uint8_t> kOld = bytesOf("old content of a product file\r\n", 40);
const std::vector<uint8_t> kNew = bytesOf("new content of the product file\r\n", 50);

// Two product folders with a.txt in its old version; the package offers
// the first, and knows the text (6, 39) only when asked to.
struct TwoFolders {
    TempDir dir;
    std::string offered = dir.path("offered"), chosen = dir.path("chosen");
    std::string log = dir.path("run.log");
    Package package;
    explicit TwoFolders(bool switchListText = false) {
        for (const std::string& f : {offered, chosen}) {
            CreateDirectoryA(f.c_str(), 0);
            writeFile(f + "\\a.txt", kOld);
        }
        package.destination = offered;
        package.oldSets.resize(1);
        package.oldSets[0]["a.txt"] = kOld;
        package.newSet["a.txt"] = kNew;
        if (switchListText) {
            package.texts[6].resize(40, "");
            package.texts[6][39] = "6.39";
        }
    }
    std::string installer() { return package.write(dir); }
};

std::vector<uint8_t> readAll(const std::string& path) {
    pkg::Bytes b = pkg::readFile(path);
    return std::vector<uint8_t>(b.begin(), b.end());
}

// The log's lines, without their CR.
std::vector<std::string> logLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

DWORD waitEnd(wizard::Driver& run) {
    DWORD code = 0xDEADBEEF;
    EXPECT_TRUE(run.waitExit(&code)) << "the installer did not end";
    return code;
}

}  // namespace

// /D= replaces the default the destination page offers; the update goes
// there, and the log (appended, a block per run) says what the wizard did.
TEST(Switches, DestinationSwitchIsTheFolderTheWizardOffersAndTheRunIsLogged) {
    TwoFolders f;
    wizard::Driver run(f.installer(), "/D=\"" + f.chosen + "\" /L=\"" + f.log + "\"");
    run.waitPage("Page 0");
    run.press(IDOK);
    HWND info = run.waitPage("Page 1");
    run.press(IDOK);
    HWND folder = run.waitPage("Page 2", info);
    EXPECT_EQ(run.controlText(folder, FOLDER), f.chosen);
    run.press(IDOK);
    HWND ready = run.waitPage("Page 3", folder);
    run.press(IDOK);
    run.waitPage("Page 5", ready);
    run.press(IDCANCEL);
    EXPECT_EQ(waitEnd(run), 0u);
    EXPECT_EQ(readAll(f.chosen + "\\a.txt"), kNew);
    EXPECT_EQ(readAll(f.offered + "\\a.txt"), kOld) << "the package's default was not used";

    auto lines = logLines(f.log);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_NE(lines[0].find(" wizard run of " + f.dir.path("setup.exe") + ", key "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "destination " + f.chosen + "\\");
    EXPECT_EQ(lines[2], "a.txt: version 0, 6.25");
    EXPECT_EQ(lines[3], "result 0: 5.1");
    EXPECT_EQ(lines[4], "exit code 0");
}

// A wizard left after a failed check logs what the check found and its
// code; one left before any check logs every file as not examined and a
// cancel. Both blocks land in the same file.
TEST(Switches, WizardLogAfterAFailedCheckAndAfterAnEarlyCancel) {
    TwoFolders f;
    writeFile(f.chosen + "\\a.txt", bytesOf("a version nobody knows\r\n", 30));
    std::string installer = f.installer();
    {
        wizard::Driver run(installer, "/D=" + f.chosen + " /L=" + f.log);
        run.waitPage("Page 0");
        run.press(IDOK);
        HWND info = run.waitPage("Page 1");
        run.press(IDOK);
        run.waitPage("Page 2", info);
        run.press(IDOK);
        run.answer("6.10", IDOK);
        run.press(IDCANCEL);
        run.answer("6.16", IDYES);
        run.answer("6.17", IDOK);
        EXPECT_EQ(waitEnd(run), 0u) << "the wizard's exit code stays as it was";
    }
    {
        wizard::Driver run(installer, "/L=\"" + f.log + "\"");
        run.waitPage("Page 0");
        run.press(IDCANCEL);
        run.answer("6.16", IDYES);
        run.answer("6.17", IDOK);
        EXPECT_EQ(waitEnd(run), 0u);
    }
    auto lines = logLines(f.log);
    EXPECT_TRUE(hasLine(lines, "a.txt: unknown"));
    EXPECT_TRUE(hasLine(lines, "result 10: 6.10 <" + f.chosen + "\\a.txt>"));
    EXPECT_TRUE(hasLine(lines, "destination " + f.offered)) << "the default, as the wizard had it";
    EXPECT_TRUE(hasLine(lines, "a.txt: not examined"));
    EXPECT_TRUE(hasLine(lines, "result 17: 6.17"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "exit code 0"), 2);
}

// /? shows one box, the package's text or else the built-in list, and the
// program ends when it is closed, without a wizard and without a change.
TEST(Switches, QuestionMarkShowsTheListAndNothingElse) {
    for (bool packageText : {true, false}) {
        TwoFolders f(packageText);
        wizard::Driver run(f.installer(), "/?");
        std::string shown = run.answer(packageText ? "6.39" : "/D=folder", IDOK);
        EXPECT_NE(shown.find("Wizard Test"), std::string::npos) << "the box carries the caption: " << shown;
        EXPECT_EQ(waitEnd(run), 0u);
        EXPECT_EQ(FindWindowA("UpdShClass", 0), nullptr) << "no wizard";
        EXPECT_EQ(readAll(f.offered + "\\a.txt"), kOld);
    }
}

// Started from a removable disk, a quiet run hands /Q, /D= and /L= to its
// copy in the temporary folder and ends with the copy's exit code: the
// update's, not the hand-over's.
TEST(Switches, QuietStartFromARemovableDiskPassesItsSwitchesAndTheCopysExitCode) {
    ASSERT_EQ(GetDriveTypeA("R:\\"), static_cast<UINT>(DRIVE_REMOVABLE)) << "drive R: is not set up as removable";
    TwoFolders f;
    pkg::Bytes installer = pkg::readFile(f.installer());
    HANDLE h = CreateFileA("R:\\quiet.exe", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written = 0;
    WriteFile(h, installer.data(), static_cast<DWORD>(installer.size()), &written, 0);
    CloseHandle(h);
    std::string args = "/Q /D=\"" + f.chosen + "\" /L=\"" + f.log + "\"";
    EXPECT_EQ(winsupport::runProgram("R:\\quiet.exe", args), 0u);
    EXPECT_EQ(readAll(f.chosen + "\\a.txt"), kNew);
    EXPECT_EQ(winsupport::runProgram("R:\\quiet.exe", args), 3u) << "nothing left to do";
    auto lines = logLines(f.log);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find(" quiet run of R:\\quiet.exe, key "), std::string::npos)
        << "the copy read the package on the disk: " << lines[0];
    EXPECT_TRUE(hasLine(lines, "result 3: 6.3"));
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (int i = 0; i < 4; i++) DeleteFileA((std::string(temp) + "_upd" + std::to_string(i) + ".exe").c_str());
    DeleteFileA("R:\\quiet.exe");
}

// A quiet run that finds another installer running has done nothing: it
// ends with EXIT_ALREADY_RUNNING; without /Q the described 0 stays.
TEST(Switches, QuietRunBesideARunningInstallerDoesNotReportSuccess) {
    TwoFolders f;
    std::string installer = f.installer();
    wizard::Driver first(installer, "");
    first.waitPage("Page 0");
    EXPECT_EQ(winsupport::runProgram(installer, "/Q /D=\"" + f.chosen + "\""), static_cast<DWORD>(EXIT_ALREADY_RUNNING));
    EXPECT_EQ(winsupport::runProgram(installer, "/D=\"" + f.chosen + "\""), 0u);
    EXPECT_EQ(readAll(f.chosen + "\\a.txt"), kOld);
    first.press(IDCANCEL);
    first.answer("6.16", IDYES);
    first.answer("6.17", IDOK);
    EXPECT_EQ(waitEnd(first), 0u);
}
