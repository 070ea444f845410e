// Stored bitmaps from the package: which records are drawn, where their
// table and rows are taken from, and that nothing accepted reaches past
// the record.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../../stub/pages/stored_bitmap.h"

using namespace zevrin;

namespace {

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

struct Shape {
    int32_t width;
    int32_t height;
    uint16_t bits;
    uint32_t coloursUsed = 0;
    uint32_t compression = 0;
    uint32_t infoSize = 40;
};

// A record with a table and pixel rows exactly as long as the shape says
// (table entries numbered 1, 2, 3... in their blue and green bytes), plus `extra`
// bytes; `tableBytes` and `pixelBytes` override what the shape implies.
std::vector<uint8_t> Record(const Shape& s, int64_t tableBytes = -1, int64_t pixelBytes = -1, size_t extra = 0)
{
    if (tableBytes < 0)
        tableBytes = s.coloursUsed ? int64_t(s.coloursUsed) * 4 : s.bits <= 8 ? int64_t(4) << s.bits : 0;
    if (pixelBytes < 0) {
        int64_t rows = s.height < 0 ? -int64_t(s.height) : s.height;
        pixelBytes = (int64_t(s.width) * s.bits + 31) / 32 * 4 * rows;
    }
    std::vector<uint8_t> bytes(size_t(54 + tableBytes + pixelBytes + int64_t(extra)), 0xA5);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put32(bytes, 14, s.infoSize);
    Put32(bytes, 18, static_cast<uint32_t>(s.width));
    Put32(bytes, 22, static_cast<uint32_t>(s.height));
    Put16(bytes, 26, 1);
    Put16(bytes, 28, s.bits);
    Put32(bytes, 30, s.compression);
    Put32(bytes, 46, s.coloursUsed);
    for (int64_t i = 0; i < tableBytes / 4; ++i) {
        bytes[size_t(54 + 4 * i)] = static_cast<uint8_t>(i + 1);
        bytes[size_t(54 + 4 * i + 1)] = static_cast<uint8_t>((i + 1) >> 8);
        bytes[size_t(54 + 4 * i + 2)] = 0;
        bytes[size_t(54 + 4 * i + 3)] = 0;
    }
    return bytes;
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

bool Read(const std::vector<uint8_t>& bytes, StoredBitmapView* view)
{
    return ReadStoredBitmap(bytes.data(), static_cast<uint32_t>(bytes.size()), view);
}

// Everything an accepted view points at lies inside the record.
void ExpectInside(const std::vector<uint8_t>& bytes, const StoredBitmapView& view)
{
    const uint8_t* begin = bytes.data();
    const uint8_t* end = begin + bytes.size();
    ASSERT_GE(view.bits, begin + 54);
    ASSERT_LE(view.bitsSize, static_cast<size_t>(end - view.bits));
    if (view.table) {
        ASSERT_EQ(view.table, begin + 54);
        ASSERT_LE(size_t(view.tableEntries) * 4, static_cast<size_t>(view.bits - view.table));
    }
}

} // namespace

TEST(StoredBitmapTest, LayoutOfAcceptedRecords)
{
    struct Case {
        const char* name;
        Shape shape;
        int32_t rows;
        uint32_t rowBytes;
        uint32_t tableEntries; // usable entries
        uint32_t tableBytes;   // bytes skipped before the rows
    } cases[] = {
        {"24-bit rows padded to 4 bytes", {3, 2, 24}, 2, 12, 0, 0},
        {"32-bit", {3, 2, 32}, 2, 12, 0, 0},
        {"16-bit odd width", {3, 1, 16}, 1, 8, 0, 0},
        {"1-bit full table", {33, 1, 1}, 1, 8, 2, 8},
        {"4-bit full table", {5, 3, 4}, 3, 4, 16, 64},
        {"4-bit short table", {5, 3, 4, 3}, 3, 4, 3, 12},
        {"8-bit full table", {4, 4, 8}, 4, 4, 256, 1024},
        {"8-bit short table", {4, 4, 8, 2}, 4, 4, 2, 8},
        {"8-bit table longer than 256: rows after all of it", {4, 4, 8, 300}, 4, 4, 256, 1200},
        {"1-bit table longer than 2", {8, 1, 1, 5}, 1, 4, 2, 20},
        {"24-bit with a table that is only skipped", {2, 2, 24, 2}, 2, 8, 0, 8},
        {"top-down", {3, -2, 24}, 2, 12, 0, 0},
        {"largest side", {MaxBitmapSide, 1, 1}, 1, 4096, 2, 8},
        {"largest top-down height", {1, -MaxBitmapSide, 1}, MaxBitmapSide, 4, 2, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t extra : {size_t(0), size_t(7)}) {
            std::vector<uint8_t> bytes = Record(c.shape, -1, -1, extra);
            StoredBitmapView view;
            ASSERT_TRUE(Read(bytes, &view));
            EXPECT_EQ(view.width, c.shape.width);
            EXPECT_EQ(view.height, c.shape.height);
            EXPECT_EQ(view.rows, c.rows);
            EXPECT_EQ(view.bitCount, c.shape.bits);
            EXPECT_EQ(view.rowBytes, c.rowBytes);
            EXPECT_EQ(view.bitsSize, c.rowBytes * uint32_t(c.rows));
            EXPECT_EQ(view.tableEntries, c.tableEntries);
            EXPECT_EQ(view.table, c.tableEntries ? bytes.data() + 54 : nullptr);
            // The file header's bit offset is never consulted.
            EXPECT_EQ(view.bits, bytes.data() + 54 + c.tableBytes);
            ExpectInside(bytes, view);
        }
    }
}

TEST(StoredBitmapTest, DamagedRecordsAreRefused)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"no bytes", {}},
        {"shorter than the two headers", Truncated(Record({1, 1, 24}), 53)},
        {"core header (12 bytes)", Record({1, 1, 24, 0, 0, 12})},
        {"V4 header", Record({1, 1, 24, 0, 0, 108})},
        {"V5 header", Record({1, 1, 24, 0, 0, 124})},
        {"RLE8 rows", Record({4, 4, 8, 0, 1})},
        {"RLE4 rows", Record({4, 4, 4, 0, 2})},
        {"bit fields", Record({4, 4, 32, 0, 3})},
        {"JPEG rows", Record({4, 4, 24, 0, 4})},
        {"0 bits per pixel", Record({4, 4, 0})},
        {"2 bits per pixel", Record({4, 4, 2})},
        {"7 bits per pixel", Record({4, 4, 7})},
        {"48 bits per pixel", Record({4, 4, 48})},
        {"zero width", Record({0, 4, 24})},
        {"negative width", Record({-4, 4, 24}, 0, 64)},
        {"zero height", Record({4, 0, 24})},
        {"width beyond the limit", Record({MaxBitmapSide + 1, 1, 1})},
        {"height beyond the limit", Record({1, MaxBitmapSide + 1, 1})},
        {"top-down height beyond the limit", Record({1, -MaxBitmapSide - 1, 1})},
        {"most negative height", Record({1, INT32_MIN, 24}, 0, 4)},
        {"most negative width", Record({INT32_MIN, 1, 24}, 0, 4)},
        {"table cut short (8-bit, 128 of 256 entries)", Record({4, 4, 8}, 512, 0)},
        {"short table cut shorter", Record({4, 4, 8, 16}, 60, 16)},
        {"colour count of 2^32 - 1", Record({4, 4, 8, 0xFFFFFFFFu}, 1024, 16)},
        // 0x40000001 * 4 wraps to 4 in 32 bits.
        {"colour count that wraps to one entry", Record({1, 1, 24, 0x40000001u}, 4, 4)},
        {"rows one byte short", Record({3, 2, 24}, -1, 23)},
        {"rows without their padding", Record({1, 2, 24}, -1, 6)},
        {"header claims far more rows than present", Record({MaxBitmapSide, MaxBitmapSide, 32}, -1, 4096)},
        {"top-down rows short", Record({3, -2, 24}, -1, 12)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoredBitmapView view;
        view.width = 99;
        EXPECT_FALSE(Read(c.bytes, &view));
        // Nothing from a refused record is left to draw with.
        EXPECT_EQ(view.bits, nullptr);
        EXPECT_EQ(view.width, 0);
    }
    StoredBitmapView view;
    EXPECT_FALSE(ReadStoredBitmap(nullptr, 1000, &view));
}

TEST(StoredBitmapTest, EveryTruncationIsRefused)
{
    for (const Shape& shape : {Shape{5, 3, 8, 7}, Shape{3, -2, 24}, Shape{33, 2, 1}}) {
        std::vector<uint8_t> bytes = Record(shape);
        StoredBitmapView view;
        ASSERT_TRUE(Read(bytes, &view));
        for (size_t size = 0; size < bytes.size(); ++size)
            EXPECT_FALSE(ReadStoredBitmap(bytes.data(), static_cast<uint32_t>(size), &view)) << size;
    }
}

// Headers made of arbitrary field values over a record of fixed size: any
// that is accepted must keep its table and rows inside the record.
TEST(StoredBitmapTest, ArbitraryHeadersStayInsideTheRecord)
{
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const uint32_t interesting[] = {0, 1, 2, 3, 4, 8, 16, 24, 32, 255, 256, 257, 1023,
                                    0x7FFF, 0x8000, 0xFFFF, 0x40000000, 0x40000001,
                                    0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE};
    auto field = [&] {
        uint32_t pick = next();
        return pick % 3 ? interesting[pick % (sizeof interesting / sizeof interesting[0])] : next();
    };
    const uint16_t depths[] = {1, 4, 8, 16, 24, 32};
    int accepted = 0;
    for (int i = 0; i < 50000; ++i) {
        std::vector<uint8_t> bytes(54 + next() % 2048, 0);
        Put32(bytes, 14, next() % 8 ? 40 : field());
        Put32(bytes, 18, field() % (next() % 2 ? 64 : 0xFFFFFFFF));
        Put32(bytes, 22, field());
        Put16(bytes, 28, static_cast<uint16_t>(next() % 2 ? depths[next() % 6] : field()));
        Put32(bytes, 30, next() % 8 ? 0 : field());
        Put32(bytes, 46, next() % 2 ? 0 : field());
        StoredBitmapView view;
        if (!Read(bytes, &view))
            continue;
        ++accepted;
        ExpectInside(bytes, view);
        if (HasFatalFailure())
            return;
        EXPECT_GT(view.width, 0);
        EXPECT_GT(view.rows, 0);
        EXPECT_LE(view.width, MaxBitmapSide);
        EXPECT_LE(view.rows, MaxBitmapSide);
    }
    // The generator must reach the accepting side too.
    EXPECT_GT(accepted, 100);
}

TEST(StoredBitmapTest, DrawingHeaderIsBuiltFromCheckedValues)
{
    struct Case {
        const char* name;
        Shape shape;
        uint32_t ownEntries; // table entries copied from the record
    } cases[] = {
        {"8-bit short table: the rest black", {4, 4, 8, 3}, 3},
        {"8-bit full table", {4, 4, 8}, 256},
        {"8-bit table longer than 256", {4, 4, 8, 300}, 256},
        {"1-bit with a long table: only two used", {8, 1, 1, 5}, 2},
        {"24-bit: no table", {2, 2, 24, 2}, 0},
        {"top-down keeps its sign", {3, -2, 24}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = Record(c.shape);
        Put16(bytes, 26, 7); // planes: not the platform's business here
        Put32(bytes, 34, 0xFFFFFFFF); // biSizeImage as the package claims it
        StoredBitmapView view;
        ASSERT_TRUE(Read(bytes, &view));
        uint8_t info[BitmapInfoBlockSize];
        std::memset(info, 0xCC, sizeof info);
        BuildBitmapInfo(view, info);

        auto le32 = [&info](size_t at) {
            return uint32_t(info[at]) | uint32_t(info[at + 1]) << 8 | uint32_t(info[at + 2]) << 16 |
                   uint32_t(info[at + 3]) << 24;
        };
        EXPECT_EQ(le32(0), 40u);
        EXPECT_EQ(static_cast<int32_t>(le32(4)), c.shape.width);
        EXPECT_EQ(static_cast<int32_t>(le32(8)), c.shape.height);
        EXPECT_EQ(info[12] | info[13] << 8, 1);
        EXPECT_EQ(info[14] | info[15] << 8, c.shape.bits);
        EXPECT_EQ(le32(16), 0u) << "compression";
        EXPECT_EQ(le32(20), view.bitsSize);
        EXPECT_EQ(le32(32), 0u) << "colours used: the platform reads 2^bits entries";
        EXPECT_EQ(le32(36), 0u);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t entry = le32(40 + 4 * i);
            if (i < c.ownEntries)
                EXPECT_EQ(entry, i + 1) << i;
            else
                EXPECT_EQ(entry, 0u) << i;
        }
    }
}
