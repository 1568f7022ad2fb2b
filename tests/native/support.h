// Helpers for native tests: temporary folders, a stand-in stub, and a clean
// installer state around each test.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/native_messages.h"
#include "pkg/stub.h"
#include "pkg/writer.h"
#include "run/state.h"

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const pkg::Bytes& data) const;

private:
    std::string dir_;
};

// The message loading the project file fails with; "" when it loads.
std::string projectError(const std::string& path);

// n bytes of deterministic noise (a linear congruential sequence).
pkg::Bytes noise(size_t n, uint32_t seed);

// 65,536 bytes holding the stub header block, like a real stub.
pkg::Bytes fakeStub();

// Resets InstallerState and the stub header; allocates the text buffers.
class StateTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TempDir temp;
};

}  // namespace testsupport
