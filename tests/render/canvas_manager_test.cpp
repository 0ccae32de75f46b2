#include "canvas/canvas_manager.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_support.h"

namespace {

class CanvasManagerTest : public ::testing::Test {
  protected:
    void SetUp() override { LumetraTest::useOffscreenDisplay(64, 32); }
    LumetraTest::TempWorkDir work;
};

TEST_F(CanvasManagerTest, GroupsGetConsecutiveIdsEvenWhenEmpty) {
    Lumetra::CanvasManager manager;
    EXPECT_EQ(manager.generateCanvasGroup(0, "A"), 0);
    EXPECT_EQ(manager.generateCanvasGroup(-3, "A"), 1);
    EXPECT_EQ(manager.generateCanvasGroup(3, "B"), 2);
    EXPECT_TRUE(manager.getCanvasGroup(0).empty());
    ASSERT_EQ(manager.getCanvasGroup(2).size(), 3u);
    EXPECT_EQ(manager.getCanvasGroup(2)[0]->getContentType(), "B");
    EXPECT_EQ(manager.getAllCanvases().size(), 3u);
}

TEST_F(CanvasManagerTest, GroupListIsACopy) {
    Lumetra::CanvasManager manager;
    int id = manager.generateCanvasGroup(2, "A");
    std::vector<Lumetra::Canvas*> copy = manager.getCanvasGroup(id);
    copy.push_back(nullptr);
    EXPECT_EQ(manager.getCanvasGroup(id).size(), 2u);
}

TEST_F(CanvasManagerTest, EveryFrameStepsEveryCanvasOnceAndTicksTheCounter) {
    Lumetra::CanvasManager manager;
    EXPECT_EQ(manager.getScreenWidth(), 64);
    EXPECT_EQ(manager.getScreenHeight(), 32);
    EXPECT_FLOAT_EQ(manager.getScreenRatio(), 2.0f);
    manager.renderFrame();  // no canvases: still counts, clears and swaps
    EXPECT_TRUE(std::isfinite(manager.getFPS()));
    int id = manager.generateCanvasGroup(2, "A");
    for (Lumetra::Canvas* c : manager.getCanvasGroup(id)) {
        c->setSpeed(10.0f);
    }
    for (int i = 0; i < 3; ++i) {
        manager.renderFrame();
    }
    for (Lumetra::Canvas* c : manager.getAllCanvases()) {
        EXPECT_EQ(c->getRotation(), 30.0f);
    }
}

}  // namespace
