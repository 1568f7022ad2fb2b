// The little of the C++ runtime the stub needs, so that it links without
// libstdc++: heap operators on the installer's own allocator (used only by
// the decoder's sink objects' virtual destructors) and the pure-virtual trap.
#include <windows.h>

#include "package/fileops.h"

void* operator new(size_t size) { return allocBuffer(static_cast<uint32_t>(size)); }
void operator delete(void* p) noexcept { freeBlock(p); }
void operator delete(void* p, size_t) noexcept { freeBlock(p); }

extern "C" void __cxa_pure_virtual() { ExitProcess(static_cast<UINT>(-1)); }
