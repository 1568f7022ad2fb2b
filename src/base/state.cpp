#include "base/state.h"

// Constant-initialised: no start-up code runs for it.
static constexpr InstallerState initialState() {
    InstallerState s = {};
    s.dataFile = INVALID_FILE;
    return s;
}
InstallerState state = initialState();
