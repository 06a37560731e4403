// Text at 1280x720 on the capture's offscreen view, against a frame that only clears: a scroller
// of 5,000 glyphs in one line passing along the bottom; the same glyphs all in the view at once,
// below it, on their first frame (layout and glyphs made) and the least this renderer could take
// for them; getWidth of a 100-character line, new each call and the same each call.

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <lua.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "capture/offscreenview.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "world/kestrovaworld.h"

static constexpr int kWidth = 1280;
static constexpr int kHeight = 720;
static constexpr int kWidthCalls = 20000;

// 5,000 glyphs in 50 lines of 100 characters, all in the view at once, moving up each frame.
static const char kWall[] =
    "font = newFont(14)\n"
    "local words = {'quill', 'mere', 'scroller', 'glyph', 'demo', 'Lua', 'party', 'greetings'}\n"
    "local lines = {}\n"
    "for l = 1, 50 do\n"
    "  local line = ''\n"
    "  local w = l\n"
    "  while #line < 100 do line = line .. words[w % #words + 1] .. ' ' w = w + 3 end\n"
    "  lines[l] = line:sub(1, 100)\n"
    "end\n"
    "wall = table.concat(lines, '\\n')\n"
    "widthLines = {}\n"
    "for i = 1, 5000 do widthLines[i] = string.format('%05d ', i) .. lines[i % 50 + 1]:sub(7) end\n"
    "frame = 0\n"
    "function Wall(y) frame = frame + 1 colorGL(255, 255, 255, 255) "
    "drawText(font, wall, 20, (y or 0) - frame % 100) end\n";

// The same 5,000 glyphs in one line at the size of the demo's credits, passing along the bottom
// of the view as the demo's scroller does, one drawText a frame, the view always full of it.
static const char kScroller[] =
    "lineFont = newFont(34)\n"
    "line = (wall:gsub('\\n', ' '))\n"
    "span = lineFont:getWidth(line)\n"
    "function Scroller() frame = frame + 1 colorGL(255, 255, 255, 230) "
    "drawText(lineFont, line, -((frame * 5) % (span - 1280)), 720 - 1.6 * lineFont:getHeight()) end\n";

// Milliseconds of the first frame of the render(): its text laid out and its glyphs made.
static double FirstFrameMs(OffscreenView& view, KestrovaWorld& world, const std::string& render)
{
    RunLuaString("function render() " + render + " end");
    const double start = NowMs();
    world.Tick(0.05f);
    view.Draw(world);
    view.Finish();
    return NowMs() - start;
}

// The fragments one frame of the render() rasterises, as the GL counts them.
static double FragmentsOfFrame(OffscreenView& view, KestrovaWorld& world, const std::string& render)
{
    RunLuaString("function render() " + render + " end");
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_SAMPLES_PASSED, query);
    world.Tick(0.05f);
    view.Draw(world);
    glEndQuery(GL_SAMPLES_PASSED);
    GLuint fragments = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &fragments);
    glDeleteQueries(1, &query);
    return fragments;
}

static double InkedGlyphs()
{
    RunLuaString("benchInked = select(2, wall:gsub('[^ \\n]', ''))");
    lua_getglobal(g_luaState, "benchInked");
    const double inked = lua_tonumber(g_luaState, -1);
    lua_pop(g_luaState, 1);
    return inked;
}

// Fixed-function drawing in view pixels, nothing else in the way: the cheapest draws there are.
static void PlainViewState()
{
    glUseProgram(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kWidth, kHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

// Milliseconds of quads that cover no pixel, spread over the view as glyphs are: what the
// renderer takes for that many quads before any pixel.
static double EmptyQuadsMs(int count)
{
    std::vector<float> corners;
    for (int i = 0; i < count; ++i) {
        const float x = 20 + float(i % 83) * 14.7f, y = float(i / 83 % 48) * 15.1f;
        for (int corner = 0; corner < 4; ++corner)
            corners.insert(corners.end(), {x, y});
    }
    PlainViewState();
    glDisable(GL_TEXTURE_2D);
    glVertexPointer(2, GL_FLOAT, 0, corners.data());
    std::vector<double> times;
    for (int run = 0; run < 21; ++run)
        times.push_back(TimedDraw([&] { glDrawArrays(GL_QUADS, 0, GLsizei(corners.size() / 2)); }));
    return Median(times);
}

// Milliseconds of one textured quad blended over the whole view: what the cheapest blended,
// textured draw takes for as many pixels.
static double BlendedViewMs()
{
    std::vector<unsigned char> texels(256 * 256 * 4);
    for (std::size_t i = 0; i < texels.size(); ++i)
        texels[i] = static_cast<unsigned char>(i * 37);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    PlainViewState();
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 1);
    const float corners[] = {0, 0, 0, 0, kWidth, 0, 1, 0, kWidth, kHeight, 1, 1, 0, kHeight, 0, 1};
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_FLOAT, 4 * sizeof(float), corners);
    glTexCoordPointer(2, GL_FLOAT, 4 * sizeof(float), corners + 2);
    std::vector<double> times;
    for (int run = 0; run < 21; ++run)
        times.push_back(TimedDraw([] { glDrawArrays(GL_QUADS, 0, 4); }));
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDeleteTextures(1, &texture);
    return Median(times);
}

int RunTextBench(BenchResults& results)
{
    OffscreenView view(kWidth, kHeight);
    std::string error;
    if (!view.Create(error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    KestrovaWorld world;
    world.showGrid = world.showGround = world.showPivotMarker = world.pickPivot = false;
    InitLua();
    RegisterLuaBindings();
    RunLuaString(kWall);
    RunLuaString(kScroller);
    results.Add("text.clear_ms", FrameMs(view, world, ""));
    results.Add("text.line_first_frame_ms", FirstFrameMs(view, world, "Scroller()"));
    results.Add("text.line_5000_added_ms", AddedMs(view, world, "", "Scroller()"));
    results.Add("text.line_5000_frame_ms", FrameMs(view, world, "Scroller()"));
    results.Add("text.line_5000_fragments", FragmentsOfFrame(view, world, "Scroller()") - FragmentsOfFrame(view, world, ""));

    results.Add("text.wall_first_frame_ms", FirstFrameMs(view, world, "Wall()"));
    results.Add("text.wall_5000_added_ms", AddedMs(view, world, "", "Wall()"));
    results.Add("text.wall_5000_frame_ms", FrameMs(view, world, "Wall()"));
    // Below the view: every glyph laid out and looked at, none sent.
    results.Add("text.wall_5000_clipped_added_ms", AddedMs(view, world, "", "Wall(5000)"));
    // The floor: the wall's quads (a glyph with ink each) at what this renderer takes for quads
    // alone, and its fragments at what a pixel of the cheapest blended textured draw takes.
    const double fragments = FragmentsOfFrame(view, world, "Wall()") - FragmentsOfFrame(view, world, "");
    const double quads = InkedGlyphs();
    const double emptyQuadsMs = EmptyQuadsMs(int(quads));
    const double blendedViewMs = BlendedViewMs();
    results.Add("text.wall_5000_quads", quads);
    results.Add("text.wall_5000_fragments", fragments);
    results.Add("text.floor_empty_quads_ms", emptyQuadsMs);
    results.Add("text.floor_blended_view_ms", blendedViewMs);
    results.Add("text.wall_5000_floor_ms", emptyQuadsMs + blendedViewMs * fragments / (double(kWidth) * kHeight));
    // 5,000 different lines, more than the widths kept: each call lays its line out.
    results.Add("text.getwidth_100_new_us", MicrosecondsACall("font:getWidth(widthLines[i % 5000 + 1])", kWidthCalls));
    results.Add("text.getwidth_100_same_us", MicrosecondsACall("font:getWidth(widthLines[1])", kWidthCalls));
    CloseLua();
    return 0;
}
