// The package binding key ties a package to the stub in front of it: the
// file checksum (seed 0) of the first stubSize bytes of the installer, with
// the two PE header fields that signing rewrites (the image checksum and the
// certificate-table directory entry) read as zero. The packaging tool masks
// every stored version checksum with it, so a package glued to another stub
// recognises no installed file.
//
// The same pass reports the certificate table the PE header declares, which
// the loader accepts behind the data area of a signed installer. The
// relaunch copy, which holds the stub alone, zeroes that directory entry
// (certificateEntryOffset), so its key stays the same.
#pragma once
#include <stdint.h>

struct StubBinding {
    uint32_t key;
    uint32_t certificateOffset;  // 0 when none is declared
    uint32_t certificateSize;
};

StubBinding computeBinding(const uint8_t* stub, uint32_t size);

// Offset in the stub of the certificate-table directory entry (two 32-bit
// words: file offset and size), or 0 when the stub has no PE header.
uint32_t certificateEntryOffset(const uint8_t* stub, uint32_t size);
