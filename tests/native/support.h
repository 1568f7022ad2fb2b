// Helpers for native tests: temporary folders, a stand-in stub, and a clean
// installer state around each test.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/common.h"
#include "package/native_messages.h"
#include "pkg/stub.h"
#include "pkg/writer.h"
#include "base/state.h"

namespace testsupport {

using testcommon::TempDir;
using testcommon::noise;

// The message loading the project file fails with; "" when it loads.
std::string projectError(const std::string& path);

// Packs the project file with the stand-in stub as temp's "setup.exe";
// returns its path.
std::string packProject(const TempDir& temp, const std::string& projectPath);

// 65,536 bytes holding the stub header block, like a real stub.
pkg::Bytes fakeStub();

// The hostile installer of the bounded-loading tests: a stub, then a
// string-table record that declares eight tables of almost 2 GiB each, every
// one holding a two-byte stream, then an empty data area (65,618 bytes).
pkg::Bytes hostileInstaller();

// A dialog template as the platform reads it: a classic header (or, when
// `extended`, a DLGTEMPLATEEX one) with no menu and the default class, the
// caption, the font "MS Shell Dlg" at 8 points, then `items` static controls
// with their titles and no creation data.
pkg::Bytes dialogTemplate(const std::string& caption, int items = 2, bool extended = false);
// UTF-16 of an ASCII text with its NUL, as templates hold strings.
void putWide(pkg::Bytes& out, const std::string& text);

// Resets InstallerState and the stub header; allocates the text buffers.
class StateTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TempDir temp;
};

}  // namespace testsupport
