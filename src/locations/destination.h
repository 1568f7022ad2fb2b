// The destination folder the installer proposes.
//
// expandDestination runs once after the package has loaded and rewrites
// state.destinationDir (holding the package's default text, or empty):
//  - a registry value the package names (root index, sub-key, value), or
//  - an INI entry it names (file, section, key), each cut back character by
//    character to the longest text that is an existing folder, then respelled
//    as the file system spells it; this leaves the process's current
//    directory at that folder;
//  - otherwise (or when the registry key cannot be opened) a leading macro
//    "#Windows#", "#System#" or "#Program Files#" in the default text is
//    expanded; an unknown macro expands to nothing.
// Results are cut to 259 characters.
#pragma once

void expandDestination();

// Rewrites path in place with every component as the file system reports it
// (letter case, long names) and without a trailing backslash. Leaves the path
// exactly as it was when any component cannot be found or the result would
// not fit 259 characters.
void normalizePathCase(char* path);
