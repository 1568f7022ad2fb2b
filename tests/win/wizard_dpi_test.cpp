// The wizard on screens of 96, 120, 144 and 192 DPI (the system DPI that
// Wine reads from LogPixels when a program starts): the frame picture, the
// background tiles and the title grow with the DPI pixel by pixel, and the
// progress bar fills its control. Each run leaves a screenshot of the page.
// The picture test runs on a screen that holds the frame at 192 DPI with
// the backdrop's corner free (tests/e2e/large_screen.sh, which sets
// UPD_LARGE_SCREEN); on a smaller one it looks at the corner only where the
// frame leaves it free.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pkg/stub.h"
#include "wizard_support.h"

using namespace wiztest;
using winsupport::TempDir;

namespace {

// Sets the DPI that programs started from now on see, and puts the old
// value back at the end.
class ScreenDpi {
public:
    explicit ScreenDpi(DWORD dpi) {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, 0, 0, KEY_ALL_ACCESS, 0, &key_, 0);
        DWORD size = sizeof old_;
        had_ = RegQueryValueExA(key_, "LogPixels", 0, 0, reinterpret_cast<BYTE*>(&old_), &size) == ERROR_SUCCESS;
        RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~ScreenDpi() {
        if (had_)
            RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
        else
            RegDeleteValueA(key_, "LogPixels");
        RegCloseKey(key_);
    }

private:
    HKEY key_ = 0;
    DWORD old_ = 0;
    bool had_ = false;
};

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    void add(int x, int y) {
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
    }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// The box of the pixels of one colour inside r.
Box boxOf(const wizard::Screen& s, const RECT& r, uint32_t colour) {
    Box b;
    for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, s.height); y++)
        for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, s.width); x++)
            if (s.at(x, y) == colour) b.add(x, y);
    return b;
}

const uint32_t FRAME_COLOUR = 0x2080C0;  // the frame picture, one colour
const uint32_t TILE_MARK = 0xFF0000;     // the top-left pixel of each background tile

}  // namespace

TEST(WizardDpi, PicturesTitleAndBarGrowWithTheDpi) {
    int titleAt96 = 0;  // height of the title's white at 96 DPI
    for (int dpi : {96, 120, 144, 192}) {
        SCOPED_TRACE(dpi);
        ScreenDpi screen(dpi);
        TempDir dir;
        Package p;
        p.fullScreen = true;
        p.startPage = 4;  // the progress page: the bar, the frame picture and the backdrop at once
        p.frameImage = bmp24(40, 60, [](int, int) { return FRAME_COLOUR; });
        p.backgroundImage = bmp24(16, 16, [](int x, int y) -> uint32_t { return x < 2 && y < 2 ? TILE_MARK : 0x404040; });
        p.title = "HT";
        p.titleFont = logFont("Arial", 40, 700);
        WizardRun run(p.write(dir), testName() + "-" + std::to_string(dpi));
        HWND page = run.page("Page 4");
        run.settle(500);
        wizard::Screen s = wizard::captureScreen();

        RECT picture;
        GetWindowRect(GetDlgItem(run.frame(), 1011), &picture);
        // The sunken edge is drawn over the picture's outermost pixels.
        Box frame = boxOf(s, picture, FRAME_COLOUR);
        EXPECT_EQ(frame.width(), 40 * dpi / 96 - 2);
        EXPECT_EQ(frame.height(), 60 * dpi / 96 - 2);

        // The backdrop's corner, where the title lies, is looked at where the
        // frame leaves it free: at every DPI on the large screen.
        RECT client, frameRect;
        GetClientRect(run.background(), &client);
        MapWindowPoints(run.background(), 0, reinterpret_cast<POINT*>(&client), 2);
        GetWindowRect(run.frame(), &frameRect);
        RECT titleArea = {client.left, client.top, client.left + 200, client.top + 100}, overlap;
        bool cornerFree = !IntersectRect(&overlap, &titleArea, &frameRect);
        if (getenv("UPD_LARGE_SCREEN")) {
            ASSERT_TRUE(cornerFree) << "the frame covers the title on the large screen";
            EXPECT_GE(s.width, 2048);
        }
        RECT corner = {client.left, client.top, client.left + 8, client.top + 8};
        Box mark = boxOf(s, corner, TILE_MARK);
        if (cornerFree) {
            EXPECT_NEAR(mark.width(), 2 * dpi / 96, 1);
            EXPECT_NEAR(mark.height(), 2 * dpi / 96, 1);
            EXPECT_EQ(s.at(client.left + 16 * dpi / 96, client.top), TILE_MARK)
                << "the second tile starts one grown tile further";

            // The title grows as the DPI does, give or take the font's rounding.
            Box title = boxOf(s, titleArea, 0xFFFFFF);
            ASSERT_GE(title.right, 0) << "no title drawn";
            EXPECT_GE(title.left - client.left, 10 * dpi / 96);
            if (dpi == 96) titleAt96 = title.height();
            EXPECT_NEAR(title.height(), titleAt96 * dpi / 96, 2);
        }

        // The bar's blocks span its control's height, less their margins.
        RECT bar;
        GetWindowRect(GetDlgItem(page, 1009), &bar);
        uint32_t c = GetSysColor(COLOR_ACTIVECAPTION);
        c = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        Box blocks = boxOf(s, bar, c);
        ASSERT_GE(blocks.right, 0) << "no block drawn";
        EXPECT_EQ(blocks.top, bar.top + 2);
        EXPECT_EQ(blocks.bottom, bar.bottom - 3);
        run.press(IDCANCEL);
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
    }
}

// The finish page's message holds the longest failure the default texts
// make, naming a 100-character path, without scrolling at 96 and 144 DPI:
// the last character lies inside the control, and nothing was cut. A
// publisher's longer text gets a scroll bar instead of being cut.
TEST(WizardDpi, FinishMessageWithALongPathFitsAt96And144) {
    const std::string longest =
        "The file %s cannot be read or written. Please check that you may change it and that no program is "
        "using it.";
    for (int round = 0; round < 3; round++) {
        int dpi = round == 1 ? 144 : 96;
        bool tooLong = round == 2;
        SCOPED_TRACE(dpi);
        ScreenDpi screen(dpi);
        TempDir dir;
        std::string folder = dir.path("");
        folder += std::string(100 - folder.size() - std::string("\\setup.exe").size(), 'p');
        CreateDirectoryA(folder.c_str(), 0);
        Package p;
        p.texts[5][2] = "The update could not be completed.\n\n%s";
        p.texts[6][18] = tooLong ? longest + "\n\n" + longest + "\n\n" + longest : longest;
        pkg::TableEntry e = updateEntry("a.txt", bytesOf("old\r\n", 10), bytesOf("new\r\n", 10));
        p.files = {e};
        p.destination = dir.path("product");
        writeFile(p.destination + "\\a.txt", bytesOf("old\r\n", 10));
        std::string installer = folder + "\\setup.exe";
        ASSERT_EQ(installer.size(), 100u);
        CopyFileA(p.write(dir).c_str(), installer.c_str(), FALSE);
        WizardRun run(installer, testName() + "-" + std::to_string(dpi) + (tooLong ? "-long" : ""));
        run.page("Page 0");
        run.press(IDOK);
        run.page("Page 1");
        run.press(IDOK);
        HWND destination = run.page("Page 2");
        run.press(IDOK);
        HWND ready = run.page("Page 3", destination);
        ASSERT_TRUE(MoveFileA(installer.c_str(), (installer + ".moved").c_str()));
        run.press(IDOK);
        HWND finish = run.page("Page 5", ready);
        HWND message = GetDlgItem(finish, 1000);
        std::string text = wizard::windowText(message);
        EXPECT_NE(text.find(installer + " cannot be read"), std::string::npos) << text;
        EXPECT_EQ(text.substr(text.size() - 9), "using it.");
        RECT client;
        GetClientRect(message, &client);
        LRESULT first = SendMessageA(message, EM_POSFROMCHAR, 0, 0);
        LRESULT last = SendMessageA(message, EM_POSFROMCHAR, text.size() - 1, 0);
        int lines = static_cast<int>(SendMessageA(message, EM_GETLINECOUNT, 0, 0));
        ASSERT_GT(lines, 1);
        int lineHeight = (static_cast<short>(HIWORD(last)) - static_cast<short>(HIWORD(first))) / (lines - 1);
        EXPECT_EQ(SendMessageA(message, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
        bool scrollBar = (GetWindowLongA(message, GWL_STYLE) & WS_VSCROLL) != 0;
        if (tooLong) {
            EXPECT_GT(static_cast<short>(HIWORD(last)) + lineHeight, client.bottom) << lines << " lines";
            EXPECT_TRUE(scrollBar);
        } else {
            EXPECT_LE(static_cast<short>(HIWORD(last)) + lineHeight, client.bottom) << lines << " lines";
            EXPECT_FALSE(scrollBar) << "a scroll bar with nothing to scroll";
        }
        run.press(IDCANCEL);
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));
    }
}

namespace {

// The shipped texts of the pages' controls (tables 0 to 4, indexes 1 to 4)
// and the page titles of the test texts, so that pages can be waited for.
Tables pageTextsAsShipped() {
    Tables t = labelledTexts();
    pkg::Bytes file = pkg::readFile(windowsPath(UPD_DEFAULTS_DIR) + "\\texts.toml");
    std::string toml(file.begin(), file.end());
    size_t at = 0;
    while ((at = toml.find("\n\"", at)) != std::string::npos) {
        unsigned table = 0, index = 0;
        at += 2;
        if (std::sscanf(toml.c_str() + at, "%u.%u", &table, &index) != 2 || table > 4 || index < 1 || index > 4)
            continue;
        size_t open = toml.find("= \"", at) + 3, end = toml.find('\n', open);
        std::string raw = toml.substr(open, end - open - 1), text;
        for (size_t i = 0; i < raw.size(); i++) {
            if (raw[i] != '\\') {
                text += raw[i];
            } else if (++i < raw.size()) {
                text += raw[i] == 'n' ? '\n' : raw[i];
            }
        }
        t[table][index] = text;
    }
    return t;
}

// Every text control of the page shows its whole text: still a label, and
// the text, broken into lines in the dialog font at this DPI, fits its
// height.
void expectTextsFit(HWND page, int dpi) {
    HFONT font = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                             "MS Shell Dlg");
    HDC dc = GetDC(0);
    HGDIOBJ previous = SelectObject(dc, font);
    for (int id = 1000; id <= 1003; id++) {
        HWND control = GetDlgItem(page, id);
        if (!control) continue;
        std::string text = wizard::windowText(control);
        char kind[16] = "";
        GetClassNameA(control, kind, sizeof kind);
        EXPECT_STREQ(kind, "Static") << id << ": " << text;
        RECT client, need;
        GetClientRect(control, &client);
        need = client;
        DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        EXPECT_LE(need.bottom, client.bottom) << id << ": " << text;
    }
    SelectObject(dc, previous);
    ReleaseDC(0, dc);
    DeleteObject(font);
}

}  // namespace

// The shipped layouts hold the shipped texts of every page at 96 and 144
// DPI, with a 100-character folder on the destination page; a publisher's
// text too long for its label scrolls there instead of being cut.
TEST(WizardDpi, PageTextsFitTheirControlsAt96And144) {
    for (int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        ScreenDpi screen(dpi);
        TempDir dir;
        std::string folder = dir.path("");
        folder += std::string(100 - folder.size(), 'p');
        ASSERT_EQ(folder.size(), 100u);
        CreateDirectoryA(folder.c_str(), 0);
        Package p;
        p.texts = pageTextsAsShipped();
        p.destination = folder;
        p.files = {updateEntry("a.txt", bytesOf("old\r\n", 10), bytesOf("new\r\n", 10))};
        writeFile(folder + "\\a.txt", bytesOf("old\r\n", 10));
        WizardRun run(p.write(dir), testName() + "-" + std::to_string(dpi));
        HWND welcome = run.page("Page 0");
        expectTextsFit(welcome, dpi);
        run.press(IDOK);
        HWND destination = run.page("Page 2", welcome);
        expectTextsFit(destination, dpi);
        EXPECT_EQ(run.controlText(destination, FOLDER), folder);
        run.press(IDOK);
        HWND ready = run.page("Page 3", destination);
        expectTextsFit(ready, dpi);
        run.press(IDOK);
        run.page("Page 5", ready);
        run.press(IDCANCEL);
        DWORD code = 1;
        ASSERT_TRUE(run.waitExit(&code));

        p.startPage = 4;
        WizardRun progress(p.write(dir, "progress.exe"), testName() + "-progress-" + std::to_string(dpi));
        expectTextsFit(progress.page("Page 4"), dpi);
        progress.press(IDCANCEL);
        ASSERT_TRUE(progress.waitExit(&code));
    }

    TempDir dir;
    Package p;
    const std::string sentence = "A publisher's sentence that goes on and on, ";
    std::string longText;
    for (int i = 0; i < 12; i++) longText += sentence;
    longText += "and ends here.";
    p.texts[0][2] = longText;
    WizardRun run(p.write(dir), testName() + "-long");
    HWND welcome = run.page("Page 0");
    HWND cut = GetDlgItem(welcome, 1001);
    char kind[16] = "";
    GetClassNameA(cut, kind, sizeof kind);
    EXPECT_STREQ(kind, "Edit");
    EXPECT_TRUE(GetWindowLongA(cut, GWL_STYLE) & WS_VSCROLL);
    EXPECT_TRUE(GetWindowLongA(cut, GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(wizard::windowText(cut), longText);
    EXPECT_EQ(SendMessageA(cut, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    RECT client;
    GetClientRect(cut, &client);
    LRESULT last = SendMessageA(cut, EM_POSFROMCHAR, longText.size() - 1, 0);
    EXPECT_GT(static_cast<short>(HIWORD(last)), client.bottom) << "nothing to scroll";
    GetClassNameA(GetDlgItem(welcome, 1000), kind, sizeof kind);
    EXPECT_STREQ(kind, "Static") << "a text that fits stays a label";
    run.press(IDCANCEL);
    run.answer("6.16", IDYES);
    run.answer("6.17", IDOK);
    DWORD code = 1;
    ASSERT_TRUE(run.waitExit(&code));
}
