// Channel operations of the column colour model, and the column fill checked
// word by word against the plain per-pixel rule.
#include "colour/colour.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

testing::AssertionResult channels_are(const col_color& c, uint8_t r, uint8_t g, uint8_t b)
{
    if (c.r == r && c.g == g && c.b == b) {
        return testing::AssertionSuccess();
    }
    // AssertionResult formats each piece on its own, so the hex is set up here.
    std::ostringstream s;
    s << std::hex << "got r=0x" << int{c.r} << " g=0x" << int{c.g} << " b=0x" << int{c.b}
      << ", want r=0x" << int{r} << " g=0x" << int{g} << " b=0x" << int{b};
    return testing::AssertionFailure() << s.str();
}

TEST(ChannelOps, IncrementWrapsEachChannelModulo256)
{
    col_color c{.r = 0xF8, .g = 0x00, .b = 0xFF, .change_mask = CHANNEL_ALL};
    color_inc(c, CHANNEL_ALL, COLOR_STEP);
    EXPECT_TRUE(channels_are(c, 0x08, 0x10, 0x0F));
}

TEST(ChannelOps, DecrementWrapsBelowZero)
{
    col_color c{.r = 0x05, .g = 0x00, .b = 0x20, .change_mask = CHANNEL_ALL};
    color_dec(c, CHANNEL_ALL, COLOR_STEP);
    EXPECT_TRUE(channels_are(c, 0xF5, 0xF0, 0x10));
}

TEST(ChannelOps, DefectStepWrapsBothWays)
{
    col_color c{.r = 253, .g = 2, .b = 100, .change_mask = CHANNEL_ALL};
    color_inc(c, CHANNEL_RED, 4);
    color_dec(c, CHANNEL_GREEN, 4);
    EXPECT_TRUE(channels_are(c, 1, 254, 100));
}

TEST(ChannelOps, SelectorPicksSingleChannels)
{
    col_color c{.r = 10, .g = 20, .b = 30, .change_mask = CHANNEL_ALL};
    color_inc(c, CHANNEL_GREEN, COLOR_STEP);
    EXPECT_TRUE(channels_are(c, 10, 36, 30));
    color_set(c, COLOR_FULL, CHANNEL_BLUE);
    EXPECT_TRUE(channels_are(c, 10, 36, 255));
    color_dec(c, CHANNEL_RED, COLOR_STEP);
    EXPECT_TRUE(channels_are(c, 250, 36, 255));
}

TEST(ChannelOps, MaskZeroLocksEveryOperation)
{
    col_color c{.r = 1, .g = 2, .b = 3, .change_mask = 0};
    color_inc(c, CHANNEL_ALL, COLOR_STEP);
    color_dec(c, CHANNEL_ALL, 7);
    color_set(c, COLOR_FULL, CHANNEL_ALL);
    EXPECT_TRUE(channels_are(c, 1, 2, 3));
    EXPECT_EQ(c.change_mask, 0);
}

TEST(ChannelOps, PartialMaskLeavesLockedChannelAndMaskAlone)
{
    col_color c{.r = 1, .g = 2, .b = 3, .change_mask = 0x5};
    color_set(c, COLOR_FULL, CHANNEL_ALL);
    EXPECT_TRUE(channels_are(c, 255, 2, 255));
    color_inc(c, CHANNEL_ALL, COLOR_STEP);
    EXPECT_TRUE(channels_are(c, 15, 2, 15));
    EXPECT_EQ(c.change_mask, 0x5);
}

constexpr uint32_t CANARY = 0xDEADBEEF;

// The rule the fill must follow, one pixel at a time.
void reference_fill(std::vector<uint32_t>& frame, size_t pitch_words, uint16_t width,
                    uint16_t height, const pattern_state& s)
{
    const uint32_t half = width / 2;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const bool enabled = x < half ? s.left_enabled : s.right_enabled;
            const col_color& c = x % 2 == 0 ? s.even : s.odd;
            frame[y * pitch_words + x] = enabled ? color_word(c.r, c.g, c.b) : BLANK_WORD;
        }
    }
}

// Word-by-word comparison naming the first pixels (or padding words) that differ.
testing::AssertionResult frames_equal(const std::vector<uint32_t>& got,
                                      const std::vector<uint32_t>& want, size_t pitch_words)
{
    std::ostringstream s;
    int differing = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        if (got[i] != want[i] && differing++ < 5) {
            s << "\n  word at x=" << i % pitch_words << " y=" << i / pitch_words << std::hex
              << ": got 0x" << got[i] << ", want 0x" << want[i] << std::dec;
        }
    }
    if (differing == 0) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << s.str() << "\n  (" << differing << " words differ)";
}

struct fill_case {
    uint16_t width;
    uint16_t height;
    uint32_t pad_bytes; // pitch = width * 4 + pad_bytes
};

TEST(FillPattern, MatchesPerPixelRuleForOddWidthsPaddedPitchesAndEveryEnable)
{
    const fill_case cases[] = {
        {1, 2, 0},    {2, 2, 0},    {5, 3, 0},     {5, 3, 12},  {7, 3, 4},
        {4320, 3, 0}, {4320, 3, 128}, {4321, 3, 0}, {4321, 2, 60},
        {9000, 2, 8}, // wider than any real mode
    };
    const col_color even{.r = 0x12, .g = 0x34, .b = 0x56, .change_mask = 0x7};
    const col_color odd{.r = 0xAB, .g = 0xCD, .b = 0xEF, .change_mask = 0};
    for (const fill_case& c : cases) {
        const uint32_t pitch = c.width * 4 + c.pad_bytes;
        const size_t pitch_words = pitch / 4;
        for (const bool left : {false, true}) {
            for (const bool right : {false, true}) {
                const pattern_state s{
                    .even = even, .odd = odd, .left_enabled = left, .right_enabled = right};
                std::vector<uint32_t> got(pitch_words * c.height, CANARY);
                std::vector<uint32_t> want = got;
                fill_pattern(got.data(), pitch, c.width, c.height, s);
                reference_fill(want, pitch_words, c.width, c.height, s);
                EXPECT_TRUE(frames_equal(got, want, pitch_words))
                    << "width " << c.width << " height " << c.height << " pitch " << pitch
                    << " left " << left << " right " << right;
            }
        }
    }
}

TEST(FillPattern, EmptyFrameWritesNothing)
{
    const pattern_state s{.even = {255, 255, 255, 7},
                          .odd = {255, 255, 255, 7},
                          .left_enabled = true,
                          .right_enabled = true};
    std::vector<uint32_t> frame(64, CANARY);
    fill_pattern(frame.data(), 32, 0, 2, s);
    fill_pattern(frame.data(), 32, 8, 0, s);
    EXPECT_TRUE(frames_equal(frame, std::vector<uint32_t>(64, CANARY), 8));
}

TEST(FillPattern, RedEvenBlueOddBytesInMemoryAreBgrx)
{
    const pattern_state s{.even = {255, 0, 0, 7},
                          .odd = {0, 0, 255, 7},
                          .left_enabled = true,
                          .right_enabled = true};
    std::vector<uint32_t> frame(4);
    fill_pattern(frame.data(), 16, 4, 1, s);
    unsigned char bytes[8];
    std::memcpy(bytes, frame.data(), sizeof bytes);
    const unsigned char want[8] = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(bytes[i], want[i]) << "byte " << i;
    }
}

} // namespace
