// The record loader: reads the package behind the stub into InstallerState.
//
// loadPackage walks the record chain of state.sourcePath once: it derives the
// binding key from the stub, keeps buffers and texts in the state, decodes the
// string tables, checks the file table, and proves that the file is complete
// (it ends where the data area ends, or a signature table the stub's PE header
// declares follows it, or a start-page record was met). Returns 1 on success,
// 0 otherwise; only an incomplete package shows a message, (6, 33).
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "package/format.h"

extern StubData stubData;

int loadPackage();

// Reads one buffer payload at the file's position. Returns 0 and the block in
// *buffer (owned by the caller, *size bytes plus a NUL behind them), 1 on a
// read or decode failure, 5 when no memory can be had.
int readRecordPayload(FileHandle file, const PackageRecordHeader& header, uint8_t** buffer,
                      uint32_t* size);

// Frees every buffer read from the package and resets the references.
void releasePackageData();
