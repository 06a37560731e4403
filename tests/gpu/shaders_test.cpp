// Script shaders, textures and targets drawn in a view and in a capture's offscreen view.
#include <GL/gl.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QOpenGLFramebufferObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

extern "C" {
#include <lua.h>
}

#include "capture/offscreenview.h"
#include "gpu/scriptgpu.h"
#include "gpu/scriptshader.h"
#include "script/bindings.h"
#include "script/gpugate.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "tests/gpu/musicclockat.h"
#include "script/scriptfailures.h"
#include "tests/world/framebufferview.h"
#include "world/kestrovaworld.h"
#include "world/openglemptyworldwidget.h"
#include "world/statusstrip.h"
#include "world/viewgl.h"

static constexpr int kWidth = 320;
static constexpr int kHeight = 240;
// A call that waits for ever ends the test by its alarm this long after.
static constexpr unsigned kHangSeconds = 60;

// The view drawing into a framebuffer object that the test reads back.
class TestView : public FramebufferView {
public:
    TestView() : FramebufferView(kWidth, kHeight) {}
};

static std::string Run(const std::string& chunk)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    return output + error;
}

static void Write(const QString& name, const QByteArray& text)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// A square image of one colour, saved under the name.
static QImage SaveSolid(const QString& name, int side, Qt::GlobalColor colour)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    image.save(name);
    return image;
}

// A pass of the colour a sampler holds at its middle.
static const QByteArray kPicture = "uniform sampler2D picture;\nvoid main() { gl_FragColor = texture2D(picture, vec2(0.5)); }\n";

// What a texture of the image takes of the budget.
static std::size_t Bytes(const QImage& image)
{
    return std::size_t(image.width()) * std::size_t(image.height()) * 4;
}

// Within 2 of 255 in each channel: llvmpipe rounds differently between CPUs.
static bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 && std::abs(qBlue(a) - qBlue(b)) <= 2;
}
#define QCOMPARE_RGB(actual, expected)                                                                  \
    QVERIFY2(Near(actual, expected), qPrintable(QString("%1 against %2").arg(actual, 8, 16).arg(expected, 8, 16)))

// The pixel at GL window coordinates (x, y), origin bottom left.
static QRgb At(const QImage& image, int x, int y)
{
    return image.pixel(x, image.height() - 1 - y);
}

// The music's rows as a ramp across the spectrum and a steady waveform, counting the fills.
static constexpr int kRampWidth = 512;
static int g_rampFills = 0;
static void RampRows(double, float* spectrum, float* waveform)
{
    ++g_rampFills;
    for (int i = 0; i < kRampWidth; ++i)
        spectrum[i] = (i + 0.5f) / kRampWidth, waveform[i] = 0.25f;
}

static const QByteArray kGradient = "void mainImage(out vec4 fragColor, in vec2 fragCoord) {\n"
                                    "    fragColor = vec4(fragCoord / iResolution.xy, 0.25, 1.0);\n"
                                    "}\n";

class ShadersTest : public QObject {
    Q_OBJECT

    TestView* view = nullptr;
    QTemporaryDir folder;
    QString start;

    // A fresh script state whose render() is the text given.
    void Scene(const std::string& setup, const std::string& render)
    {
        view->MakeCurrent();
        CloseLua(), InitLua(), RegisterLuaBindings();
        QCOMPARE(Run(setup + "\nfunction render() " + render + " end"), std::string());
    }
    QImage Overlays(bool on)
    {
        World* w = view->world;
        w->showGrid = w->showGround = w->showPivotMarker = w->pickPivot = on;
        return QImage();
    }

private slots:
    void initTestCase()
    {
        QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
        start = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        InitLua();
        RegisterLuaBindings();
        view = new TestView;
        view->resize(kWidth, kHeight);
        view->create();
        view->frameTimer->stop();
        view->showStatusStrip = false;
        view->Frame();
        Write("gradient.frag", kGradient);
    }
    void cleanupTestCase()
    {
        view->MakeCurrent();
        CloseLua();
        delete view->target;
        delete view;
        QDir::setCurrent(start);
    }
    void init() { Overlays(false); }

    // fragCoord / iResolution at pixel centres, red along x and green along y, in the view.
    void aFullscreenPassCoversTheViewWithItsUniforms()
    {
        Scene("s = loadShader('gradient.frag')", "drawFullscreen(s)");
        const QImage image = view->Frame();
        for (const QPoint p : {QPoint(10, 10), QPoint(160, 120), QPoint(300, 30), QPoint(40, 220)})
            QCOMPARE_RGB(At(image, p.x(), p.y()),
                         qRgb(int((p.x() + 0.5) / kWidth * 255 + 0.5), int((p.y() + 0.5) / kHeight * 255 + 0.5), 64));
        QCOMPARE(Run("print(getViewSize())"), std::string("320\r\n240\r\n"));
    }

    // The script's triangles through a fragment file alone: the host's vertex stage hands it the
    // colour, and iTime is the music's time.
    void useShaderDrawsTheScriptsTrianglesWithTheMusicsTime()
    {
        MusicClockAt clock(12.5);
        Write("timed.frag", "uniform float iTime;\n"
                            "void main() { gl_FragColor = vec4(gl_Color.r, iTime / 25.0, 0.0, 1.0); }\n");
        Scene("s = loadShader('timed.frag') setCamPos(0, 0, 0) lookAt(0, 0, -1)",
              "useShader(s) beginTriGL() colorGL(255, 0, 0, 255) vectorGL(-5, -5, -10) vectorGL(5, -5, -10) "
              "vectorGL(0, 5, -10) endGL() useShader(nil) drawLine(0, 0, -10, 0, 0, -10)");
        const QImage shot = view->Frame();
        QCOMPARE_RGB(At(shot, 160, 110), qRgb(255, 128, 0));
        QCOMPARE_RGB(At(shot, 10, 10), qRgb(0, 0, 0));
        // A vertex file of the script's own replaces the host's stage; its errors carry its name.
        Write("lift.vert", "varying vec4 tint;\nvoid main() {\n    vec4 p = ftransform();\n    gl_Position = p + vec4(0.0, 0.5 * p.w, 0.0, 0.0);\n"
                           "    tint = vec4(0.0, 0.0, 1.0, 1.0);\n}\n");
        Write("tint.frag", "varying vec4 tint;\nvoid main() { gl_FragColor = tint; }\n");
        QCOMPARE(Run("s = loadShader('tint.frag', 'lift.vert')"), std::string());
        const QImage lifted = view->Frame();
        QCOMPARE_RGB(At(lifted, 160, 110 + 60), qRgb(0, 0, 255));
        QCOMPARE_RGB(At(lifted, 160, 110 - 20), qRgb(0, 0, 0));
        Write("bad.vert", "void main() {\n\n    gl_Position = nosuch;\n}\n");
        QCOMPARE(Run("s = loadShader('tint.frag', 'bad.vert')"), std::string());
        view->Frame();
        const std::string error = g_scriptFailures.ShaderError("tint.frag");
        QVERIFY2(error.rfind("bad.vert:3: error", 0) == 0, error.c_str());
        // One file as both stages: compiled as a fragment, then as a vertex stage, in which it
        // does not compile (and must not be taken for the fragment the driver's cache has seen).
        QCOMPARE(Run("s = loadShader('tint.frag', 'tint.frag')"), std::string());
        view->Frame();
        const std::string both = g_scriptFailures.ShaderError("tint.frag");
        QVERIFY2(both.rfind("tint.frag:2: error: `gl_FragColor' undeclared", 0) == 0, both.c_str());
        QVERIFY(Run("loadShader('tint.frag', 'missing.vert')").find("loadShader: missing.vert: No such file or directory")
                != std::string::npos);
        g_scriptFailures.Report("tint.frag", "");
    }

    // A capture at another size draws the same pass at its own size, the same every time.
    void aCaptureDrawsThePassAtTheVideoSizeAndTheSameTwice()
    {
        QImage frames[2];
        for (QImage& frame : frames) {
            view->MakeCurrent();
            CloseLua();
            {
                OffscreenView offscreen(200, 100);
                std::string error;
                QVERIFY2(offscreen.Create(error), error.c_str());
                KestrovaWorld world;
                world.showGrid = world.showGround = world.showPivotMarker = world.pickPivot = false;
                InitLua(), RegisterLuaBindings();
                QCOMPARE(Run("s = loadShader('gradient.frag') t = newTarget()\n"
                             "w, h = getViewSize()\n"
                             "function render() setTarget(t) drawFullscreen(s) setTarget(nil) "
                             "setUniform(s, 'unused', t) drawFullscreen(s) end"),
                         std::string());
                for (int i = 0; i < 2; ++i)
                    world.Tick(0.05f), offscreen.Draw(world);
                QCOMPARE(Run("print(w, h)"), std::string("200\r\n100\r\n"));
                std::vector<unsigned char> pixels(200 * 100 * 4);
                offscreen.Read(pixels.data());
                frame = QImage(pixels.data(), 200, 100, QImage::Format_RGB32).mirrored();
                CloseLua();
            }
            g_world = static_cast<KestrovaWorld*>(view->world);
            InitLua(), RegisterLuaBindings();
        }
        QCOMPARE(frames[0], frames[1]);
        QCOMPARE_RGB(At(frames[0], 150, 25), qRgb(int(150.5 / 200 * 255 + 0.5), int(25.5 / 100 * 255 + 0.5), 64));
    }

    // The image's top-left quadrant lands at the top left of a full-screen pass, and so on.
    void aTexturesQuadrantsLandWhereTheyAreInTheImage()
    {
        QImage image(64, 64, QImage::Format_RGB32);
        const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                image.setPixel(x, y, y < 32 ? (x < 32 ? red : green) : (x < 32 ? blue : white));
        QVERIFY(image.save("quadrants.png"));
        Write("show.frag", "uniform sampler2D picture;\n"
                           "void main() { gl_FragColor = texture2D(picture, gl_TexCoord[0].xy); }\n");
        Scene("s = loadShader('show.frag') setUniform(s, 'picture', loadTexture('quadrants.png'))", "drawFullscreen(s)");
        QCOMPARE(Run("collectgarbage()"), std::string());  // the texture lives on through the shader
        const QImage shot = view->Frame();
        QCOMPARE_RGB(At(shot, 80, 180), red);
        QCOMPARE_RGB(At(shot, 240, 180), green);
        QCOMPARE_RGB(At(shot, 80, 60), blue);
        QCOMPARE_RGB(At(shot, 240, 60), white);
        // Saved again, the file is read again at the next frame; a save that is no image keeps the picture.
        image.fill(Qt::yellow);
        QVERIFY(image.save("quadrants.png"));
        const std::string path = QDir::current().absoluteFilePath("quadrants.png").toStdString();
        view->gpu->MarkFileChanged(path);
        QCOMPARE_RGB(At(view->Frame(), 80, 180), qRgb(255, 255, 0));
        Write("quadrants.png", "half a save");
        view->gpu->MarkFileChanged(path);
        QCOMPARE_RGB(At(view->Frame(), 80, 180), qRgb(255, 255, 0));
    }

    // A target drawn into reads the previous frame's picture while it is drawn: a spot drawn on
    // the first frame stays through copies of the target into itself. Drawn and then sampled in
    // the same frame, it gives what was just drawn (a post-process through a target).
    void feedbackKeepsWhatTheFirstFrameDrewAndAPostProcessSeesTheScene()
    {
        Write("spot.frag", "void mainImage(out vec4 c, in vec2 p) {\n"
                           "    c = vec4(length(p - vec2(100.0, 100.0)) < 20.0 ? 1.0 : 0.0, 0.0, 0.0, 1.0);\n}\n");
        Write("copy.frag", "uniform sampler2D source; uniform float invert;\n"
                           "void mainImage(out vec4 c, in vec2 p) {\n"
                           "    vec4 s = texture(source, p / iResolution.xy);\n"
                           "    c = vec4(mix(s.rgb, 1.0 - s.rgb, invert), 1.0);\n}\n");
        Scene("spot, copy = loadShader('spot.frag'), loadShader('copy.frag') t = newTarget() frames = 0\n"
              "setUniform(copy, 'source', t) setUniform(copy, 'invert', 0)",
              "frames = frames + 1 setTarget(t) drawFullscreen(frames == 1 and spot or copy) setTarget(nil) "
              "drawFullscreen(copy)");
        for (int frame = 1; frame <= 4; ++frame) {
            const QImage shot = view->Frame();
            QCOMPARE_RGB(At(shot, 100, 100), qRgb(255, 0, 0));
            QCOMPARE_RGB(At(shot, 200, 100), qRgb(0, 0, 0));
        }
        // The scene's gradient drawn into a target and inverted on its way to the view.
        Scene("g, copy = loadShader('gradient.frag'), loadShader('copy.frag') t = newTarget()\n"
              "setUniform(copy, 'source', t) setUniform(copy, 'invert', 1)",
              "setTarget(t) drawFullscreen(g) setTarget(nil) drawFullscreen(copy)");
        const QImage shot = view->Frame();
        QCOMPARE_RGB(At(shot, 160, 120), qRgb(255 - 128, 255 - 128, 255 - 64));
        // A target without a size follows the view when the view's size changes: a pixel's own
        // column drawn into it comes back at the same column.
        Write("column.frag", "void mainImage(out vec4 c, in vec2 p) { c = vec4(floor(p.x) / 255.0, 0.0, 0.0, 1.0); }\n");
        QCOMPARE(Run("g = loadShader('column.frag') setUniform(copy, 'invert', 0)"), std::string());
        view->MakeCurrent();
        glViewport(0, 0, 160, 120);
        const QImage smaller = view->Frame();
        glViewport(0, 0, kWidth, kHeight);
        QCOMPARE(Run("print(getViewSize())"), std::string("160\r\n120\r\n"));
        QCOMPARE_RGB(At(smaller, 120, 30), qRgb(120, 0, 0));
    }

    // Messages carry the file's own name and line, with or without #version and around mainImage;
    // the last good program draws meanwhile, and a compile that works clears the error.
    void aFailedCompileShowsFileAndLineAndKeepsTheLastGoodProgram()
    {
        Write("live.frag", kGradient);
        Scene("s = loadShader('live.frag')", "drawFullscreen(s)");
        const QImage good = view->Frame();
        const QByteArray broken[] = {
            "void mainImage(out vec4 c, in vec2 p) {\n    c = vec4(1.0);\n    nosuch = 2;\n}\n",
            "#version 330\n// a comment\nvoid main() {\n    gl_FragColor = vec4(1.0) nosuch;\n}\n",
            "void main() {\n    gl_FragColor = gl_Color;\n\n    oops();\n}\n",
            "#version 120\nvoid main() {\n    gl_FragColor = vec4(1.0) nosuch;\n}\n",
        };
        const std::string lines[] = {"live.frag:3: error", "live.frag:4: error", "live.frag:4: error", "live.frag:3: error"};
        for (int i = 0; i < 4; ++i) {
            Write("live.frag", broken[i]);
            view->gpu->MarkFileChanged(QDir::current().absoluteFilePath("live.frag").toStdString());
            QCOMPARE(view->Frame(), good);
            const std::string error = g_scriptFailures.ShaderError("live.frag");
            QVERIFY2(error.rfind(lines[i], 0) == 0, error.c_str());
            QVERIFY(StatusStrip::Current().message.startsWith(QString::fromStdString(lines[i])));
        }
        Write("live.frag", "void mainImage(out vec4 c, in vec2 p) { c = vec4(0.0, 0.0, 1.0, 1.0); }\n");
        view->gpu->MarkFileChanged(QDir::current().absoluteFilePath("live.frag").toStdString());
        QCOMPARE_RGB(At(view->Frame(), 50, 50), qRgb(0, 0, 255));
        QCOMPARE(g_scriptFailures.ShaderError("live.frag"), std::string());
        QVERIFY(StatusStrip::Current().message.isEmpty());
        // Loaded again (as each reload of prod.lua does), the shader is the same object.
        const std::string same = Run("print(tostring(loadShader('live.frag') == s and loadShader('./live.frag') == s))");
        QCOMPARE(QString::fromStdString(same), QString("true\r\n"));
        // A shader collected while its file is broken leaves its line until a fresh load of the
        // file compiles.
        Write("live.frag", broken[0]);
        view->gpu->MarkFileChanged(QDir::current().absoluteFilePath("live.frag").toStdString());
        view->Frame();
        QVERIFY(!g_scriptFailures.ShaderError("live.frag").empty());
        QCOMPARE(Run("s = nil collectgarbage() collectgarbage()"), std::string());
        Write("live.frag", kGradient);
        QCOMPARE(Run("s = loadShader('live.frag')"), std::string());
        QCOMPARE(view->Frame(), good);
        QVERIFY(StatusStrip::Current().message.isEmpty());
    }

    // Whatever a render() leaves, the grid, ground, marker and pick come out as with an empty scene.
    void theHostsDrawingIsExactlyAsWithAnEmptyScene()
    {
        Overlays(true);
        Write("tint.frag", "void main() { gl_FragColor = vec4(1.0, 0.0, 1.0, 1.0); }\n");
        const std::string setup = "s = loadShader('tint.frag') t = newTarget(64, 32) setUniform(s, 'iChannel0', t)";
        Scene(setup, "");
        const QImage empty = view->Frame();
        const float emptyDepth = view->world->pickDepth;
        const char* renders[] = {
            "useShader(s)",
            "useShader(s) error('in the middle')",
            "setTarget(t) drawFullscreen(s)",
            "setTarget(t) useShader(s) beginTriGL() vectorGL(0, 0, 0) drawFullscreen(s) error('x')",
            "setTarget(newTarget()) drawFullscreen(s) setTarget(t)",
        };
        for (const char* render : renders) {
            Scene(setup, render);
            QCOMPARE(view->Frame(), empty);
            QCOMPARE(view->world->pickDepth, emptyDepth);
            QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
            GLint program = -1, texture = -1, framebuffer = -1;
            glGetIntegerv(GL_CURRENT_PROGRAM, &program);
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
            glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
            QCOMPARE(QList<GLint>({program, texture, framebuffer}), QList<GLint>({0, 0, GLint(view->target->handle())}));
        }
    }

    // Each function says what it expected and what it got; nothing is half made.
    // iSpectrum: row 0 the spectrum across the width, row 1 the waveform, filled once a frame
    // however many passes sample it; without a soundtrack the rows read 0 and silence (0.5).
    void theMusicTextureHoldsItsRowsAndIsFilledOnceAFrame()
    {
        Write("spectrum.frag", "void mainImage(out vec4 c, in vec2 p) {\n"
                               "    float x = p.x / iResolution.x;\n"
                               "    c = vec4(texture(iSpectrum, vec2(x, 0.25)).r, texture(iSpectrum, vec2(x, 0.75)).r, 0, 1);\n"
                               "}\n");
        Scene("s = loadShader('spectrum.frag')", "drawFullscreen(s)");
        QImage image = view->Frame();
        QCOMPARE_RGB(At(image, 100, 100), qRgb(0, 128, 0));

        // Rows of the test's own, drawn by the owner as render() would draw them twice a frame.
        lua_getglobal(g_luaState, "s");
        auto* shader = static_cast<ScriptShader*>(ToGpuObject(g_luaState, -1, "quillmere.shader"));
        lua_pop(g_luaState, 1);
        HostInputs host;
        host.music = MusicRows{RampRows, kRampWidth};
        g_rampFills = 0;
        for (int frame = 1; frame <= 2; ++frame) {
            view->target->bind();
            view->gpu->BeginFrame();
            view->gpu->SetHostInputs(host);
            view->gpu->DrawFullscreen(shader);
            view->gpu->DrawFullscreen(shader);
            view->gpu->EndChunk();
            QCOMPARE(g_rampFills, frame);
        }
        image = view->target->toImage().convertToFormat(QImage::Format_RGB32);
        for (const int x : {16, 80, 160, 300})
            QCOMPARE_RGB(At(image, x, 120), qRgb(int((x + 0.5) / kWidth * 255 + 0.5), 64, 0));
    }

    void badArgumentsAndFilesRaiseClearErrors()
    {
        Scene("s = loadShader('gradient.frag') t = newTarget(8, 8)", "");
        Write("notanimage.png", "plain text");
        QImage wide(8193, 1, QImage::Format_RGB32);
        wide.fill(Qt::black);
        QVERIFY(wide.save("wide.png"));
        Write("huge.frag", QByteArray((1 << 20) + 1, ' '));
        struct Case { const char* chunk; const char* error; };
        for (const Case& c : {
                 Case{"loadShader()", "loadShader: expected a fragment shader file name, got no value"},
                 Case{"loadShader('missing.frag')", "loadShader: missing.frag: No such file or directory"},
                 Case{"loadShader('huge.frag')", "loadShader: huge.frag: a shader file of at most 1 MiB"},
                 Case{"loadShader('gradient.frag', 5)", "loadShader: expected a vertex shader file name or nothing, got number"},
                 Case{"loadTexture('notanimage.png')", "loadTexture: notanimage.png: a PNG or JPEG image, got"},
                 Case{"loadTexture('missing.png')", "loadTexture: missing.png: a PNG or JPEG image, got"},
                 Case{"loadTexture('wide.png')", "loadTexture: wide.png: an image of at most 8192 pixels a side, got 8193x1"},
                 Case{"drawFullscreen(t)", "drawFullscreen: expected a shader or a Shadertoy import, got target"},
                 Case{"setUniform(s, 'x', 1, 2, 3, 4, 5)", "setUniform: expected 1 to 4 or 16 numbers, or a texture or target, got 5 values"},
                 Case{"setUniform(s, 'x', 1, 'two')", "setUniform: expected numbers, or a texture or target, got string"},
                 Case{"setUniform(s, 'x', t, t)", "setUniform: expected one texture or target, got 2 values"},
                 Case{"setUniform(s, 3, 1)", "setUniform: expected a uniform name, got number"},
                 Case{"setTarget(s)", "setTarget: expected a target or nil, got shader"},
                 Case{"newTarget(8193, 8)", "newTarget: expected a width and a height in whole pixels from 1 to 8192, got 8193"},
                 Case{"newTarget(10.5, 8)", "newTarget: expected a width and a height in whole pixels from 1 to 8192, got 10.5"},
                 Case{"newTarget(8, 0/0)", "newTarget: expected a width and a height in whole pixels from 1 to 8192, got "},
                 Case{"newTarget(1e300, 8)", "newTarget: expected a width and a height in whole pixels from 1 to 8192, got 1e+300"},
                 Case{"newTarget(8192, 8192) newTarget(8192, 8192) local a = newTarget(8192, 8192)",
                      "newTarget: the script's GPU memory (512 MiB) is used up"},
             }) {
            const std::string result = Run(c.chunk);
            QVERIFY2(result.find(c.error) != std::string::npos, (std::string(c.chunk) + " gave " + result).c_str());
        }
        // Unknown uniforms, values of another type than the uniform's, and numbers no int holds
        // are no error.
        Write("count.frag", "uniform int n; void main() { gl_FragColor = vec4(float(n)); }\n");
        QCOMPARE(Run("setUniform(s, 'nosuch', 1) setUniform(s, 'iResolution', 1) setUniform(s, 'iTime', t)\n"
                     "c = loadShader('count.frag') setUniform(c, 'n', 0/0) function render() drawFullscreen(c) "
                     "setUniform(c, 'n', -1e300) drawFullscreen(c) end"),
                 std::string());
        view->Frame();
        QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    }

    // Object lifetime under collection. A texture read again at the frame start needs more of a
    // full budget; the collection that makes room finds six dropped textures while the owner
    // walks its objects. Nothing is freed under the walk, the new picture shows, and the dropped
    // textures are gone after the frame.
    void aCollectionDuringTheFrameStartFreesNothingUnderIt()
    {
        QImage image = SaveSolid("grow.png", 128, Qt::red);
        Write("picture.frag", kPicture);
        Scene("", "");
        GpuBudget& budget = view->gpu->Budget();
        const std::size_t room = 7 * Bytes(image), filled = kScriptGpuMemoryLimit - budget.InUse() - room;
        QVERIFY(budget.Take(filled, nullptr));
        QCOMPARE(Run("s = loadShader('picture.frag') setUniform(s, 'picture', loadTexture('grow.png'))\n"
                     "collectgarbage('stop') kept = {} for i = 1, 6 do kept[i] = loadTexture('grow.png') end kept = nil\n"
                     "function render() drawFullscreen(s) end"),
                 std::string());
        QCOMPARE_RGB(At(view->Frame(), 50, 50), qRgb(255, 0, 0));
        const std::size_t objects = view->gpu->Objects();
        image = SaveSolid("grow.png", 160, Qt::green);
        view->gpu->MarkFileChanged(QDir::current().absoluteFilePath("grow.png").toStdString());
        QCOMPARE_RGB(At(view->Frame(), 50, 50), qRgb(0, 255, 0));
        view->Frame();
        QCOMPARE(view->gpu->Objects(), objects - 6);
        QCOMPARE(budget.InUse(), filled + Bytes(image));
        budget.Give(filled);
        QCOMPARE(Run("collectgarbage('restart')"), std::string());
    }

    // A script at its memory limit: the userdata that cannot be made leaves nothing made and no
    // budget taken.
    void anObjectWhoseUserdataCannotBeMadeTakesNoBudget()
    {
        SaveSolid("small.png", 8, Qt::gray);
        Scene("", "");
        const std::size_t inUse = view->gpu->Budget().InUse();
        lua_State* L = g_luaState;
        for (const char* call : {"newTarget", "loadTexture"}) {
            lua_getglobal(L, call);
            if (call == std::string("newTarget"))
                lua_pushnumber(L, 64), lua_pushnumber(L, 64);
            else
                lua_pushstring(L, "small.png"), lua_pushnil(L);
            // Exactly what the state holds now: its next allocation fails.
            SetLuaLimits(std::chrono::milliseconds(10000),
                         std::size_t(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 + std::size_t(lua_gc(L, LUA_GCCOUNTB, 0)));
            QCOMPARE(lua_pcall(L, 2, 1, 0), LUA_ERRMEM);
            SetLuaLimits(std::chrono::milliseconds(10000), std::size_t(1) << 30);
            lua_pop(L, 1);
        }
        QCOMPARE(Run("collectgarbage()"), std::string());
        view->Frame();
        QCOMPARE(view->gpu->Budget().InUse(), inUse);
    }

    // Files that are no regular files (a FIFO, a device, a folder) are refused at once with an
    // error naming them: reading a FIFO would wait for a writer for ever.
    void aFileThatIsNotRegularIsRefusedAtOnce()
    {
        Scene("", "");
        QCOMPARE(mkfifo("pipe.frag", 0600), 0);
        QCOMPARE(mkfifo("pipe.png", 0600), 0);
        alarm(kHangSeconds);
        for (const auto& [chunk, error] :
             {std::pair{"loadShader('pipe.frag')", "loadShader: pipe.frag: not a regular file"},
              std::pair{"loadShader('gradient.frag', 'pipe.frag')", "loadShader: pipe.frag: not a regular file"},
              std::pair{"loadTexture('pipe.png')", "loadTexture: pipe.png: not a regular file"},
              std::pair{"loadTexture('/dev/null')", "loadTexture: /dev/null: not a regular file"},
              std::pair{"loadShader('.')", "loadShader: .: not a regular file"},
              std::pair{"dofile('pipe.frag')", "cannot open pipe.frag: not a regular file"},
              std::pair{"dofile()", "cannot open standard input: not a regular file"}}) {
            const std::string result = Run(chunk);
            QVERIFY2(result.find(error) != std::string::npos, (std::string(chunk) + " gave " + result).c_str());
        }
        alarm(0);
    }

    // Shader text that once ended the program (a version no int holds, 30,000 blanks between
    // two words) compiles or gives its message, and the program goes on.
    void shaderTextOfAnyShapeGivesAMessageOrDraws()
    {
        Write("huge.frag", "#version 33000000000\nvoid main() {}\n");
        Write("blanks.frag", "void" + QByteArray(30000, ' ') + "mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }\n");
        Scene("huge, blanks = loadShader('huge.frag'), loadShader('blanks.frag')", "drawFullscreen(huge) drawFullscreen(blanks)");
        QCOMPARE_RGB(At(view->Frame(), 50, 50), qRgb(255, 255, 255));
        const std::string error = g_scriptFailures.ShaderError("huge.frag");
        QVERIFY2(error.rfind("huge.frag:", 0) == 0 && error.find("error") != std::string::npos, error.c_str());
        g_scriptFailures.Report("huge.frag", "");
    }

    // Between beginTriGL and endGL each call steps out of the shape and back: a texture's first
    // upload and a target's first framebuffer made there work, the shader in use is put back,
    // GL reports no error, and the triangles after a pass keep the colour set before it.
    void callsInsideAnOpenShapeWorkAndKeepTheColour()
    {
        SaveSolid("blue.png", 16, Qt::blue);
        Write("picture.frag", kPicture);
        Write("nothing.frag", "void main() { gl_FragColor = vec4(0.0); }\n");
        Write("colour.frag", "void main() { gl_FragColor = gl_Color; }\n");
        const std::string setup = "s, nothing, colour = loadShader('picture.frag'), loadShader('nothing.frag'), "
                                  "loadShader('colour.frag') t, pic = newTarget(), loadTexture('blue.png')\n"
                                  "setCamPos(0, 0, 0) lookAt(0, 0, -1)\n"
                                  "function left() vectorGL(-6, -4, -10) vectorGL(-1, -4, -10) vectorGL(-3.5, 4, -10) end\n"
                                  "function right() vectorGL(1, -4, -10) vectorGL(6, -4, -10) vectorGL(3.5, 4, -10) end\n"
                                  "function middle() vectorGL(-2, -4, -10) vectorGL(2, -4, -10) vectorGL(0, 4, -10) end\n";
        Scene(setup, "useShader(s) beginTriGL() setUniform(s, 'picture', pic) left() useShader(nil) "
                     "colorGL(255, 0, 0, 255) drawFullscreen(nothing) right() endGL()");
        glGetError();
        QImage shot = view->Frame();
        QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
        const auto count = [](const QImage& image, int from, int to, QRgb colour) {
            int n = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = from; x < to; ++x)
                    n += Near(image.pixel(x, y), colour);
            return n;
        };
        QVERIFY2(count(shot, 0, kWidth / 2, qRgb(0, 0, 255)) > 500, "the texture uploaded inside the shape");
        QVERIFY2(count(shot, kWidth / 2, kWidth, qRgb(255, 0, 0)) > 500, "the colour set before the pass");
        QCOMPARE(count(shot, 0, kWidth, qRgb(255, 255, 255)), 0);
        // A target's first framebuffer inside the shape, drawn into with the shader in use.
        Scene(setup, "useShader(colour) beginTriGL() colorGL(0, 255, 0, 255) setTarget(t) middle() "
                     "setTarget(nil) endGL() useShader(nil) setUniform(s, 'picture', t) drawFullscreen(s)");
        glGetError();
        shot = view->Frame();
        QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
        QVERIFY2(count(shot, 0, kWidth, qRgb(0, 255, 0)) == kWidth * kHeight, "the target drawn inside the shape");
    }

    // Textures made and dropped in a loop give their memory back: the budget stays within bounds.
    // (The process's resident memory is a figure of the bench.)
    void tenThousandDroppedTexturesLeaveMemoryBounded()
    {
        QImage image(128, 128, QImage::Format_RGB32);
        image.fill(Qt::gray);
        QVERIFY(image.save("churn.png"));
        Write("churn.frag", "uniform sampler2D t; void main() { gl_FragColor = texture2D(t, vec2(0.5)); }\n");
        Scene("s = loadShader('churn.frag') n = 0", "for i = 1, 100 do setUniform(s, 't', loadTexture('churn.png')) "
                                                   "drawFullscreen(s) n = n + 1 end");
        for (int frame = 0; frame < 100; ++frame)
            view->Frame();
        QCOMPARE(Run("print(n)"), std::string("10000\r\n"));
        // 10,000 textures of 64 KiB are 640 MiB; the live ones take a small part of that.
        QVERIFY2(view->gpu->Budget().InUse() < 64u << 20, qPrintable(QString::number(view->gpu->Budget().InUse())));
    }
};

QTEST_MAIN(ShadersTest)
#include "shaders_test.moc"
