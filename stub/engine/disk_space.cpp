#include "disk_space.h"

#include "../shared/state.h"

namespace zevrin {

uint32_t FreeKBFromBytes(uint64_t bytes)
{
    uint64_t kb = bytes >> 10;
    return kb >= FreeSpacePlenty ? FreeSpacePlenty : static_cast<uint32_t>(kb);
}

uint32_t FreeKBFromClusters(uint64_t clusterBytes, uint32_t freeClusters)
{
    // The product can pass 64 bits for absurd answers: saturate first.
    uint64_t perCluster = clusterBytes >> 8;
    if (perCluster && freeClusters > (uint64_t(FreeSpacePlenty) << 2) / perCluster)
        return FreeSpacePlenty;
    uint64_t kb = (perCluster * freeClusters) >> 2;
    return kb >= FreeSpacePlenty ? FreeSpacePlenty : static_cast<uint32_t>(kb);
}

uint32_t ClusterKB(uint64_t clusterBytes)
{
    uint64_t kb = (clusterBytes + 1023) >> 10;
    if (kb == 0)
        return 1;
    return kb > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(kb);
}

uint64_t RoundToClusters(uint64_t size, uint64_t clusterBytes)
{
    if (clusterBytes == 0)
        return size;
    return (size + clusterBytes - 1) / clusterBytes * clusterBytes;
}

void CountEntrySpace(SpaceNeed& need, uint64_t clusterBytes, uint32_t fileSize, const uint64_t* existingSize,
                     bool external)
{
    uint64_t rounded = RoundToClusters(fileSize, clusterBytes);
    if (rounded > need.largest)
        need.largest = rounded;
    if (external)
        return;
    uint64_t existing = existingSize ? RoundToClusters(*existingSize, clusterBytes) : 0;
    if (rounded > existing)
        need.needed += rounded - existing;
}

int CompareWithFreeSpace(const SpaceNeed& need, uint32_t freeKB)
{
    if (freeKB == FreeSpaceUnknown || freeKB == FreeSpacePlenty)
        return 0;
    return (need.largest + need.needed) >> 10 < freeKB ? 0 : ErrorDiskSpace;
}

} // namespace zevrin
