// The ANSI code page names and texts are read in, as far as the installer
// needs to know it: which bytes begin a two-byte character.
//
// In the double-byte code pages (932, 936, 949, 950) the second byte of a
// character may be 0x5C, the backslash, or an ASCII letter: code that looks
// for a separator steps over such characters.
//
// Win32 (codepage_win32.cpp): the system's ANSI code page, IsDBCSLeadByte.
// POSIX (codepage_posix.cpp): leadByteFlags, which a tool points at the lead
// bytes of the code page it reads a package in; none by default.
#pragma once
#include <stdint.h>

bool isLeadByte(char c);

// POSIX only: 256 flags, nonzero for a lead byte; null for none.
extern const uint8_t* leadByteFlags;
