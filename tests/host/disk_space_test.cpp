// The disk-space arithmetic: cluster rounding, the need of a table, the
// comparison with the free space and the free-space counts.
#include <gtest/gtest.h>

#include <vector>

#include "../../stub/engine/disk_space.h"
#include "../../stub/shared/state.h"

using namespace zevrin;

namespace {

const uint64_t KB = 1024;
const uint64_t GB = KB * KB * KB;
const uint64_t Cluster4K = 4096;

struct Entry {
    uint32_t fileSize;
    bool exists;
    uint64_t existingSize;
    bool external;
};
Entry New(uint32_t size) { return {size, false, 0, false}; }
Entry Over(uint32_t size, uint64_t existing) { return {size, true, existing, false}; }
Entry External(uint32_t size) { return {size, false, 0, true}; }

SpaceNeed Count(uint64_t cluster, const std::vector<Entry>& entries)
{
    SpaceNeed need;
    for (const Entry& e : entries)
        CountEntrySpace(need, cluster, e.fileSize, e.exists ? &e.existingSize : nullptr, e.external);
    return need;
}

TEST(DiskSpaceTest, NeedOfATable)
{
    struct Case {
        const char* why;
        uint64_t cluster;
        std::vector<Entry> entries;
        uint64_t needed;
        uint64_t largest;
    } cases[] = {
        {"a new 1-byte file takes a cluster", Cluster4K, {New(1)}, 4096, 4096},
        {"a new 4097-byte file takes two", Cluster4K, {New(4097)}, 8192, 8192},
        {"a new file of exactly one cluster", Cluster4K, {New(4096)}, 4096, 4096},
        {"an empty file takes nothing", Cluster4K, {New(0)}, 0, 0},
        {"10000 over 9000: same clusters, no growth", Cluster4K, {Over(10000, 9000)}, 0, 12288},
        {"a smaller file gives nothing back", Cluster4K, {Over(9000, 10000), New(1)}, 4096, 12288},
        {"growth over the old copy", Cluster4K, {Over(5000, 100)}, 4096, 8192},
        {"over an empty old copy", Cluster4K, {Over(1, 0)}, 4096, 4096},
        {"an old copy past 4 GB", Cluster4K, {Over(1, 5 * GB)}, 0, 4096},
        {"an external file counts only as the largest", Cluster4K, {New(1), External(100000)}, 4096, 102400},
        {"largest is the biggest entry, not the last", Cluster4K, {New(20000), New(1)}, 24576, 20480},
        {"512-byte clusters", 512, {New(1), New(513)}, 1536, 1024},
        {"no cluster size: bytes as they are", 0, {New(1), New(4097)}, 4098, 4097},
        {"a file of 4 GB - 1 rounds up to 4 GB, not to 0", Cluster4K, {New(0xFFFFFFFF)}, 4 * GB, 4 * GB},
        {"sums past 4 GB", Cluster4K, {New(3 * GB), New(3 * GB), New(1)}, 6 * GB + 4096, 3 * GB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SpaceNeed need = Count(c.cluster, c.entries);
        EXPECT_EQ(need.needed, c.needed);
        EXPECT_EQ(need.largest, c.largest);
    }
}

TEST(DiskSpaceTest, ComparisonWithFreeSpace)
{
    struct Case {
        const char* why;
        uint64_t needed;
        uint64_t largest;
        uint32_t freeKB;
        int result;
    } cases[] = {
        {"exactly as much free as needed is too little", 8192, 4096, 12, ErrorDiskSpace},
        {"one KB more is enough", 8192, 4096, 13, 0},
        {"less is too little", 8192, 4096, 11, ErrorDiskSpace},
        {"part of a KB is not counted", 8192, 4096 + 1023, 13, 0},
        {"a full disk fails even when nothing is needed", 0, 0, 0, ErrorDiskSpace},
        {"unknown free space passes", 100 * GB, 4096, FreeSpaceUnknown, 0},
        {"at least 4 TiB passes", 100 * GB, 4096, FreeSpacePlenty, 0},
        {"6 GB needed, 4 GB free: no wrap to 2 GB", 6 * GB, 4096, 4 * 1024 * 1024, ErrorDiskSpace},
        {"6 GB needed, 7 GB free", 6 * GB, 4096, 7 * 1024 * 1024, 0},
        {"need and largest add up past 4 GB", 3 * GB, 3 * GB, 5 * 1024 * 1024, ErrorDiskSpace},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SpaceNeed need;
        need.needed = c.needed;
        need.largest = c.largest;
        EXPECT_EQ(CompareWithFreeSpace(need, c.freeKB), c.result);
    }
}

TEST(DiskSpaceTest, FreeSpaceCounts)
{
    const uint64_t TiB4 = uint64_t(1) << 42;
    struct BytesCase {
        uint64_t bytes;
        uint32_t kb;
    } fromBytes[] = {
        {0, 0},
        {1023, 0},
        {1024, 1},
        {5 * GB, 5 * 1024 * 1024},
        {TiB4 - 2049, 0xFFFFFFFD},
        {TiB4 - 2048, FreeSpacePlenty},
        {TiB4 - 1, FreeSpacePlenty}, // would be 0xFFFFFFFF: unknown
        {TiB4, FreeSpacePlenty},
        {~uint64_t(0), FreeSpacePlenty},
    };
    for (const BytesCase& c : fromBytes)
        EXPECT_EQ(FreeKBFromBytes(c.bytes), c.kb) << c.bytes;

    struct ClusterCase {
        uint64_t clusterBytes;
        uint32_t freeClusters;
        uint32_t kb;
    } fromClusters[] = {
        {4096, 1000, 4000},
        {512, 3, 1},
        {4096, 0, 0},
        {0, 5, 0},
        {65536, 0x3FFFFFF, 0xFFFFFFC0},
        {65536, 0x4000000, FreeSpacePlenty},
        {4096, 0xFFFFFFFF, FreeSpacePlenty}, // 16 TiB: 32 bits would wrap to about 1 TiB
        {uint64_t(1) << 40, 0x80000000, FreeSpacePlenty},
    };
    for (const ClusterCase& c : fromClusters)
        EXPECT_EQ(FreeKBFromClusters(c.clusterBytes, c.freeClusters), c.kb) << c.clusterBytes << " x " << c.freeClusters;

    struct KBCase {
        uint64_t clusterBytes;
        uint32_t kb;
    } clusterKB[] = {{0, 1}, {1, 1}, {512, 1}, {1024, 1}, {1025, 2}, {4096, 4}, {65536, 64}};
    for (const KBCase& c : clusterKB)
        EXPECT_EQ(ClusterKB(c.clusterBytes), c.kb) << c.clusterBytes;
}

} // namespace
