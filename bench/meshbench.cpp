// A static mesh drawn from the script against the same triangles issued by C++ in immediate
// mode, the upload of a large mesh, and memory over many frames of a scene of meshes only.

#include <malloc.h>

#include <algorithm>
#include <string>
#include <vector>

#include <GL/gl.h>

#include <QCoreApplication>
#include <QTimer>

extern "C" {
#include <lua.h>
}

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "bench/trianglefield.h"
#include "script/luaengine.h"
#include "world/openglemptyworldwidget.h"
#include "world/world.h"

static constexpr int kCounts[] = {50000, 1000000};
static constexpr int kSamples = 21;
static constexpr int kSoakFrames = 10000;
static constexpr int kSoakWarmFrames = 500;

// Moved by the stack, made and dropped every frame: nothing but meshes.
static const char kSoakScene[] =
    "soakSquare = newMesh({0,0,0, 255,0,0,255,  1,0,0, 0,255,0,255,  1,1,0, 0,0,255,255})\n"
    "function update() for i = 1, 20 do soakDropped = newMesh({0,0,0, 1,0,0, 0,1,0}, 'xyz') end end\n"
    "function render()\n"
    "  for i = 0, 99 do\n"
    "    pushMatrix() translate(140 + i % 10, 55 + math.floor(i / 10), 45) rotate(i, 0, 0, 1) drawMesh(soakSquare) popMatrix()\n"
    "  end\n"
    "  drawMesh(soakDropped)\n"
    "end\n";

static double LuaKiB()
{
    return lua_gc(g_luaState, LUA_GCCOUNT, 0) + lua_gc(g_luaState, LUA_GCCOUNTB, 0) / 1024.0;
}

int RunMeshBench(BenchResults& results)
{
    StartProgramWindow();
    StopFrameLoop();
    OpenGLEmptyWorldWidget* view = View();
    if (!view->MakeCurrent())
        return 1;
    for (int count : kCounts) {
        const std::string prefix = "mesh." + std::to_string(count) + ".";
        {
            const TriangleField field(count);
            field.InstallMeshNumbers();
            view->world->SetupCamera();
            double start = NowMs();
            RunLuaString("benchMesh = newMesh(benchMeshNumbers)");
            const double made = NowMs() - start;
            RunLuaString("benchMeshNumbers = nil collectgarbage()");
            // The first draw uploads; behind the camera it rasterises nothing besides.
            glTranslatef(0, 0, 1e6f);
            const double first = TimedDraw([] { RunLuaString("drawMesh(benchMesh)"); });
            results.Add(prefix + "newmesh_ms", made);
            results.Add(prefix + "first_draw_clipped_ms", first);
            results.Add(prefix + "upload_ms", made + first);
            RunLuaString("function render() drawMesh(benchMesh) end");
            std::vector<double> mesh, native, frame, meshClipped, nativeClipped;
            for (int i = 0; i < kSamples; ++i) {
                view->MakeCurrent();
                view->world->SetupCamera();
                mesh.push_back(TimedDraw([] { RunLuaString("render()"); }));
                native.push_back(TimedDraw([&] { field.Draw(); }));
                // Behind the camera: every vertex sent and transformed, no triangle rasterised.
                glTranslatef(0, 0, 1e6f);
                meshClipped.push_back(TimedDraw([] { RunLuaString("render()"); }));
                nativeClipped.push_back(TimedDraw([&] { field.Draw(); }));
                start = NowMs();
                view->UpdateFrame();
                frame.push_back(NowMs() - start);
            }
            view->frameTimer->stop();
            results.Add(prefix + "script_ms", Median(mesh));
            results.Add(prefix + "cpp_immediate_ms", Median(native));
            results.Add(prefix + "ratio", Median(mesh) / Median(native));
            results.Add(prefix + "frame_ms", Median(frame));
            results.Add(prefix + "clipped_script_ms", Median(meshClipped));
            results.Add(prefix + "clipped_cpp_immediate_ms", Median(nativeClipped));
        }
        RunLuaString("benchMesh = nil function render() end collectgarbage()");
        view->UpdateFrame();
        view->frameTimer->stop();
    }

    RunLuaString(kSoakScene);
    for (int i = 0; i < kSoakWarmFrames; ++i)
        view->UpdateFrame();
    QCoreApplication::processEvents();
    malloc_trim(0);
    const double luaStart = LuaKiB();
    const long residentStart = ResidentKiB();
    double luaMost = luaStart;
    for (int i = 0; i < kSoakFrames; ++i) {
        view->UpdateFrame();
        luaMost = std::max(luaMost, LuaKiB());
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    view->frameTimer->stop();
    malloc_trim(0);
    results.Add("mesh.soak.frames", kSoakFrames);
    results.Add("mesh.soak.lua_start_kib", luaStart);
    results.Add("mesh.soak.lua_end_kib", LuaKiB());
    results.Add("mesh.soak.lua_most_kib", luaMost);
    results.Add("mesh.soak.resident_growth_mib", (ResidentKiB() - residentStart) / 1024.0);
    return 0;
}
