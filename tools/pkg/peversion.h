// The file version of a Windows program or library, as its version resource
// states it: the two words of VS_FIXEDFILEINFO that the installer compares
// with an installed copy's before it replaces a newer file.
//
// peFileVersion walks the PE headers to the resource directory, takes the
// first RT_VERSION resource (any name, any language) and reads its
// VS_FIXEDFILEINFO. Anything that is not a PE image, or a PE without a
// sound version resource, gives no version: such files simply carry none.
#pragma once
#include <optional>

#include "pkg/filetable.h"
#include "pkg/writer.h"

namespace pkg {

std::optional<FileVersion> peFileVersion(const Bytes& file);

}  // namespace pkg
