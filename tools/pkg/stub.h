// Reading a stub for packaging: the file must be a 65,536-byte program that
// holds the stub header block; its binding key masks the version checksums.
#pragma once
#include <string>

#include "pkg/writer.h"

namespace pkg {

// The largest file updpack reads or writes: positions in a package are
// signed 32-bit.
const uint64_t FILE_SIZE_LIMIT = 0x7FFFFFFF;
// Reads a whole file; std::runtime_error naming the path when it is missing,
// a folder, 2 GiB or larger (refused before it is read) or unreadable.
Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& data);

// Throws std::runtime_error naming the path when the file is not a stub.
Bytes loadStub(const std::string& path);
uint32_t stubBindingKey(const Bytes& stub);
// Offset of the stub header block in the stub, or -1.
long findStubHeader(const Bytes& stub);

}  // namespace pkg
