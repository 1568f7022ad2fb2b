// Replacing one slot of a test program's own import table: the engine code
// linked into the program then calls the replacement (mingw names each slot
// __imp_<function>).
#pragma once
#include <windows.h>

template <class F>
void replaceImport(F* slot, F replacement, F* original) {
    DWORD was;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *original = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, was, &was);
}
