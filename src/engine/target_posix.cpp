// resolveTarget on POSIX: the destination folder plus the relative path,
// with the table's backslashes turned into slashes.
//
// There is no Windows folder and no version API here. Files the table places
// in the Windows folder or among the shared files resolve inside the
// destination folder at their relative path, which is where the packaging
// tool reads them from a version folder; so a version folder can be checked
// whole. The shared-file search is never consulted.
//
// Names are found as Windows finds them, without case (nameMatch; ASCII
// letters unless the tool says more): a component that is not there as
// written is looked up among its folder's entries, and the name found on
// the disk is used.
#include "engine/target.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include "base/state.h"
#include "package/paths.h"

SharedFileSearch sharedFileSearch = 0;
NameMatch nameMatch = samePathIgnoringCase;


// Replaces the component at `from` (ending at the next '/' or the end) by
// the name of the folder's entry that equals it without case, if it is not
// there as written.
static void findComponent(char* path, size_t from) {
    struct stat st;
    char* end = strchr(path + from, '/');
    char saved = end ? *end : 0;
    if (end) *end = 0;
    if (lstat(path, &st) != 0 && from > 0) {
        path[from - 1] = 0;  // the folder
        DIR* dir = opendir(from > 1 ? path : "/");
        path[from - 1] = '/';
        if (dir) {
            for (struct dirent* d; (d = readdir(dir)) != 0;)
                if (strlen(d->d_name) == strlen(path + from) && nameMatch(d->d_name, path + from)) {
                    memcpy(path + from, d->d_name, strlen(d->d_name));
                    break;
                }
            closedir(dir);
        }
    }
    if (end) *end = saved;
}

int resolveTarget(FileEntry* entry) {
    copyText(state.targetPath, state.destinationDir);
    size_t n = strlen(state.targetPath);
    if (n && state.targetPath[n - 1] != '/') appendText(state.targetPath, "/");
    size_t from = strlen(state.targetPath);
    appendText(state.targetPath, entryName(entry, 0));
    for (char* p = state.targetPath + from; *p; p++)
        if (*p == '\\') *p = '/';
    for (size_t at = from; state.targetPath[at];) {
        findComponent(state.targetPath, at);
        char* next = strchr(state.targetPath + at, '/');
        if (!next) break;
        at = static_cast<size_t>(next - state.targetPath) + 1;
    }
    return ERR_NONE;
}
