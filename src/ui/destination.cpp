// The destination page and the two folder dialogs.
//
// The page shows destinationDir in control 1004 (without its trailing
// backslash), and on Next makes the typed folder absolute, enters it as the
// current directory and runs the verification. ERR_NOTHING_TO_DO jumps to
// the finish page; any other failure is shown under the heading (6, 8) and
// the page stays. destinationDir is kept with a trailing backslash.
//
// browseForFolder runs the old-style save dialog on template 7 as a folder
// chooser: its hook mirrors the dialog's current directory into control 101
// and closes the dialog with IDABORT when OK is pressed on a folder. Both
// dialogs are modal over the whole wizard (package/modal.h); one browse dialog
// and one verification run at a time.
// showAlternateFolderDialog (template 9) asks for a second folder holding
// the files whose installed copy matches no known version; the verification
// calls it through its alternateFolderDialog seam.
#include <windows.h>
#include <commdlg.h>
#include <string.h>

#include "base/state.h"
#include "engine/journal.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/fileops.h"
#include "package/filetable.h"
#include "package/format.h"
#include "package/modal.h"
#include "package/paths.h"
#include "package/strings.h"
#include "ui/ui.h"

const int ID_BROWSE_FOLDER = 101;   // template 7: the folder being chosen
const int ID_BROWSE_LABEL1 = 1009;  // template 7: labels (6, 2), (6, 3)
const int ID_BROWSE_LABEL2 = 1091;

static void readFolderField(HWND dialog, char* into) {
    into[0] = 0;
    GetDlgItemTextA(dialog, ID_FOLDER_EDIT, into, TEXT_CAPACITY);
    into[TEXT_MAX] = 0;
}

static void restoreStatusTexts(HWND page) {
    for (int i = TEXT_DESTINATION_TEXT; i <= TEXT_DESTINATION_HINT; i++)
        setControlText(page, ID_TEXT_FIRST + i - TEXT_PAGE_FIRST, getString(PAGE_DESTINATION, i));
}

// Set while the verification runs (it may open dialogs with their own
// message loops): a second Next then does nothing.
static bool verifying;

// Next: the typed folder must exist, then verification decides.
static bool acceptFolder(HWND page) {
    char* dir = state.destinationDir;
    readFolderField(page, dir);
    stripBackslash(dir);
    DWORD n = GetFullPathNameA(dir, TEXT_CAPACITY, state.targetPath, 0);
    if (n && n < TEXT_CAPACITY) copyText(dir, state.targetPath);
    if (!SetCurrentDirectoryA(dir)) {
        showMessage(getString(TABLE_MESSAGES, TEXT_FOLDER_UNUSABLE), MB_INFO);
        return false;
    }
    appendBackslash(dir);
    setControlText(page, ID_TEXT_FIRST + 1, getString(TABLE_MESSAGES, TEXT_CHECKING));
    setControlText(page, ID_TEXT_FIRST + 2, "");
    setControlText(page, ID_TEXT_FIRST + 3, "");
    UpdateWindow(page);
    // The frame's buttons rest while the files are read; what the user
    // pressed meanwhile is dropped, so that no click lands on the next page.
    unsigned mask = state.buttonMask;
    setButtonMask(mask & BTN_NO_CONFIRM);
    verifying = true;
    // What a killed all-or-nothing run left in this folder goes first.
    if (state.options & OPT_ALL_OR_NOTHING) recoverJournal();
    state.verifyResult = verifyInstallation();
    verifying = false;
    dropQueuedInput();
    if (state.verifyResult == ERR_NONE) return true;
    setButtonMask(mask);
    if (state.verifyResult == ERR_NOTHING_TO_DO) {
        goToPage(PAGE_FINISH);
        return false;
    }
    if (char* text = static_cast<char*>(allocBuffer(1024))) {
        // The heading as it stands, an empty line, then the message.
        uint32_t used = 0;
        for (const char* p = getString(TABLE_MESSAGES, TEXT_WRONG_FOLDER); *p && used < 1021; p++) text[used++] = *p;
        text[used++] = '\n';
        text[used++] = '\n';
        formatMessage(text + used, 1024 - used, state.verifyResult);
        showMessage(text, MB_INFO);
        freeBlock(text);
    }
    restoreStatusTexts(page);
    return false;
}

static void browseInto(HWND dialog, char* folder) {
    readFolderField(dialog, folder);
    browseForFolder(folder);
    stripBackslash(folder);
    SetDlgItemTextA(dialog, ID_FOLDER_EDIT, folder);
}

INT_PTR CALLBACK destinationPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        // The verification asks for a second folder through this page's dialog.
        alternateFolderDialog = showAlternateFolderDialog;
        initPage(page, BTN_BACK | BTN_NEXT | BTN_CANCEL);
        stripBackslash(state.destinationDir);
        setControlText(page, ID_FOLDER_EDIT, state.destinationDir);
        appendBackslash(state.destinationDir);
        SetFocus(GetDlgItem(page, ID_FOLDER_EDIT));
        return FALSE;
    }
    if (message == WM_COMMAND) {
        int id = LOWORD(wParam);
        if (id == ID_BROWSE) {
            browseInto(page, state.destinationDir);
            return FALSE;
        }
        // In single-page mode Next and Back belong to the frame.
        if (singlePageMode()) return FALSE;
        if (id == ID_NEXT) {
            if (!verifying && acceptFolder(page)) return FALSE;
            return markHandled(page);
        }
        if (id == ID_BACK && !getString(PAGE_INFO, TEXT_INFORMATION)[0]) {
            goToPage(PAGE_WELCOME);
            return markHandled(page);
        }
    }
    return dialogColourReply(page, message, wParam);
}

void centreDialog(HWND dialog) {
    RECT parent = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    HWND owner = GetParent(dialog);
    if (owner) GetWindowRect(owner, &parent);
    RECT own;
    GetWindowRect(dialog, &own);
    int x = parent.left + ((parent.right - parent.left) - (own.right - own.left)) / 2;
    int y = parent.top + ((parent.bottom - parent.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(dialog, 0, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static UINT_PTR CALLBACK browseHook(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == state.browseSelChangeMessage && state.browseSelChangeMessage) {
        if (state.browseHookReady) {
            DWORD n = GetFullPathNameA(".", TEXT_CAPACITY, state.browseFolder, 0);
            // The path is in the ANSI code page already, as every text here.
            if (!n || n >= TEXT_CAPACITY) state.browseFolder[0] = 0;
            SetDlgItemTextA(dialog, ID_BROWSE_FOLDER, state.browseFolder);
        }
        return 0;
    }
    switch (message) {
    case WM_INITDIALOG:
        setFrontDialog(dialog);
        applyDialogFont(dialog);
        SetDlgItemTextA(dialog, ID_BROWSE_FOLDER, state.browseFolder);
        state.browseHookReady = 1;
        SetWindowTextA(dialog, getString(TABLE_MESSAGES, TEXT_BROWSE_TITLE));
        SetDlgItemTextA(dialog, ID_BROWSE_LABEL1, getString(TABLE_MESSAGES, TEXT_BROWSE_FOLDER));
        SetDlgItemTextA(dialog, ID_BROWSE_LABEL2, getString(TABLE_MESSAGES, TEXT_BROWSE_DRIVES));
        SetDlgItemTextA(dialog, IDOK, getString(TABLE_BUTTONS, TEXT_BUTTON_OK));
        SetDlgItemTextA(dialog, IDCANCEL, getString(TABLE_BUTTONS, TEXT_BUTTON_DIALOG_CANCEL));
        centreDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            state.browseFolder[0] = 0;
            GetDlgItemTextA(dialog, ID_BROWSE_FOLDER, state.browseFolder, TEXT_CAPACITY);
            state.browseFolder[TEXT_MAX] = 0;
            // IDABORT with lParam 1 closes the dialog; GetSaveFileNameA then
            // returns 1, the low word of that lParam.
            if (state.browseFolder[0]) PostMessageA(dialog, WM_COMMAND, IDABORT, 1);
        }
        return 0;
    }
    return 0;
}

void browseForFolder(char* folder) {
    if (state.browseFolder) return;  // one browse dialog at a time
    if (!state.browseSelChangeMessage) state.browseSelChangeMessage = RegisterWindowMessageA("commdlg_LBSelChangedNotify");
    state.browseFolder = static_cast<char*>(allocZeroed(TEXT_CAPACITY));
    char* fileName = static_cast<char*>(allocZeroed(TEXT_CAPACITY));
    OPENFILENAMEA* ofn = static_cast<OPENFILENAMEA*>(allocZeroed(sizeof(OPENFILENAMEA)));
    void* layout = copyTemplate(TEMPLATE_BROWSE);
    if (ofn && state.browseFolder && fileName && layout) {
        // Old-style dialog: the structure without the Windows 2000 tail.
        ModalScope scope;
        ofn->lStructSize = OPENFILENAME_SIZE_VERSION_400A;
        ofn->hwndOwner = beginModal(&scope);
        ofn->hInstance = static_cast<HINSTANCE>(layout);  // the locked copy serves as the handle
        ofn->lpstrFilter = "*.*\0*.*\0";
        ofn->nFilterIndex = 1;
        ofn->lpstrFile = fileName;
        ofn->nMaxFile = TEXT_CAPACITY;
        copyText(state.browseFolder, folder);
        ofn->lpstrInitialDir = state.browseFolder;
        ofn->Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE;
        ofn->lpfnHook = browseHook;
        state.browseHookReady = 0;
        if (GetSaveFileNameA(ofn)) copyText(folder, state.browseFolder);
        endModal(&scope);
    }
    releaseTemplate(layout);
    freeBuffer(ofn);
    freeBuffer(fileName);
    freeBuffer(state.browseFolder);
}

// OK in the alternate-folder dialog: every file still unidentified that may
// be looked for elsewhere must be there; the first one missing is named.
static bool alternateFolderHolds(const char* folder) {
    char candidate[TEXT_CAPACITY];
    uint32_t i = 0;
    for (FileEntry* e = state.firstEntry; i < state.entryCount; i++, e = nextEntry(e)) {
        if (e->chosenVersion != CV_NONE || e->onUnknownVersion != UNK_ASK_FOLDER) continue;
        copyText(candidate, folder);
        const char* sub = entryName(e, 1);
        uint32_t n = static_cast<uint32_t>(strlen(candidate));
        for (const char* p = sub; *p && n < TEXT_MAX; p++) candidate[n++] = *p;
        candidate[n] = 0;
        if (sub[0]) appendBackslash(candidate);
        n = static_cast<uint32_t>(strlen(candidate));
        for (const char* p = entryName(e, 0); *p && n < TEXT_MAX; p++) candidate[n++] = *p;
        candidate[n] = 0;
        FileHandle f = openFile(candidate, OPEN_READ);
        if (f == INVALID_FILE) {
            setMessageSubject(candidate);
            if (char* text = static_cast<char*>(allocBuffer(1024))) {
                formatMessage(text, 1024, ERR_FILE_MISSING);
                showMessage(text, MB_INFO);
                freeBlock(text);
            }
            return false;
        }
        closeFile(f);
    }
    return true;
}

static INT_PTR CALLBACK alternateFolderProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    char folder[TEXT_CAPACITY];
    if (message == WM_INITDIALOG) {
        setFrontDialog(dialog);
        applyDialogFont(dialog);
        SetWindowTextA(dialog, getString(TABLE_MESSAGES, TEXT_CAPTION));
        SetDlgItemTextA(dialog, ID_TEXT_FIRST, getString(TABLE_MESSAGES, TEXT_LOCATE));
        SetDlgItemTextA(dialog, IDOK, getString(TABLE_BUTTONS, TEXT_BUTTON_OK));
        SetDlgItemTextA(dialog, IDCANCEL, getString(TABLE_BUTTONS, TEXT_BUTTON_DIALOG_CANCEL));
        centreDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return 0;
    switch (LOWORD(wParam)) {
    case IDOK:
        readFolderField(dialog, folder);
        if (!folder[0]) {
            showMessage(getString(TABLE_MESSAGES, TEXT_FOLDER_UNUSABLE), MB_INFO);
            break;
        }
        appendBackslash(folder);
        if (alternateFolderHolds(folder)) {
            copyText(state.alternateFolder, folder);
            EndDialog(dialog, IDOK);
        }
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    case ID_BROWSE:
        browseInto(dialog, folder);
        break;
    }
    return 0;
}

// The verification names the background window as owner; the dialog goes
// to the window in front instead, which is the frame in full screen.
bool showAlternateFolderDialog(void*) {
    void* layout = copyTemplate(TEMPLATE_LOCATE);
    if (!layout) return false;
    ModalScope scope;
    HWND owner = beginModal(&scope);
    INT_PTR r = DialogBoxIndirectParamA(static_cast<HINSTANCE>(state.instance),
                                        static_cast<LPCDLGTEMPLATEA>(layout), owner,
                                        alternateFolderProcedure, 0);
    endModal(&scope);
    releaseTemplate(layout);
    return r == IDOK;
}
