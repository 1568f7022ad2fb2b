// The wizard driver: runs an installer as a user would and reports what it
// shows. It starts the program, waits for each page, reads texts and the
// lines of list views (in another process, through memory allocated there),
// presses buttons, types into fields and answers message boxes by their
// text. Windows are found by their place in the wizard: the background
// window of class "UpdShClass", the frame (its dialog child, or in full
// screen its owned pop-up with the Back/Next/Cancel buttons), the page (the
// frame's dialog child), and dialogs (the process's other top-level dialog
// windows: message boxes, the folder dialogs).
//
// Every wait polls with a deadline and fails with a message naming what it
// waited for, so a test never hangs on a wizard that went elsewhere.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wizard {

struct Failure : std::exception {
    std::string what_;
    explicit Failure(std::string w) : what_(std::move(w)) {}
    const char* what() const noexcept override { return what_.c_str(); }
};

// The screen as 0x00RRGGBB pixels, row by row from the top.
struct Screen {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
Screen captureScreen();
inline int red(uint32_t p) { return (p >> 16) & 0xFF; }
inline int green(uint32_t p) { return (p >> 8) & 0xFF; }
inline int blue(uint32_t p) { return p & 0xFF; }

// Text of a window of any process (WM_GETTEXT, which the system carries
// across processes).
std::string windowText(HWND window);
std::string className(HWND window);

// Starts `"program" args`. A start the system refuses is tried again, ten
// times in all (a busy Wine now and then refuses one); the last refusal
// throws Failure with the system's error code. The caller closes the handles.
PROCESS_INFORMATION startProgram(const std::string& program, const std::string& args);

class Driver {
public:
    // Starts `program args`; artifacts (page PNGs) go to artifactDir/name-N.png.
    Driver(const std::string& program, const std::string& args = "", DWORD timeoutMs = 20000);
    // Takes over a running installer (for example the copy that a start
    // from a removable disk hands over to).
    Driver(DWORD processId, DWORD timeoutMs);
    ~Driver();  // ends the program if it still runs
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    DWORD processId() const { return pid_; }
    // Waits for the program's end; false on the deadline.
    bool waitExit(DWORD* code, DWORD timeoutMs = 20000);
    bool running() const;

    HWND background();  // waits until it is visible
    HWND frame();
    // The page on screen now (0 between pages).
    HWND currentPage();
    // Waits for a page other than `previous` whose background or frame
    // caption contains `title` (empty: any page), and lets it paint.
    HWND waitPage(const std::string& title, HWND previous = 0);
    // Caption of the background window, or in full screen of the frame.
    std::string caption();

    std::string controlText(HWND dialog, int id);
    bool controlExists(HWND dialog, int id);
    bool buttonEnabled(int id);  // a frame button
    std::string buttonText(int id);
    // Presses a frame button; throws when it is disabled.
    void press(int id);
    // Sends the command without looking at the button (the frame acts on it).
    void command(HWND window, int id);
    void type(HWND dialog, int id, const std::string& text);
    std::vector<std::string> listLines(HWND dialog, int id);

    // A top-level dialog of the program other than the frame whose text
    // (caption and static texts) contains `text`.
    HWND waitDialog(const std::string& text, DWORD timeoutMs = 10000);
    bool dialogShown(const std::string& text);
    // The static texts of a dialog, joined with newlines.
    std::string dialogText(HWND dialog);
    // Presses button id (IDYES, IDNO, IDOK, ...) of the dialog that shows text;
    // returns the full text the dialog showed.
    std::string answer(const std::string& text, int id, DWORD timeoutMs = 10000);

    // Saves the screen as artifactDir/<name>.png (ImageMagick's import); a
    // name that is an absolute Unix path is used as it stands.
    void snapshot(const std::string& name);
    // Lets the program work off its pending messages and paint.
    void settle(DWORD ms = 150);

    static std::string artifactDir();

private:
    std::vector<HWND> topLevel();
    HWND findFrame(HWND background);
    HWND frameIfShown();
    HANDLE process_ = 0;
    DWORD pid_ = 0;
    DWORD timeout_;
    HWND background_ = 0;
};

}  // namespace wizard
