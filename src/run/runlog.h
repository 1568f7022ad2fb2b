/* The log that /L="file" asks for: plain text, appended to, one block per
   run, in quiet and wizard mode alike. For example:

     2026-12-07 19:50:12 quiet run of Z:\updates\setup.exe, key 1A2B3C4D
     destination C:\Program Files\Sample\
     sample.exe: version 0, updated
     whatsnew.txt: absent, added
     license.txt: current
     result 0: Sample is now at version 2.0.
     exit code 0
*/
// Per file what verification found: "version N" (the Nth known earlier
// version from 0, as updpack diagnose counts them; "in the other folder"
// when the old copy came from the alternate folder), "current", "absent",
// "unknown" or "not examined"; then, after a comma, the outcome's text
// (table 6) when the file was handled. The result line gives the result code
// and its message ((5, 1) for 0, else the code's message in table 6); the
// last line the process's exit code. The words are fixed, so that scripts
// can read them; the messages are the package's own. Control characters in
// a text become blanks, so every line stays one line.
#pragma once

// Marks the entries "not examined" before a run that verifies before it
// installs (a quiet run, the whole wizard), so that a check that stops early
// leaves the entries behind the one it stopped at marked. In the wizard the
// entries that may be looked for in an alternate folder keep the value the
// package gives them (the alternate-folder dialog reads it); such an entry
// that no check reached is logged "unknown". Behind a check that stopped
// earlier than a previous one, an entry shows what the previous one found.
void prepareRunLog(bool quiet);

// The wizard's result for the log: the installation's final code when the
// progress page ran (ERR_CANCELLED when it was left before its end), else
// the last verification's failure, else ERR_CANCELLED (the wizard was left
// before it installed anything).
int wizardLogResult();

// Appends the run's block to state.logPath. resultCode < 0: no result line
// (the package was not loaded, or the wizard could not be shown). A log that
// cannot be opened or written is passed over: it never changes the run.
void writeRunLog(int resultCode, int exitCode);
