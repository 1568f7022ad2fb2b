// The finish page inside this process, over a file table whose outcomes the
// test sets: which text reports the run (success, a failure inside (5, 2),
// a cancel alone, nothing to do; after an all-or-nothing run that failed,
// the failure inside the text that says nothing was changed; a request to
// restart) and which files the list shows. A file left in use turns a
// clean run into ERR_NOT_REPLACED.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <memory>

#include "engine/results.h"
#include "engine_support.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "ui/ui.h"
#include "wizard_support.h"

namespace {

INT_PTR CALLBACK quietFrame(HWND, UINT, WPARAM, LPARAM) { return 0; }

class FinishPage : public ::testing::Test {
protected:
    void SetUp() override {
        enginetest::ensureTextBuffers();
        auto tables = wiztest::labelledTexts();
        for (int t = 0; t < 8; t++) {
            pkg::Bytes b = pkg::encodeStringTable(tables[t]);
            blocks_[t] = b;
            blocks_[t].push_back(0);
            state.stringTables[t] = reinterpret_cast<StringTable*>(blocks_[t].data());
            state.stringTableSizes[t] = static_cast<uint32_t>(b.size());
        }
        frameTemplate_ = winsupport::dialogTemplate(WS_POPUP, 300, 200, "",
                                                    {{"BUTTON", "", 1007, BS_PUSHBUTTON, 100, 180, 40, 14},
                                                     {"BUTTON", "", IDOK, BS_PUSHBUTTON, 150, 180, 40, 14},
                                                     {"BUTTON", "", IDCANCEL, BS_PUSHBUTTON, 200, 180, 40, 14}});
        frame_ = CreateDialogIndirectParamA(GetModuleHandleA(0),
                                            reinterpret_cast<LPCDLGTEMPLATEA>(frameTemplate_.data()), 0,
                                            quietFrame, 0);
        state.frameWindow = frame_;
        state.pageIndex = PAGE_FINISH;
        stubData.header.startPage = START_PAGE_WIZARD;
        copyText(state.destinationDir, "C:\\App\\");
        blob_ = wiztest::defaultTemplateBlob();
        uint32_t at;
        memcpy(&at, blob_.data() + 4 * 6, 4);
        finishTemplate_.assign(blob_.begin() + at, blob_.end());
    }
    void TearDown() override {
        if (page_) DestroyWindow(page_);
        DestroyWindow(frame_);
        state.frameWindow = state.pageWindow = 0;
        for (auto& t : state.stringTables) t = 0;
        state.resultCode = state.verifyResult = 0;
        state.options = 0;
    }
    // A table of files a.txt, b.txt, ... with these outcomes, then the page.
    void open(const std::vector<uint16_t>& outcomes) {
        std::vector<pkg::TableEntry> entries;
        for (size_t i = 0; i < outcomes.size(); i++) {
            pkg::TableEntry e;
            e.relativePath = std::string(1, char('a' + i)) + ".txt";
            e.versions = {pkg::OldVersion{1, 1, 0, 0}};
            entries.push_back(e);
        }
        table_.reset(new enginetest::LoadedTable(entries, 0));
        for (size_t i = 0; i < outcomes.size(); i++) table_->entry(i)->outcome = outcomes[i];
        page_ = CreateDialogIndirectParamA(GetModuleHandleA(0),
                                           reinterpret_cast<LPCDLGTEMPLATEA>(finishTemplate_.data()), frame_,
                                           finishPageProcedure, 0);
        ASSERT_TRUE(page_);
    }
    std::string result() {
        char text[2048];
        GetDlgItemTextA(page_, 1000, text, sizeof text);
        return text;
    }
    std::vector<std::string> lines() {
        std::vector<std::string> all;
        HWND list = GetDlgItem(page_, 1013);
        int n = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; i++) {
            char text[512] = {};
            LVITEMA item = {};
            item.iSubItem = 0;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            all.push_back(text);
        }
        return all;
    }
    bool enabled(int id) { return IsWindowEnabled(GetDlgItem(frame_, id)) != 0; }

    HWND frame_ = 0, page_ = 0;

private:
    pkg::Bytes blocks_[8], frameTemplate_, blob_, finishTemplate_;
    std::unique_ptr<enginetest::LoadedTable> table_;
};

}  // namespace

TEST_F(FinishPage, CleanRunShowsSuccessAndOneLinePerFileWithAnOutcome) {
    open({OUT_REPLACED, OUT_NONE, OUT_CREATED, OUT_DELETED});
    EXPECT_EQ(result(), "5.1");
    EXPECT_EQ(lines(), (std::vector<std::string>{"a.txt: 6.25", "c.txt: 6.27", "d.txt: 6.26"}));
    EXPECT_FALSE(enabled(1007));
    EXPECT_FALSE(enabled(IDOK));
    EXPECT_TRUE(enabled(IDCANCEL));
    EXPECT_EQ(state.buttonMask & BTN_NO_CONFIRM, unsigned(BTN_NO_CONFIRM)) << "Cancel asks nothing here";
}

TEST_F(FinishPage, FileLeftInUseTurnsACleanRunIntoNotReplaced) {
    open({OUT_REPLACED, OUT_NOT_REPLACED});
    EXPECT_EQ(state.resultCode, ERR_NOT_REPLACED);
    EXPECT_EQ(result(), "5.2 [6.24]");
    EXPECT_EQ(lines(), (std::vector<std::string>{"a.txt: 6.25", "b.txt: 6.29"}));
}

TEST_F(FinishPage, FailureIsFramedByItsTextWithThePathNamed) {
    state.resultCode = ERR_OPEN;
    setMessageSubject("C:\\Updates\\pkg.exe");
    open({OUT_REPLACED});
    EXPECT_EQ(result(), "5.2 [6.18 <C:\\Updates\\pkg.exe>]");
    EXPECT_EQ(state.resultCode, ERR_OPEN) << "a failure is not replaced by the in-use check";
}

TEST_F(FinishPage, CancelIsShownAlone) {
    state.resultCode = ERR_CANCELLED;
    open({OUT_REPLACED});
    EXPECT_EQ(result(), "6.17");
}

TEST_F(FinishPage, AllOrNothingFailureSaysNothingWasChanged) {
    state.options = OPT_ALL_OR_NOTHING;
    state.resultCode = ERR_VERIFY;
    setMessageSubject("C:\\App\\c.txt");
    open({OUT_NONE, OUT_NONE});
    EXPECT_EQ(result(), "6.37 [6.23 <C:\\App\\c.txt>]");
    EXPECT_TRUE(lines().empty());
}

TEST_F(FinishPage, AllOrNothingCancelSaysNothingWasChanged) {
    state.options = OPT_ALL_OR_NOTHING;
    state.resultCode = ERR_CANCELLED;
    open({OUT_NONE});
    EXPECT_EQ(result(), "6.37 [6.17]");
}

TEST_F(FinishPage, AllOrNothingFileInUseIsReportedAsUsual) {
    state.options = OPT_ALL_OR_NOTHING;
    open({OUT_REPLACED, OUT_NOT_REPLACED});
    EXPECT_EQ(result(), "5.2 [6.24]") << "files were changed: not the nothing-changed text";
}

TEST_F(FinishPage, FilesWaitingForARestartAskForIt) {
    state.options = OPT_ALL_OR_NOTHING;
    open({OUT_REPLACED, OUT_AT_RESTART});
    EXPECT_EQ(state.resultCode, ERR_RESTART_NEEDED);
    EXPECT_EQ(result(), "6.36");
    EXPECT_EQ(lines(), (std::vector<std::string>{"a.txt: 6.25", "b.txt: 6.34"}));
}

TEST_F(FinishPage, NothingToDoOffersBack) {
    state.verifyResult = ERR_NOTHING_TO_DO;
    open({});
    EXPECT_EQ(result(), "5.3");
    EXPECT_TRUE(enabled(1007));
    // Back leads to the destination page; Next, if it comes, ends the wizard.
    state.pageResult = 0;
    SendMessageA(page_, WM_COMMAND, 1007, 0);
    EXPECT_EQ(state.pageResult, PAGE_RESULT_NEXT);
    EXPECT_EQ(state.pageIndex + 1, PAGE_DESTINATION);
    state.pageResult = 0;
    SendMessageA(page_, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(state.pageResult, PAGE_RESULT_CANCEL);
}
