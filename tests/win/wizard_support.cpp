#include "wizard_support.h"

#include <gtest/gtest.h>

#include "package/checksum.h"
#include "pkg/resources.h"
#include "pkg/stub.h"

namespace wiztest {

std::string windowsPath(const std::string& unixPath) {
    std::string p = "Z:";
    for (char c : unixPath) p += c == '/' ? '\\' : c;
    return p;
}

pkg::Bytes defaultTemplateBlob() {
    std::string res = windowsPath(UPD_DEFAULTS_DIR) + "\\templates.res";
    return pkg::templateBlobFromDialogs(pkg::dialogResources(pkg::readFile(res), res), res);
}

Tables labelledTexts() {
    Tables t(8);
    const int sizes[8] = {5, 5, 5, 5, 5, 5, 39, 6};
    for (int table = 0; table < 8; table++)
        for (int i = 0; i < sizes[table]; i++) t[table].push_back(std::to_string(table) + "." + std::to_string(i));
    for (int p = 0; p < 6; p++) t[p][0] = "Page " + std::to_string(p);
    t[6][0] = "Wizard Test";
    for (int i : {9, 10, 11, 12, 18, 19, 20, 21, 23, 31, 35}) t[6][i] += " <%s>";
    t[5][2] = "5.2 [%s]";
    t[6][37] = "6.37 [%s]";
    return t;
}

std::string Package::write(const winsupport::TempDir& dir, const std::string& name) const {
    using namespace pkg;
    Bytes stub = winsupport::realStub();
    std::vector<Record> records = {bufferRecord(REC_TEMPLATES, defaultTemplateBlob()),
                                   valueRecord(REC_OPTIONS, (fullScreen ? OPT_FULL_SCREEN : 0) |
                                                                (allOrNothing ? OPT_ALL_OR_NOTHING : 0)),
                                   stringTablesRecord(texts)};
    if (!destination.empty()) records.push_back(textRecord(REC_DEST_DIR, destination));
    if (!frameImage.empty()) records.push_back(bufferRecord(REC_FRAME_IMAGE, frameImage));
    if (!backgroundImage.empty()) records.push_back(bufferRecord(REC_BACKGROUND_IMAGE, backgroundImage));
    if (!title.empty()) records.push_back(textRecord(REC_TITLE, title));
    if (!titleFont.empty()) records.push_back(bufferRecord(REC_TITLE_FONT, titleFont));
    if (!newSet.empty()) {
        if (startPage != START_PAGE_WIZARD) records.push_back(startPageRecord(startPage));
        UpdateOptions options;
        options.records = records;
        options.rules = rules;
        BuiltUpdate update = buildUpdateFromSets(oldSets, newSet, stub, options);
        return dir.write(name, update.installer);
    }
    FileTableBuilder table(stubBindingKey(stub));
    for (const auto& f : files) table.add(f);
    records.push_back(bufferRecord(REC_FILE_TABLE, table.bytes()));
    if (startPage != START_PAGE_WIZARD) records.push_back(startPageRecord(startPage));
    return dir.write(name, buildInstaller(stub, records, {}));
}

pkg::Bytes bmp24(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
    pkg::Bytes b;
    int rowBytes = (width * 3 + 3) & ~3;
    uint32_t size = 54 + rowBytes * height;
    b.push_back('B');
    b.push_back('M');
    pkg::put32(b, size);
    pkg::put32(b, 0);
    pkg::put32(b, 54);
    pkg::put32(b, 40);
    pkg::put32(b, width);
    pkg::put32(b, height);
    pkg::put16(b, 1);
    pkg::put16(b, 24);
    for (int i = 0; i < 6; i++) pkg::put32(b, 0);
    for (int y = height - 1; y >= 0; y--) {
        for (int x = 0; x < width; x++) {
            uint32_t p = pixel(x, y);
            b.push_back(p & 0xFF);
            b.push_back((p >> 8) & 0xFF);
            b.push_back((p >> 16) & 0xFF);
        }
        for (int pad = width * 3; pad < rowBytes; pad++) b.push_back(0);
    }
    return b;
}

pkg::Bytes logFont(const std::string& face, int height, int weight) {
    LOGFONTA lf = {};
    lf.lfHeight = -height;
    lf.lfWeight = weight;
    lf.lfQuality = NONANTIALIASED_QUALITY;  // crisp edges for pixel checks
    lstrcpynA(lf.lfFaceName, face.c_str(), LF_FACESIZE);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&lf);
    return pkg::Bytes(p, p + sizeof lf);
}

std::vector<uint8_t> bytesOf(const std::string& text, size_t repeat) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i < repeat; i++) v.insert(v.end(), text.begin(), text.end());
    return v;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    for (size_t i = 3; i < path.size(); i++)
        if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), 0);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
    DWORD done = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, 0);
    CloseHandle(h);
}

pkg::TableEntry updateEntry(const std::string& rel, const std::vector<uint8_t>& old,
                            const std::vector<uint8_t>& fresh) {
    pkg::TableEntry e;
    e.relativePath = rel;
    e.newSize = static_cast<uint32_t>(fresh.size());
    e.newChecksum = fileChecksum(fresh.data(), e.newSize, 0);
    e.versions = {pkg::OldVersion{fileChecksum(old.data(), static_cast<uint32_t>(old.size()), 0),
                                  static_cast<uint32_t>(old.size()), 0, 0}};
    return e;
}

std::string testName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace wiztest
