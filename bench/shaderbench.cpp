// Shader passes, targets and feedback at 1280x720 on the capture's offscreen view, each frame
// bracketed by glFinish so that it holds the rasterising too, against a frame that only clears;
// the host's state reset after render() and a call through the gate; a 200-line shader's compile
// after a save to its first frame; a pasted 1,500-line file's preparation, and a Shadertoy import
// of two buffers against the same three passes drawn by the script.

#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "capture/offscreenview.h"
#include "gpu/scriptgpu.h"
#include "gpu/shadersource.h"
#include "analysis/soundtrackanalysis.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "world/kestrovaworld.h"

static constexpr int kWidth = 1280;
static constexpr int kHeight = 720;
static constexpr int kResets = 100000;
static constexpr int kUploads = 2000;
static constexpr int kCompiles = 9;
static constexpr int kLongShaderLines = 200;
static constexpr int kPastedLines = 1500;
static constexpr int kPreparations = 200;

static void Write(const char* name, const std::string& text)
{
    QFile file(name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.data(), qint64(text.size()));
}

// A shader of that many lines, each one step of arithmetic on the colour, behind a branch on a
// uniform that the compiler must keep. Each variant differs, so that no driver cache can answer
// for the compiler.
static std::string LongShader(int lines, int variant)
{
    std::string text = "void mainImage(out vec4 c, in vec2 p) {\n    vec3 v = vec3(p / iResolution.xy, "
        + std::to_string(variant) + ".0);\n    if (iTime < -1.0) {\n";
    for (int i = 0; i < lines - 6; ++i)
        text += "        v = fract(v * " + std::to_string(1.01 + i * 0.001) + " + vec3(0.1, 0.2, 0.3));\n";
    return text + "    }\n    c = vec4(v, 1.0);\n}\n";
}

int RunShaderBench(BenchResults& results)
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
    Write("trivial.frag", "void mainImage(out vec4 c, in vec2 p) { c = vec4(p / iResolution.xy, 0.5, 1.0); }\n");
    Write("post.frag", "void mainImage(out vec4 c, in vec2 p) {\n"
                       "    vec2 uv = p / iResolution.xy;\n"
                       "    c = vec4(texture(iChannel0, uv).rgb * (1.2 - length(uv - 0.5)), 1.0);\n}\n");
    Write("fade.frag", "void mainImage(out vec4 c, in vec2 p) {\n"
                       "    c = vec4(texture(iChannel0, p / iResolution.xy).rgb * 0.95, 1.0);\n}\n");
    Write("fetch.frag", "void mainImage(out vec4 c, in vec2 p) {\n"
                        "    vec2 uv = p / iResolution.xy;\n"
                        "    c = vec4(texelFetch(iChannel0, ivec2(p), 0).rgb * (1.2 - length(uv - 0.5)), 1.0);\n}\n");
    // The music's texture: frames begun with and without its filling and upload, each ended by
    // glFinish so that the upload's copy is in the figure; and, below, the same pass declaring
    // it or a sampler left empty, read only behind a branch never taken, where the binding of
    // one more texture unit comes in as well.
    for (const char* sampler : {"iSpectrum", "iChannel1"})
        Write(sampler == std::string("iSpectrum") ? "music.frag" : "nomusic.frag",
              std::string("uniform float never;\nvoid mainImage(out vec4 c, in vec2 p) {\n"
                          "    c = vec4(p / iResolution.xy, 0.5, 1.0);\n"
                          "    if (never > 0.5) c = texture(") + sampler + ", p / iResolution.xy);\n}\n");
    RunLuaString("music, nomusic = loadShader('music.frag'), loadShader('nomusic.frag')");
    RunLuaString("trivial, post, fade = loadShader('trivial.frag'), loadShader('post.frag'), loadShader('fade.frag')\n"
                 "fetch = loadShader('fetch.frag') t = newTarget()\n"
                 "setUniform(post, 'iChannel0', t) setUniform(fade, 'iChannel0', t) setUniform(fetch, 'iChannel0', t)\n"
                 "function Scene() beginTriGL() colorGL(255, 160, 40, 255) for i = 0, 99 do\n"
                 "  vectorGL(100 + i, 0, 100) vectorGL(110 + i, 0, 100) vectorGL(105 + i, 10, 100) end endGL() end");
    results.Add("shaders.clear_ms", FrameMs(view, world, ""));
    results.Add("shaders.fullscreen_added_ms", AddedMs(view, world, "", "drawFullscreen(trivial)"));
    // The scene drawn straight into the view is the base a post-process adds to.
    results.Add("shaders.scene_ms", FrameMs(view, world, "Scene()"));
    results.Add("shaders.postprocess_added_ms",
                AddedMs(view, world, "Scene()", "setTarget(t) Scene() setTarget(nil) drawFullscreen(post)"));
    // The same with texelFetch in place of the filtered texture(): what the sampling costs.
    results.Add("shaders.postprocess_fetch_added_ms",
                AddedMs(view, world, "Scene()", "setTarget(t) Scene() setTarget(nil) drawFullscreen(fetch)"));
    // The same two passes with and without the target they go through and sample.
    results.Add("shaders.feedback_added_ms",
                AddedMs(view, world, "drawFullscreen(fade) drawFullscreen(post)",
                        "setTarget(t) drawFullscreen(fade) setTarget(nil) drawFullscreen(post)"));
    // A call through the gate inside an open shape: the shape ended and begun again, GL state
    // saved and put back around a call that does next to nothing.
    results.Add("shaders.gate_call_us", 1000 * AddedMs(view, world, "beginTriGL() endGL()",
                                                      "beginTriGL() for i = 1, 1000 do useShader(nil) end endGL()")
                                            / 1000);
    results.Add("shaders.spectrum_bound_ms",
                AddedMs(view, world, "drawFullscreen(nomusic)", "drawFullscreen(music)"));
    {
        std::vector<double> times[2];
        for (int i = 0; i < 2 * kUploads; ++i) {
            const double begin = NowMs();
            view.Gpu().BeginFrame();
            if (i % 2) {
                view.Gpu().Music().Source(MusicRows{FillMusicTextureRows, kMusicTextureWidth}, 0);
                view.Gpu().Music().SampleTexture();
            }
            glFinish();
            times[i % 2].push_back(NowMs() - begin);
        }
        results.Add("shaders.spectrum_upload_ms", Median(times[1]) - Median(times[0]));
    }

    const double start = NowMs();
    for (int i = 0; i < kResets; ++i) {
        view.Gpu().PutBack();
        view.Gpu().EndChunk();
    }
    results.Add("shaders.reset_ms", (NowMs() - start) / kResets);

    std::vector<double> compiles, draws;
    Write("long.frag", LongShader(kLongShaderLines, 0));
    // Drawn into a small target, so that the frame's time is the compile's rather than the
    // rasterising of two hundred lines a pixel.
    RunLuaString("long, small = loadShader('long.frag'), newTarget(64, 64)\n"
                 "function render() setTarget(small) drawFullscreen(long) end");
    world.Tick(0.05f), view.Draw(world), view.Finish();
    const std::string path = QFile::encodeName(QDir::cleanPath(QFileInfo("long.frag").absoluteFilePath())).toStdString();
    for (int i = 1; i <= kCompiles; ++i) {
        Write("long.frag", LongShader(kLongShaderLines, i));
        const double saved = NowMs();
        view.Gpu().MarkFileChanged(path);
        world.Tick(0.05f), view.Draw(world), view.Finish();
        compiles.push_back(NowMs() - saved);
        const double again = NowMs();
        world.Tick(0.05f), view.Draw(world), view.Finish();
        draws.push_back(NowMs() - again);
    }
    results.Add("shaders.compile_to_frame_ms", Median(compiles));
    // The same frame once the program is made: what the compile itself took is the difference.
    results.Add("shaders.long_frame_ms", Median(draws));

    // Comments, conditions and declarations, as pasted files have them.
    std::string pasted = "// pasted\n#ifdef GL_ES\nprecision highp float;\n#endif\n/* the long part */\n"
        + LongShader(kPastedLines - 5, 0);
    std::vector<double> preparations;
    std::size_t size = 0;
    for (int i = 0; i < kPreparations; ++i) {
        const double begin = NowMs();
        size += PrepareShaderSource(pasted, true).size();
        preparations.push_back(NowMs() - begin);
    }
    results.Add("shaders.prepare_1500_lines_ms", size ? Median(preparations) : 0);

    const char* pass = "void mainImage(out vec4 c, in vec2 p) { c = vec4(texture(iChannel0, p / iResolution.xy).rgb * 0.9, 1.0); }";
    Write("a.frag", pass), Write("b.frag", pass), Write("image.frag", pass);
    const std::string input = "\"inputs\": [{\"channel\": 0, \"ctype\": \"buffer\", \"id\": \"";
    const std::string code = std::string("\"code\": \"") + pass + "\"";
    Write("two.json", "{\"Shader\": {\"renderpass\": [\n"
                      "{\"type\": \"buffer\", \"name\": \"Buffer A\", " + code + ", " + input + "A\"}], \"outputs\": [{\"id\": \"A\"}]},\n"
                      "{\"type\": \"buffer\", \"name\": \"Buffer B\", " + code + ", " + input + "A\"}], \"outputs\": [{\"id\": \"B\"}]},\n"
                      "{\"type\": \"image\", \"name\": \"Image\", " + code + ", " + input + "B\"}]}]}}\n");
    RunLuaString("toy = loadShadertoy('two.json') ta, tb = newTarget(), newTarget()\n"
                 "a, b, image = loadShader('a.frag'), loadShader('b.frag'), loadShader('image.frag')\n"
                 "setUniform(a, 'iChannel0', ta) setUniform(b, 'iChannel0', ta) setUniform(image, 'iChannel0', tb)");
    results.Add("shaders.shadertoy_two_buffers_added_ms", AddedMs(view, world, "", "drawFullscreen(toy)"));
    results.Add("shaders.three_script_passes_added_ms",
                AddedMs(view, world, "", "setTarget(ta) drawFullscreen(a) setTarget(tb) drawFullscreen(b) setTarget(nil) drawFullscreen(image)"));
    CloseLua();
    return 0;
}
