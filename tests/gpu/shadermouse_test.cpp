// iMouse as pasted shaders read it.
#include <gtest/gtest.h>

#include <vector>

#include "gpu/shadermouse.h"

TEST(ShaderMouse, FollowsThePointerOnlyWhileHeldAndSignsTheClick)
{
    ShaderMouse mouse;
    struct Frame {
        float x, y;
        bool held;
        std::vector<float> expected;
    };
    const Frame frames[] = {
        {10, 20, false, {0, 0, 0, 0}},    // hovering moves nothing
        {30, 40, true, {30, 40, 30, 40}},  // the click's frame: both positive
        {35, 45, true, {35, 45, 30, -40}}, // held: z positive, w negative
        {50, 60, false, {35, 45, -30, -40}},  // released: xy stay, both negative
        {70, 80, true, {70, 80, 70, 80}},  // a new click
    };
    for (const Frame& frame : frames) {
        mouse.Update(frame.x, frame.y, frame.held);
        EXPECT_EQ(std::vector<float>(mouse.Value(), mouse.Value() + 4), frame.expected) << frame.x;
    }
}
