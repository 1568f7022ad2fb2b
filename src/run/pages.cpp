// The page runner and the page sequence.
//
// Each page is a modeless dialog inside the frame, made from a copy of its
// template, and runs in runPage's message loop until the page or the frame
// sets state.pageResult: Next (1) goes on to the following page, Back (1007)
// to the previous one, Cancel (2) ends the wizard, anything else shows the
// same page again. Pages jump with goToPage (ui/frame.cpp). A page that
// cannot be shown ends the wizard (EXIT_PAGE_MISSING): passing it over as
// Next could skip the destination page's check. WM_CLOSE ends it at any page
// (requestClose, ui/frame.cpp).
#include "run/run.h"

#include "base/state.h"
#include "package/loader.h"
#include "package/strings.h"
#include "ui/ui.h"

struct PageRow {
    int templateNumber;
    PageProcedure procedure;
};

static const PageRow pageTable[PAGE_COUNT] = {
    {5, welcomePageProcedure},      // PAGE_WELCOME
    {3, infoPageProcedure},         // PAGE_INFO
    {2, destinationPageProcedure},  // PAGE_DESTINATION
    {5, readyPageProcedure},        // PAGE_READY
    {4, progressPageProcedure},     // PAGE_PROGRESS
    {6, finishPageProcedure},       // PAGE_FINISH
    {TEMPLATE_NONE, 0},             // PAGE_END
};

int runPage(int templateNumber, PageProcedure procedure, LPARAM parameter) {
    state.pageResult = 0;
    if (templateNumber == TEMPLATE_NONE) return PAGE_RESULT_CANCEL;
    void* copy = copyTemplate(templateNumber);
    HWND page = copy ? CreateDialogIndirectParamA(static_cast<HINSTANCE>(state.instance),
                                                  static_cast<LPCDLGTEMPLATEA>(copy),
                                                  static_cast<HWND>(state.frameWindow), procedure, parameter)
                     : 0;
    if (!page) {
        releaseTemplate(copy);
        return 0;
    }
    MSG msg;
    while (state.pageResult == 0) {
        if (GetMessageA(&msg, 0, 0, 0) <= 0) {
            state.pageResult = PAGE_RESULT_CANCEL;  // the quit message is consumed
            break;
        }
        if (IsDialogMessageA(static_cast<HWND>(state.frameWindow), &msg)) continue;
        if (IsDialogMessageA(page, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DestroyWindow(page);
    int result = state.pageResult;
    releaseTemplate(copy);
    return result;
}

int runPageSequence() {
    uint16_t start = stubData.header.startPage;
    state.pageIndex = start != START_PAGE_WIZARD ? start : 0;
    do {
        // A start page beyond the table (7..0xFFFE) ends the wizard, and so
        // does WM_CLOSE, whatever result the page got after it.
        if (state.closing || state.pageIndex < 0 || state.pageIndex >= PAGE_COUNT) break;
        const PageRow& row = pageTable[state.pageIndex];
        int r = runPage(row.templateNumber, row.procedure, 0);
        if (!r) return EXIT_PAGE_MISSING;
        if (start != START_PAGE_WIZARD) break;  // single-page mode
        if (r == PAGE_RESULT_NEXT) {
            state.pageIndex = state.pageIndex >= PAGE_END ? -1 : state.pageIndex + 1;
        } else if (r == PAGE_RESULT_CANCEL) {
            state.pageIndex = -1;
        } else if (r == PAGE_RESULT_BACK) {
            if (state.pageIndex > 0) state.pageIndex--;
        }
    } while (state.pageIndex != -1);
    return EXIT_DONE;
}
