// The few pieces of the C++ runtime the stub needs, without the parts of
// libstdc++ that would bring the unwinder and the name demangler along
// (tens of kilobytes in a program that is downloaded with every package).
#include <windows.h>

#include <new>

#include "../../shared/platform.h"

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    void* block = nullptr;
    return size <= 0xFFFFFFF0u && zevrin::AllocWithRetry(static_cast<uint32_t>(size), &block) ? block : nullptr;
}

void* operator new(std::size_t size)
{
    void* block = operator new(size, std::nothrow);
    if (!block)
        ExitProcess(static_cast<UINT>(-1));
    return block;
}

void operator delete(void* block) noexcept { zevrin::FreeAndClear(&block); }
void operator delete(void* block, std::size_t) noexcept { zevrin::FreeAndClear(&block); }

extern "C" void __cxa_pure_virtual() { ExitProcess(static_cast<UINT>(-1)); }
