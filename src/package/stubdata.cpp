#include "package/loader.h"

// The block the packaging tool and the relaunch code rely on; it must sit in
// the stub's initialised data.
StubData stubData = {
    {{'Q', 'K', 'g', 'T'}, 0x4829, STUB_SIZE, 0, 0, 0, START_PAGE_WIZARD},
    {0, 0, 0, 0},
    {'Q', 'K', 'C', 'V'},
    {0, 0, 0, 0, 0, 0, 0, 0},
};
