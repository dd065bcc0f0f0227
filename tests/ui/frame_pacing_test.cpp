#include "ui/frame_pacing.h"

#include <gtest/gtest.h>

namespace {

int framesDrawn(FramePacing& pacing, int ticks, bool busy = false) {
    int drawn = 0;
    for (int i = 0; i < ticks; ++i) drawn += shouldDrawFrame(pacing, false, busy) ? 1 : 0;
    return drawn;
}

} // namespace

TEST(FramePacing, a_change_draws_at_once_and_settles_for_a_few_ticks_then_rests) {
    FramePacing pacing;
    EXPECT_TRUE(shouldDrawFrame(pacing, true, false));
    EXPECT_EQ(framesDrawn(pacing, 100), settleFrames - 1);
}

TEST(FramePacing, an_idle_window_draws_nothing) {
    FramePacing pacing;
    EXPECT_EQ(framesDrawn(pacing, 100), 0);
}

TEST(FramePacing, a_busy_interface_keeps_drawing_without_input) {
    FramePacing pacing;
    EXPECT_EQ(framesDrawn(pacing, 50, true), 50);
}

TEST(FramePacing, a_change_during_settling_starts_the_count_again) {
    FramePacing pacing;
    shouldDrawFrame(pacing, true, false);
    shouldDrawFrame(pacing, false, false);
    EXPECT_TRUE(shouldDrawFrame(pacing, true, false));
    EXPECT_EQ(framesDrawn(pacing, 10), settleFrames - 1);
}
