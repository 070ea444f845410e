// Memory wrappers. Each block carries its requested size in a small prefix
// so that BlockSize is exact on every platform (GlobalSize may round up).
#include "platform.h"

#include <cstdlib>
#include <cstring>
#if defined(_WIN32)
#include <malloc.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace zevrin {

int AllocationFailureCountdown = -1;

namespace {

// 16 keeps the payload aligned for any type the program stores in it.
const size_t PrefixSize = 16;

void CompactHeap()
{
#if defined(_WIN32)
    _heapmin();
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void* RawAlloc(uint32_t size)
{
    if (AllocationFailureCountdown == 0)
        return nullptr;
    if (AllocationFailureCountdown > 0)
        --AllocationFailureCountdown;
    if (size > UINT32_MAX - PrefixSize)
        return nullptr;
    unsigned char* raw = static_cast<unsigned char*>(std::malloc(size + PrefixSize));
    if (!raw)
        return nullptr;
    std::memcpy(raw, &size, sizeof size);
    return raw + PrefixSize;
}

bool Allocate(uint32_t size, void** out, bool zeroed)
{
    void* block = RawAlloc(size);
    if (!block) {
        CompactHeap();
        block = RawAlloc(size);
    }
    if (block && zeroed)
        std::memset(block, 0, size);
    *out = block;
    return block != nullptr;
}

} // namespace

bool AllocWithRetry(uint32_t size, void** out)
{
    return Allocate(size, out, false);
}

bool AllocZeroedWithRetry(uint32_t size, void** out)
{
    return Allocate(size, out, true);
}

void FreeAndClear(void** block)
{
    if (*block)
        std::free(static_cast<unsigned char*>(*block) - PrefixSize);
    *block = nullptr;
}

uint32_t BlockSize(const void* block)
{
    if (!block)
        return 0;
    uint32_t size;
    std::memcpy(&size, static_cast<const unsigned char*>(block) - PrefixSize, sizeof size);
    return size;
}

} // namespace zevrin
