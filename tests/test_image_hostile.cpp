// panelshow on image files that break the decoder (stb_image 2.27): they must be
// refused before anything is decoded into memory the decoder does not own.
#include "program_run.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

struct outcome {
    int status; // -1: it committed a frame and was holding it (then killed)
    std::string err;
    std::string log;
    std::string out;
};

outcome run_panelshow(const std::string& image, const temp_dir& dir)
{
    program_spec spec;
    spec.argv = {built_program("panelshow"), image};
    spec.env = {"LD_PRELOAD=" + fake_drm_library(),
                "FAKE_DRM=conn=64x32@60;log=" + dir.file("log")};
    running_program p = start_program(spec);
    int status = -1;
    for (int waited = 0; status == -1 && waited < 10000; waited += 10) {
        status = wait_program(p, 10);
        if (status == -1 && read_file(dir.file("log")).find("ATOMIC ok") != std::string::npos)
            break;
    }
    if (status == -1)
        kill_program(p);
    return {status, program_stderr(p), read_file(dir.file("log")), program_stdout(p)};
}

std::string kept(const std::string& name)
{
    return std::string(KDT_TEST_DATA_DIR) + "/stb-crashes/" + name;
}

// Decoding a 16-bit PNM with 4 channels requested runs past the decoder's own
// buffer in stb_image 2.27 (8-bit channel conversion of 16-bit samples, then the
// 16-to-8 reduction reads twice the bytes). The size check cannot catch it: the
// header gives the mode's size.
TEST(PanelshowHostileImage, SixteenBitPnmIsRefusedBeforeDecoding)
{
    temp_dir dir;
    std::string ppm = "P6\n64 32\n65535\n";
    ppm += std::string(64 * 32 * 6, '\x5a');
    write_file(dir.file("deep.ppm"), ppm);
    const outcome r = run_panelshow(dir.file("deep.ppm"), dir);
    EXPECT_EQ(r.status, 1) << "a 16-bit PNM must be refused, not decoded and shown";
    EXPECT_EQ(r.log.find("ATOMIC"), std::string::npos) << "a frame was committed";
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex("panelshow: src/[a-z_/]+\\.cpp:[0-9]+: display_create_fb: "
                          "Assertion `[^']+' failed\\.\n")))
        << r.err;
}

// stb_image cannot read this PIC's header, yet its loader takes it for 4351 x 65504
// and allocates 1.1 GB before it fails: a header that cannot be read is refused.
TEST(PanelshowHostileImage, UnreadableHeaderIsRefusedBeforeDecoding)
{
    temp_dir dir;
    const std::string pic = kept("pic-unreadable-header.pic");
    const outcome r = run_panelshow(pic, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Targeting mode[0] (64 x 32 @ 60Hz)\nerror loading image " + pic +
                         " with stb_image, unknown image type\n");
    EXPECT_NE(r.err.find("Assertion `data != 0' failed."), std::string::npos) << r.err;
}

} // namespace
