// The command line: "/S path" names the package file (quoted or not), "/DEL"
// marks the temporary copy made for a removable-disk start. '-' works as well
// as '/', letters in any case; only the first three letters of /DEL count, so
// "/DELAY" counts too. programArguments finds the switches in the process's
// whole command line, behind the program's own name.
//
// For administrators: "/Q" runs quietly (state.quiet), "/D=folder" names the
// destination and "/L=file" a log to append to (both quoted or not, into
// state.destinationSwitch and state.logPath), "/?" asks for the list of
// switches (state.showSwitches). "/D" followed by anything but "=" or "EL",
// and "/L" without "=", are ignored like any other unknown switch.
#pragma once
#include <stdint.h>

// False when the block for a /D= or /L= value cannot be had.
bool parseCommandLine(const char* text);

// True when the text holds /Q among its switches; reads nothing into state
// (for the single-instance check, which runs before the text buffers exist).
bool quietSwitchGiven(const char* text);

// Reads one argument into destination (capacity bytes, always terminated; the
// rest of an over-long argument is consumed). Returns the position behind it.
const char* readArgument(const char* text, char* destination, uint32_t capacity);

// The command line behind the program's name (quoted to the next quote, or
// else up to the first blank or control character) and the blanks that
// follow it: what the entry point hands to parseCommandLine.
const char* programArguments(const char* commandLine);
