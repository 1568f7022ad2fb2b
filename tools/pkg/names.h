// Names as Windows sees them: how updpack compares the relative paths of
// different versions, which names Windows cannot hold, and how long a
// relative path may be.
//
// Windows compares names without case. nameKey is the one place that says
// how. Names here are UTF-8 and hold only characters the installer's code
// page holds exactly (pkg/codepage.h; the version folders are checked when
// read), so comparing them after the conversion is comparing their
// characters: an ANSI program's name goes to Unicode through its code page,
// and the file system compares Unicode characters by its case table
// (windowsUpper). A two-byte character is one character here: its second
// byte is never taken for a letter or a backslash. Bytes that are no UTF-8
// are compared as they are.
#pragma once
#include <cstddef>
#include <string>

namespace pkg {

// The key two relative paths are compared by ("Docs/ReadMe.TXT" and
// "docs\readme.txt" have the same key, and so have "b\xC3\xBCro" and
// "B\xC3\x9CRO", Buero with u-umlaut in either case).
std::string nameKey(const std::string& relativePath);
// The key as characters, for matching patterns character by character.
std::u32string nameKeyChars(const std::string& relativePath);
bool sameName(const std::string& a, const std::string& b);

// Why Windows cannot hold this relative path, or "" when it can: a component
// with one of < > : " | ? * or a control character, one that ends in a dot
// or a space, or a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// also with an extension).
std::string windowsNameProblem(const std::string& relativePath);

// Installer paths hold at most 259 characters, the installation folder and
// the ".$$A" of a temporary file included. A relative path of at most
// RELATIVE_PATH_BUDGET characters fits below an installation folder of up to
// DESTINATION_BUDGET characters (its final backslash counted).
const size_t PATH_LIMIT = 259;
const size_t RELATIVE_PATH_BUDGET = 200;
const size_t DESTINATION_BUDGET = PATH_LIMIT - 4 - RELATIVE_PATH_BUDGET;

}  // namespace pkg
