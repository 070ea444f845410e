// The arithmetic of the disk-space check. Sizes and sums are 64-bit: a
// table can need more than 4 GB, and a wrapped sum would pass the check.
#pragma once

#include <cstdint>

namespace zevrin {

// Free space in KB as FreeDiskSpaceKB gives it: a count, or one of these.
// Compared unsigned, FreeSpacePlenty is more than any count.
const uint32_t FreeSpaceUnknown = 0xFFFFFFFF;
const uint32_t FreeSpacePlenty = 0xFFFFFFFE; // at least 4 TiB

// KB in `bytes`, FreeSpacePlenty from 4 TiB - 2 KB on (so that no count
// reads as FreeSpaceUnknown).
uint32_t FreeKBFromBytes(uint64_t bytes);
// The count from the older call's answer: ((cluster bytes >> 8) * free
// clusters) >> 2, saturating like FreeKBFromBytes.
uint32_t FreeKBFromClusters(uint64_t clusterBytes, uint32_t freeClusters);
// Cluster size in whole KB, rounded up; 1 when clusterBytes is 0.
uint32_t ClusterKB(uint64_t clusterBytes);

// size rounded up to whole clusters (size itself for a cluster of 0).
uint64_t RoundToClusters(uint64_t size, uint64_t clusterBytes);

// What the file table needs on the target volume: `needed` is the growth
// of every file over what its existing copy already occupies, `largest`
// the room for the biggest file, unpacked beside its old copy.
struct SpaceNeed {
    uint64_t needed = 0;
    uint64_t largest = 0;
};

// Counts one entry. existingSize is null when the destination does not
// open; an external file (not unpacked) counts only towards largest.
void CountEntrySpace(SpaceNeed& need, uint64_t clusterBytes, uint32_t fileSize, const uint64_t* existingSize,
                     bool external);

// 0 when the need fits in freeKB, ErrorDiskSpace (11) when it does not:
// it must be below the free space, exactly as much is too little. Unknown
// free space passes, and so does FreeSpacePlenty.
int CompareWithFreeSpace(const SpaceNeed& need, uint32_t freeKB);

} // namespace zevrin
