// The defect frame: background everywhere except exactly the ten zone pixels.
#include "colour/defect.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace {

constexpr size_t WIDTH = 4320;
constexpr size_t HEIGHT = 2160;
constexpr uint32_t CANARY = 0xDEADBEEF;

uint32_t word_of(rgb8 c)
{
    return color_word(c.r, c.g, c.b);
}

// A frame filled with defect_fill, rows pitch bytes apart, padding pre-set to CANARY.
struct painted_frame {
    std::vector<uint32_t> words;
    size_t pitch_words;
    uint32_t at(size_t x, size_t y) const { return words[y * pitch_words + x]; }
};

painted_frame paint(const defect_colours& colours, uint32_t pitch)
{
    painted_frame f{std::vector<uint32_t>(pitch / 4 * HEIGHT, CANARY), pitch / 4};
    defect_fill(f.words.data(), pitch, colours);
    return f;
}

using coords = std::set<std::pair<size_t, size_t>>;

std::string describe(const coords& c)
{
    std::ostringstream s;
    for (const auto& [x, y] : c) {
        s << " (" << x << ", " << y << ")";
    }
    return s.str();
}

// Which pixels differ from the background, which defect pixels have the wrong
// zone colour, and whether any padding word was touched.
void expect_defect_frame(const painted_frame& f, const defect_colours& colours)
{
    const uint32_t bg = word_of(colours.background);
    coords differing;
    coords padding_touched;
    for (size_t y = 0; y < HEIGHT; ++y) {
        for (size_t x = 0; x < WIDTH; ++x) {
            if (f.at(x, y) != bg) {
                differing.insert({x, y});
            }
        }
        for (size_t x = WIDTH; x < f.pitch_words; ++x) {
            if (f.at(x, y) != CANARY) {
                padding_touched.insert({x, y});
            }
        }
    }

    coords want_differing;
    const auto check_zone = [&](const auto& pixels, rgb8 colour, const char* zone) {
        for (const pixel_pos p : pixels) {
            EXPECT_EQ(f.at(p.x, p.y), word_of(colour))
                << "zone " << zone << " pixel (" << p.x << ", " << p.y << ")";
            if (word_of(colour) != bg) {
                want_differing.insert({p.x, p.y});
            }
        }
    };
    check_zone(ZONE_A_PIXELS, colours.zone_a, "A");
    check_zone(ZONE_B_PIXELS, colours.zone_b, "B");

    EXPECT_EQ(describe(differing), describe(want_differing))
        << "pixels that differ from the background";
    EXPECT_EQ(describe(padding_touched), "") << "padding words written";
}

TEST(DefectFill, BrightPresetIsBlackWithTenGreyDefects)
{
    const painted_frame f = paint(PRESET_BRIGHT_DEFECT, WIDTH * 4);
    EXPECT_EQ(f.at(0, 0), 0xFF000000u);
    EXPECT_EQ(f.at(1080, 570), 0xFF2D2D2Du);
    EXPECT_EQ(f.at(3780, 1080), 0xFF6D6D6Du);
    expect_defect_frame(f, PRESET_BRIGHT_DEFECT);
}

TEST(DefectFill, DarkPresetIsWhiteWithTenGreyDefectsAtPaddedPitch)
{
    // 17,408 bytes: a kernel that aligns rows to 1 KiB pads each by 32 words.
    const painted_frame f = paint(PRESET_DARK_DEFECT, 17408);
    EXPECT_EQ(f.at(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(f.at(WIDTH - 1, HEIGHT - 1), 0xFFFFFFFFu);
    EXPECT_EQ(f.at(1080, 1080), 0xFFC3C3C3u);
    EXPECT_EQ(f.at(3240, 1620), 0xFFB9B9B9u);
    expect_defect_frame(f, PRESET_DARK_DEFECT);
}

TEST(DefectFill, DefectEqualToBackgroundLeavesUniformFrame)
{
    const defect_colours same{{90, 91, 92}, {90, 91, 92}, {90, 91, 92}};
    expect_defect_frame(paint(same, WIDTH * 4 + 64), same);
}

TEST(DefectFill, ChannelsLandInTheirOwnBytes)
{
    const defect_colours mixed{{1, 2, 3}, {0x10, 0x20, 0x30}, {0xA0, 0xB0, 0xC0}};
    const painted_frame f = paint(mixed, WIDTH * 4);
    EXPECT_EQ(f.at(7, 7), 0xFF010203u);
    EXPECT_EQ(f.at(3240, 570), 0xFF102030u);
    EXPECT_EQ(f.at(2700, 1080), 0xFFA0B0C0u);
    expect_defect_frame(f, mixed);
}

} // namespace
