// The run's text buffers and the path helpers that work on them.
//
// The eight text buffers of the state record are 260-byte heap blocks
// (TEXT_CAPACITY). All helpers work in place on such buffers and never let a
// text grow past 259 characters: what does not fit is cut off, and
// state.textCut says so (the engine refuses such a path rather than use it).
//
// Texts are in the ANSI code page. In a double-byte one (932, 936, 949, 950)
// the second byte of a character may be 0x5C, the backslash: the helpers
// that look for a separator step over such characters (package/codepage.h).
#pragma once
#include <stdint.h>

#include "base/state.h"
#include "package/codepage.h"

// The eight 260-byte text buffers, zero-filled, in their fixed order.
// False when memory runs out (what was had stays allocated).
bool allocateTextBuffers();
// Frees the text buffers and the texts of the /D= and /L= switches.
void releaseSessionBuffers();

// Copies at most TEXT_MAX characters of text into a 260-byte buffer; sets
// state.textCut when the text was longer.
void copyText(char* destination, const char* text);

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
// Compares two paths without regard to ASCII letter case (a two-byte
// character's second byte is no letter).
bool samePathIgnoringCase(const char* a, const char* b);
// The last "\\" of s that is a separator, or null (strrchr's shape).
char* lastBackslash(const char* s);
// The first "\\" of s that is a separator, or null (strchr's shape).
char* nextBackslash(const char* s);
// The start of the last character of s, or null for an empty text.
char* lastChar(char* s);
