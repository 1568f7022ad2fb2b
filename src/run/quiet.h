// Quiet runs (/Q) and the list of switches (/?).
//
// runQuiet does what the wizard does with its default answers, without a
// window or a message box, and returns the run's exit code: 0 when the
// update completed, else its result code (engine/results.h). The
// destination (/D= or the default from registry, INI or macros) is entered
// and verified as the destination page does it, and installed by the engine
// steps the progress page takes (beginInstallation, installNextFile while it
// returns STEP_OK, finishInstallation), so a package installs exactly as it would
// in the wizard, all-or-nothing packages included. What would need the user:
//   - a destination folder that cannot be entered: ERR_NOTHING_FOUND (6);
//   - an installed file of no known version whose entry asks for a folder
//     of old copies: no folder is asked for, ERR_UNKNOWN_VERSION (10), as
//     when the user declines that dialog (the newer-version question is only
//     ever asked of such copies, so it never arises);
//   - read-only targets: updated, as Yes to the ready page's question would
//     (verification has proved them writable; they stay read-only);
//   - a missing volume: not asked for (volume.h), ERR_READ (20) naming it.
#pragma once

int runQuiet();

// The box /? asks for: text (6, TEXT_SWITCH_LIST), or a built-in list when
// the package has none.
void showSwitchList();
