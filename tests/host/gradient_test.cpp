// The background gradient: row colours, the band colours of the dithered
// painting and the pattern built from them.
#include <gtest/gtest.h>

#include <cstdint>

#include "../../stub/background/gradient.h"

using namespace zevrin;

namespace {

uint32_t Blue(uint32_t value)
{
    return value << 16;
}

} // namespace

TEST(GradientTest, RowColours)
{
    struct Case {
        int y, height;
        uint32_t blue;
    } cases[] = {
        {0, 100, 255},   // top
        {100, 100, 0},   // bottom
        {50, 100, 192},  // 255 - 63.75 truncated: quadratic, not halfway
        {10, 100, 253},  // 255 - 2.55
        {1, 768, 255},
        {384, 768, 192},
        {767, 768, 1},   // 255 - 254.3
        {768, 768, 0},
        // Tall screens: y*y*255 passes 32 bits here.
        {3000, 4320, 133},
        {4320, 4320, 0},
        // Rows outside the client area take the nearest edge's colour.
        {-5, 100, 255},
        {150, 100, 0},
        // No client area: no division by zero.
        {0, 0, 255},
        {7, 0, 255},
        {0, -3, 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GradientColour(c.y, c.height), Blue(c.blue)) << c.y << " of " << c.height;
}

TEST(GradientTest, OnlyBlueFallingQuadratically)
{
    for (int height : {1, 2, 7, 480, 600, 768, 1024, 1200, 2160}) {
        uint32_t previous = 0xFFFFFFFF;
        for (int y = 0; y <= height; ++y) {
            uint32_t colour = GradientColour(y, height);
            ASSERT_EQ(colour & 0xFF00FFFFu, 0u) << y << " of " << height;
            ASSERT_LE(colour, previous) << y << " of " << height;
            // Within 32-bit range the documented signed arithmetic.
            int32_t v = y * y * 255 / (height * height);
            ASSERT_EQ(colour, Blue(static_cast<uint32_t>(255 - v))) << y << " of " << height;
            previous = colour;
        }
        EXPECT_EQ(GradientColour(0, height), Blue(255));
        EXPECT_EQ(GradientColour(height, height), 0u);
    }
}

TEST(GradientTest, BandColoursLookAheadAndClampAtTheBottom)
{
    struct Case {
        const char* name;
        int bandTop, height;
        int rows[8]; // rows whose colours the band mixes
    } cases[] = {
        {"first band", 0, 768, {0, 8, 16, 24, 32, 40, 48, 56}},
        {"middle band", 400, 768, {400, 408, 416, 424, 432, 440, 448, 456}},
        {"reaches just to the bottom", 712, 768, {712, 720, 728, 736, 744, 752, 760, 768}},
        {"last band: all but its own row clamped", 760, 768, {760, 768, 768, 768, 768, 768, 768, 768}},
        {"client shorter than one band", 0, 20, {0, 8, 16, 20, 20, 20, 20, 20}},
        {"band of a client shorter than its reach", 16, 20, {16, 20, 20, 20, 20, 20, 20, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t colours[8];
        GradientBandColours(c.bandTop, c.height, colours);
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(colours[k], GradientColour(c.rows[k], c.height)) << k;
    }
    uint32_t colours[8];
    GradientBandColours(760, 768, colours);
    for (int k = 1; k < 8; ++k)
        EXPECT_EQ(colours[k], 0u) << "the bottom band mixes in the final colour";
}

TEST(GradientTest, DitherTableMixesEveryColourOncePerColumn)
{
    for (int column = 0; column < 8; ++column) {
        int seen[8] = {};
        for (int row = 0; row < 8; ++row) {
            uint8_t index = GradientDitherTable[row * 8 + column];
            ASSERT_LT(index, 8);
            ++seen[index];
        }
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(seen[k], 1) << "column " << column << " colour " << k;
    }
    const uint8_t firstRow[8] = {0, 3, 1, 4, 2, 5, 3, 6};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(GradientDitherTable[i], firstRow[i]);
}

TEST(GradientTest, PatternIsAPackedEightByEightDib)
{
    uint8_t pattern[DitherPatternSize];
    for (int bandTop : {0, 16, 400}) {
        SCOPED_TRACE(bandTop);
        const int height = 20 + bandTop;
        BuildDitherPattern(bandTop, height, pattern);
        auto le32 = [&pattern](int at) {
            return uint32_t(pattern[at]) | uint32_t(pattern[at + 1]) << 8 | uint32_t(pattern[at + 2]) << 16 |
                   uint32_t(pattern[at + 3]) << 24;
        };
        EXPECT_EQ(le32(0), 40u);
        EXPECT_EQ(le32(4), 8u);
        EXPECT_EQ(le32(8), 8u);
        EXPECT_EQ(pattern[12] | pattern[13] << 8, 1);
        EXPECT_EQ(pattern[14] | pattern[15] << 8, 24);
        EXPECT_EQ(le32(16), 0u);
        EXPECT_EQ(le32(20), 192u);
        for (int at = 24; at < 40; ++at)
            EXPECT_EQ(pattern[at], 0) << at;

        uint32_t colours[8];
        GradientBandColours(bandTop, height, colours);
        for (int n = 0; n < 64; ++n) {
            uint32_t c = colours[GradientDitherTable[n]];
            const uint8_t* pixel = pattern + 40 + 3 * n;
            EXPECT_EQ(pixel[0], (c >> 16) & 0xFF) << n; // blue first
            EXPECT_EQ(pixel[1], (c >> 8) & 0xFF) << n;
            EXPECT_EQ(pixel[2], c & 0xFF) << n;
        }
    }
    // A band whose reach passes the bottom: only index 0 keeps any blue.
    BuildDitherPattern(16, 20, pattern);
    for (int n = 0; n < 64; ++n)
        EXPECT_EQ(pattern[40 + 3 * n], GradientDitherTable[n] == 0 ? 92 : 0) << n;
}
