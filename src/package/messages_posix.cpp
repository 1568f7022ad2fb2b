// Native stand-ins for message boxes and template copies, so platform-free
// code links in the packaging tool and native tests. A message box is
// recorded in nativeMessages and answered with nativeMessageAnswer.
#include <string.h>

#include "base/state.h"
#include "package/fileops.h"
#include "package/native_messages.h"
#include "package/paths.h"
#include "package/strings.h"
#include "package/templates.h"

NativeMessages nativeMessages;
int nativeMessageAnswer = BOX_OK;

int showMessage(const char* text, unsigned flags) {
    nativeMessages.count++;
    copyText(nativeMessages.lastText, text);
    nativeMessages.lastFlags = flags;
    return nativeMessageAnswer;
}

void* copyTemplate(unsigned number) {
    uint32_t offset, length;
    if (!templateSpan(number, &offset, &length)) return 0;
    void* block = allocZeroed(TEMPLATE_COPY_SIZE);
    if (block) memcpy(block, state.templateBlob + offset, length);
    return block;
}

void releaseTemplate(void* block) { freeBlock(block); }
