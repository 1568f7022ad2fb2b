// The wizard on screens of 96, 120, 144 and 192 DPI (the system DPI that
// Wine reads from LogPixels when a program starts): the frame picture, the
// background tiles and the title grow with the DPI pixel by pixel, and the
// progress bar fills its control. Each run leaves a screenshot of the page.
#include <gtest/gtest.h>

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
        // frame leaves it free (on the 1024 x 768 test screen, up to 120 DPI).
        RECT client, frameRect;
        GetClientRect(run.background(), &client);
        MapWindowPoints(run.background(), 0, reinterpret_cast<POINT*>(&client), 2);
        GetWindowRect(run.frame(), &frameRect);
        RECT titleArea = {client.left, client.top, client.left + 200, client.top + 100}, overlap;
        bool cornerFree = !IntersectRect(&overlap, &titleArea, &frameRect);
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
