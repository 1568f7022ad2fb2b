// wizard_walk: takes an installer through the whole wizard as a user would,
// saving a PNG of every page, and prints what the finish page reports.
//
//   wizard_walk [--hold FILE] INSTALLER FOLDER NAME
//
// --hold opens FILE on the ready page, after verification, and keeps it open
// to the end, readable by others but not replaceable, as a running program
// holds its own files.
// FOLDER is typed on the destination page; pictures go to NAME-N-page.png
// (NAME an absolute Unix path, or a name in the artifact folder). Exit code
// 0 when the wizard ran to its end.
#include <cstdio>

#include "driver.h"

int main(int argc, char** argv) {
    HANDLE held = INVALID_HANDLE_VALUE;
    const char* hold = 0;
    if (argc == 6 && std::string(argv[1]) == "--hold") {
        hold = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: wizard_walk [--hold FILE] INSTALLER FOLDER NAME\n");
        return 2;
    }
    std::string name = argv[3];
    try {
        wizard::Driver run(argv[1]);
        int shot = 0;
        auto snap = [&](const char* what) {
            run.snapshot(name + "-" + std::to_string(++shot) + "-" + what);
            std::printf("page: %s  [%s]\n", what, run.caption().c_str());
        };
        HWND page = run.waitPage("");
        snap("welcome");
        run.press(IDOK);
        page = run.waitPage("", page);
        if (run.controlExists(page, 1004) == false) {  // the information page
            snap("information");
            run.press(IDOK);
            page = run.waitPage("", page);
        }
        std::printf("proposed folder: %s\n", run.controlText(page, 1004).c_str());
        std::printf("browse button: %s\n", run.controlText(page, 1005).c_str());
        std::printf("back button: %s\n", run.buttonText(1007).c_str());
        run.type(page, 1004, argv[2]);
        snap("destination");
        run.press(IDOK);
        page = run.waitPage("", page);
        if (run.controlExists(page, 1013)) {
            std::printf("nothing to update\n");
        } else {
            snap("ready");
            if (hold) {
                held = CreateFileA(hold, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
                if (held == INVALID_HANDLE_VALUE) throw wizard::Failure(std::string("cannot hold ") + hold);
            }
            run.press(IDOK);
            // The ready page may ask before changing read-only files.
            for (int i = 0; i < 20 && run.currentPage() == page; i++) {
                if (run.dialogShown("")) {
                    std::printf("question: %s -> Yes\n", run.answer("", IDYES).c_str());
                    break;
                }
                run.settle(100);
            }
            page = run.waitPage("", page);
            if (run.controlExists(page, 1009)) {
                snap("progress");
                page = run.waitPage("", page);
            }
        }
        snap("finish");
        std::printf("result: %s\n", run.controlText(page, 1000).c_str());
        for (const auto& line : run.listLines(page, 1013)) std::printf("  %s\n", line.c_str());
        run.press(IDCANCEL);
        DWORD code = 1;
        if (!run.waitExit(&code)) throw wizard::Failure("the installer did not end");
        std::printf("installer exit code %lu\n", code);
        return code == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wizard_walk: %s\n", e.what());
        return 1;
    }
}
