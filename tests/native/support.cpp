#include "support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "package/loader.h"
#include "updpack/project.h"

namespace testsupport {

std::string projectError(const std::string& path) {
    try {
        updpack::loadProject(path);
    } catch (const updpack::ProjectError& e) {
        return e.what();
    }
    return "";
}

pkg::Bytes noise(size_t n, uint32_t seed) {
    pkg::Bytes b(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1664525 + 1013904223;
        b[i] = static_cast<uint8_t>(seed >> 24);
    }
    return b;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/updtest.XXXXXX";
    dir_ = mkdtemp(pattern);
}

TempDir::~TempDir() { std::filesystem::remove_all(dir_); }

std::string TempDir::write(const std::string& name, const pkg::Bytes& data) const {
    pkg::writeFile(path(name), data);
    return path(name);
}

pkg::Bytes fakeStub() {
    pkg::Bytes stub(STUB_SIZE, 0);
    StubData block = {{{'Q', 'K', 'g', 'T'}, 0x4829, STUB_SIZE, 0, 0, 0, START_PAGE_WIZARD},
                      {0, 0, 0, 0}, {'Q', 'K', 'C', 'V'}, {0}};
    std::memcpy(stub.data() + 0x400, &block, sizeof block);
    return stub;
}

void StateTest::SetUp() {
    state = InstallerState();
    state.dataFile = INVALID_FILE;
    stubData.header.stubSize = STUB_SIZE;
    stubData.header.startPage = START_PAGE_WIZARD;
    nativeMessages = NativeMessages();
    nativeMessageAnswer = 1;
    ASSERT_TRUE(allocateTextBuffers());
}

void StateTest::TearDown() {
    releasePackageData();
    releaseSessionBuffers();
}

}  // namespace testsupport
