// Message boxes and dialog-template copies (Win32).
#include <windows.h>
#include <string.h>

#include "base/state.h"
#include "package/modal.h"
#include "package/strings.h"
#include "package/templates.h"

int showMessage(const char* text, unsigned flags) {
    if (state.closing) return 0;  // WM_CLOSE: no one is asked any more
    if (state.quiet) return 0;    // /Q: no box; questions count as declined
    // Owned by the window in front, with the whole wizard behind it disabled.
    ModalScope scope;
    HWND owner = beginModal(&scope);
    int answer = MessageBoxA(owner, text, getString(TABLE_MESSAGES, TEXT_CAPTION), flags);
    endModal(&scope);
    return answer;
}

// A template copy is a movable global block the platform can build a dialog
// from; it lives as long as the dialog.
void* copyTemplate(unsigned number) {
    uint32_t offset, length;
    if (!templateSpan(number, &offset, &length)) return 0;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, TEMPLATE_COPY_SIZE);
    if (!handle) return 0;
    void* block = GlobalLock(handle);
    if (!block) {
        GlobalFree(handle);
        return 0;
    }
    memcpy(block, state.templateBlob + offset, length);
    return block;
}

void releaseTemplate(void* block) {
    if (!block) return;
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}
