// Path helpers of the engine and the pages.
//
// All work in place on 260-byte text buffers (TEXT_CAPACITY) and never let a
// text grow past 259 characters: what does not fit is cut off, and
// state.textCut says so (the engine refuses such a path rather than use it).
#pragma once
#include <stdint.h>

// Appends "\" unless s is empty or already ends with one.
void appendBackslash(char* s);
// Removes a final "\" when s is longer than 3 characters (C:\ keeps it).
void stripBackslash(char* s);
// Replaces the extension of the last component by ext (".$$A"), or appends
// ext when the last component has none. "\" and "/" both end a folder.
void replaceExtension(char* s, const char* ext);
// The first temporary name of the entry in hand: state.targetPath with its
// extension replaced by ".$$A", into state.scratchPath. Returns the index of
// its last character, the letter that steps.
uint32_t temporaryName();
// Shortens a path for display to about maxLen characters by putting "..." in
// place of the middle folders; the first folder and the file name are kept,
// so the result can still be longer than maxLen.
void shortenPath(char* s, uint32_t maxLen);
// Appends text to a 260-byte buffer, cut at 259 characters.
void appendText(char* s, const char* text);
// Compares two paths without regard to ASCII letter case.
bool samePathIgnoringCase(const char* a, const char* b);
