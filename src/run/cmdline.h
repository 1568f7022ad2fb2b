// The command line: "/S path" names the package file (quoted or not), "/DEL"
// marks the temporary copy made for a removable-disk start. '-' works as well
// as '/', letters in any case; only the first three letters of /DEL count, so
// "/DELAY" counts too.
#pragma once
#include <stdint.h>

void parseCommandLine(const char* text);

// Reads one argument into destination (capacity bytes, always terminated; the
// rest of an over-long argument is consumed). Returns the position behind it.
const char* readArgument(const char* text, char* destination, uint32_t capacity);
