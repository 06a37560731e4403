// The script GPU budget and the queue of GL names freed between frames.
#include <gtest/gtest.h>

#include <vector>

#include "gpu/gpumemory.h"

TEST(ScriptGpuMemory, AFullBudgetCollectsOnceThenRefusesWithoutTaking)
{
    int collections = 0;
    SetScriptGpuCollector([&] { ++collections; });
    ASSERT_TRUE(ReserveScriptGpuMemory(kScriptGpuMemoryLimit - 10));
    EXPECT_EQ(collections, 0);
    EXPECT_TRUE(ReserveScriptGpuMemory(10));
    EXPECT_FALSE(ReserveScriptGpuMemory(1));
    EXPECT_EQ(collections, 1);
    EXPECT_EQ(ScriptGpuMemoryInUse(), kScriptGpuMemoryLimit);
    EXPECT_FALSE(ReserveScriptGpuMemory(~std::size_t(0)));
    ReleaseScriptGpuMemory(kScriptGpuMemoryLimit);
    EXPECT_EQ(ScriptGpuMemoryInUse(), 0u);
    SetScriptGpuCollector(nullptr);
}

TEST(ScriptGpuMemory, WhatACollectionGivesBackIsThereForTheSameRequest)
{
    ASSERT_TRUE(ReserveScriptGpuMemory(kScriptGpuMemoryLimit));
    SetScriptGpuCollector([] { ReleaseScriptGpuMemory(kScriptGpuMemoryLimit / 2); });
    EXPECT_TRUE(ReserveScriptGpuMemory(100));
    EXPECT_EQ(ScriptGpuMemoryInUse(), kScriptGpuMemoryLimit / 2 + 100);
    SetScriptGpuCollector(nullptr);
    ReleaseScriptGpuMemory(ScriptGpuMemoryInUse());
}

TEST(GlReleases, RunOnceInOrderAndOneQueuedMeanwhileWaitsForTheNextFrame)
{
    std::vector<int> order;
    DeferGlRelease([&] { order.push_back(1); });
    DeferGlRelease([&] {
        order.push_back(2);
        DeferGlRelease([&] { order.push_back(3); });
    });
    EXPECT_EQ(PendingGlReleases(), 2u);
    RunGlReleases();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(PendingGlReleases(), 1u);
    RunGlReleases();
    RunGlReleases();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}
