// Helpers for the installation tests: packages built with the packaging
// library into a scratch folder, the installed files, one whole run of the
// engine, and a thread that answers message boxes.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/install.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "engine_support.h"
#include "package/loader.h"
#include "package/paths.h"
#include "pkg/compress.h"
#include "pkg/update.h"
#include "pkg/stub.h"

namespace installtest {

using Bytes = std::vector<uint8_t>;
using namespace enginetest;

// Texts the engine's prompts use; everything else stays empty.
inline pkg::Record messageTexts() {
    std::vector<std::vector<std::string>> tables(8);
    tables[6].resize(39);
    tables[6][0] = "Update";
    tables[6][15] = "Quit the update?";
    tables[6][17] = "Update stopped";
    tables[6][31] = "A newer %s is installed. Replace it?";
    tables[6][32] = "Insert disk %d";
    for (int k : {25, 26, 27, 28, 29, 34}) tables[6][k] = "outcome " + std::to_string(k);
    tables[6][38] = "Stop now? Nothing has been changed yet.";
    return pkg::stringTablesRecord(tables);
}

using testcommon::codeLike;
using testcommon::noise;

// The alternate folder the user picks when the engine asks for one.
inline std::string altFolder;
inline bool chooseAltFolder(void*) {
    copyText(state.alternateFolder, (altFolder + "\\").c_str());
    return true;
}

class EngineTest : public ::testing::Test {
protected:
    ScratchFolder install, packageDir;
    std::string installer;
    std::vector<std::pair<std::string, unsigned>> outcomes;
    std::vector<uint32_t> percents;

    static EngineTest* current;
    static void recordOutcome(void*, unsigned outcome, const char* path) {
        current->outcomes.push_back({path, outcome});
    }
    static void recordProgress(uint32_t p) { current->percents.push_back(p); }

    void SetUp() override {
        ensureTextBuffers();
        current = this;
        state.dataFile = INVALID_FILE;
        state.isRelaunchedCopy = 0;
        state.pageResult = 0;
        state.alternateFolder[0] = 0;
        state.messageSubject[0] = 0;
        outcomeListener = recordOutcome;
        progressListener = recordProgress;
        installer = packageDir / "setup.exe";
    }
    void TearDown() override {
        finishInstallation();
        releasePackageData();
        fileFaults = {-1, 0, 0};
        holdPause = 0;
        outcomeListener = 0;
        progressListener = 0;
        replaceWithoutMoveFileEx = 0;
        state.isRelaunchedCopy = 0;
        current = nullptr;
    }

    void load() {
        copyText(state.sourcePath, installer.c_str());
        ASSERT_EQ(loadPackage(), LOAD_OK);
    }

    pkg::BuiltUpdate build(const std::vector<pkg::FileSet>& olds, const pkg::FileSet& next,
                           pkg::UpdateOptions options = {}) {
        options.records.push_back(messageTexts());
        pkg::BuiltUpdate u = pkg::buildUpdateFromSets(olds, next, winsupport::realStub(), options);
        pkg::writeUpdate(u, installer);
        load();
        return u;
    }

    // A package from hand-made entries and data area.
    void buildRaw(const std::vector<pkg::TableEntry>& entries, const Bytes& data) {
        Bytes stub = winsupport::realStub();
        pkg::FileTableBuilder table(pkg::stubBindingKey(stub));
        for (const auto& e : entries) table.add(e);
        pkg::writeFile(installer, pkg::buildInstaller(stub, {messageTexts(),
                       pkg::bufferRecord(REC_FILE_TABLE, table.bytes())}, data));
        load();
    }

    void place(const pkg::FileSet& files) {
        for (const auto& [rel, bytes] : files) writeBytes(install / rel, bytes);
    }
    Bytes read(const std::string& rel) {
        HANDLE h = CreateFileA((install / rel).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                               OPEN_EXISTING, 0, 0);
        if (h == INVALID_HANDLE_VALUE) return Bytes{'m', 'i', 's', 's', 'i', 'n', 'g', '!'};
        Bytes b(GetFileSize(h, 0));
        DWORD got = 0;
        if (!b.empty()) ReadFile(h, b.data(), static_cast<DWORD>(b.size()), &got, 0);
        CloseHandle(h);
        return b;
    }
    bool exists(const std::string& rel) {
        return GetFileAttributesA((install / rel).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // Files of the install folder whose names hold ".$$".
    int leftovers() {
        int n = 0;
        testcommon::forEachFile(install.path(), [&](const std::string&, const std::string& name) {
            if (name.find(".$$") != std::string::npos) n++;
        });
        return n;
    }

    int verify() {
        copyText(state.destinationDir, (install.path() + "\\").c_str());
        return verifyInstallation();
    }
    // One whole run as the progress page drives it; the finish page's code.
    int runAll() {
        outcomes.clear();
        percents.clear();
        if (beginInstallation() != ERR_NONE) return state.resultCode;
        while (installNextFile(0) == STEP_OK) {
        }
        finishInstallation();
        return finalResultCode();
    }
    unsigned outcomeOf(const std::string& rel) {
        for (const auto& [path, o] : outcomes)
            if (path == install / rel) return o;
        return 0;
    }
};
inline EngineTest* EngineTest::current = nullptr;

// Answers the message boxes of this process in order: each step names the
// start of the text it expects, the button to press, and an action to take
// first. Unexpected texts fail the test.
class BoxAnswerer {
public:
    struct Step {
        std::string text;
        int button;
        std::function<void()> before;
    };
    explicit BoxAnswerer(std::vector<Step> steps) : steps_(std::move(steps)) {
        thread_ = std::thread([this] { loop(); });
    }
    ~BoxAnswerer() {
        stop_ = true;
        thread_.join();
    }
    size_t answered() const { return next_; }
    std::vector<std::string> seen;

private:
    static BOOL CALLBACK findBox(HWND w, LPARAM p) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char cls[32];
        GetClassNameA(w, cls, sizeof cls);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w) && !strcmp(cls, "#32770")) {
            *reinterpret_cast<HWND*>(p) = w;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK longestText(HWND w, LPARAM p) {
        char cls[32], text[512];
        GetClassNameA(w, cls, sizeof cls);
        if (!_stricmp(cls, "Static")) {
            GetWindowTextA(w, text, sizeof text);
            std::string* best = reinterpret_cast<std::string*>(p);
            if (strlen(text) > best->size()) *best = text;
        }
        return TRUE;
    }
    void loop() {
        while (!stop_) {
            HWND box = 0;
            EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
            if (!box) {
                Sleep(20);
                continue;
            }
            std::string text;
            EnumChildWindows(box, longestText, reinterpret_cast<LPARAM>(&text));
            seen.push_back(text);
            int button = IDCANCEL;
            if (next_ < steps_.size() && text.compare(0, steps_[next_].text.size(), steps_[next_].text) == 0) {
                if (steps_[next_].before) steps_[next_].before();
                button = steps_[next_].button;
                next_++;
            }
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            for (int i = 0; i < 100 && IsWindow(box); i++) Sleep(10);
        }
    }
    std::vector<Step> steps_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace installtest
