// The script GPU budget, and the lifetime of the objects a view's owner holds, without GL.
#include <gtest/gtest.h>

#include <string>

#include "gpu/scriptgpu.h"

TEST(GpuBudget, AFullBudgetCollectsOnceThenRefusesWithoutTaking)
{
    static int collections;
    collections = 0;
    const GpuCollect count = [] { ++collections; };
    GpuBudget budget;
    ASSERT_TRUE(budget.Take(kScriptGpuMemoryLimit - 10, count));
    EXPECT_EQ(collections, 0);
    EXPECT_TRUE(budget.Take(10, count));
    EXPECT_FALSE(budget.Take(1, count));
    EXPECT_EQ(collections, 1);
    EXPECT_EQ(budget.InUse(), kScriptGpuMemoryLimit);
    EXPECT_FALSE(budget.Take(~std::size_t(0), nullptr));
    budget.Give(kScriptGpuMemoryLimit);
    EXPECT_EQ(budget.InUse(), 0u);
}

// An object that counts its deaths, holds what it is told, and may claim GL names.
class Probe : public GpuObject {
public:
    explicit Probe(int* destroyed, std::size_t bytes = 0, bool gl = false) : destroyed(destroyed), bytes(bytes), gl(gl) {}
    ~Probe() override { ++*destroyed; }
    bool Load(std::string& why) override
    {
        why = "no room";
        return Hold(bytes);
    }
    bool HoldsGl() const override { return gl; }
    void FreeGl() override { gl = false; }
    bool Grow(std::size_t more) { return Hold(Held() + more); }

private:
    int* destroyed;
    std::size_t bytes;
    bool gl;
};

// The handles the test's collection finds unreferenced.
static GpuHandle* g_collectable[2];

static void CollectTheCollectable()
{
    for (GpuHandle* handle : g_collectable)
        if (handle && handle->object)
            handle->object->MarkDead();
}

// A collection the budget runs marks objects dead and frees nothing: what they held is there at
// once for the request that ran it; the objects go when the owner adopts the next one, those
// holding GL names only with their context, and the last ones with the owner, their handles left
// empty.
TEST(ScriptGpu, CollectedObjectsGiveTheirBytesBackAtOnceAndAreFreedOnlyByTheOwner)
{
    int destroyed = 0;
    GpuHandle a{}, b{}, c{}, d{};
    {
        ScriptGpu owner(CollectTheCollectable);
        std::string why;
        ASSERT_NE(owner.Make<Probe>(a, why, &destroyed, kScriptGpuMemoryLimit / 2), nullptr);
        ASSERT_NE(owner.Make<Probe>(b, why, &destroyed, kScriptGpuMemoryLimit / 4, true), nullptr);
        g_collectable[0] = &a;
        g_collectable[1] = &b;
        ASSERT_NE(owner.Make<Probe>(c, why, &destroyed, kScriptGpuMemoryLimit / 2), nullptr);
        EXPECT_EQ(owner.Budget().InUse(), kScriptGpuMemoryLimit / 2);
        EXPECT_EQ(a.object, nullptr);
        EXPECT_EQ(destroyed, 0);
        g_collectable[0] = g_collectable[1] = nullptr;
        ASSERT_NE(owner.Make<Probe>(d, why, &destroyed), nullptr);
        EXPECT_EQ(destroyed, 1);  // b holds GL names, and no context is current
        EXPECT_EQ(owner.Objects(), 3u);
        EXPECT_EQ(owner.Make<Probe>(a, why, &destroyed, kScriptGpuMemoryLimit), nullptr);
        EXPECT_EQ(why, "no room");
        EXPECT_NE(a.object, nullptr);  // made, and dies with its handle
    }
    EXPECT_EQ(destroyed, 5);
    EXPECT_EQ(c.object, nullptr);
    EXPECT_EQ(d.object, nullptr);
}

// An object the collection finds unreferenced while it asks for more keeps nothing.
TEST(ScriptGpu, AnObjectCollectedWhileItAsksForBytesHoldsNone)
{
    int destroyed = 0;
    GpuHandle full{}, self{};
    ScriptGpu owner(CollectTheCollectable);
    std::string why;
    owner.Make<Probe>(full, why, &destroyed, kScriptGpuMemoryLimit - 100);
    Probe* probe = owner.Make<Probe>(self, why, &destroyed, 50);
    g_collectable[0] = &full;
    g_collectable[1] = &self;
    EXPECT_FALSE(probe->Grow(100));
    EXPECT_TRUE(probe->Dead());
    EXPECT_EQ(owner.Budget().InUse(), 0u);
    g_collectable[0] = g_collectable[1] = nullptr;
}
