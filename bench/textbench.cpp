// Text at 1280x720 on the capture's offscreen view: a scroller of 5,000 glyphs against a frame
// that only clears, in the view and below it, its first frame (layout and glyphs made), and
// getWidth of a 100-character line, new each call and the same each call.

#include <cstdio>
#include <string>

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

// 5,000 glyphs in 50 lines of 100 characters, over the whole view, moving up each frame.
static const char kScroller[] =
    "font = newFont(14)\n"
    "local words = {'quill', 'mere', 'scroller', 'glyph', 'demo', 'Lua', 'party', 'greetings'}\n"
    "local lines = {}\n"
    "for l = 1, 50 do\n"
    "  local line = ''\n"
    "  local w = l\n"
    "  while #line < 100 do line = line .. words[w % #words + 1] .. ' ' w = w + 3 end\n"
    "  lines[l] = line:sub(1, 100)\n"
    "end\n"
    "scroller = table.concat(lines, '\\n')\n"
    "widthLines = {}\n"
    "for i = 1, 5000 do widthLines[i] = string.format('%05d ', i) .. lines[i % 50 + 1]:sub(7) end\n"
    "frame = 0\n"
    "function Scroll(y) frame = frame + 1 colorGL(255, 255, 255, 255) "
    "drawText(font, scroller, 20, (y or 0) - frame % 100) end\n";

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
    RunLuaString(kScroller);
    RunLuaString("function render() Scroll() end");
    const double start = NowMs();
    world.Tick(0.05f);
    view.Draw(world);
    view.Finish();
    results.Add("text.scroller_first_frame_ms", NowMs() - start);
    results.Add("text.clear_ms", FrameMs(view, world, ""));
    results.Add("text.scroller_5000_added_ms", AddedMs(view, world, "", "Scroll()"));
    results.Add("text.scroller_5000_frame_ms", FrameMs(view, world, "Scroll()"));
    // Below the view: every quad made and sent, none rasterised.
    results.Add("text.scroller_5000_clipped_added_ms", AddedMs(view, world, "", "Scroll(5000)"));
    // 5,000 different lines, more than the widths kept: each call lays its line out.
    results.Add("text.getwidth_100_new_us", MicrosecondsACall("font:getWidth(widthLines[i % 5000 + 1])", kWidthCalls));
    results.Add("text.getwidth_100_same_us", MicrosecondsACall("font:getWidth(widthLines[1])", kWidthCalls));
    CloseLua();
    return 0;
}
