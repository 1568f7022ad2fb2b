// Installers for the wizard tests: the real x86_64 stub, the shipped
// default layouts, and texts that name their own (table, index) pair, so a
// test can say exactly which text a window shows ("6.16" is the frame's
// cancel question, "Page 2" the destination page's title).
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "driver.h"
#include "package/format.h"
#include "pkg/update.h"
#include "pkg/filetable.h"
#include "pkg/writer.h"
#include "support.h"

namespace wiztest {

using Tables = std::vector<std::vector<std::string>>;

std::string windowsPath(const std::string& unixPath);
pkg::Bytes defaultTemplateBlob();

// (p, 0) = "Page p", (6, 0) = "Wizard Test", every other pair "t.i"; the
// messages that name a path carry "%s" as "t.i <%s>", and (5, 2) and
// (6, 37) frame their message as "5.2 [%s]" and "6.37 [%s]".
Tables labelledTexts();

struct Package {
    Tables texts = labelledTexts();
    bool fullScreen = false;
    bool allOrNothing = false;
    uint16_t startPage = START_PAGE_WIZARD;
    std::string destination;  // default folder; empty = none
    std::vector<pkg::TableEntry> files;
    // A real update made by the differ: the old versions, the new one, and
    // per-file rules. Used instead of `files` when newSet is not empty.
    std::vector<pkg::FileSet> oldSets;
    pkg::FileSet newSet;
    std::map<std::string, pkg::FileRule> rules;
    pkg::Bytes frameImage, backgroundImage, titleFont;
    std::string title;
    std::string write(const winsupport::TempDir& dir, const std::string& name = "setup.exe") const;
};

// A 24-bit BMP file image; pixel(x, y) gives 0xRRGGBB with y = 0 at the top.
pkg::Bytes bmp24(int width, int height, const std::function<uint32_t(int, int)>& pixel);
// LOGFONTA bytes for the title font record.
pkg::Bytes logFont(const std::string& face, int height, int weight);

// Files on disk and their table entries.
std::vector<uint8_t> bytesOf(const std::string& text, size_t repeat);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// An entry that updates rel from `old` (known) to `fresh`.
pkg::TableEntry updateEntry(const std::string& rel, const std::vector<uint8_t>& old,
                            const std::vector<uint8_t>& fresh);

// The destination page's folder field, Browse button and the list control.
const int FOLDER = 1004;
const int FILE_LIST = 1013;
const int BACK = 1007;

// A run that starts the installer and leaves a PNG of every page it waits
// for under the artifact folder, named after the test.
class WizardRun : public wizard::Driver {
public:
    WizardRun(const std::string& installer, const std::string& testName, DWORD timeoutMs = 20000)
        : wizard::Driver(installer, "", timeoutMs), name_(testName) {}
    WizardRun(const std::string& program, const std::string& testName, const std::string& args)
        : wizard::Driver(program, args, 20000), name_(testName) {}
    HWND page(const std::string& title, HWND previous = 0) {
        HWND p = waitPage(title, previous);
        snapshot(name_ + "-" + std::to_string(++shots_) + "-" + slug(title));
        return p;
    }

private:
    static std::string slug(std::string s) {
        for (char& c : s)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return s;
    }
    std::string name_;
    int shots_ = 0;
};

// Next on the welcome and information pages: the destination page.
inline HWND toDestination(WizardRun& run) {
    run.page("Page 0");
    run.press(IDOK);
    run.page("Page 1");
    run.press(IDOK);
    return run.page("Page 2");
}

// The running test's name, for artifacts.
std::string testName();

}  // namespace wiztest
