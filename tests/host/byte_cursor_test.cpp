// What the byte cursor guarantees every reader of package bytes: no read
// past its end, an error that sticks, alignment from its own start.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "../../stub/shared/byte_cursor.h"

using zevrin::ByteCursor;

namespace {

TEST(ByteCursorTest, ReadsLittleEndianUpToItsEndOnly)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xEE};
    ByteCursor in(bytes, 7); // the last byte is not the cursor's
    EXPECT_EQ(in.U16(), 0x0201);
    EXPECT_EQ(in.U32(), 0x06050403u);
    EXPECT_EQ(in.Left(), 1u);
    EXPECT_EQ(in.U16(), 0) << "one byte left, the next is outside";
    EXPECT_TRUE(in.Failed());
    EXPECT_EQ(in.Left(), 0u);

    ByteCursor none(nullptr, 10);
    EXPECT_EQ(none.Left(), 0u);
    EXPECT_EQ(none.U8(), 0);
    EXPECT_TRUE(none.Failed());
}

// After the first read that does not fit, every read gives nothing, even
// where bytes would remain.
TEST(ByteCursorTest, AFailureSticks)
{
    const uint8_t bytes[] = {'a', 'b', 'c'}; // no NUL, no zero word
    struct Case {
        const char* why;
        std::function<void(ByteCursor&)> read;
    } cases[] = {
        {"u32 from 3 bytes", [](ByteCursor& in) { in.U32(); }},
        {"skip past the end", [](ByteCursor& in) { in.Skip(4); }},
        {"4 bytes of 3", [](ByteCursor& in) { EXPECT_EQ(in.Bytes(4), nullptr); }},
        {"string without NUL", [](ByteCursor& in) { EXPECT_EQ(in.Text(), nullptr); }},
        {"UTF-16 string without end", [](ByteCursor& in) { in.SkipWideText(); }},
        {"sub-cursor longer than the rest", [](ByteCursor& in) { EXPECT_TRUE(in.Sub(4).Failed()); }},
        {"alignment past the end",
         [](ByteCursor& in) {
             in.U8();
             in.Align(4);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ByteCursor in(bytes, sizeof bytes);
        c.read(in);
        EXPECT_TRUE(in.Failed());
        EXPECT_EQ(in.Left(), 0u);
        EXPECT_EQ(in.U8(), 0);
        EXPECT_EQ(in.Bytes(0), nullptr);
        EXPECT_EQ(in.Text(), nullptr);
        EXPECT_TRUE(in.Failed());
    }
}

TEST(ByteCursorTest, StringsEndInside)
{
    const char bytes[] = {'h', 'i', 0, 0, 'x', 'y'};
    ByteCursor in(bytes, sizeof bytes);
    EXPECT_STREQ(in.Text(), "hi");
    EXPECT_STREQ(in.Text(), "");
    EXPECT_EQ(in.Offset(), 4u);
    EXPECT_EQ(in.Text(), nullptr) << "\"xy\" has no NUL before the end";

    const uint8_t wide[] = {'a', 0, 'b', 0, 0, 0, 7};
    ByteCursor w(wide, sizeof wide);
    w.SkipWideText();
    EXPECT_EQ(w.Offset(), 6u);
    EXPECT_EQ(w.U8(), 7);
    EXPECT_FALSE(w.Failed());
}

// A template is walked from wherever it lies in the blob, and is used
// from the start of a block: alignment counts from the cursor's start.
TEST(ByteCursorTest, AlignsFromItsOwnStart)
{
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    ByteCursor in(bytes + 1, 15);
    in.U8();
    in.Align(4);
    EXPECT_EQ(in.Offset(), 4u);
    EXPECT_EQ(in.U8(), 5);
    in.Align(2);
    EXPECT_EQ(in.Offset(), 6u);
    in.Align(2);
    EXPECT_EQ(in.Offset(), 6u) << "already aligned";

    ByteCursor part = in.Sub(6);
    EXPECT_EQ(in.Offset(), 12u);
    part.U8();
    part.Align(4);
    EXPECT_EQ(part.Offset(), 4u);
    EXPECT_EQ(part.U8(), 11);
    EXPECT_EQ(part.Left(), 1u);
}

} // namespace
