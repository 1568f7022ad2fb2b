// The wizard as a user walks it, in the real installer under Wine: which
// page follows which, what each page and message box says, and that a
// refused step keeps the user where they were with nothing lost.
#include <gtest/gtest.h>

#include "pkg/stub.h"
#include "run/run.h"
#include "wizard_support.h"

using namespace wiztest;
using winsupport::TempDir;

namespace {

const DWORD EXIT_OK = 0;

const std::vector<uint8_t> kOld = bytesOf("old content of a product file\r\n", 40);
const std::vector<uint8_t> kNew = bytesOf("new content of the product file\r\n", 50);
const std::vector<uint8_t> kStranger = bytesOf("a version nobody knows\r\n", 30);

// A product folder with the given files in their old version, and a package
// that updates them.
struct Product {
    TempDir dir;
    std::string folder = dir.path("product");
    Package package;
    explicit Product(const std::vector<std::string>& files) {
        CreateDirectoryA(folder.c_str(), 0);
        package.destination = folder;
        package.oldSets.resize(1);
        for (const auto& f : files) {
            writeFile(folder + "\\" + f, kOld);
            package.oldSets[0][f] = kOld;
            package.newSet[f] = kNew;
        }
    }
    std::string installer() { return package.write(dir); }
};

std::vector<uint8_t> readAll(const std::string& path) {
    pkg::Bytes b = pkg::readFile(path);
    return std::vector<uint8_t>(b.begin(), b.end());
}

void expectExit(wizard::Driver& run, DWORD expected = EXIT_OK) {
    DWORD code = 0xDEADBEEF;
    ASSERT_TRUE(run.waitExit(&code)) << "the installer did not end";
    EXPECT_EQ(code, expected);
}

}  // namespace

// Next and Back move one page at a time; every page opens with its own
// texts, buttons and captions; the finish page lists one line per file and
// Cancel there ends the wizard without a question.
TEST(WizardFlow, FullRunThroughEveryPageWithTheInformationPage) {
    Product product({"a.txt", "sub\\b.txt"});
    WizardRun run(product.installer(), testName());
    HWND welcome = run.page("Page 0");
    EXPECT_EQ(run.caption(), "Wizard Test - Page 0");
    for (int i = 1; i <= 4; i++) EXPECT_EQ(run.controlText(welcome, 999 + i), "0." + std::to_string(i));
    EXPECT_FALSE(run.buttonEnabled(BACK));
    EXPECT_TRUE(run.buttonEnabled(IDOK));
    EXPECT_TRUE(run.buttonEnabled(IDCANCEL));
    EXPECT_EQ(run.buttonText(BACK), "7.0");
    EXPECT_EQ(run.buttonText(IDOK), "7.1");
    EXPECT_EQ(run.buttonText(IDCANCEL), "7.2");

    run.press(IDOK);
    HWND info = run.page("Page 1", welcome);
    EXPECT_EQ(run.controlText(info, 1000), "1.1");
    EXPECT_TRUE(run.buttonEnabled(BACK));
    run.press(BACK);
    welcome = run.page("Page 0", info);
    run.press(IDOK);
    info = run.page("Page 1", welcome);
    run.press(IDOK);
    HWND folder = run.page("Page 2", info);
    EXPECT_EQ(run.controlText(folder, FOLDER), product.folder) << "shown without its trailing backslash";
    run.press(BACK);
    info = run.page("Page 1", folder);
    run.press(IDOK);
    folder = run.page("Page 2", info);
    run.press(IDOK);

    HWND ready = run.page("Page 3", folder);
    EXPECT_EQ(run.buttonText(IDOK), "7.3") << "Next reads (7, 3) on the ready page";
    run.press(IDOK);
    HWND finish = run.page("Page 5", ready);
    EXPECT_EQ(run.controlText(finish, 1000), "5.1");
    EXPECT_EQ(run.listLines(finish, FILE_LIST), (std::vector<std::string>{"a.txt: 6.25", "sub\\b.txt: 6.25"}));
    EXPECT_FALSE(run.buttonEnabled(BACK));
    EXPECT_FALSE(run.buttonEnabled(IDOK));
    run.press(IDCANCEL);
    expectExit(run);
    EXPECT_FALSE(run.dialogShown("6.16"));
    EXPECT_EQ(readAll(product.folder + "\\a.txt"), kNew);
    EXPECT_EQ(readAll(product.folder + "\\sub\\b.txt"), kNew);
}

// A target that another program holds open keeps its old content; the
// finish page reports (6, 24) inside (5, 2) and lists it with (6, 29).
TEST(WizardFlow, TargetHeldOpenIsReportedAsNotReplaced) {
    Product product({"a.txt", "b.txt"});
    WizardRun run(product.installer(), testName());
    toDestination(run);
    run.press(IDOK);
    HWND ready = run.page("Page 3");
    HANDLE held = CreateFileA((product.folder + "\\b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);  // readable, not replaceable
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run.press(IDOK);
    HWND finish = run.page("Page 5", ready);
    EXPECT_EQ(run.controlText(finish, 1000), "5.2 [6.24]");
    EXPECT_EQ(run.listLines(finish, FILE_LIST), (std::vector<std::string>{"a.txt: 6.25", "b.txt: 6.29"}));
    CloseHandle(held);
    EXPECT_EQ(readAll(product.folder + "\\a.txt"), kNew);
    EXPECT_EQ(readAll(product.folder + "\\b.txt"), kOld);
}

// An information page without text (1, 1) is passed over both ways.
TEST(WizardFlow, EmptyInformationPageIsSkippedInBothDirections) {
    Product product({"a.txt"});
    product.package.texts[1][1] = "";
    WizardRun run(product.installer(), testName());
    HWND welcome = run.page("Page 0");
    run.press(IDOK);
    HWND folder = run.page("Page 2", welcome);
    run.press(BACK);
    welcome = run.page("Page 0", folder);
    run.press(IDOK);
    run.page("Page 2", welcome);
}

// Files already in their new version: straight to the finish page with
// (5, 3), whose Back leads to the destination page to choose another folder.
TEST(WizardFlow, NothingToDoShowsItsTextAndBackReturnsToTheFolder) {
    Product product({"a.txt"});
    writeFile(product.folder + "\\a.txt", kNew);
    WizardRun run(product.installer(), testName());
    HWND folder = toDestination(run);
    run.press(IDOK);
    HWND finish = run.page("Page 5", folder);
    EXPECT_EQ(run.controlText(finish, 1000), "5.3");
    EXPECT_TRUE(run.listLines(finish, FILE_LIST).empty());
    ASSERT_TRUE(run.buttonEnabled(BACK));
    run.press(BACK);
    folder = run.page("Page 2", finish);
    EXPECT_EQ(run.controlText(folder, FOLDER), product.folder);
}

// A refused folder: the message names the reason, the page stays with its
// texts restored, and the typed folder is still there to correct.
TEST(WizardFlow, UnknownVersionIsShownUnderTheHeadingAndThePageStays) {
    Product product({"a.txt"});
    writeFile(product.folder + "\\a.txt", kStranger);
    WizardRun run(product.installer(), testName());
    HWND folder = toDestination(run);
    run.press(IDOK);
    std::string shown = run.answer("6.8", IDOK);
    EXPECT_NE(shown.find("6.8\n\n6.10 <" + product.folder + "\\a.txt>"), std::string::npos) << shown;
    run.settle();
    EXPECT_EQ(run.currentPage(), folder);
    EXPECT_EQ(run.controlText(folder, 1001), "2.2");
    EXPECT_EQ(run.controlText(folder, 1002), "2.3");
    EXPECT_EQ(run.controlText(folder, 1003), "2.4");
    EXPECT_EQ(run.controlText(folder, FOLDER), product.folder);
}

TEST(WizardFlow, FolderThatDoesNotExistIsRefused) {
    Product product({"a.txt"});
    WizardRun run(product.installer(), testName());
    HWND folder = toDestination(run);
    run.type(folder, FOLDER, product.folder + "\\missing");
    run.press(IDOK);
    std::string shown = run.answer("6.5", IDOK);
    EXPECT_EQ(shown, "Wizard Test\n6.5");
    run.settle();
    EXPECT_EQ(run.currentPage(), folder);
    EXPECT_EQ(run.controlText(folder, FOLDER), product.folder + "\\missing");
}

// Read-only files may be updated only after the ready page's question.
TEST(WizardFlow, ReadOnlyTargetsAskBeforeInstallingAndNoKeepsThePage) {
    Product product({"a.txt"});
    SetFileAttributesA((product.folder + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WizardRun run(product.installer(), testName());
    toDestination(run);
    run.press(IDOK);
    HWND ready = run.page("Page 3");
    run.press(IDOK);
    run.answer("6.7", IDNO);
    run.settle();
    EXPECT_EQ(run.currentPage(), ready);
    run.press(IDOK);
    run.answer("6.7", IDYES);
    run.page("Page 5", ready);
    SetFileAttributesA((product.folder + "\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The frame's Cancel asks (6, 16); No keeps the page, Yes says (6, 17)
// and ends the program normally.
TEST(WizardFlow, FrameCancelAsksAndNoKeepsThePage) {
    Product product({"a.txt"});
    WizardRun run(product.installer(), testName());
    HWND welcome = run.page("Page 0");
    run.press(IDCANCEL);
    run.answer("6.16", IDNO);
    run.settle();
    EXPECT_EQ(run.currentPage(), welcome);
    run.press(IDCANCEL);
    run.answer("6.16", IDYES);
    run.answer("6.17", IDOK);
    expectExit(run);
}

// Cancel while installing: No lets the run go on to the finish page; Yes
// says (6, 17) and the wizard ends.
TEST(WizardFlow, CancelOnTheProgressPage) {
    std::vector<std::string> files;
    for (int i = 0; i < 80; i++) files.push_back("f" + std::to_string(i) + ".txt");
    for (bool stop : {false, true}) {
        Product product(files);
        // 80 steps take at least 80 timer periods: long enough for Cancel to
        // come while they run, and on a busy machine much longer than that.
        WizardRun run(product.installer(), testName() + (stop ? "-yes" : "-no"), 180000);
        toDestination(run);
        run.press(IDOK);
        HWND ready = run.page("Page 3");
        run.press(IDOK);
        HWND progress = run.page("Page 4", ready);
        EXPECT_EQ(run.buttonText(IDCANCEL), "7.5");
        EXPECT_FALSE(run.buttonEnabled(IDOK));
        EXPECT_FALSE(run.buttonEnabled(BACK));
        run.press(IDCANCEL);
        HWND box = run.waitDialog("6.15");
        size_t linesWhileAsking = run.listLines(progress, FILE_LIST).size();
        Sleep(400);  // no step runs while the question is open
        EXPECT_EQ(run.listLines(progress, FILE_LIST).size(), linesWhileAsking);
        run.command(box, stop ? IDYES : IDNO);
        if (stop) {
            run.answer("6.17", IDOK);
            expectExit(run);
        } else {
            HWND finish = run.page("Page 5", progress);
            EXPECT_EQ(run.listLines(finish, FILE_LIST).size(), files.size());
        }
    }
}

// The same in an all-or-nothing run: the question says nothing has been
// changed yet, and Yes leads to the finish page, which says that nothing
// was changed; every file is as it was and no temporary file is left.
TEST(WizardFlow, CancelOnTheProgressPageOfAnAllOrNothingRun) {
    std::vector<std::string> files;
    for (int i = 0; i < 80; i++) files.push_back("f" + std::to_string(i) + ".txt");
    Product product(files);
    product.package.allOrNothing = true;
    WizardRun run(product.installer(), testName());
    toDestination(run);
    run.press(IDOK);
    HWND ready = run.page("Page 3");
    run.press(IDOK);
    HWND progress = run.page("Page 4", ready);
    run.press(IDCANCEL);
    HWND box = run.waitDialog("6.38");
    ASSERT_TRUE(box);
    run.command(box, IDYES);
    run.answer("6.17", IDOK);
    HWND finish = run.page("Page 5", progress);
    EXPECT_EQ(run.controlText(finish, 1000), "6.37 [6.17]");
    EXPECT_TRUE(run.listLines(finish, FILE_LIST).empty());
    run.press(IDCANCEL);
    expectExit(run);
    int temporaries = 0;
    for (const auto& f : files) {
        EXPECT_EQ(readAll(product.folder + "\\" + f), kOld) << f;
        std::string temp = product.folder + "\\" + f.substr(0, f.size() - 4) + ".$$A";
        if (GetFileAttributesA(temp.c_str()) != INVALID_FILE_ATTRIBUTES) temporaries++;
    }
    EXPECT_EQ(temporaries, 0);
    EXPECT_EQ(GetFileAttributesA((product.folder + "\\~update.$$J").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A file matching no known version may be looked for in another folder:
// the dialog names the first file missing there and stays open until a
// folder holds them all.
TEST(WizardFlow, AlternateFolderDialogNamesTheFirstMissingFile) {
    Product product({"a.txt"});
    product.package.rules["a.txt"].onUnknownVersion = UNK_ASK_FOLDER;
    writeFile(product.folder + "\\a.txt", kStranger);
    std::string empty = product.dir.path("empty"), originals = product.dir.path("originals");
    CreateDirectoryA(empty.c_str(), 0);
    writeFile(originals + "\\a.txt", kOld);
    WizardRun run(product.installer(), testName());
    HWND folder = toDestination(run);
    run.press(IDOK);
    HWND dialog = run.waitDialog("6.30");
    EXPECT_EQ(wizard::windowText(dialog), "Wizard Test");
    run.snapshot(testName() + "-dialog");
    run.command(dialog, IDOK);
    run.answer("6.5", IDOK);  // nothing typed yet
    run.type(dialog, FOLDER, empty);
    run.command(dialog, IDOK);
    std::string shown = run.answer("6.9", IDOK);
    EXPECT_NE(shown.find("6.9 <" + empty + "\\a.txt>"), std::string::npos) << shown;
    EXPECT_TRUE(IsWindow(dialog));
    run.type(dialog, FOLDER, originals);
    run.command(dialog, IDOK);
    run.page("Page 3", folder);
}

// Single-page mode: only the progress page runs; it stays when done and
// its Cancel ends the program at once.
TEST(WizardFlow, SinglePageModeRunsOnlyTheProgressPage) {
    Product product({"a.txt"});
    product.package.startPage = 4;
    WizardRun run(product.installer(), testName());
    HWND progress = run.page("Page 4");
    EXPECT_TRUE(run.buttonEnabled(IDCANCEL));
    run.settle(600);
    EXPECT_EQ(run.currentPage(), progress) << "the page stays after the last step";
    run.press(IDCANCEL);
    expectExit(run);
    EXPECT_FALSE(run.dialogShown("6.16"));
}

// Browse opens the old-style folder dialog with the package's texts; Cancel
// leaves the folder as it was, OK takes the folder its field shows.
TEST(WizardFlow, BrowseDialogChoosesAFolderAndCancelKeepsTheOldOne) {
    Product product({"a.txt"});
    std::string other = product.dir.path("other");
    CreateDirectoryA(other.c_str(), 0);
    WizardRun run(product.installer(), testName());
    HWND folder = toDestination(run);
    run.command(folder, 1005);
    HWND browse = run.waitDialog("6.2");
    run.snapshot(testName() + "-browse");
    EXPECT_EQ(wizard::windowText(browse), "6.1");
    EXPECT_EQ(run.controlText(browse, 1091), "6.3");
    EXPECT_EQ(run.controlText(browse, IDOK), "7.4");
    EXPECT_EQ(run.controlText(browse, IDCANCEL), "7.5");
    EXPECT_EQ(run.controlText(browse, 101), product.folder);
    run.type(browse, 101, other);
    run.command(browse, IDCANCEL);
    run.settle(300);
    EXPECT_FALSE(IsWindow(browse));
    EXPECT_EQ(run.controlText(folder, FOLDER), product.folder);

    run.command(folder, 1005);
    browse = run.waitDialog("6.2");
    run.type(browse, 101, other);
    run.command(browse, IDOK);
    run.settle(300);
    EXPECT_FALSE(IsWindow(browse));
    EXPECT_EQ(run.controlText(folder, FOLDER), other);
}

// Closing the frame or the background window from the system menu ends the
// wizard at once, without the cancel question.
TEST(WizardFlow, SystemMenuCloseEndsWithoutAQuestion) {
    for (bool background : {false, true}) {
        TempDir dir;
        Package p;
        p.fullScreen = true;
        WizardRun run(p.write(dir), testName() + (background ? "-background" : "-frame"));
        run.page("Page 0");
        PostMessageA(background ? run.background() : run.frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
        EXPECT_EQ(code, DWORD(EXIT_DONE));
    }
}

// In single-page mode the destination page's Next ends the wizard without
// verifying anything.
TEST(WizardFlow, SinglePageDestinationEndsWithoutVerification) {
    Product product({"a.txt"});
    writeFile(product.folder + "\\a.txt", kStranger);  // would fail verification
    product.package.startPage = 2;
    WizardRun run(product.installer(), testName());
    run.page("Page 2");
    run.press(IDOK);
    expectExit(run);
    EXPECT_FALSE(run.dialogShown("6.8"));
}
