// Results: one convention for every layer.
//
// A function that does a job and can fail returns an int: 0 for success,
// spelt with the name its family gives it (ERR_NONE, LOAD_OK, WRITE_OK,
// STEP_OK, ...), and a small positive named constant for each other end.
// Callers and tests compare with the names, never with bare numbers. A
// function that answers a yes/no question (is this table sound? does the
// path exist? go on with this file?) returns bool; one that measures or
// finds something returns that. The families: ResultCode below;
// WRITE_*/READ_* (package/fileops.h); LOAD_*/PAYLOAD_*
// (package/loader.h); INFLATE_*/INPUT_* (package/inflate.h); DELTA_*
// (engine/delta.h); STEP_*/FILE_* (engine/install.h); INIT_* (run/run.h).
// Only the exit codes of the installer (run/run.h) and of updpack
// (updpack/commands.h) keep the numbers callers see.
//
// Result codes of the engine and per-file outcome codes.
//
// Every number doubles as the index of its message in string table 6, so the
// values are fixed by the package texts and must never be renumbered. A step
// that fails on a file records the path with setMessageSubject first; the
// message's "%s" shows it.
//
//   code  name                  set by                  "%s" names
//    0    ERR_NONE              all                     -
//    3    ERR_NOTHING_TO_DO     verification            -
//    6    ERR_NOTHING_FOUND     verification            -
//    9    ERR_FILE_MISSING      verification            the missing path
//   10    ERR_UNKNOWN_VERSION   verification            file examined last
//   11    ERR_ACCESS_DENIED     verification            the path refused
//   12    ERR_FILE_IN_USE       verification, install   the file's path
//   13    ERR_DISK_SPACE        verification            -
//   14    ERR_NO_MEMORY         installation            -
//   17    ERR_CANCELLED         installation            -
//   18    ERR_OPEN              installation            that path
//   19    ERR_CREATE            installation            scratchPath
//   20    ERR_READ              installation            dataPath / targetPath
//   21    ERR_WRITE             installation            scratchPath
//   22    ERR_DISK_FULL         installation            -
//   23    ERR_VERIFY            installation            targetPath
//   24    ERR_NOT_REPLACED      finish page             -
//   35    ERR_PATH_TOO_LONG     verification, install   the path cut at 259
//   36    ERR_RESTART_NEEDED    finish page             -
//
// Table 6 also holds, beyond the codes: 34 the outcome OUT_AT_RESTART, and
// the texts TEXT_NOTHING_CHANGED (37) and TEXT_CANCEL_NOTHING_CHANGED (38)
// of all-or-nothing runs (package/textnumbers.h).
#pragma once

enum ResultCode {
    ERR_NONE = 0,
    ERR_NOTHING_TO_DO = 3,
    ERR_NOTHING_FOUND = 6,
    ERR_FILE_MISSING = 9,
    ERR_UNKNOWN_VERSION = 10,
    ERR_ACCESS_DENIED = 11,
    ERR_FILE_IN_USE = 12,
    ERR_DISK_SPACE = 13,
    ERR_NO_MEMORY = 14,
    ERR_CANCELLED = 17,
    ERR_OPEN = 18,
    ERR_CREATE = 19,
    ERR_READ = 20,
    ERR_WRITE = 21,
    ERR_DISK_FULL = 22,
    ERR_VERIFY = 23,
    ERR_NOT_REPLACED = 24,
    ERR_PATH_TOO_LONG = 35,   // a path does not fit 259 characters
    ERR_RESTART_NEEDED = 36   // the run succeeded; some files wait for a restart
};

// FileEntry::outcome, also indices of their texts in table 6; 0 = none yet.
enum FileOutcome {
    OUT_NONE = 0,
    OUT_REPLACED = 25,      // old target removed, new file moved in
    OUT_DELETED = 26,       // a delete entry removed its target
    OUT_CREATED = 27,       // there was no target; the new file moved in
    OUT_NOT_DELETED = 28,   // a delete entry could not remove its target
    OUT_NOT_REPLACED = 29,  // target in use or locked; new file discarded
    OUT_AT_RESTART = 34     // target in use; the new file replaces it at the next restart
};
