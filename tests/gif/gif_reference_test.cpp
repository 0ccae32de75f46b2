// The decoder's frames against an independent reading (giflib plus the same compositing)
// of files written by ImageMagick, gifsicle and FFmpeg.
#include <gtest/gtest.h>

#include <string>

#include "gif/gif_loaded.h"
#include "gif/gif_reference.h"
#include "support/test_support.h"

using namespace LumetraTest;

namespace {

struct GeneratedGif {
    const char* name;
    const char* command;  // writes out.gif in the working directory
};

void PrintTo(const GeneratedGif& gif, std::ostream* os) {
    *os << gif.name;
}

class GifMatchesGiflib : public ::testing::TestWithParam<GeneratedGif> {};

TEST_P(GifMatchesGiflib, FramesDelaysAndLoopAreIdentical) {
    TempWorkDir dir;
    ASSERT_EQ(runCommand(std::string("cd '") + dir.path() + "' && " + GetParam().command), 0);
    const std::string path = dir.file("out.gif");
    const ReferenceGif expected = readWithGiflib(path);
    ASSERT_TRUE(expected.ok);
    const LoadedGif actual = loadGif(path);
    ASSERT_TRUE(actual.ok);
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_EQ(actual.isLoopImage, expected.isLoopImage);
    EXPECT_EQ(actual.loopCount, expected.loopCount);
    EXPECT_EQ(actual.delays, expected.delays);
    ASSERT_EQ(actual.frames.size(), expected.frames.size());
    for (size_t i = 0; i < actual.frames.size(); ++i) {
        EXPECT_TRUE(actual.frames[i] == expected.frames[i]) << "frame " << i << " differs";
    }
}

const GeneratedGif kGenerated[] = {
    {"OneImage", "convert -size 37x23 plasma:fractal out.gif"},
    {"FramesWithDelays", "convert -delay 10 -size 16x12 xc:red xc:green xc:blue out.gif"},
    {"FramesWithAndWithoutDelays",
     "convert -size 16x12 -delay 0 xc:red -delay 7 xc:green -delay 0 xc:blue -delay 3 "
     "xc:yellow -delay 0 xc:white out.gif"},
    {"PartialImagesAtOffsets",
     "convert -delay 10 -size 40x30 xc:white -page +5+7 -size 9x6 xc:red "
     "-page +30+20 -size 10x10 xc:blue -page +0+0 -size 40x30 xc:green "
     "-page +33+1 -size 7x5 xc:black out.gif"},
    {"GifsicleOptimisedAnimation",
     "convert -delay 8 -size 48x36 xc:white \\( +clone -fill red -draw 'rectangle 5,5 15,15' "
     "\\) \\( +clone -fill blue -draw 'circle 30,20 34,24' \\) a.gif && "
     "gifsicle -O3 a.gif > out.gif"},
    {"LocalPalettes",
     "convert -delay 5 -size 30x20 plasma:red-yellow plasma:blue-green plasma:black-white "
     "out.gif"},
    {"Interlaced", "convert -size 33x29 plasma:fractal -interlace GIF out.gif"},
    {"InterlacedShortImage", "convert -size 13x3 plasma:fractal -interlace GIF out.gif"},
    {"Transparency", "convert -size 24x24 xc:none -fill blue -draw 'circle 12,12 6,6' out.gif"},
    {"TransparentAnimation",
     "convert -delay 4 -dispose None -size 20x20 xc:none -fill red -draw 'circle 5,5 8,8' "
     "\\( -size 20x20 xc:none -fill blue -draw 'circle 14,14 18,18' \\) out.gif"},
    {"LoopCountZero", "convert -delay 10 -loop 0 -size 8x8 xc:red xc:blue out.gif"},
    {"LoopCountFive",
     "convert -delay 10 -size 8x8 xc:red xc:blue a.gif && gifsicle --loopcount=5 a.gif > "
     "out.gif"},
    {"TwoColours", "convert -size 20x10 gradient: -colors 2 out.gif"},
    {"FourColours", "convert -size 20x10 plasma:fractal -colors 4 out.gif"},
    {"SixteenColours", "convert -size 20x10 plasma:fractal -colors 16 out.gif"},
    {"TwoHundredFiftySixColours", "convert -size 64x64 plasma:fractal -colors 256 out.gif"},
    {"OneByOne", "convert -size 1x1 xc:orange out.gif"},
    {"OneByN", "convert -size 1x57 gradient:red-blue out.gif"},
    {"NByOne", "convert -size 57x1 gradient:red-blue out.gif"},
    {"LargeNoisyImage", "convert -size 400x300 plasma:fractal +noise Random -colors 256 out.gif"},
    {"LargeNoisyImageFromGifsicle",
     "convert -size 200x150 xc:gray +noise Random -colors 256 a.gif && gifsicle -O3 a.gif > "
     "out.gif"},
    // gifsicle writes the end code of these images one bit short.
    {"GifsicleShortEndCode",
     "convert -delay 10 -size 8x8 xc:red xc:green -size 4x4 xc:blue a.gif && "
     "gifsicle -O3 a.gif > out.gif"},
    {"FfmpegAnimation",
     "ffmpeg -loglevel error -f lavfi -i testsrc=size=64x48:rate=10 -t 1 out.gif"},
};

INSTANTIATE_TEST_SUITE_P(GeneratedFiles, GifMatchesGiflib, ::testing::ValuesIn(kGenerated),
                         [](const ::testing::TestParamInfo<GeneratedGif>& info) {
                             return std::string(info.param.name);
                         });

TEST(GifInterlace, InterlacedImageDecodesLikeItsNonInterlacedTwin) {
    TempWorkDir dir;
    ASSERT_EQ(runCommand("cd '" + dir.path() +
                         "' && convert -size 41x27 plasma:fractal -colors 64 p.png && "
                         "convert p.png plain.gif && convert p.png -interlace GIF inter.gif"),
              0);
    const LoadedGif plain = loadGif(dir.file("plain.gif"));
    const LoadedGif interlaced = loadGif(dir.file("inter.gif"));
    ASSERT_TRUE(plain.ok);
    ASSERT_TRUE(interlaced.ok);
    EXPECT_TRUE(plain.frames == interlaced.frames);
}

}  // namespace
