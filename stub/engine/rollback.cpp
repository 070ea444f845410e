#include "rollback.h"

#include <cstring>

#include "../shared/platform.h"

namespace zevrin {

namespace {

// Each step: kind, a, b, path length, other length (u32 each but the
// kind), the path with its terminator, the other bytes, then the step's
// whole length again so that the walk can go backwards.
const uint32_t StepFixed = 1 + 4 * 4;
uint8_t* Steps = nullptr;
uint32_t Used = 0;
uint32_t Size = 0;
uint32_t Count = 0;

void Put32(uint8_t* at, uint32_t v)
{
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
    at[2] = static_cast<uint8_t>(v >> 16);
    at[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Get32(const uint8_t* at)
{
    return at[0] | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
           (static_cast<uint32_t>(at[3]) << 24);
}

void Read(uint32_t at, JournalStep* step)
{
    const uint8_t* p = Steps + at;
    step->kind = p[0];
    step->a = Get32(p + 1);
    step->b = Get32(p + 5);
    uint32_t pathLength = Get32(p + 9);
    step->otherLength = Get32(p + 13);
    step->path = reinterpret_cast<const char*>(p + StepFixed);
    step->other = p + StepFixed + pathLength;
}

} // namespace

bool JournalAdd(uint8_t kind, const char* path, const void* other, uint32_t otherLength, uint32_t a, uint32_t b)
{
    uint32_t pathLength = static_cast<uint32_t>(std::strlen(path)) + 1;
    if (pathLength > 0x10000 || otherLength > 0x10000)
        return false;
    uint32_t length = StepFixed + pathLength + otherLength + 4;
    if (Used + length > Size) {
        uint32_t size = Size ? Size : 8192;
        while (Used + length > size)
            size *= 2;
        uint8_t* grown = nullptr;
        if (!AllocWithRetry(size, &grown))
            return false;
        if (Used)
            std::memcpy(grown, Steps, Used);
        FreeAndClear(&Steps);
        Steps = grown;
        Size = size;
    }
    uint8_t* p = Steps + Used;
    p[0] = kind;
    Put32(p + 1, a);
    Put32(p + 5, b);
    Put32(p + 9, pathLength);
    Put32(p + 13, otherLength);
    std::memcpy(p + StepFixed, path, pathLength);
    if (otherLength)
        std::memcpy(p + StepFixed + pathLength, other, otherLength);
    Put32(p + length - 4, length);
    Used += length;
    ++Count;
    return true;
}

bool JournalAddPair(uint8_t kind, const char* path, const char* other)
{
    return JournalAdd(kind, path, other, static_cast<uint32_t>(std::strlen(other)) + 1);
}

void JournalDropLast()
{
    if (!Used)
        return;
    Used -= Get32(Steps + Used - 4);
    --Count;
}

void ClearJournal()
{
    FreeAndClear(&Steps);
    Used = Size = Count = 0;
}

uint32_t JournalCount() { return Count; }

uint32_t JournalEnd() { return Used; }

bool JournalNext(uint32_t* at, JournalStep* step)
{
    if (*at >= Used)
        return false;
    Read(*at, step);
    *at += StepFixed + Get32(Steps + *at + 9) + step->otherLength + 4;
    return true;
}

bool JournalPrevious(uint32_t* at, JournalStep* step)
{
    if (*at == 0 || *at > Used)
        return false;
    *at -= Get32(Steps + *at - 4);
    Read(*at, step);
    return true;
}

bool BackupName(const char* path, unsigned attempt, char* out, uint32_t size)
{
    static const char Ending[] = ".zvbak";
    char number[12] = "";
    if (attempt > 1) {
        // Decimal, without the C library's formatting.
        char digits[12];
        int n = 0;
        for (unsigned v = attempt; v; v /= 10)
            digits[n++] = static_cast<char>('0' + v % 10);
        for (int i = 0; i < n; ++i)
            number[i] = digits[n - 1 - i];
        number[n] = 0;
    }
    size_t pathLength = std::strlen(path);
    size_t numberLength = std::strlen(number);
    if (pathLength + sizeof Ending - 1 + numberLength + 1 > size)
        return false;
    std::memcpy(out, path, pathLength);
    std::memcpy(out + pathLength, Ending, sizeof Ending - 1);
    std::memcpy(out + pathLength + sizeof Ending - 1, number, numberLength + 1);
    return true;
}

} // namespace zevrin
