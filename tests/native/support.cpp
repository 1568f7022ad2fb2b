#include "support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "package/loader.h"
#include "package/paths.h"
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

std::string packProject(const TempDir& temp, const std::string& projectPath) {
    updpack::Project project = updpack::loadProject(projectPath);
    return temp.write("setup.exe", pkg::buildInstaller(fakeStub(), updpack::projectRecords(project), {}));
}

pkg::Bytes hostileInstaller() {
    pkg::Record tables;
    tables.tag = REC_STRING_TABLES;
    pkg::put16(tables.payload, 8);
    for (int i = 0; i < 8; i++) {
        pkg::put32(tables.payload, 0x7FFFFFF0u);
        tables.payload.push_back(0x0D);  // a last fixed block holding only its end
        tables.payload.push_back(0x00);
    }
    return pkg::buildInstaller(fakeStub(), {tables}, {});
}

void putWide(pkg::Bytes& out, const std::string& text) {
    for (char c : text) pkg::put16(out, static_cast<uint8_t>(c));
    pkg::put16(out, 0);
}

pkg::Bytes dialogTemplate(const std::string& caption, int items, bool extended) {
    const uint32_t style = 0x40 | 0x40000000 | 0x10000000;  // DS_SETFONT | WS_CHILD | WS_VISIBLE
    pkg::Bytes t;
    if (extended) {
        pkg::put16(t, 1);
        pkg::put16(t, 0xFFFF);
        pkg::put32(t, 0);  // help id
        pkg::put32(t, 0);  // extended style
        pkg::put32(t, style);
    } else {
        pkg::put32(t, style);
        pkg::put32(t, 0);
    }
    pkg::put16(t, static_cast<uint16_t>(items));
    for (int v : {0, 0, 200, 100}) pkg::put16(t, static_cast<uint16_t>(v));
    pkg::put16(t, 0);  // no menu
    pkg::put16(t, 0);  // default class
    putWide(t, caption);
    pkg::put16(t, 8);  // points
    if (extended) {
        pkg::put16(t, 400);
        t.push_back(0);
        t.push_back(1);
    }
    putWide(t, "MS Shell Dlg");
    for (int i = 0; i < items; i++) {
        while (t.size() % 4) t.push_back(0);
        const uint32_t itemStyle = 0x50000000;  // WS_CHILD | WS_VISIBLE
        if (extended) {
            pkg::put32(t, 0);  // help id
            pkg::put32(t, 0);  // extended style
            pkg::put32(t, itemStyle);
        } else {
            pkg::put32(t, itemStyle);
            pkg::put32(t, 0);
        }
        for (int v : {5, 5 + 12 * i, 150, 10}) pkg::put16(t, static_cast<uint16_t>(v));
        if (extended) pkg::put32(t, 1000 + i); else pkg::put16(t, static_cast<uint16_t>(1000 + i));
        pkg::put16(t, 0xFFFF);
        pkg::put16(t, 0x0082);  // STATIC
        putWide(t, "Text " + std::to_string(i));
        pkg::put16(t, 0);  // no creation data
    }
    return t;
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
