// Pixel tests of the renderer on the offscreen display: 200 x 100 pixels, so one world unit
// is 10 pixels across and up, x from -10 to 10 and y from -5 (bottom) to 5 (top).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_manager.h"
#include "canvas/renderer.h"
#include "support/test_support.h"

namespace Lumetra {

// Registers extra plug-ins with a renderer's registry, as the tests need.
class ContentManagerTestAccess {
  public:
    static void add(ContentManager* manager, ContentInterface* plugin) {
        manager->addPlugin(plugin);
    }
};

}  // namespace Lumetra

namespace {

using Lumetra::Canvas;
using LumetraTest::Frame;
using LumetraTest::near;

const int kWidth = 200;
const int kHeight = 100;
const char kType[] = "CONTENT_TEXTURE_256";

// Reports a fixed ratio, counts its binds and binds nothing.
class ProbePlugin : public Lumetra::ContentInterface {
  public:
    ProbePlugin(std::string name, float ratio) : name(std::move(name)), ratio(ratio) {}
    std::string getContentTypeName() override { return name; }
    void getContentRatio(int, float* r) override { *r = ratio; }
    void setContent(int) override { ++binds; }
    std::string name;
    float ratio;
    int binds = 0;
};

class RendererTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LumetraTest::useOffscreenDisplay(kWidth, kHeight);
        // 000: 2x2 red green / blue white (top row first), 001: 200x100 white, 002: 1x1 white
        LumetraTest::writePng(work.file("textures/000.png"), 2, 2,
                              {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
        LumetraTest::writePng(work.file("textures/001.png"), 200, 100,
                              std::vector<uint8_t>(200 * 100 * 4, 255));
        LumetraTest::writePng(work.file("textures/002.png"), 1, 1, {255, 255, 255, 255});
        renderer = std::make_unique<Lumetra::Renderer>();
    }

    Canvas* canvas(int content = 0, const char* type = kType) {
        canvases.push_back(std::make_unique<Canvas>(type));
        canvases.back()->setContentData(content);
        return canvases.back().get();
    }

    Frame draw() {
        std::vector<Canvas*> list;
        for (auto& c : canvases) {
            list.push_back(c.get());
        }
        return draw(list);
    }
    Frame draw(const std::vector<Canvas*>& list) {
        renderer->drawCanvases(list);
        return LumetraTest::readFrame(kWidth, kHeight);
    }

    // Pixel at world coordinates (y up).
    static Frame::Pixel world(const Frame& f, float x, float y) {
        return f.at(static_cast<int>((x + 10.0f) * 10.0f), static_cast<int>((5.0f - y) * 10.0f));
    }

    // Width in pixels of the non-black run on row `y` through column `x`.
    static int runWidth(const Frame& f, int x, int y) {
        int left = x, right = x;
        while (left > 0 && f.at(left - 1, y).r + f.at(left - 1, y).g + f.at(left - 1, y).b > 0)
            --left;
        while (right < f.width - 1 &&
               f.at(right + 1, y).r + f.at(right + 1, y).g + f.at(right + 1, y).b > 0)
            ++right;
        return right - left + 1;
    }
    static int runHeight(const Frame& f, int x, int y) {
        int top = y, bottom = y;
        while (top > 0 && f.at(x, top - 1).r + f.at(x, top - 1).g + f.at(x, top - 1).b > 0)
            --top;
        while (bottom < f.height - 1 &&
               f.at(x, bottom + 1).r + f.at(x, bottom + 1).g + f.at(x, bottom + 1).b > 0)
            ++bottom;
        return bottom - top + 1;
    }

    LumetraTest::TempWorkDir work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<std::unique_ptr<Canvas>> canvases;
};

TEST_F(RendererTest, ScreenSizeAndRatioComeFromTheOutput) {
    EXPECT_EQ(renderer->getScreenWidth(), kWidth);
    EXPECT_EQ(renderer->getScreenHeight(), kHeight);
    EXPECT_FLOAT_EQ(renderer->getScreenRatio(), 2.0f);
}

TEST_F(RendererTest, StillImageIsUprightWithEachTexelInItsCorner) {
    canvas(0);  // 2 x 2 units at the centre
    Frame f = draw();
    EXPECT_TRUE(near(world(f, -0.5f, 0.5f), 255, 0, 0));      // top left red
    EXPECT_TRUE(near(world(f, 0.5f, 0.5f), 0, 255, 0));       // top right green
    EXPECT_TRUE(near(world(f, -0.5f, -0.5f), 0, 0, 255));     // bottom left blue
    EXPECT_TRUE(near(world(f, 0.5f, -0.5f), 255, 255, 255));  // bottom right white
    EXPECT_TRUE(near(world(f, 1.5f, 0.0f), 0, 0, 0));         // black around it
    EXPECT_EQ(runWidth(f, 100, 45), 20);
    EXPECT_EQ(runHeight(f, 95, 50), 20);
}

TEST_F(RendererTest, PositionYGrowsDownwardsAndScalingIsHalfTheSize) {
    Canvas* c = canvas(2);
    c->setPositionX(5.0f);
    c->setPositionY(2.0f);
    c->setScalingX(3.0f);
    c->setScalingY(1.5f);
    Frame f = draw();
    // centre at world (5, -2): pixel (150, 70); 6 x 3 units
    EXPECT_TRUE(near(f.at(150, 70), 255, 255, 255));
    EXPECT_EQ(runWidth(f, 150, 70), 60);
    EXPECT_EQ(runHeight(f, 150, 70), 30);
}

TEST_F(RendererTest, NegativeScalingYTakesThePicturesProportions) {
    Canvas* c = canvas(1);  // 200 x 100 picture
    c->setScalingX(2.0f);
    c->setScalingY(-1.0f);
    Frame f = draw();
    EXPECT_EQ(runWidth(f, 100, 50), 40);
    EXPECT_EQ(runHeight(f, 100, 50), 20);
}

TEST_F(RendererTest, UnknownContentTypeIsSquareAndKeepsTheLastBoundTexture) {
    canvas(2);  // binds the white 1x1 picture
    Canvas* unknown = canvas(0, "content_texture_256");
    unknown->setPositionX(-5.0f);
    unknown->setScalingY(-1.0f);
    unknown->setScalingX(1.5f);
    Frame f = draw();
    EXPECT_TRUE(near(f.at(50, 50), 255, 255, 255));
    EXPECT_EQ(runWidth(f, 50, 50), 30);
    EXPECT_EQ(runHeight(f, 50, 50), 30);
}

TEST_F(RendererTest, PictureWithoutSizeHasNoHeight) {
    auto* zero = new ProbePlugin("RATIO_ZERO", 0.0f);
    Lumetra::ContentManagerTestAccess::add(renderer->getContentManager(), zero);
    canvas(2);
    Canvas* c = canvas(0, "RATIO_ZERO");
    c->setPositionX(-5.0f);
    c->setScalingY(-1.0f);
    Frame f = draw();
    EXPECT_TRUE(near(f.at(50, 50), 0, 0, 0));
    EXPECT_TRUE(near(f.at(100, 50), 255, 255, 255));
}

TEST_F(RendererTest, SingleRingCopyStandsLeftOfThePosition) {
    Canvas* c = canvas(2);
    c->setScalingX(0.5f);
    c->setScalingY(0.5f);
    c->setNumber(1);
    c->setZoom(3.0f);
    renderer->setZoom(2);  // circle of radius zoom
    Frame f = draw();
    EXPECT_TRUE(near(world(f, -3.0f, 0.0f), 255, 255, 255));
    EXPECT_TRUE(near(world(f, 0.0f, 0.0f), 0, 0, 0));
    renderer->setZoom(1);  // ellipse of half-axis 2 * zoom across
    f = draw();
    EXPECT_TRUE(near(world(f, -6.0f, 0.0f), 255, 255, 255));
    EXPECT_TRUE(near(world(f, -3.0f, 0.0f), 0, 0, 0));
}

TEST_F(RendererTest, UnknownZoomTypesFallBackToTheEllipse) {
    Canvas* c = canvas(2);
    c->setScalingX(0.5f);
    c->setScalingY(0.5f);
    c->setNumber(1);
    c->setZoom(2.0f);
    for (int type : {0, 3}) {
        renderer->setZoom(type);
        Frame f = draw();
        EXPECT_TRUE(near(world(f, -4.0f, 0.0f), 255, 255, 255)) << "zoom type " << type;
    }
}

TEST_F(RendererTest, FourCopiesGoLeftBelowRightAndAboveUpright) {
    Canvas* c = canvas(0);
    c->setScalingX(0.5f);
    c->setScalingY(0.5f);
    c->setNumber(4);
    c->setZoom(3.0f);
    renderer->setZoom(2);
    Frame f = draw();
    const float at[4][2] = {{-3, 0}, {0, -3}, {3, 0}, {0, 3}};
    for (auto& p : at) {
        // each copy upright: red top left, white bottom right
        EXPECT_TRUE(near(world(f, p[0] - 0.25f, p[1] + 0.25f), 255, 0, 0)) << p[0] << "," << p[1];
        EXPECT_TRUE(near(world(f, p[0] + 0.25f, p[1] - 0.25f), 255, 255, 255));
    }
    EXPECT_TRUE(near(world(f, 0, 0), 0, 0, 0));
}

TEST_F(RendererTest, EllipseRingHasTheScreensProportions) {
    Canvas* c = canvas(2);
    c->setScalingX(0.3f);
    c->setScalingY(0.3f);
    c->setNumber(4);
    c->setZoom(2.0f);
    renderer->setZoom(1);
    Frame f = draw();
    // half-axes 2 * zoom = 4 across and 4 / ratio = 2 up and down
    EXPECT_TRUE(near(world(f, -4.0f, 0.0f), 255, 255, 255));
    EXPECT_TRUE(near(world(f, 4.0f, 0.0f), 255, 255, 255));
    EXPECT_TRUE(near(world(f, 0.0f, -2.0f), 255, 255, 255));
    EXPECT_TRUE(near(world(f, 0.0f, 2.0f), 255, 255, 255));
}

TEST_F(RendererTest, StackedCopiesAtZoomZeroLookMoreOpaque) {
    Canvas* c = canvas(2);
    c->setAlpha(0.5f);
    Frame single = draw();
    c->setNumber(3);
    Frame triple = draw();
    EXPECT_TRUE(near(single.at(100, 50), 128, 128, 128, 2));
    EXPECT_TRUE(near(triple.at(100, 50), 223, 223, 223, 3));  // 1 - 0.5^3
}

TEST_F(RendererTest, ColourMultipliesTexelsAndAlphaBlendsOverBlack) {
    Canvas* c = canvas(0);
    c->setR(1.0f);
    c->setG(0.5f);
    c->setB(0.0f);
    Frame f = draw();
    EXPECT_TRUE(near(world(f, 0.5f, -0.5f), 255, 128, 0, 2));  // white texel
    EXPECT_TRUE(near(world(f, -0.5f, -0.5f), 0, 0, 0, 2));     // blue texel loses its blue
    c->setG(1.0f);
    c->setB(1.0f);
    c->setAlpha(0.25f);
    f = draw();
    EXPECT_TRUE(near(world(f, 0.5f, -0.5f), 64, 64, 64, 2));
}

TEST_F(RendererTest, LaterCanvasesCoverEarlierOnes) {
    Canvas* under = canvas(2);
    under->setG(0.0f);
    under->setB(0.0f);
    Canvas* over = canvas(2);
    over->setR(0.0f);
    over->setB(0.0f);
    over->setScalingX(0.5f);
    over->setScalingY(0.5f);
    Frame f = draw();
    EXPECT_TRUE(near(f.at(100, 50), 0, 255, 0));
    EXPECT_TRUE(near(f.at(92, 50), 255, 0, 0));
}

TEST_F(RendererTest, ClosedShutterHidesTheCanvasButStillBindsIt) {
    auto* probe = new ProbePlugin("PROBE", 1.0f);
    Lumetra::ContentManagerTestAccess::add(renderer->getContentManager(), probe);
    canvas(2);  // white, at the centre; leaves its texture bound
    Canvas* c = canvas(0, "PROBE");
    c->setPositionX(-5.0f);
    c->setShutterSet(255);
    c->frameStep();  // open phase of one frame
    c->frameStep();  // closed
    ASSERT_NE(c->getShutterState(), 0);
    Frame f = draw();
    EXPECT_EQ(probe->binds, 1);
    EXPECT_TRUE(near(f.at(50, 50), 0, 0, 0));
    c->setShutterSet(0);  // strobe off: drawn at once although the phase stays closed
    f = draw();
    EXPECT_EQ(probe->binds, 2);
    EXPECT_TRUE(near(f.at(50, 50), 255, 255, 255));  // the probe binds nothing: last texture
}

TEST_F(RendererTest, CanvasesThatCannotChangeAPixelAreNotDrawnAndThePictureStaysTheSame) {
    Canvas* ring = canvas(0);  // four half-transparent copies around the centre
    ring->setAlpha(0.5f);
    ring->setNumber(4);
    ring->setZoom(2.0f);
    Canvas* spot = canvas(2);
    spot->setScalingX(0.4f);
    spot->setScalingY(0.4f);
    spot->setPositionX(3.0f);
    spot->setRotation(30.0f);
    const std::vector<Canvas*> visible = {ring, spot};
    const Frame reference = draw(visible);
    ASSERT_EQ(renderer->quadsDrawn(), 5u);

    // Between and over them: a transparent ring over everything, pictures without width
    // or height, and a transparent canvas of a type that counts its binds.
    auto* probe = new ProbePlugin("PROBE", 1.0f);
    Lumetra::ContentManagerTestAccess::add(renderer->getContentManager(), probe);
    Canvas* clear_ring = canvas(1);
    clear_ring->setAlpha(0.0f);
    clear_ring->setNumber(63);
    clear_ring->setScalingX(10.0f);
    Canvas* no_width = canvas(2);
    no_width->setScalingX(0.0f);
    no_width->setScalingY(5.0f);
    Canvas* no_height = canvas(2);
    no_height->setScalingY(0.0f);
    no_height->setNumber(10);
    Canvas* clear_probe = canvas(0, "PROBE");
    clear_probe->setAlpha(0.0f);
    const std::vector<Canvas*> mixed = {clear_ring, ring, no_width, no_height, clear_probe, spot};
    const Frame f = draw(mixed);
    EXPECT_EQ(renderer->quadsDrawn(), 5u);
    EXPECT_EQ(probe->binds, 1) << "still bound: its clock goes on";
    EXPECT_TRUE(f.rgba == reference.rgba) << "the picture changed";

    // The faintest opacity still adds light: drawn.
    clear_ring->setAlpha(1.0f / 255.0f);
    clear_ring->setNumber(0);
    const Frame faint = draw({clear_ring});
    EXPECT_EQ(renderer->quadsDrawn(), 1u);
    EXPECT_GT(faint.at(100, 50).r + faint.at(100, 50).g + faint.at(100, 50).b, 0);
}

TEST(RendererScreen, FullHdOutputHasTheExpectedRatio) {
    LumetraTest::TempWorkDir work;
    LumetraTest::useOffscreenDisplay(1920, 1080);
    Lumetra::Renderer renderer;
    EXPECT_FLOAT_EQ(renderer.getScreenRatio(), 1.7777778f);
}

}  // namespace
