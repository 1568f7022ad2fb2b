// The command line: "/S path" names the package file (quoted or not), "/DEL"
// marks the temporary copy made for a removable-disk start. '-' works as well
// as '/', letters in any case; only the first three letters of /DEL count, so
// "/DELAY" counts too. programArguments finds the switches in the process's
// whole command line, behind the program's own name.
#pragma once
#include <stdint.h>

void parseCommandLine(const char* text);

// Reads one argument into destination (capacity bytes, always terminated; the
// rest of an over-long argument is consumed). Returns the position behind it.
const char* readArgument(const char* text, char* destination, uint32_t capacity);

// The command line behind the program's name (quoted to the next quote, or
// else up to the first blank or control character) and the blanks that
// follow it: what the entry point hands to parseCommandLine.
const char* programArguments(const char* commandLine);
