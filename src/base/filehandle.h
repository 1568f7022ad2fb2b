// The file handle every layer passes around: a Win32 HANDLE or a POSIX
// descriptor, widened. The file operations (package/fileops.h) make, use and
// close it; the state record keeps the data file's.
#pragma once
#include <stdint.h>

typedef intptr_t FileHandle;
const FileHandle INVALID_FILE = -1;
