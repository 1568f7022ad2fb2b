// File-tree helpers of the Windows test programs (tempdir_win32.cpp):
// walking every file under a folder, and removing a folder with everything
// in it (read-only files too). Paths are Windows paths joined with '\\'.
#pragma once
#include <functional>
#include <string>

namespace testcommon {

// Calls f(folder, name) for every file under dir, in every subfolder.
void forEachFile(const std::string& dir, const std::function<void(const std::string&, const std::string&)>& f);
// Removes dir with everything in it.
void removeTree(const std::string& dir);

}  // namespace testcommon
