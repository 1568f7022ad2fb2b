// The wizard while a box or dialog is open, and when it is closed: nothing
// behind a modal window takes input, neither the verification nor the
// browse dialog is entered twice, closing during an installation asks first
// in both presentations, and an installation that cannot start says why.
// Input comes as the user's would: real clicks and keys (SendInput) where
// the point is that the window must not take them.
#include <gtest/gtest.h>

#include "pkg/stub.h"
#include "run/run.h"
#include "wizard_support.h"

using namespace wiztest;
using winsupport::TempDir;

namespace {

const std::vector<uint8_t> kOld = bytesOf("old content of a product file\r\n", 40);
const std::vector<uint8_t> kNew = bytesOf("new content of the product file\r\n", 50);
const std::vector<uint8_t> kStranger = bytesOf("a version nobody knows\r\n", 30);

std::vector<uint8_t> readAll(const std::string& path) {
    pkg::Bytes b = pkg::readFile(path);
    return std::vector<uint8_t>(b.begin(), b.end());
}

// A product folder with files in their old version and the update of them.
struct Product {
    TempDir dir;
    std::string folder = dir.path("product");
    Package package;
    Product(int count, bool fullScreen) {
        CreateDirectoryA(folder.c_str(), 0);
        package.destination = folder;
        package.fullScreen = fullScreen;
        package.oldSets.resize(1);
        for (int i = 0; i < count; i++) {
            std::string f = "f" + std::to_string(i) + ".txt";
            writeFile(folder + "\\" + f, kOld);
            package.oldSets[0][f] = kOld;
            package.newSet[f] = kNew;
        }
    }
};

std::string presentation(bool fullScreen) { return fullScreen ? "-full" : "-windowed"; }

// Visible top-level windows of the installer whose texts contain `text`.
int windowsShowing(wizard::Driver& run, const std::string& text) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{run.processId(), {}};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == s->pid && IsWindowVisible(w)) s->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    int n = 0;
    for (HWND w : search.found)
        if (run.dialogText(w).find(text) != std::string::npos) n++;
    return n;
}

// A left click in the middle of a window, as the mouse would give it.
void clickOn(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
}

// A click on the close box of a top-level window: the point of its caption
// that the window itself calls HTCLOSE.
void clickCloseBox(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    for (int y = r.top; y < r.top + GetSystemMetrics(SM_CYCAPTION) + 8; y++)
        for (int x = r.right - 1; x > r.right - 80; x--) {
            DWORD_PTR hit = 0;
            SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 5000, &hit);
            if (hit != HTCLOSE) continue;
            SetCursorPos(x, y);
            INPUT in[2] = {};
            in[0].type = in[1].type = INPUT_MOUSE;
            in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            SendInput(2, in, sizeof(INPUT));
            return;
        }
    throw wizard::Failure("no close box found");
}

// Presses the keys in order and releases them in reverse order.
void keys(std::initializer_list<WORD> held) {
    std::vector<INPUT> in;
    for (WORD k : held) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        in.push_back(i);
    }
    for (auto k = held.end(); k != held.begin();) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = *--k;
        i.ki.dwFlags = KEYEVENTF_KEYUP;
        in.push_back(i);
    }
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

}  // namespace

// The alternate-folder dialog is owned by the window the user sees (the
// frame in full screen) and disables the whole wizard behind it: a click on
// Next there does nothing, Next and Browse that reach the page anyway start
// no second verification and no second browse dialog, and a box over the
// dialog is owned by it. The frame's buttons rest meanwhile; afterwards the
// ready page opens and stays, untouched by what was pressed before.
TEST(WizardModal, AlternateFolderDialogShutsOffTheWizardBehindIt) {
    for (bool fullScreen : {false, true}) {
        Product product(1, fullScreen);
        product.package.rules["f0.txt"].onUnknownVersion = UNK_ASK_FOLDER;
        writeFile(product.folder + "\\f0.txt", kStranger);
        std::string originals = product.dir.path("originals");
        writeFile(originals + "\\f0.txt", kOld);
        WizardRun run(product.package.write(product.dir), testName() + presentation(fullScreen));
        HWND folder = toDestination(run);
        HWND frame = run.frame();
        run.press(IDOK);
        HWND dialog = run.waitDialog("6.30");
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), fullScreen ? frame : run.background());
        EXPECT_FALSE(IsWindowEnabled(run.background()));
        EXPECT_FALSE(IsWindowEnabled(frame));
        EXPECT_FALSE(run.buttonEnabled(IDOK));
        EXPECT_FALSE(run.buttonEnabled(BACK));
        EXPECT_FALSE(run.buttonEnabled(IDCANCEL));

        clickOn(GetDlgItem(frame, IDOK));
        run.command(frame, IDOK);
        run.command(folder, IDOK);
        run.settle(300);
        EXPECT_EQ(windowsShowing(run, "6.30"), 1) << "a second verification began";

        run.command(dialog, 1005);
        HWND browse = run.waitDialog("6.2");
        EXPECT_EQ(GetWindow(browse, GW_OWNER), dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog));
        run.command(folder, 1005);
        run.settle(300);
        EXPECT_EQ(windowsShowing(run, "6.2\n"), 1) << "a second browse dialog opened";
        run.command(browse, IDCANCEL);
        run.settle(300);
        EXPECT_TRUE(IsWindowEnabled(dialog));
        EXPECT_FALSE(IsWindowEnabled(frame)) << "the browse dialog enabled what the dialog disabled";

        run.command(dialog, IDOK);  // nothing typed: a box over the dialog
        HWND box = run.waitDialog("6.5");
        EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
        run.command(box, IDOK);
        run.type(dialog, FOLDER, originals);
        run.command(dialog, IDOK);
        HWND ready = run.page("Page 3", folder);
        EXPECT_TRUE(IsWindowEnabled(frame));
        EXPECT_TRUE(IsWindowEnabled(run.background()));
        EXPECT_TRUE(run.buttonEnabled(IDOK));
        run.settle(500);
        EXPECT_EQ(run.currentPage(), ready);
        EXPECT_EQ(readAll(product.folder + "\\f0.txt"), kStranger);
    }
}

// A refused folder gives the frame's buttons back; the message box over the
// page disables the whole wizard while it is open.
TEST(WizardModal, RefusedFolderGivesTheButtonsBack) {
    for (bool fullScreen : {false, true}) {
        Product product(1, fullScreen);
        writeFile(product.folder + "\\f0.txt", kStranger);
        WizardRun run(product.package.write(product.dir), testName() + presentation(fullScreen));
        HWND folder = toDestination(run);
        run.press(IDOK);
        HWND box = run.waitDialog("6.8");
        EXPECT_EQ(GetWindow(box, GW_OWNER), fullScreen ? run.frame() : run.background());
        EXPECT_FALSE(IsWindowEnabled(run.background()));
        EXPECT_FALSE(IsWindowEnabled(run.frame()));
        run.command(box, IDOK);
        run.settle();
        EXPECT_EQ(run.currentPage(), folder);
        EXPECT_TRUE(IsWindowEnabled(run.background()));
        EXPECT_TRUE(IsWindowEnabled(run.frame()));
        EXPECT_TRUE(run.buttonEnabled(IDOK));
        EXPECT_TRUE(run.buttonEnabled(BACK));
        EXPECT_TRUE(run.buttonEnabled(IDCANCEL));
    }
}

// Every way of closing the wizard while files are being installed asks the
// progress page's question: WM_CLOSE from outside, the background window's
// and the frame's SC_CLOSE (system menu, taskbar Close), a click on the
// close box of the window on top, and Alt+F4. Closing
// again while the question is open asks nothing more and ends nothing; No
// goes on with the installation, Yes ends it.
TEST(WizardModal, ClosingDuringTheInstallationAsksFirst) {
    for (bool fullScreen : {false, true}) {
        // Each step waits for a timer tick and none runs while the question
        // is open: 150 files outlast the four questions on any machine.
        Product product(150, fullScreen);
        WizardRun run(product.package.write(product.dir), testName() + presentation(fullScreen), 300000);
        toDestination(run);
        run.press(IDOK);
        HWND ready = run.page("Page 3");
        run.press(IDOK);
        HWND progress = run.page("Page 4", ready);
        HWND background = run.background(), frame = run.frame();
        HWND top = fullScreen ? frame : background;
        const std::vector<std::pair<std::string, std::function<void()>>> ways = {
            {"WM_CLOSE", [&] { PostMessageA(background, WM_CLOSE, 0, 0); }},
            {"background SC_CLOSE", [&] { PostMessageA(background, WM_SYSCOMMAND, SC_CLOSE, 0); }},
            {"frame SC_CLOSE", [&] { PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0); }},
            {"close box", [&] { clickCloseBox(top); }},
            {"Alt+F4",
             [&] {
                 SetForegroundWindow(top);
                 run.settle();
                 keys({VK_MENU, VK_F4});
             }},
        };
        for (size_t i = 0; i < ways.size(); i++) {
            SCOPED_TRACE(ways[i].first);
            ways[i].second();
            HWND box = run.waitDialog("6.15");
            PostMessageA(background, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageA(frame, WM_CLOSE, 0, 0);
            run.settle(300);
            EXPECT_EQ(windowsShowing(run, "6.15"), 1);
            ASSERT_TRUE(run.running());
            EXPECT_EQ(run.currentPage(), progress);
            if (i + 1 < ways.size()) {
                run.command(box, IDNO);
                run.settle();
                ASSERT_EQ(run.currentPage(), progress) << "the installation ended before every way was tried";
            } else {
                run.command(box, IDYES);
                run.answer("6.17", IDOK);
            }
        }
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
        EXPECT_EQ(code, DWORD(EXIT_DONE));
        EXPECT_EQ(readAll(product.folder + "\\f149.txt"), kOld) << "the last file was installed after Yes";
    }
}

// On other pages closing ends the wizard at once, in both presentations.
TEST(WizardModal, ClosingBeforeTheInstallationEndsAtOnce) {
    for (bool fullScreen : {false, true}) {
        Product product(1, fullScreen);
        WizardRun run(product.package.write(product.dir), testName() + presentation(fullScreen));
        toDestination(run);
        run.press(IDOK);
        run.page("Page 3");
        SetForegroundWindow(fullScreen ? run.frame() : run.background());
        run.settle();
        keys({VK_MENU, VK_F4});
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
        EXPECT_EQ(code, DWORD(EXIT_DONE));
        EXPECT_FALSE(run.dialogShown("6.15"));
        EXPECT_EQ(readAll(product.folder + "\\f0.txt"), kOld);
    }
}

// An installation that cannot open its package goes to the finish page,
// which names the package; Cancel there ends the wizard without a question
// and no file was touched.
TEST(WizardModal, PackageThatCannotBeOpenedIsReportedOnTheFinishPage) {
    Product product(1, false);
    std::string installer = product.package.write(product.dir);
    WizardRun run(installer, testName());
    toDestination(run);
    run.press(IDOK);
    HWND ready = run.page("Page 3");
    ASSERT_TRUE(MoveFileA(installer.c_str(), (installer + ".moved").c_str()));
    run.press(IDOK);
    HWND finish = run.page("Page 5", ready);
    EXPECT_EQ(run.controlText(finish, 1000), "5.2 [6.18 <" + installer + ">]");
    EXPECT_TRUE(run.listLines(finish, FILE_LIST).empty());
    run.press(IDCANCEL);
    DWORD code = 1;
    ASSERT_TRUE(run.waitExit(&code));
    EXPECT_EQ(code, DWORD(EXIT_DONE));
    EXPECT_FALSE(run.dialogShown("6.15"));
    EXPECT_EQ(readAll(product.folder + "\\f0.txt"), kOld);
}

namespace {

// The window with the keyboard focus in the installer's thread.
HWND focusOf(HWND anyWindow) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(anyWindow, 0), &info);
    return info.hwndFocus;
}

// A folder of exactly `length` characters under base, made level by level.
std::string folderOfLength(const std::string& base, size_t length) {
    std::string path = base;
    CreateDirectoryA(path.c_str(), 0);
    while (path.size() < length) {
        size_t take = std::min<size_t>(length - path.size(), 61);  // "\" and up to 60 letters
        if (length - path.size() - take == 1) take--;              // never leave a lone "\"
        path += "\\" + std::string(take - 1, 'd');
        CreateDirectoryA(path.c_str(), 0);
    }
    return path;
}

}  // namespace

// The browse dialog's field follows the folder the dialog is in, exactly as
// its name is: letters of the ANSI code page (B\xFCro) and a path of 250
// characters come back unchanged, and OK hands them to the page.
TEST(WizardBrowse, FolderFieldShowsTheDialogsFolderAsItIs) {
    TempDir dir;
    const std::string accented = dir.path("B\xFCro");  // u-umlaut in code page 1252
    CreateDirectoryA(accented.c_str(), 0);
    const std::string deep = folderOfLength(dir.path("long"), 250);
    ASSERT_EQ(GetFileAttributesA(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    const UINT selectionChanged = RegisterWindowMessageA("commdlg_LBSelChangedNotify");
    for (const std::string& chosen : {accented, deep}) {
        SCOPED_TRACE(chosen.size());
        Package p;
        p.destination = chosen;
        WizardRun run(p.write(dir), testName());
        HWND folder = toDestination(run);
        run.command(folder, 1005);
        HWND browse = run.waitDialog("6.2");
        // The dialog reports a new selection in its folder list.
        DWORD_PTR r;
        SendMessageTimeoutA(browse, selectionChanged, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
        EXPECT_EQ(run.controlText(browse, 101), chosen);
        run.command(browse, IDOK);
        run.settle(300);
        EXPECT_FALSE(IsWindow(browse));
        EXPECT_EQ(run.controlText(folder, FOLDER), chosen);
        run.press(IDCANCEL);
        run.answer("6.16", IDYES);
        run.answer("6.17", IDOK);
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
    }
}

// The whole wizard from the keyboard, with real key presses: every page
// opens with the focus on its first control or on Next, Enter is Next (and
// Update), Tab moves from the folder field to Browse, Alt+mnemonic presses
// a button, Esc is Cancel with its question, and on the finish page Esc
// ends the wizard.
TEST(WizardKeyboard, WalkThroughEveryPageWithKeys) {
    for (bool fullScreen : {false, true}) {
        Product product(1, fullScreen);
        product.package.texts[7][0] = "< &Back";
        product.package.texts[7][1] = "&Next >";
        WizardRun run(product.package.write(product.dir), testName() + presentation(fullScreen));
        HWND welcome = run.page("Page 0");
        HWND frame = run.frame();
        SetForegroundWindow(fullScreen ? frame : run.background());
        run.settle();
        EXPECT_EQ(focusOf(frame), GetDlgItem(frame, IDOK));
        keys({VK_RETURN});
        HWND info = run.page("Page 1", welcome);
        EXPECT_EQ(focusOf(frame), GetDlgItem(frame, IDOK));
        keys({VK_MENU, 'B'});
        welcome = run.page("Page 0", info);
        keys({VK_MENU, 'N'});
        info = run.page("Page 1", welcome);
        keys({VK_RETURN});
        HWND folder = run.page("Page 2", info);
        EXPECT_EQ(focusOf(frame), GetDlgItem(folder, FOLDER));
        keys({VK_TAB});
        run.settle();
        EXPECT_EQ(focusOf(frame), GetDlgItem(folder, 1005));
        keys({VK_ESCAPE});
        run.answer("6.16", IDNO);
        run.settle();
        EXPECT_EQ(run.currentPage(), folder);
        keys({VK_MENU, 'R'});
        HWND browse = run.waitDialog("6.2");
        keys({VK_ESCAPE});
        run.settle(300);
        EXPECT_FALSE(IsWindow(browse));
        keys({VK_SHIFT, VK_TAB});
        run.settle();
        EXPECT_EQ(focusOf(frame), GetDlgItem(folder, FOLDER));
        keys({VK_RETURN});
        HWND ready = run.page("Page 3", folder);
        EXPECT_EQ(focusOf(frame), GetDlgItem(frame, IDOK));
        keys({VK_RETURN});
        HWND finish = run.page("Page 5", ready);
        EXPECT_EQ(run.controlText(finish, 1000), "5.1");
        keys({VK_ESCAPE});
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
        EXPECT_EQ(code, DWORD(EXIT_DONE));
        EXPECT_FALSE(run.dialogShown("6.16"));
        EXPECT_EQ(readAll(product.folder + "\\f0.txt"), kNew);
    }
}

// Input that waits while the files are being read is dropped: the wizard
// runs in the engine runner, which holds it when the verification opens the
// product's file until a click on Next and an Enter are queued. Neither
// lands on the ready page: it opens and stays, and no file is installed.
TEST(WizardModal, InputQueuedDuringTheVerificationIsDropped) {
    for (bool fullScreen : {false, true}) {
        Product product(1, fullScreen);
        std::string installer = product.package.write(product.dir);
        WizardRun run(windowsPath(UPD_ENGINE_RUNNER_PATH), testName() + presentation(fullScreen),
                      "--hold-wizard f0.txt \"" + installer + "\"");
        HWND folder = toDestination(run);
        HWND frame = run.frame();
        HANDLE held = CreateEventA(0, TRUE, FALSE, ("upd-held-" + std::to_string(run.processId())).c_str());
        HANDLE go = CreateEventA(0, TRUE, FALSE, ("upd-go-" + std::to_string(run.processId())).c_str());
        SetForegroundWindow(fullScreen ? frame : run.background());
        run.settle();
        run.press(IDOK);
        ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0) << "the verification never opened the file";
        clickOn(GetDlgItem(frame, IDOK));
        keys({VK_RETURN});
        SetEvent(go);
        HWND ready = run.page("Page 3", folder);
        run.settle(500);
        EXPECT_EQ(run.currentPage(), ready) << "queued input reached the ready page";
        EXPECT_EQ(readAll(product.folder + "\\f0.txt"), kOld);
        EXPECT_TRUE(run.buttonEnabled(IDOK));
        CloseHandle(held);
        CloseHandle(go);
        run.press(IDCANCEL);
        run.answer("6.16", IDYES);
        run.answer("6.17", IDOK);
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
        EXPECT_EQ(readAll(product.folder + "\\f0.txt"), kOld);
    }
}
