// The welcome, information, ready and finish pages.
//
// Welcome and information pages only show their texts; an information page
// whose text (1, 1) is empty is passed over in both directions (Back over
// it is the destination page's business). The ready page asks (6, 7) when
// verification had to lift read-only attributes. The finish page reports
// resultCode (or (5, 3) when there was nothing to do) and lists every file
// that has an outcome; it ends the wizard on Cancel without a question.
// After an all-or-nothing run that failed or was cancelled it says that
// nothing was changed, and after one that scheduled files for the next
// restart it asks the user to restart.
#include "base/state.h"
#include "engine/install.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "engine/target.h"
#include "package/filetable.h"
#include "package/format.h"
#include "package/strings.h"
#include "ui/ui.h"

INT_PTR CALLBACK welcomePageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        initPage(page, BTN_NEXT | BTN_CANCEL);
        focusFrameButton(ID_NEXT);  // the page itself has nothing to focus
        return FALSE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == ID_NEXT && !getString(PAGE_INFO, TEXT_INFORMATION)[0]) {
        goToPage(PAGE_DESTINATION);
        return markHandled(page);
    }
    return dialogColourReply(page, message, wParam);
}

INT_PTR CALLBACK infoPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        initPage(page, BTN_BACK | BTN_NEXT | BTN_CANCEL);
        focusFrameButton(ID_NEXT);
        return FALSE;
    }
    return dialogColourReply(page, message, wParam);
}

INT_PTR CALLBACK readyPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        initPage(page, BTN_BACK | BTN_NEXT | BTN_CANCEL);
        setButtonCaption(BTN_NEXT, TEXT_BUTTON_UPDATE);
        focusFrameButton(ID_NEXT);
        return FALSE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == ID_NEXT && state.attributesChanged &&
        showMessage(getString(TABLE_MESSAGES, TEXT_READ_ONLY_QUESTION), MB_QUESTION_YESNO) == BOX_NO)
        return markHandled(page);
    return dialogColourReply(page, message, wParam);
}

// Text of control 1000: the failure, (5, 3) after nothing to do, else (5, 1)
// as initPage left it. A cancel and a pending restart stand alone; any other
// code is framed by (5, 2), or, when an all-or-nothing run failed before it
// changed anything, by TEXT_NOTHING_CHANGED.
static void showResult(HWND page) {
    int code = state.resultCode = finalResultCode();
    char* buffer = static_cast<char*>(allocBuffer(3072));
    if (!buffer) return;
    const char* text = getString(PAGE_FINISH, TEXT_FINISH_TITLE);
    if (code != ERR_NONE) {
        bool changedNothing = (state.options & OPT_ALL_OR_NOTHING) && code != ERR_NOT_REPLACED;
        if (code == ERR_RESTART_NEEDED || (code == ERR_CANCELLED && !changedNothing)) {
            formatMessage(buffer, 1024, code);
        } else {
            formatMessage(buffer + 1024, 1024, code);
            expandText(buffer, 1024, changedNothing ? getString(TABLE_MESSAGES, TEXT_NOTHING_CHANGED) : getString(PAGE_FINISH, TEXT_FINISH_FAILED),
                       buffer + 1024, 0, false);
        }
        text = buffer;
    } else if (state.verifyResult == ERR_NOTHING_TO_DO) {
        text = getString(PAGE_FINISH, TEXT_FINISH_UP_TO_DATE);
    }
    HWND message = GetDlgItem(page, ID_TEXT_FIRST);
    if (message) setScrollingText(message, text);
    freeBlock(buffer);
}

INT_PTR CALLBACK finishPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        initPage(page, BTN_CANCEL | BTN_NO_CONFIRM | (state.verifyResult == ERR_NOTHING_TO_DO ? BTN_BACK : 0));
        showResult(page);
        if (GetDlgItem(page, ID_FILE_LIST)) {
            insertListColumn(page);
            uint32_t i = 0;
            for (FileEntry* e = state.firstEntry; i < state.entryCount; i++, e = nextEntry(e)) {
                resolveTarget(e);
                if (e->outcome) reportOutcome(page, e->outcome, state.targetPath);
            }
        }
        focusFrameButton(ID_CANCEL);
        return FALSE;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case ID_NEXT:
        case ID_CANCEL:
            state.pageResult = PAGE_RESULT_CANCEL;
            return markHandled(page);
        case ID_BACK:
            goToPage(PAGE_DESTINATION);
            return markHandled(page);
        }
    }
    return dialogColourReply(page, message, wParam);
}
