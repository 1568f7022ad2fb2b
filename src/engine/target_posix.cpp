// resolveTarget on POSIX: the destination folder plus the relative path,
// with the table's backslashes turned into slashes.
//
// There is no Windows folder and no version API here. Files the table places
// in the Windows folder or among the shared files resolve inside the
// destination folder at their relative path, which is where the packaging
// tool reads them from a version folder; so a version folder can be checked
// whole. The shared-file search is never consulted.
#include "engine/target.h"

#include <string.h>

#include "engine/paths.h"
#include "run/state.h"

SharedFileSearch sharedFileSearch = 0;

int resolveTarget(FileEntry* entry) {
    copyText(state.targetPath, state.destinationDir);
    size_t n = strlen(state.targetPath);
    if (n && state.targetPath[n - 1] != '/') appendText(state.targetPath, "/");
    size_t from = strlen(state.targetPath);
    appendText(state.targetPath, entryName(entry, 0));
    for (char* p = state.targetPath + from; *p; p++)
        if (*p == '\\') *p = '/';
    return 0;
}
