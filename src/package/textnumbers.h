// The numbers of the installer's texts: every caption, label and message is
// (table, index) in the package's string tables (package/strings.h), and
// these names are the one home of those numbers, for the stub's call sites
// and for the names updpack's project files may use instead of "T.I".
//
// Table p (0-5) belongs to wizard page p and is named by the page's number
// (PAGE_WELCOME ... PAGE_FINISH, base/state.h): index 0 its caption, 1-4 the
// texts of its controls 1000-1003. Table 6 holds the caption of every window and
// message box and the messages; index N is also the message of result code
// N and of outcome N (engine/results.h). Table 7 holds the button labels.
// Platform-free; names only, no code.
#pragma once

// The tables beyond the pages'.
enum TextTable {
    TABLE_MESSAGES = 6,
    TABLE_BUTTONS = 7
};
// The tables the installer reads.
const unsigned TEXT_TABLE_COUNT = 8;

// Indexes of every page's table.
enum PageText {
    TEXT_PAGE_CAPTION = 0,
    TEXT_PAGE_FIRST = 1,  // the text of control 1000; 1-4 for 1000-1003
    TEXT_PAGE_LAST = 4
};
enum WelcomeText { TEXT_WELCOME_TITLE = 1, TEXT_WELCOME_TEXT = 2, TEXT_WELCOME_NOTE = 3, TEXT_WELCOME_HINT = 4 };
// The information page is skipped while this text is empty.
enum InformationText { TEXT_INFORMATION = 1 };
enum DestinationText {
    TEXT_DESTINATION_TITLE = 1,
    TEXT_DESTINATION_TEXT = 2,
    TEXT_DESTINATION_NOTE = 3,
    TEXT_DESTINATION_HINT = 4
};
enum ReadyText { TEXT_READY_TITLE = 1, TEXT_READY_TEXT = 2, TEXT_READY_HINT = 3 };
enum ProgressText { TEXT_PROGRESS_TITLE = 1, TEXT_PROGRESS_FILE_LABEL = 2, TEXT_PROGRESS_DONE_LABEL = 3 };
// TEXT_FINISH_FAILED frames a failure's message ("%s"); TEXT_FINISH_UP_TO_DATE
// stands in for TEXT_FINISH_TITLE when nothing needed to change.
enum FinishText {
    TEXT_FINISH_TITLE = 1,
    TEXT_FINISH_FAILED = 2,
    TEXT_FINISH_UP_TO_DATE = 3,
    TEXT_FINISH_HINT = 4
};

// Table 6 beyond the result codes and outcomes.
enum MessageText {
    TEXT_CAPTION = 0,
    TEXT_BROWSE_TITLE = 1,           // the folder dialog's caption
    TEXT_BROWSE_FOLDER = 2,          // its labels
    TEXT_BROWSE_DRIVES = 3,
    TEXT_CHECKING = 4,               // while verification runs
    TEXT_FOLDER_UNUSABLE = 5,
    TEXT_READ_ONLY_QUESTION = 7,
    TEXT_WRONG_FOLDER = 8,           // heads the list of files that failed
    TEXT_CANCEL_QUESTION = 15,       // stop a running installation?
    TEXT_LEAVE_QUESTION = 16,        // leave the wizard?
    TEXT_CANCELLED = 17,
    TEXT_LOCATE = 30,                // the folder of original files
    TEXT_NEWER_QUESTION = 31,        // "%s": the newer installed file
    TEXT_INSERT_DISK = 32,           // "%d": the volume's disk
    TEXT_DAMAGED_INSTALLER = 33,
    // The frame of a failed all-or-nothing run ("%s" = the failure's
    // message; nothing was changed), the question before stopping such a
    // run, and the list of switches that /? shows.
    TEXT_NOTHING_CHANGED = 37,
    TEXT_CANCEL_NOTHING_CHANGED = 38,
    TEXT_SWITCH_LIST = 39
};

enum ButtonText {
    TEXT_BUTTON_BACK = 0,
    TEXT_BUTTON_NEXT = 1,
    TEXT_BUTTON_CANCEL = 2,
    TEXT_BUTTON_UPDATE = 3,
    TEXT_BUTTON_OK = 4,              // in the folder dialogs
    TEXT_BUTTON_DIALOG_CANCEL = 5
};
