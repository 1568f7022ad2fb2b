// The page runner and the page sequence.
//
// Each page is a modeless dialog inside the frame, made from a copy of its
// template, and runs in runPage's message loop until the page or the frame
// sets state.pageResult: Next (1) goes on to the following page, Back (1007)
// to the previous one, Cancel (2) ends the wizard, anything else shows the
// same page again. Pages jump with goToPage.
#include "run/run.h"

#include "package/loader.h"
#include "package/strings.h"
#include "run/state.h"
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

void goToPage(int n) {
    state.pageIndex = n - 1;
    state.pageResult = PAGE_RESULT_NEXT;
}

int runPage(int templateNumber, PageProcedure procedure, LPARAM parameter) {
    state.pageResult = 0;
    if (templateNumber == TEMPLATE_NONE) return PAGE_RESULT_CANCEL;
    void* copy = copyTemplate(templateNumber);
    if (!copy) return PAGE_RESULT_NEXT;  // passed over as if Next was pressed
    HWND page = CreateDialogIndirectParamA(static_cast<HINSTANCE>(state.instance),
                                           static_cast<LPCDLGTEMPLATEA>(copy),
                                           static_cast<HWND>(state.frameWindow), procedure, parameter);
    if (!page) {
        releaseTemplate(copy);
        return PAGE_RESULT_CANCEL;
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

void runPageSequence() {
    uint16_t start = stubData.header.startPage;
    state.pageIndex = start != START_PAGE_WIZARD ? start : 0;
    do {
        // A start page beyond the table (7..0xFFFE) ends the wizard.
        if (state.pageIndex < 0 || state.pageIndex >= PAGE_COUNT) break;
        const PageRow& row = pageTable[state.pageIndex];
        int r = runPage(row.templateNumber, row.procedure, 0);
        if (start != START_PAGE_WIZARD) break;  // single-page mode
        if (r == PAGE_RESULT_NEXT) {
            state.pageIndex = state.pageIndex >= PAGE_END ? -1 : state.pageIndex + 1;
        } else if (r == PAGE_RESULT_CANCEL) {
            state.pageIndex = -1;
        } else if (r == PAGE_RESULT_BACK) {
            if (state.pageIndex > 0) state.pageIndex--;
        }
    } while (state.pageIndex != -1);
}
