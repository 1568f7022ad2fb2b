// Dialog templates for the package, taken from a compiled resource file.
//
// A publisher writes the wizard's layouts as DIALOG resources in a .rc
// script, numbered by template number (0-7 and 9), and compiles it with a
// resource compiler (windres -O res). The package wants them as one blob: an
// index of 32-bit offsets, one per template number 0..9, counted from the
// blob's start, then the templates, each on a 4-byte boundary. Number 8 is
// never shown; its index entry points at the blob's end.
#pragma once
#include <map>
#include <stdexcept>
#include <string>

#include "pkg/writer.h"

namespace pkg {

struct ResourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// True when the bytes begin like a 32-bit .res file (its empty first entry).
bool isResourceFile(const Bytes& file);

// Every DIALOG resource with a numeric name, by number. Throws ResourceError
// naming `what` when the file is not a well-formed .res.
std::map<unsigned, Bytes> dialogResources(const Bytes& file, const std::string& what);

// The blob of templates 0..9. Throws ResourceError naming the first missing
// template (8 excepted), or one whose remainder of the blob exceeds the
// 16,384 bytes the installer copies.
Bytes templateBlobFromDialogs(const std::map<unsigned, Bytes>& dialogs, const std::string& what);

const unsigned TEMPLATE_COUNT = 10;

// Throws ResourceError naming `what` unless every template 0-7 and 9 of the
// blob walks (walkDialogTemplate) within the bytes the installer copies:
// one that does not would count as missing, and the wizard would not run.
void checkTemplateBlob(const Bytes& blob, const std::string& what);

}  // namespace pkg
