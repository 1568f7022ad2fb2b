// Texts and dialog templates of the package.
//
// The stub carries no user-visible text: every caption, label and message is
// addressed as (table, index) and looked up in the string tables the loader
// kept. Table p (0-5) belongs to wizard page p, table 6 holds the caption
// (index 0) and the messages (index N is also the message of result code N),
// table 7 the button labels.
//
// A decoded table is a 16-bit count followed by that many NUL-terminated
// texts. Lookups never fail: a missing table or index yields the one static
// empty text, and a table whose texts run past its buffer yields the empty
// text from there on.
#pragma once
#include <stdint.h>

#include "package/textnumbers.h"

struct StringTable;  // opaque: the decoded block

const char* getString(unsigned table, unsigned index);

// Copies text into state.messageSubject (at most 259 characters).
void setMessageSubject(const char* text);

// Expands a package text into destination (capacity bytes including the
// terminator, always NUL-terminated, cut to fit). Only "%s" (subject), "%d"
// (number; only when numberAllowed) and "%%" are conversions; any other '%'
// sequence is copied as it stands, so a hostile text can never reach a
// printf-style formatter with arguments it does not have.
// Returns the length written.
uint32_t expandText(char* destination, uint32_t capacity, const char* text,
                    const char* subject, int number, bool numberAllowed);

// Message (6, index) with "%s" = state.messageSubject, into a buffer of
// capacity bytes. Returns the length written.
uint32_t formatMessage(char* destination, uint32_t capacity, unsigned index);

// The question before stopping an installation: TEXT_CANCEL_QUESTION, or in an
// all-or-nothing run TEXT_CANCEL_NOTHING_CHANGED (nothing changed yet).
const char* cancelQuestion();

// Message-box flags the program uses.
enum {
    MB_INFO = 0x40,         // information, OK
    MB_INFO_OKCANCEL = 0x41,
    MB_QUESTION_YESNO = 0x24
};
enum { BOX_OK = 1, BOX_CANCEL = 2, BOX_YES = 6, BOX_NO = 7 };

// Message box with the caption (6, 0), owned by the frame, else the
// background window, else nobody. Returns the button pressed; 0 without a
// box once WM_CLOSE has ended the wizard (state.closing).
int showMessage(const char* text, unsigned flags);

// Template copies: a 16,384-byte zero-filled block holding the blob from the
// template's offset on. Null when the template number lies outside the blob's
// index or its offset outside the blob, when the template does not lie
// within the copy (templateSpan), or when no memory can be had.
void* copyTemplate(unsigned number);
void releaseTemplate(void* block);

const uint32_t TEMPLATE_COPY_SIZE = 0x4000;
