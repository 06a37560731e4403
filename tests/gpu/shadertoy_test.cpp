// Shaders pasted from Shadertoy and its multipass exports, drawn in the view and read back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>

extern "C" {
#include <lua.h>
}

#include "capture/offscreenview.h"
#include "gpu/scriptshader.h"
#include "gpu/shadertoyimport.h"
#include "script/bindings.h"
#include "script/gpugate.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "tests/gpu/musicclockat.h"
#include "tests/world/framebufferview.h"
#include "world/kestrovaworld.h"
#include "world/viewgl.h"

static constexpr int kWidth = 320;
static constexpr int kHeight = 240;
static FramebufferView* g_view = nullptr;

static void Write(const std::string& name, const std::string& text)
{
    std::ofstream(name, std::ios::binary) << text;
}

static std::string RunChunk(const std::string& chunk)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    return output + error;
}

// A fresh script state whose render() is the text given; what loading it said.
static std::string Scene(const std::string& setup, const std::string& render)
{
    g_view->MakeCurrent();
    CloseLua(), InitLua(), RegisterLuaBindings();
    return RunChunk(setup + "\nfunction render() " + render + " end");
}

static QImage Frame()
{
    return g_view->Frame();
}

// The pixel at GL window coordinates, origin bottom left, within 2 in each channel.
static ::testing::AssertionResult Near(const QImage& image, int x, int y, QRgb expected)
{
    const QRgb got = image.pixel(x, image.height() - 1 - y);
    if (std::abs(qRed(got) - qRed(expected)) <= 2 && std::abs(qGreen(got) - qGreen(expected)) <= 2
        && std::abs(qBlue(got) - qBlue(expected)) <= 2)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << QString::number(got, 16).toStdString() << " against "
                                         << QString::number(expected, 16).toStdString();
}

template <typename T>
static T* Global(const char* name, const char* type)
{
    lua_getglobal(g_luaState, name);
    auto* object = static_cast<T*>(ToGpuObject(g_luaState, -1, type));
    lua_pop(g_luaState, 1);
    return object;
}


// Each snippet failed, or drew wrongly, before: the file and the colour it draws at the middle.
TEST(PastedShaders, DrawAsTheSiteDrawsThem)
{
    MusicClockAt clock(12.5);
    QImage picture(64, 32, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.save("picture.png");
    const struct {
        const char* file;
        QRgb colour;
    } cases[] = {
        // A byte-order mark, a precision line, iResolution declared as vec2, the old iGlobalTime,
        // a main in a comment.
        {"\xEF\xBB\xBFprecision highp float;\n// void main() {}\nuniform vec2 iResolution;\n"
         "void mainImage(out vec4 c, in vec2 p) { c = vec4(p / iResolution, iGlobalTime / 25.0, 1.0); }\n",
         qRgb(128, 128, 128)},
        // The inputs the host did not have.
        {"void mainImage(out vec4 c, in vec2 p) {\n"
         "  c = vec4(iDate.x > 2000.0 && iDate.y < 12.0 && iDate.z >= 1.0 && iDate.w < 86400.0 ? 1.0 : 0.0,\n"
         "           iSampleRate == 44100.0 && iFrameRate > 0.0 && iChannelTime[0] == iTime ? 1.0 : 0.0,\n"
         "           iChannelResolution[0].x / 256.0 + iChannelResolution[0].y / 128.0, 1.0);\n}\n",
         qRgb(255, 255, 128)},
        // Its own main, using what it does not declare.
        {"void main() { gl_FragColor = vec4(gl_FragCoord.xy / iResolution.xy, iTime / 25.0, 1.0); }\n", qRgb(128, 128, 128)},
        // A main the preprocessor drops, and one it keeps in a condition only the compiler reads.
        {"#ifdef STANDALONE\nvoid main() { gl_FragColor = vec4(1.0); }\n#endif\n"
         "void mainImage(out vec4 c, in vec2 p) { c = vec4(0.0, 1.0, 0.0, 1.0); }\n",
         qRgb(0, 255, 0)},
        {"#if __VERSION__ >= 100\nvoid main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n#endif\n"
         "void mainImage(out vec4 c, in vec2 p) { c = vec4(0.0, 1.0, 0.0, 1.0); }\n",
         qRgb(255, 0, 0)},
        // Locals and outputs read before they are written are zero; alpha 0 still draws.
        {"void mainImage(out vec4 c, in vec2 p) { float x; vec3 v; x += 0.5; v += vec3(0.25); c.rgb = vec3(x, v.x, 0.0); }\n",
         qRgb(128, 64, 0)},
        // GLSL ES with an #extension line: a vertex stage of its own kind.
        {"#version 300 es\n#extension GL_EXT_shader_texture_lod : enable\nprecision mediump float;\n"
         "void mainImage(out vec4 c, in vec2 p) { c = vec4(p / iResolution.xy, 1.0, 0.0); }\n",
         qRgb(128, 128, 255)},
    };
    for (const auto& c : cases) {
        Write("pasted.frag", c.file);
        ASSERT_EQ(Scene("s = loadShader('pasted.frag') setUniform(s, 'iChannel0', loadTexture('picture.png'))",
                        "drawFullscreen(s)"),
                  "")
            << c.file;
        const QImage image = Frame();
        EXPECT_EQ(Global<ScriptShader>("s", "quillmere.shader")->Error(), "") << c.file;
        EXPECT_TRUE(Near(image, kWidth / 2, kHeight / 2, c.colour)) << c.file;
    }
    // The script asks for blending: alpha 0 leaves the black behind.
    ASSERT_EQ(Scene("s = loadShader('pasted.frag')", "drawFullscreen(s, 'blend')"), "");
    EXPECT_TRUE(Near(Frame(), kWidth / 2, kHeight / 2, qRgb(0, 0, 0)));
    EXPECT_NE(RunChunk("drawFullscreen(s, 'add')").find("drawFullscreen: expected \"blend\", \"opaque\" or nothing, got \"add\""),
              std::string::npos);
}

// The compiler's lines under the file's name and lines, nothing of the wrapped text.
TEST(PastedShaders, AFailedCompileSaysOnlyTheCompilersLines)
{
    Write("bad.frag", "void mainImage(out vec4 c, in vec2 p) {\n  c = vec4(1.0) nosuch;\n}\n");
    ASSERT_EQ(Scene("s = loadShader('bad.frag')", "drawFullscreen(s)"), "");
    Frame();
    const std::string error = Global<ScriptShader>("s", "quillmere.shader")->Error();
    EXPECT_EQ(error.rfind("bad.frag:2: error: ", 0), 0u) << error;
    for (size_t at = error.find('\n'); at + 1 < error.size(); at = error.find('\n', at + 1))
        EXPECT_EQ(error.compare(at + 1, 11, "bad.frag:2:"), 0) << error;
}

static QJsonObject Input(int channel, const char* ctype, const char* id, const char* filter = "linear",
                         const char* wrap = "clamp", const char* vflip = "true")
{
    return QJsonObject{{"channel", channel},
                       {"ctype", ctype},
                       {"id", id},
                       {"src", QString("/media/a/") + id},
                       {"sampler", QJsonObject{{"filter", filter}, {"wrap", wrap}, {"vflip", vflip}}}};
}

static QJsonObject Pass(const char* type, const char* name, const char* code, const QJsonArray& inputs = {},
                        const char* output = "")
{
    return QJsonObject{{"type", type},
                       {"name", name},
                       {"code", code},
                       {"inputs", inputs},
                       {"outputs", QJsonArray{QJsonObject{{"id", output}, {"channel", 0}}}}};
}

static void WriteExport(const std::string& name, const QJsonArray& passes)
{
    const QJsonObject shader{{"Shader", QJsonObject{{"info", QJsonObject{{"name", "test"}}}, {"renderpass", passes}}}};
    Write(name, QJsonDocument(shader).toJson().toStdString());
}

// Buffer A adds a quarter to itself (in half floats, past 1) and reads B of the frame before;
// B reads A of this frame; Common is shared; the export lists its passes out of order.
TEST(ShadertoyImport, BuffersRunInOrderOnceAFrameWithTheFrameBeforeWhereTheSiteHasIt)
{
    WriteExport("chain.json",
                QJsonArray{Pass("image", "Image",
                                "void mainImage(out vec4 c, in vec2 p) { vec2 uv = p / iResolution.xy;\n"
                                "  c = vec4(texture(iChannel0, uv).r, texture(iChannel1, uv).g, texture(iChannel0, uv).g, 4.0) / 4.0; }",
                                QJsonArray{Input(0, "buffer", "4dXGR8"), Input(1, "buffer", "XsXGR8")}),
                           Pass("buffer", "Buffer B",
                                "void mainImage(out vec4 c, in vec2 p) { c = vec4(0.0, texture(iChannel0, p / iResolution.xy).r, 0.0, 1.0); }",
                                QJsonArray{Input(0, "buffer", "4dXGR8")}, "XsXGR8"),
                           Pass("common", "Common", "float Quarter() { return 0.25; }"),
                           Pass("buffer", "Buffer A",
                                "void mainImage(out vec4 c, in vec2 p) { vec2 uv = p / iResolution.xy;\n"
                                "  c = vec4(texture(iChannel0, uv).r + Quarter(), texture(iChannel1, uv).g, 0.0, 1.0); }",
                                QJsonArray{Input(0, "buffer", "4dXGR8"), Input(1, "buffer", "XsXGR8")}, "4dXGR8")});
    // Drawn twice a frame: the buffers still run once.
    ASSERT_EQ(Scene("s = loadShadertoy('chain.json')", "drawFullscreen(s) drawFullscreen(s)"), "");
    for (int n = 1; n <= 6; ++n) {
        const QImage image = Frame();
        const int quarterN = int(0.0625 * n * 255 + 0.5), before = int(0.0625 * (n - 1) * 255 + 0.5);
        EXPECT_TRUE(Near(image, 10, 10, qRgb(quarterN, quarterN, before))) << "frame " << n;
    }
    EXPECT_EQ(Global<ShadertoyImport>("s", "quillmere.shadertoy")->Error(), "");
}

// In a capture the buffers take the video's size, and two runs give the same pictures (the
// export is the one the test above wrote).
TEST(ShadertoyImport, ACaptureDrawsTheSameTwice)
{
    QImage frames[2];
    for (QImage& frame : frames) {
        g_view->MakeCurrent();
        CloseLua();
        {
            OffscreenView offscreen(200, 100);
            std::string error;
            ASSERT_TRUE(offscreen.Create(error)) << error;
            KestrovaWorld world;
            world.showGrid = world.showGround = world.showPivotMarker = world.pickPivot = false;
            InitLua(), RegisterLuaBindings();
            ASSERT_EQ(RunChunk("s = loadShadertoy('chain.json') function render() drawFullscreen(s) end"), "");
            for (int i = 0; i < 3; ++i)
                world.Tick(0.05f), offscreen.Draw(world);
            std::vector<unsigned char> pixels(200 * 100 * 4);
            offscreen.Read(pixels.data());
            frame = QImage(pixels.data(), 200, 100, QImage::Format_RGB32).mirrored();
            CloseLua();
        }
        g_world = static_cast<KestrovaWorld*>(g_view->world);
        InitLua(), RegisterLuaBindings();
    }
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_TRUE(Near(frames[0], 150, 25, qRgb(48, 48, 32)));
}

// Repeat against clamp at 1.25, and the vertical flip, on a 2x2 texture read nearest.
TEST(ShadertoyImport, TexturesAreSampledAsEachInputSays)
{
    QImage quadrants(2, 2, QImage::Format_RGB32);
    quadrants.setPixel(0, 0, qRgb(255, 0, 0)), quadrants.setPixel(1, 0, qRgb(0, 255, 0));
    quadrants.setPixel(0, 1, qRgb(0, 0, 255)), quadrants.setPixel(1, 1, qRgb(255, 255, 255));
    quadrants.save("quadrants.png");
    WriteExport("sampled.json",
                QJsonArray{Pass("image", "Image",
                                "void mainImage(out vec4 c, in vec2 p) { vec2 at = vec2(1.25, 0.75);\n"
                                "  c = p.x < 100.0 ? texture(iChannel0, at) : p.x < 200.0 ? texture(iChannel1, at) : texture(iChannel2, at); }",
                                QJsonArray{Input(0, "texture", "quadrants.png", "nearest", "repeat"),
                                           Input(1, "texture", "quadrants.png", "nearest", "clamp"),
                                           Input(2, "texture", "quadrants.png", "nearest", "clamp", "false")})});
    ASSERT_EQ(Scene("s = loadShadertoy('sampled.json')", "drawFullscreen(s)"), "");
    const QImage image = Frame();
    EXPECT_TRUE(Near(image, 50, 120, qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(image, 150, 120, qRgb(0, 255, 0)));
    EXPECT_TRUE(Near(image, 250, 120, qRgb(255, 255, 255)));
}

TEST(ShadertoyImport, WhatTheHostDoesNotHaveIsAnErrorNamingIt)
{
    const char* image = "void mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }";
    WriteExport("keys.json", QJsonArray{Pass("image", "Image", image, QJsonArray{Input(1, "keyboard", "4dXGRr")})});
    EXPECT_NE(Scene("s = loadShadertoy('keys.json')", "").find("loadShadertoy: keys.json: Image: iChannel1: a keyboard input, which is not supported"),
              std::string::npos);
    // A damaged export: the channel or the kind as the file has them.
    QJsonObject half = Input(0, "texture", "quadrants.png");
    half["channel"] = 0.5;
    WriteExport("half.json", QJsonArray{Pass("image", "Image", image, QJsonArray{half})});
    EXPECT_NE(Scene("s = loadShadertoy('half.json')", "").find("half.json: Image: an input on channel 0 to 3, got 0.5\n"),
              std::string::npos);
    WriteExport("unnamed.json", QJsonArray{Pass("image", "Image", image), Pass("", "", image)});
    EXPECT_NE(Scene("s = loadShadertoy('unnamed.json')", "").find("unnamed.json: an unnamed pass, which is not supported"),
              std::string::npos);
    WriteExport("missing.json", QJsonArray{Pass("image", "Image", image, QJsonArray{Input(0, "texture", "nosuch.png")})});
    EXPECT_NE(Scene("s = loadShadertoy('missing.json')", "").find("missing.json: Image: iChannel0: nosuch.png: a PNG or JPEG image, got file not found"),
              std::string::npos);
    Write("notjson.json", "{\"Shader\": [");
    EXPECT_NE(Scene("s = loadShadertoy('notjson.json')", "").find("notjson.json: a shader exported as JSON, got "), std::string::npos);
    // A compile error names the pass and its own line; Common's is said once.
    WriteExport("broken.json", QJsonArray{Pass("common", "Common", "float f() { return nosuch; }"),
                                         Pass("buffer", "Buffer A", "void mainImage(out vec4 c, in vec2 p) {\n  c = 1;\n}", {}, "4dXGR8"),
                                         Pass("image", "Image", image)});
    ASSERT_EQ(Scene("s = loadShadertoy('broken.json')", "drawFullscreen(s)"), "");
    Frame();
    const std::string error = Global<ShadertoyImport>("s", "quillmere.shadertoy")->Error();
    EXPECT_NE(error.find("Buffer A:2: error: "), std::string::npos) << error;
    EXPECT_NE(error.find("Common:1: error: "), std::string::npos) << error;
    EXPECT_EQ(error.find("Common:1: error: "), error.rfind("Common:1: error: ")) << error;
}

int main(int argc, char* argv[])
{
    SetProcessOptions();
    QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir folder;
    const QString start = QDir::currentPath();
    QDir::setCurrent(folder.path());
    InitLua();
    RegisterLuaBindings();
    g_view = new FramebufferView(kWidth, kHeight);
    g_view->resize(kWidth, kHeight);
    g_view->create();
    g_view->frameTimer->stop();
    g_view->showStatusStrip = false;
    World* world = g_view->world;
    world->showGrid = world->showGround = world->showPivotMarker = world->pickPivot = false;
    Frame();
    const int status = RUN_ALL_TESTS();
    g_view->MakeCurrent();
    CloseLua();
    delete g_view->target;
    delete g_view;
    QDir::setCurrent(start);
    return status;
}
