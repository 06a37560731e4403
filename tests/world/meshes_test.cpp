// Meshes, the transform stack and the light, drawn by the real view and read back.
#include <GL/gl.h>
#include <GL/glu.h>

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gpu/scriptgpu.h"
#include "script/bindings.h"
#include "script/gpugate.h"
#include "script/luaengine.h"
#include "tests/world/framebufferview.h"
#include "world/kestrovaworld.h"
#include "world/openglemptyworldwidget.h"

static constexpr int kWidth = 640;
static constexpr int kHeight = 480;

class TestView : public FramebufferView {
public:
    TestView() : FramebufferView(kWidth, kHeight) {}
    QImage Frame() { return Paint(0.05f) ? target->toImage() : QImage(); }
};

// What the chunk printed and its error, without the error's position.
static std::string Run(const std::string& chunk)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    const std::size_t position = error.find("]:1: ");
    return output + (position == std::string::npos ? error : error.substr(position + 5));
}

// Where the last frame's matrices put a world point, in image pixels (y down).
static QPoint Pixel(double x, double y, double z)
{
    GLdouble mv[16], pr[16], wx, wy, wz;
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    gluProject(x, y, z, mv, pr, vp, &wx, &wy, &wz);
    return QPoint(int(wx), kHeight - 1 - int(wy));
}

static int Brightness(const QImage& image, const QPoint& p)
{
    const QRgb c = image.pixel(p);
    return qRed(c) + qGreen(c) + qBlue(c);
}

static int DifferentPixels(const QImage& a, const QImage& b)
{
    int n = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

// The largest difference of one channel at one pixel, beyond the 1/255 by which llvmpipe may
// round a colour given as bytes apart from the same colour given one vertex at a time.
static int LargestGap(const QImage& a, const QImage& b)
{
    int gap = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int shift : {0, 8, 16, 24})
                gap = std::max(gap, std::abs(int((p >> shift) & 0xff) - int((q >> shift) & 0xff)));
        }
    return std::max(gap - 1, 0);
}

// A table constructor whose length, as Lua 5.1 finds a table's border, is n, from some fifty keys:
// all in the hash part, Lua's search doubles from 1 while a key is there, then halves the step,
// each step answered by whether its key is.
static std::string TableOfLength(unsigned long n)
{
    std::string text = "{";
    unsigned long high = 1;
    for (; high <= n; high *= 2)
        text += "[" + std::to_string(high) + "]=0,";
    for (unsigned long low = high / 2; high - low > 1;) {
        const unsigned long middle = (low + high) / 2;
        if (middle <= n)
            text += "[" + std::to_string(middle) + "]=0,", low = middle;
        else
            high = middle;
    }
    return text + "}";
}

// Two triangles of xyzrgba in a table `tri`, the 100 places of the comparisons, and the same
// triangles by vectorGL.
static const char kTriangles[] = R"(
tri = {0,0,0, 255,0,0,255,  8,0,0, 0,255,0,255,  0,8,0, 0,0,255,255,
       0,0,0, 200,200,40,255,  0,8,0, 40,200,200,200,  0,0,8, 200,40,200,255}
function place(i)
  translate(140 + (i % 10) * 12, 5 + math.floor(i / 10) * 6, 200)
  rotate(i * 0.37, 1, 2, 3)
  scale(0.5 + (i % 3) * 0.25)
end
function byVectorGL()
  for v = 0, #tri / 7 - 1 do
    local b = v * 7
    colorGL(tri[b + 4], tri[b + 5], tri[b + 6], tri[b + 7])
    vectorGL(tri[b + 1], tri[b + 2], tri[b + 3])
  end
end
)";

// Each channel within 8: a 2x2 texture is filtered linearly, so a probe a pixel off a texel's
// centre blends in a little of the next.
static bool Near(const QList<QRgb>& a, const QList<QRgb>& b)
{
    const auto near = [](QRgb p, QRgb q) {
        return std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))}) <= 8;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), near);
}

// A quad as x, y, z, u, v, drawn by texCoordGL, and as meshes of each format with uv.
static const char kTexturedQuad[] = R"(
quad = {170,5,200, 0,0,  230,5,200, 1,0,  230,65,200, 1,1,  170,5,200, 0,0,  230,65,200, 1,1,  170,65,200, 0,1}
function byTexCoordGL()
  beginTriGL() for b = 0, 29, 5 do texCoordGL(quad[b + 4], quad[b + 5]) vectorGL(quad[b + 1], quad[b + 2], quad[b + 3]) end endGL()
end
local t = {}
for b = 0, 29, 5 do for k = 1, 9 do t[#t + 1] = k <= 5 and quad[b + k] or ({255, 128, 0, 255})[k - 5] end end
plain, tinted = newMesh(quad, 'xyzuv'), newMesh(t, 'xyzuvrgba')
beginMesh() colorGL(255, 128, 0, 255) normalGL(0, 0, 1) byTexCoordGL() lit = endMesh()
)";

class MeshesTest : public QObject {
    Q_OBJECT

    TestView* view = nullptr;
    QImage empty;

    QImage Render(const std::string& body)
    {
        Run("function render() " + body + " end");
        return view->Frame();
    }

private slots:
    void initTestCase()
    {
        InitLua();
        RegisterLuaBindings();
        view = new TestView;
        view->resize(kWidth, kHeight);
        view->create();
        view->frameTimer->stop();
        view->showStatusStrip = false;  // the failing chunks would show in it
        view->world->camera.SetPosition(Vector3(200, 35, 320));
        view->world->LookAt(Vector3(200, 35, 200));
        view->world->pickPivot = false;
        QCOMPARE(Run(kTriangles), std::string());
        empty = Render("");
    }
    void cleanupTestCase()
    {
        view->MakeCurrent();
        delete view->target;
        delete view;
        CloseLua();
    }

    // A mesh drawn under 100 transforms, a mesh recorded from the same calls, and the calls
    // themselves all give the same pixels.
    void aMeshDrawsAsTheSameTrianglesByVectorGL()
    {
        QCOMPARE(Run("mesh = newMesh(tri) beginMesh() beginTriGL() byVectorGL() endGL() recorded = endMesh()"),
                 std::string());
        const QImage calls = Render("for i = 0, 99 do pushMatrix() place(i) beginTriGL() byVectorGL() endGL() popMatrix() end");
        QVERIFY2(DifferentPixels(calls, empty) > 3000, "the triangles are drawn");
        const QImage m = Render("for i = 0, 99 do pushMatrix() place(i) drawMesh(mesh) popMatrix() end");
        QCOMPARE(LargestGap(m, calls), 0);
        QCOMPARE(LargestGap(Render("for i = 0, 99 do pushMatrix() place(i) drawMesh(recorded) popMatrix() end"), calls), 0);
        // Inside one open shape, each triangle takes the transform of its first vertex.
        QCOMPARE(Render("beginTriGL() for i = 0, 99 do pushMatrix() place(i) byVectorGL() popMatrix() end endGL()"), calls);
        QCOMPARE(Run("print(tostring(mesh))"), std::string("mesh: 6 vertices\r\n"));
    }

    // Unbalanced stacks raise; whatever a chunk leaves pushed, lit or half drawn is gone when
    // the host draws, and the next render() starts from the camera.
    void theStackRaisesOnImbalanceAndEveryChunkEndsIt()
    {
        QCOMPARE(Run("for i = 1, 64 do pushMatrix() end"), std::string());
        QCOMPARE(Run("for i = 1, 65 do pushMatrix() end"), std::string("pushMatrix: more than 64 levels\n"));
        QCOMPARE(Run("pushMatrix()"), std::string());
        QCOMPARE(Run("popMatrix()"), std::string("popMatrix: nothing pushed\n"));
        QCOMPARE(Run("translate(1, 'a', 3)"), std::string("translate: expected a number as argument 2, got string\n"));
        QCOMPARE(Run("rotate(1, 0, 0, 0)"), std::string("rotate: expected an axis, got 0, 0, 0\n"));
        QCOMPARE(Run("scale(1, 2)"), std::string("scale: expected 1 or 3 numbers, got 2\n"));
        QCOMPARE(Run("setLight(0, 0, 0)"), std::string("setLight: expected a direction or nil, got 0, 0, 0\n"));

        GLint depths[2];
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depths[0]);
        glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depths[1]);
        const QImage drawn = Render("pushMatrix() translate(5, 0, 0) drawMesh(mesh)");
        Run("setLight(1, 1, 1)");
        const QImage failing = Render("for i = 1, 3 do pushMatrix() translate(0, 2, 0) scale(2) end normalGL(0, 1, 0) "
                                      "drawMesh(mesh) beginTriGL() vectorGL(190, 10, 200) nosuch()");
        QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
        GLint after[2];
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &after[0]);
        glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &after[1]);
        QCOMPARE(QList<GLint>({after[0], after[1]}), QList<GLint>({depths[0], depths[1]}));
        QCOMPARE(bool(glIsEnabled(GL_LIGHTING)), false);
        GLint arrayBuffer = -1;
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
        QCOMPARE(QList<int>({arrayBuffer, glIsEnabled(GL_VERTEX_ARRAY), glIsEnabled(GL_COLOR_ARRAY)}), QList<int>({0, 0, 0}));
        Run("setLight(nil)");
        QVERIFY(failing != empty);
        // The host's drawing is the empty scene's wherever the script drew nothing.
        const QImage ground = Render("beginTriGL() vectorGL(100, 80, 200) vectorGL(101, 80, 200) vectorGL(100, 81, 200) endGL()");
        QCOMPARE(DifferentPixels(ground, empty) < 20, true);
        QCOMPARE(Render("pushMatrix() translate(5, 0, 0) drawMesh(mesh)"), drawn);
        QCOMPARE(Render(""), empty);
    }

    // A face whose normal points at the light is brighter than one pointing away, drawn one
    // vertex at a time or as a mesh; vertices without a normal, lines, and everything once the
    // light is out keep their colour.
    void theLightBrightensFacesTowardsItOnly()
    {
        QCOMPARE(Run(R"(
function quad(x, nx, ny, nz)
  if nx then normalGL(nx, ny, nz) end
  colorGL(200, 160, 120, 255)
  vectorGL(x, 10, 200) vectorGL(x + 20, 10, 200) vectorGL(x + 20, 30, 200)
  vectorGL(x, 10, 200) vectorGL(x + 20, 30, 200) vectorGL(x, 30, 200)
end
beginMesh() quad(0, 0, 1, 0) up = endMesh()
beginMesh() quad(0, 0, -1, 0) down = endMesh()
function scene()
  beginTriGL() quad(150) quad(175, 0, 1, 0) quad(200, 0, -1, 0) endGL()
  pushMatrix() translate(150, 25, 0) drawMesh(up) translate(25, 0, 0) drawMesh(down) popMatrix()
end
setLight(0, 1, 0))"),
                 std::string());
        const QImage lit = Render("scene()");
        Run("setLight(nil)");
        const QImage unlit = Render("scene()");
        const int plain = Brightness(unlit, Pixel(160, 20, 200));
        QCOMPARE(plain, 200 + 160 + 120);
        const QPoint none = Pixel(160, 20, 200), up = Pixel(185, 20, 200), down = Pixel(210, 20, 200);
        const QPoint meshUp = Pixel(160, 45, 200), meshDown = Pixel(185, 45, 200);
        QCOMPARE(QList<int>({Brightness(unlit, up), Brightness(unlit, down), Brightness(unlit, meshUp), Brightness(unlit, meshDown)}),
                 QList<int>({plain, plain, plain, plain}));
        QCOMPARE(Brightness(lit, none), plain);
        QVERIFY(Brightness(lit, down) < plain / 2);
        QCOMPARE(lit.pixel(up), unlit.pixel(up));  // straight at the light: the whole colour
        QCOMPARE(QList<QRgb>({lit.pixel(meshUp), lit.pixel(meshDown)}), QList<QRgb>({lit.pixel(up), lit.pixel(down)}));
        // Turned on in the middle of a render(), it lights what follows.
        const QImage switched = Render("beginTriGL() quad(175, 0, 1, 0) endGL() setLight(0, -1, 0) "
                                       "beginTriGL() quad(200, 0, 1, 0) endGL() setLight(nil)");
        QCOMPARE(switched.pixel(up), unlit.pixel(up));
        QVERIFY(Brightness(switched, down) < plain / 2);
        Run("setLight(0, 1, 0)");
        const QImage line = Render("normalGL(0, -1, 0) drawLine(150, 20, 200, 250, 20, 200)");
        const QPoint on = Pixel(200, 20, 200);
        QCOMPARE(std::max({Brightness(line, on), Brightness(line, on + QPoint(0, 1)), Brightness(line, on - QPoint(0, 1))}), 3 * 255);
        Run("setLight(nil)");
    }

    // setVertices replaces a range in place, before and after the first upload; bad input
    // changes nothing.
    void setVerticesChangesWhatIsDrawnOrNothing()
    {
        QCOMPARE(Run("m = newMesh({190,10,200, 255,0,0,255,  210,10,200, 255,0,0,255,  200,30,200, 255,0,0,255})"),
                 std::string());
        const QPoint centre = Pixel(200, 17, 200);
        QCOMPARE(Render("drawMesh(m)").pixel(centre), qRgb(255, 0, 0));
        QCOMPARE(Run("m:setVertices(2, {210,10,200, 0,0,255,255,  200,30,200, 0,0,255,255})"), std::string());
        const QImage changed = Render("drawMesh(m)");
        QVERIFY(qBlue(changed.pixel(centre)) > 100 && qRed(changed.pixel(centre)) > 50);
        for (const auto& [chunk, error] :
             {std::pair{"m:setVertices(1, {0,0,0, 0,0,0,0,  0,0,0, 0,0,0,'x'})", "setVertices: expected a number at index 14, got string"},
              std::pair{"m:setVertices(3, {0,0,0, 0,0,0,0,  0,0,0, 0,0,0,0})", "setVertices: expected a first vertex from 1 to 2 for 2 vertices, got 3"},
              std::pair{"m:setVertices(1, {0,0,0, 0,0,0})", "setVertices: expected whole vertices of 7 numbers, got 6 numbers: the last from index 1 is cut short"},
              std::pair{"m:setVertices(1, {0,0,0, 0,0,0,256})", "setVertices: expected a colour channel from 0 to 255 at index 7, got 256"},
              std::pair{"m.setVertices(1, {})", "setVertices: expected a mesh, got number"}}) {
            QCOMPARE(Run(chunk), std::string(error) + "\n");
            QCOMPARE(Render("drawMesh(m)"), changed);
        }
        QCOMPARE(Run("n = newMesh({190,10,200, 0,255,0,255,  210,10,200, 0,255,0,255,  200,30,200, 0,255,0,255}) "
                     "n:setVertices(1, {190,10,200, 255,255,0,255,  210,10,200, 255,255,0,255,  200,30,200, 255,255,0,255})"), std::string());
        QCOMPARE(qRed(Render("drawMesh(n)").pixel(centre)) > 100, true);
    }

    // Each bad input names what was wrong and where; nothing is made and nothing is drawn.
    void badNewMeshInputRaisesAndMakesNothing()
    {
        Run("collectgarbage()");
        view->Frame();
        GpuBudget& budget = view->gpu->Budget();
        const std::size_t inUse = budget.InUse();
        for (const auto& [chunk, error] : {
                 std::pair{"newMesh({0,0,0, 0,0,0, 0,0})", "newMesh: expected whole triangles of 21 numbers, got 8 numbers: the last from index 1 is cut short"},
                 std::pair{"newMesh({0,0,0, 0,0,0, 0,0,0, 1}, 'xyz')", "newMesh: expected whole triangles of 9 numbers, got 10 numbers: the last from index 10 is cut short"},
                 std::pair{"newMesh({0,0,0, 0,0,0, 0,'a',0}, 'xyz')", "newMesh: expected a number at index 8, got string"},
                 std::pair{"newMesh({0,0,0, 0,0,0, 0,0,nil,0}, 'xyz')", "newMesh: expected whole triangles of 9 numbers, got 10 numbers: the last from index 10 is cut short"},
                 std::pair{"newMesh({1,2,3, 0,1,0, 0,0,0,0, 1,2,3, 0,1,0, 0,0,0,0, 1,2,3, 0,1,0, 0,0,300,0}, 'xyznxnynzrgba')",
                           "newMesh: expected a colour channel from 0 to 255 at index 29, got 300"},
                 std::pair{"newMesh({0,0,0,0,0, 0,0,0,0,0}, 'xyzuv')", "newMesh: expected whole triangles of 15 numbers, got 10 numbers: the last from index 1 is cut short"},
                 std::pair{"newMesh({0,0,0, 0,0, 0,0,0,300, 0,0,0, 0,0, 0,0,0,0, 0,0,0, 0,0, 0,0,0,0}, 'xyzuvrgba')", "newMesh: expected a colour channel from 0 to 255 at index 9, got 300"},
                 std::pair{"useTexture(5)", "useTexture: expected a texture, a target or nil, got number"},
                 std::pair{"newMesh({}, 'rgb')", "newMesh: expected the format \"xyzrgba\", \"xyz\", \"xyznxnynzrgba\", \"xyzuv\", \"xyzuvrgba\" or \"xyznxnynzuvrgba\", got rgb"},
                 std::pair{"newMesh('x')", "newMesh: expected a table of numbers, got string"},
                 std::pair{"drawMesh({})", "drawMesh: expected a mesh, got table"},
                 std::pair{"endMesh()", "endMesh: expected a mesh begun by beginMesh, got none"},
                 std::pair{"beginMesh() vectorGL(1, 2, 3) endMesh()", "endMesh: expected whole triangles, got 1 vertices"},
                 std::pair{"beginMesh() beginMesh()", "beginMesh: expected endMesh for the mesh begun before, got beginMesh"}}) {
            QCOMPARE(Run(std::string("local m = ") + chunk + " print(m)"), std::string(error) + "\n");
        }
        // Too many vertices is said before a number is read, with the first index too many.
        const std::string claimed = TableOfLength(3 * (16777216 + 2));
        QCOMPARE(Run("print(#" + claimed + ")"), std::string("50331654\r\n"));
        QCOMPARE(Run("local m = newMesh(" + claimed + ", 'xyz')"),
                 std::string("newMesh: expected at most 16777216 vertices, got 16777218: index 50331649 is one too many\n"));
        // Without the view's context current there is nothing to draw into, and drawMesh says so.
        QOpenGLContext::currentContext()->doneCurrent();
        QCOMPARE(Run("drawMesh(mesh)"),
                 std::string("drawMesh: expected to be called while the view draws (from render()), got no GL context\n"));
        QVERIFY(view->MakeCurrent());
        // A recording left open by an error ends with its chunk: the next draws are drawn.
        QCOMPARE(Run("beginMesh() vectorGL(1, 2, 3) nosuch()").empty(), false);
        QVERIFY(Render("drawMesh(mesh)") != empty);
        QCOMPARE(Run("print(tostring(newMesh({})), tostring(newMesh({0,0,0, 0,0,0, 0,0,0}, 'xyz')))"),
                 std::string("mesh: 0 vertices\r\nmesh: 3 vertices\r\n"));
        Run("collectgarbage()");
        view->Frame();
        QCOMPARE(budget.InUse(), inUse);
        // Near the budget, the meshes nothing refers to any more are collected to make room.
        QVERIFY(budget.Take(kScriptGpuMemoryLimit - inUse - 1000, nullptr));
        QCOMPARE(Run("collectgarbage('stop') for i = 1, 50 do local m = newMesh(tri) end collectgarbage('restart')"),
                 std::string());
        budget.Give(kScriptGpuMemoryLimit - inUse - 1000);
        // Past the budget, after a collection, the refusal says so.
        QVERIFY(budget.Take(kScriptGpuMemoryLimit - inUse - 50, CollectScriptObjects));
        QCOMPARE(QString::fromStdString(Run("newMesh(tri)")).startsWith("newMesh: expected room for 96 more bytes in the 512 MiB"), true);
        budget.Give(kScriptGpuMemoryLimit - inUse - 50);
    }

    // A 2x2 texture lies on a quad by texCoordGL, by meshes with uv and by a recorded mesh alike,
    // (0, 0) at the image's bottom left, modulated by the colour; a shader's vertex stage passes
    // the coordinate on. Lines are spared; useTexture(nil) and the chunk's end stop texturing.
    void aTextureLiesOnTrianglesByTheirCoordinates()
    {
        QTemporaryDir folder;
        const QRgb pixels[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
        QVERIFY(QImage(reinterpret_cast<const uchar*>(pixels), 2, 2, QImage::Format_RGB32).save(folder.filePath("four.png")));
        const std::string shader = folder.filePath("uv.frag").toStdString();
        std::ofstream(shader) << "void main() { gl_FragColor = vec4(gl_TexCoord[0].st, 0.0, 1.0); }\n";
        const std::string load = "loadTexture('" + folder.filePath("four.png").toStdString() + "')";
        QCOMPARE(Run(kTexturedQuad + ("four = " + load + " uv = loadShader('" + shader + "')")), std::string());
        const QList<QPoint> at = {Pixel(185, 50, 200), Pixel(215, 50, 200), Pixel(185, 20, 200), Pixel(215, 20, 200)};
        const auto probe = [&](const std::string& body) {
            const QImage image = Render(body);
            return QList<QRgb>{image.pixel(at[0]), image.pixel(at[1]), image.pixel(at[2]), image.pixel(at[3])};
        };
        const QList<QRgb> quadrants(std::begin(pixels), std::end(pixels)), white(4, pixels[3]);
        QVERIFY(Near(probe("useTexture(four) colorGL(255, 255, 255, 255) byTexCoordGL()"), quadrants));
        QVERIFY(Near(probe("useTexture(four) colorGL(255, 255, 255, 255) drawMesh(plain)"), quadrants));
        const QList<QRgb> tinted = {qRgb(255, 0, 0), qRgb(0, 128, 0), qRgb(0, 0, 0), qRgb(255, 128, 0)};
        QVERIFY(Near(probe("useTexture(four) drawMesh(tinted)"), tinted));
        QVERIFY(Near(probe("useTexture(four) drawMesh(lit)"), tinted));
        QVERIFY(Near(probe("useTexture(newTarget(4, 4)) drawMesh(tinted)"), QList<QRgb>(4, qRgb(0, 0, 0))));  // new: black
        const QList<QRgb> coordinates = {qRgb(64, 191, 0), qRgb(191, 191, 0), qRgb(64, 64, 0), qRgb(191, 64, 0)};
        QVERIFY(Near(probe("useShader(uv) byTexCoordGL()"), coordinates));
        QVERIFY(Near(probe("colorGL(255, 255, 255, 255) useTexture(four) useTexture(nil) byTexCoordGL()"), white));
        // The next chunk holds no texture, which may be freed in between.
        probe("useTexture(" + load + ")"), Run("collectgarbage()");
        QVERIFY(Near(probe("colorGL(255, 255, 255, 255) byTexCoordGL() drawMesh(plain)"), white));
        QCOMPARE(Render(""), empty);
        const QImage line = Render("useTexture(four) texCoordGL(0.25, 0.25) drawLine(150, 20, 200, 250, 20, 200)");
        const QPoint on = Pixel(200, 20, 200);
        QCOMPARE(std::max({Brightness(line, on), Brightness(line, on + QPoint(0, 1)), Brightness(line, on - QPoint(0, 1))}), 3 * 255);
    }

    // Meshes made and dropped, 1,000 a frame, give their GPU memory and GL names back between
    // frames: the budget does not grow. (The process's resident memory is a figure of the bench.)
    void meshesMadeAndDroppedEveryFrameStayBounded()
    {
        QCOMPARE(Run("function update() made = {} for i = 1, 1000 do made[i] = newMesh(tri) end end "
                     "function render() for i = 1, #made do drawMesh(made[i]) end end"), std::string());
        const std::size_t objects = view->gpu->Objects();
        std::size_t most = 0;
        for (int frame = 0; frame < 300; ++frame) {
            view->Frame();
            most = std::max(most, view->gpu->Budget().InUse());
        }
        QVERIFY2(most < (std::size_t(16) << 20), qPrintable(QString::number(most)));
        Run("function update() end function render() end made = nil collectgarbage()");
        view->Frame();
        QVERIFY(view->gpu->Objects() <= objects);
    }
};

QTEST_MAIN(MeshesTest)
#include "meshes_test.moc"
