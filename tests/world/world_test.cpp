#include <GL/gl.h>
#include <GL/glu.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLFramebufferObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

#include "script/bindings.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "script/scriptfailures.h"
#include "tests/world/framebufferview.h"
#include "world/glshapes.h"
#include "world/framereadout.h"
#include "world/kestrovaworld.h"
#include "world/openglemptyworldwidget.h"
#include "world/statusstrip.h"
#include "world/viewgl.h"

static constexpr int kWidth = 640;
static constexpr int kHeight = 480;

class TestView : public FramebufferView {
public:
    TestView() : FramebufferView(kWidth, kHeight) {}
    void Frame() { QVERIFY(Paint(0)); }
};

static void Send(QWindow* view, QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(x, y), QPointF(x, y), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

static float Distance(const Vector3& a, const Vector3& b) { return (a - b).Length(); }

// Within a tolerance, printing both sides when not.
static float Gap(float a, float b) { return std::fabs(a - b); }
static float Gap(const Vector3& a, const Vector3& b) { return Distance(a, b); }
static QString Text(float v) { return QString::number(v); }
static QString Text(const Vector3& v) { return QString("(%1, %2, %3)").arg(v.x).arg(v.y).arg(v.z); }
#define QCOMPARE_NEAR(actual, expected, tolerance) \
    QVERIFY2(Gap(actual, expected) <= (tolerance), qPrintable(Text(actual) + " against " + Text(expected)))

// Where the last frame's matrices put a world point, in window coordinates.
static Vector3 Project(const Vector3& p)
{
    GLdouble mv[16], pr[16], x, y, z;
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    gluProject(p.x, p.y, p.z, mv, pr, vp, &x, &y, &z);
    return Vector3(float(x), float(y), float(z));
}

// The primitives a drawing makes, each the window coordinates of its vertices, read back with
// OpenGL's feedback mode (before depth testing). With `world` the current matrices are replaced
// by a parallel projection that lets the world coordinates be read back instead.
static std::vector<std::vector<Vector3>> Primitives(const std::function<void()>& draw, bool world = true)
{
    if (world) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-kWidth, kWidth, -kHeight, kHeight, -1000, 1000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_POLYGON_OFFSET_FILL);  // the next frame turns it on again
    }
    static GLfloat buffer[1 << 16];
    glFeedbackBuffer(1 << 16, GL_3D, buffer);
    glRenderMode(GL_FEEDBACK);
    draw();
    std::vector<std::vector<Vector3>> primitives;
    for (int i = 0, n = glRenderMode(GL_RENDER); i < n;) {
        const int token = int(buffer[i++]);
        primitives.emplace_back(token == GL_POLYGON_TOKEN ? int(buffer[i++]) : 2);
        for (Vector3& v : primitives.back()) {
            v = Vector3(buffer[i], buffer[i + 1], buffer[i + 2]);
            if (world)
                v = Vector3(std::round(v.x * 200 - kWidth * 100) / 100, std::round(v.y * 200 - kHeight * 100) / 100,
                            std::round((0.5f - v.z) * 200000) / 100);
            i += 3;
        }
    }
    return primitives;
}

static std::string Run(const std::string& chunk, bool errorOnly = false)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    return errorOnly ? error : output + error;
}

// The GL state a drawing could leave changed, each value named.
static QStringList GLState()
{
    QStringList state;
    for (GLenum name : {GL_DEPTH_TEST, GL_BLEND, GL_TEXTURE_2D, GL_CULL_FACE, GL_POLYGON_OFFSET_FILL, GL_CURRENT_COLOR,
                        GL_CURRENT_TEXTURE_COORDS, GL_PROJECTION_MATRIX, GL_MODELVIEW_MATRIX, GL_MATRIX_MODE, GL_TEXTURE_BINDING_2D,
                        GL_UNPACK_ALIGNMENT, GL_BLEND_SRC, GL_BLEND_DST, GL_POLYGON_MODE, GL_VIEWPORT}) {
        GLdouble v[16] = {};
        glGetDoublev(name, v);
        state << QString("%1: %2 %3 %4").arg(name).arg(v[0]).arg(v[1]).arg(v[15]);
    }
    return state;
}

// A clock standing where it was last set, for the strip's time display and for samples that
// call the music functions.
class TestClock : public MusicClock {
public:
    double time = 0, length = 0;
    bool paused = false;
    double Time() override { return time; }
    double Length() const override { return length; }
    bool Paused() const override { return paused; }
    void SetPaused(bool p) override { paused = p; }
    void Seek(double seconds) override { time = seconds; }
};

// Writes T for a tick, D for a draw, I for a mouse move and a released key itself, in order.
class RecordingWorld : public World {
public:
    QString record;

protected:
    void Update(float) override { record += 'T'; }
    void Render() override { record += 'D'; }
    void OnMouseMove(int, int) override { record += 'I'; }
    void OnKeyUp(char key, int, int) override { record += key; }
};

// The view, the world with its overlays and mouse control, and the script functions, on GL.
class WorldTest : public QObject {
    Q_OBJECT

    TestView* view = nullptr;
    World* world = nullptr;
    TestClock clock;

    void Move(int x, int y, Qt::MouseButtons held = Qt::NoButton) { Send(view, QEvent::MouseMove, x, y, Qt::NoButton, held); }
    void Space(QEvent::Type type, bool autoRepeat = false)
    {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, " ", autoRepeat);
        QCoreApplication::sendEvent(view, &event);
    }
    Vector3 Forward() const { return world->camera.TransformDirection(Vector3(0, 0, -1)); }
    int Pixels(QRgb colour) const
    {
        const QImage image = view->target->toImage();
        return int(std::count(reinterpret_cast<const QRgb*>(image.constBits()),
                              reinterpret_cast<const QRgb*>(image.constBits()) + kWidth * kHeight, colour | 0xff000000));
    }
    QImage Shot(bool strip)
    {
        view->showStatusStrip = strip;
        view->Frame();
        view->showStatusStrip = true;
        return view->target->toImage();
    }
    // Camera at `from` looking at `target`, a frame drawn, and `target` the pivot.
    void Pose(const Vector3& from, const Vector3& target)
    {
        world->camera.SetPosition(from);
        world->LookAt(target);
        view->Frame();
        world->pivot = target;
    }

private slots:
    void initTestCase()
    {
        QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
        InitLua();
        RegisterLuaBindings();
        view = new TestView;
        view->resize(kWidth, kHeight);
        view->create();
        view->frameTimer->stop();
        world = view->world;
        view->Frame();
        // The camera starts at its place, facing its target, over the grid, the ground and the
        // marker; before any mouse move the pick is made at (300, 300).
        const Vector3 first = Project(world->pivot), target = Project(Vector3(144, 60, 45));
        QCOMPARE_NEAR(Vector3(first.x, first.y, 0), Vector3(300, 300, 0), 0.5f);
        QCOMPARE_NEAR(world->camera.GetPosition(), Vector3(162, 66, 35), 0);
        QCOMPARE_NEAR(Vector3(target.x, target.y, 0), Vector3(320, 240, 0), 0.01f);
        QCOMPARE(QList<bool>({Pixels(qRgb(153, 26, 230)) > 0, Pixels(qRgb(77, 77, 204)) + Pixels(qRgb(76, 76, 204)) > 0,
                              Pixels(qRgb(0, 255, 0)) > 0}), QList<bool>({true, true, true}));
        // The first four frames show the credits from their start, the fifth from the second character.
        const QString edge(36, '-');
        for (int frame = 0; frame < 4; ++frame, world->Tick(0.05f))
            QCOMPARE(KestrovaWorld::MarqueeTitle(), edge + g_creditsText.left(70) + edge);
        QCOMPARE(KestrovaWorld::MarqueeTitle(), edge + g_creditsText.mid(1, 70) + edge);
    }
    void cleanupTestCase()
    {
        view->MakeCurrent();
        delete view->target;
        delete view;
        QCOMPARE(g_world, static_cast<KestrovaWorld*>(nullptr));
        CloseLua();
    }
    void init()
    {
        world->showGround = world->showGrid = world->showPivotMarker = world->pickPivot = world->quaternionOrbit = true;
        world->ScaleGuidesFor(720);
        Pose(Vector3(162, 66, 35), Vector3(144, 60, 45));
    }

    // The grid: lines 10 apart covering x and z from 0 to 400 in the plane y = 0.
    void theGridAndTheGroundBoxHaveTheirShapes()
    {
        std::multiset<std::vector<float>> lines, expected;
        for (const auto& line : Primitives([this] { world->DrawGrid(); }))
            lines.insert({line[0].x, line[0].y, line[0].z, line[1].x, line[1].y, line[1].z});
        for (float i = 0; i <= 400; i += 10)
            expected.insert({i, 0, 0, i, 0, 400}), expected.insert({0, 0, i, 400, 0, i});
        QVERIFY(lines == expected);
        // The ground: the edges and the faces of a box from (-100, -30, -100) to (500, 0, 500).
        int edges = 0;
        std::set<std::pair<int, float>> sides;
        for (const auto& p : Primitives([this] { world->DrawGround(); })) {
            for (const Vector3& v : p)
                QCOMPARE_NEAR(v, Vector3(v.x < 200 ? -100 : 500, v.y < -15 ? -30 : 0, v.z < 200 ? -100 : 500), 0);
            int flat = -1;
            for (int axis = 0; axis < 3; ++axis)
                if (std::all_of(p.begin(), p.end(), [&](const Vector3& v) { return (&v.x)[axis] == (&p[0].x)[axis]; }))
                    flat = flat < 0 ? axis : 3;  // an edge is flat along two axes
            edges += p.size() == 2;
            QVERIFY(flat >= 0);
            QCOMPARE(flat == 3, p.size() == 2);
            if (p.size() > 2)
                sides.insert({flat, (&p[0].x)[flat]});
        }
        QCOMPARE(edges, 24);
        QCOMPARE(sides.size(), size_t(6));
    }

    // Latitude rings and meridians on the sphere; the marker keeps 15 pixels of radius in 720 lines,
    // and as much of a picture's height in others.
    void theMarkerIsAWireSphereOfFifteenPixels()
    {
        for (const auto& line : Primitives([] { WireSphere(100, 15, 15); }))
            for (const Vector3& v : line)
                QCOMPARE_NEAR(v.Length(), 100.0f, 0.05f);
        for (auto [distance, lines] : {std::pair(1.0f, 720), std::pair(2.0f, 720), std::pair(1.0f, 240), std::pair(1.0f, 2160)}) {
            world->ScaleGuidesFor(lines);
            world->pivot = Vector3(150, 55, 42);
            world->camera.SetPosition(world->pivot + (Vector3(162, 66, 35) - world->pivot) * distance);
            world->pickPivot = false;
            view->Frame();
            float reach = 0;
            const float centre = Project(world->pivot).x;
            for (const auto& line : Primitives([this] { world->DrawPivotMarker(); }, false))
                for (const Vector3& v : line)
                    reach = std::max(reach, std::fabs(v.x - centre));
            QCOMPARE_NEAR(reach, 15.0f * float(lines) / 720, 0.5f * std::max(1.0f, float(lines) / 720));
        }
        GLfloat colour[4], width;
        glGetFloatv(GL_CURRENT_COLOR, colour);
        glGetFloatv(GL_LINE_WIDTH, &width);
        GLint depth;  // every overlay pops what it pushed
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
        QCOMPARE(QList<float>({colour[0], colour[1], colour[2], colour[3], width}), QList<float>({0, 1, 0, 1, 1}));
        QCOMPARE(QList<int>({glIsEnabled(GL_TEXTURE_2D), depth}), QList<int>({GL_FALSE, 1}));
    }

    // In a picture of many lines the guides' lines are as many pixels wide, and a script's lines
    // stay one pixel wide.
    void theGuidesLinesWidenWithThePicturesHeight()
    {
        Run("function render() drawLine(140, 55, 45, 150, 65, 45) end");
        world->showPivotMarker = world->showGround = false;
        const auto pixels = [this](int lines) {
            world->ScaleGuidesFor(lines);
            view->Frame();
            return QList<int>({Pixels(qRgb(153, 26, 230)), Pixels(qRgb(255, 255, 255))});
        };
        const QList<int> thin = pixels(720), wide = pixels(2160), small = pixels(240);
        QVERIFY2(wide[0] > 2 * thin[0], qPrintable(QString("%1 against %2").arg(wide[0]).arg(thin[0])));
        QCOMPARE(small[0], thin[0]);
        QCOMPARE(QList<int>({wide[1], small[1]}), QList<int>({thin[1], thin[1]}));
        QVERIFY(thin[1] > 0);
        Run("function render() end");
    }

    // F10 hides the grid, the ground and the marker together: the scene alone is drawn, and the
    // pick follows its depth, the background beside it rather than the ground.
    void hiddenGuidesLeaveTheSceneAndItsPick()
    {
        Run("function render() beginTriGL() colorGL(255, 0, 0, 255) vectorGL(140, 55, 45) vectorGL(150, 55, 45) "
            "vectorGL(145, 65, 45) endGL() end");
        world->ShowGuides(false);
        QVERIFY(!world->GuidesShown());
        const Vector3 triangle = Project(Vector3(145, 58, 45));
        Move(int(triangle.x), kHeight - int(triangle.y));
        view->Frame();
        QCOMPARE(QList<int>({Pixels(qRgb(153, 26, 230)), Pixels(qRgb(77, 77, 204)) + Pixels(qRgb(76, 76, 204)),
                             Pixels(qRgb(0, 255, 0))}), QList<int>({0, 0, 0}));
        QVERIFY(Pixels(qRgb(255, 0, 0)) > 0);
        QCOMPARE_NEAR(world->pivot.z, 45.0f, 0.5f);
        Move(320, 420);  // empty ground
        view->Frame();
        QCOMPARE(world->pickDepth, 0.1f);
        world->ShowGuides(true);
        view->Frame();
        QVERIFY(world->GuidesShown() && Pixels(qRgb(0, 255, 0)) > 0);
        Run("function render() end");
    }

    // The ground's faces fill the depth buffer but paint nothing (the frame stays mostly black): they
    // catch the pick and hide the marker below them.
    void theGroundHidesWithoutPaintingAndCatchesThePick()
    {
        QVERIFY(Pixels(qRgb(0, 0, 0)) > kWidth * kHeight * 3 / 4);
        QVERIFY(Pixels(qRgb(0, 255, 0)) > 0);
        world->pickPivot = false;
        world->pivot = Vector3(150, -20, 42);
        view->Frame();
        QCOMPARE(Pixels(qRgb(0, 255, 0)), 0);
        world->pickPivot = true;
        Move(320, 420);
        view->Frame();
        // The solid pass's polygon offset puts the surface a hair below the grid plane.
        QVERIFY(world->pickDepth < 1);
        QCOMPARE_NEAR(world->pivot.y, 0.0f, 0.01f * Distance(world->pivot, world->camera.GetPosition()));
        Move(320, 10);  // above the horizon
        view->Frame();
        QCOMPARE(world->pickDepth, 0.1f);
        QVERIFY(std::fabs(-world->camera.WorldToLocal(world->pivot).z - 0.1111f) < 0.001f);
        world->showGround = false;  // empty ground no longer catches the pick
        Move(320, 420);
        view->Frame();
        QCOMPARE(world->pickDepth, 0.1f);
        world->showGround = true;
        Pose(Vector3(200, 100, 200), Vector3(200, 0, 210));  // nearly straight down
        Move(320, 0);  // the top row lies one row outside the viewport
        QCOMPARE(world->mousePos.y, float(kHeight));
        view->Frame();
        QVERIFY(world->pickDepth < 1);
        QVERIFY(world->pickDepth != 0.1f);
    }

    // A left drag turns the view about the vertical, a right drag pans so that the grabbed point
    // stays under the cursor, both buttons do both; the pivot stays frozen meanwhile.
    void dragsLookAndPan()
    {
        for (Qt::MouseButtons held : {Qt::MouseButtons(Qt::LeftButton), Qt::MouseButtons(Qt::RightButton),
                                      Qt::LeftButton | Qt::RightButton}) {
            init();
            Move(320, 420);
            view->Frame();
            const Vector3 grabbed = world->pivot, position = world->camera.GetPosition();
            const Vector3 turned = Quaternion(Vector3(0, 1, 0), -0.4f).Rotate(Forward());
            const bool left = held & Qt::LeftButton, right = held & Qt::RightButton;
            Send(view, QEvent::MouseButtonPress, 320, 420, right ? Qt::RightButton : Qt::LeftButton, held);
            QVERIFY(!world->pickPivot);
            for (int x : {340, 370})
                Move(x, 420, held), view->Frame();
            Send(view, QEvent::MouseButtonRelease, 370, 420, Qt::RightButton, held & ~Qt::RightButton);
            Send(view, QEvent::MouseButtonRelease, 370, 420, Qt::LeftButton, Qt::NoButton);
            const Vector3 seen = Project(grabbed);
            QVERIFY(world->pickPivot);
            QCOMPARE(Distance(Forward(), turned) < 1e-4f, left);
            QCOMPARE(Distance(world->camera.GetPosition(), position) > 1, right);
            QCOMPARE(std::fabs(seen.x - 370) < 0.5f && std::fabs(seen.y - (kHeight - 420)) < 0.5f, right && !left);
        }
    }

    void theOrbitKeepsTheDistanceAndGuardsBothPoles()
    {
        Move(320, 420);
        view->Frame();
        const float distance = Distance(world->camera.GetPosition(), world->pivot);
        Send(view, QEvent::MouseButtonPress, 320, 420, Qt::LeftButton, Qt::LeftButton);
        Space(QEvent::KeyPress);
        Move(360, 400, Qt::LeftButton);
        Move(300, 430, Qt::LeftButton);
        QVERIFY(std::fabs(Distance(world->camera.GetPosition(), world->pivot) - distance) < 1e-3f);
        Space(QEvent::KeyRelease), Send(view, QEvent::MouseButtonRelease, 300, 430, Qt::LeftButton, Qt::NoButton);
        // From 15 degrees off straight down (or up), a pitch stays in the vertical plane through the centre;
        // a step ending within 10 degrees of the pole while nearing it is refused; smaller, away, across pass.
        const Vector3 centre(200, 0, 200);
        struct Step { float fromDegrees, pitch; bool passes; };
        for (float side : {1.0f, -1.0f})
            for (const Step step : {Step{15, -0.1f, false}, Step{15, -0.05f, true}, Step{15, 0.1f, true}, Step{8, -0.3f, true},
                                     Step{5, -5 / 57.2957763671875f, false}}) {
                const float t = step.fromDegrees / 57.2957763671875f;
                Pose(centre + Vector3(0, side * std::cos(t), -std::sin(t)) * 50.0f, centre);
                const Vector3 before = world->camera.GetPosition();
                world->OrbitPivot(centre, 0, side * step.pitch);
                QCOMPARE(Distance(world->camera.GetPosition(), before) > 0.01f, step.passes);
                const Vector3 after = world->camera.GetPosition();
                QCOMPARE_NEAR(Distance(after, centre), 50.0f, 1e-3f);
                QCOMPARE_NEAR(after.x, centre.x, 1e-3f);
                QVERIFY(Distance(Forward(), (centre - world->camera.GetPosition()).Normalized()) < 1e-4f);
            }
    }

    void holdingLeftAndSpaceTurnsOntoThePivotOrSlidesToIt()
    {
        Pose(Vector3(100, 10, 100), Vector3(100, 10, 50));
        world->RotateCamera(0.3f, 0);
        const Vector3 position = world->camera.GetPosition();
        const Vector3 toPivot = (world->pivot - position).Normalized();
        const float before = Forward().AngleTo(toPivot);
        for (bool left : {true, false}) {  // one of them alone does nothing
            world->leftDown = left, world->spaceDown = !left;
            world->Tick(0.05f);
            QCOMPARE(Forward().AngleTo(toPivot), before);
        }
        world->leftDown = true;
        world->Tick(0.05f);
        QCOMPARE(world->camera.GetPosition().x, position.x);
        QCOMPARE_NEAR(Forward().AngleTo(toPivot), 0.8f * before, 1e-3f);
        world->quaternionOrbit = false;
        const Vector3 forward = Forward(), local = world->camera.WorldToLocal(world->pivot);
        world->Tick(0.05f);
        const Vector3 after = world->camera.WorldToLocal(world->pivot);
        QCOMPARE_NEAR(Forward(), forward, 1e-5f);
        QCOMPARE_NEAR(Vector3(after.x, 0, after.z), Vector3(0.9f * local.x, 0, local.z), 1e-3f);
        world->leftDown = world->spaceDown = false;
    }

    void theWheelStepsATenthOfTheWayAtMostTwenty()
    {
        struct Case { float away; QPoint angle; float moved; };
        for (const Case c : {Case{50, {0, 120}, -5}, Case{50, {0, -120}, 5}, Case{500, {0, 120}, -20},
                             Case{500, {0, -120}, 20}, Case{50, {120, 0}, -5}, Case{50, {0, 0}, 5}, Case{0, {0, 120}, 0}}) {
            Pose(Vector3(3, 4, 5 + c.away), Vector3(3, 4, 5));
            QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), c.angle, Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(view, &wheel);
            QVERIFY(std::fabs(world->camera.GetPosition().z - (5 + c.away + c.moved)) < 1e-3f);
        }
    }

    // A repeated key is no key at all: holding space keeps it held. Releasing either button
    // resumes picking.
    void spaceIsHeldThroughRepeatsAndEitherReleaseResumesPicking()
    {
        Space(QEvent::KeyPress), world->Tick(0.05f);
        Space(QEvent::KeyRelease, true);
        Space(QEvent::KeyPress, true);
        QCOMPARE(QList<bool>({world->spaceDown, world->spacePressed}), QList<bool>({true, false}));
        Space(QEvent::KeyRelease);
        Send(view, QEvent::MouseButtonPress, 5, 5, Qt::LeftButton, Qt::LeftButton);
        Send(view, QEvent::MouseButtonPress, 5, 5, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
        Send(view, QEvent::MouseButtonRelease, 5, 5, Qt::RightButton, Qt::LeftButton);
        QCOMPARE(QList<bool>({world->spaceDown, world->pickPivot, world->leftDown, world->rightDown}), QList<bool>({false, true, true, false}));
        QCOMPARE(QList<bool>({world->spacePressed, world->leftPressed, world->rightPressed}), QList<bool>({false, true, true}));
        world->Tick(0.05f);  // a derived world's update sees each press once
        QCOMPARE(QList<bool>({world->spacePressed, world->leftPressed, world->rightPressed}), QList<bool>({false, false, false}));
        Send(view, QEvent::MouseButtonRelease, 5, 5, Qt::LeftButton, Qt::NoButton);
    }

    // The frame loop on a view of its own: each shot ticks once and draws once, only while the
    // view is exposed; without a GL context a drag leaves the camera alone.
    void theFrameLoopTicksAndDrawsInStep()
    {
        OpenGLEmptyWorldWidget view;
        delete view.world;
        auto* recording = new RecordingWorld;
        view.world = recording;
        view.frameTimer->stop();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove}) {
            QMouseEvent event(type, QPointF(50, 30), QPointF(50, 30), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &event);
        }
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a");  // keys need no context
        QCoreApplication::sendEvent(&view, &release);
        QCOMPARE(QList<float>({recording->camera.GetPosition().x, recording->mousePos.y}), QList<float>({162, 300}));
        QCOMPARE(recording->record, QString("a"));
        view.resize(320, 240);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_VERIFY(recording->record.contains('D') && !recording->record.contains('T'));  // exposure draws, no tick
        recording->record.clear();
        view.frameTimer->start();
        for (int i = 0; i < 40; ++i, QTest::qWait(5))
            QCoreApplication::postEvent(&view, new QMouseEvent(QEvent::MouseMove, QPointF(i, i), QPointF(i, i),
                                                               Qt::NoButton, Qt::NoButton, Qt::NoModifier));
        // A tick is always followed at once by its draw.
        QTRY_VERIFY(recording->record.count('T') >= 5 && recording->record.contains('I'));
        QCOMPARE(recording->record.count("TD"), recording->record.count('T'));
        view.hide();
        QTRY_VERIFY(!view.isExposed());
        recording->record.clear();
        QTRY_VERIFY(recording->record.count('T') >= 5);
        QVERIFY(!recording->record.contains('D'));
        g_world = static_cast<KestrovaWorld*>(world);  // the second view took it
    }

    void colourChannelsKeepTheLowEightBitsAndDrawLineLeavesWhite()
    {
        struct Case { const char* chunk; int rgba[4]; };
        for (const Case& c : {Case{"colorGL(256, -1, 128.7, 255)", {0, 255, 128, 255}},
                              Case{"colorGL('255.9', 0.5, 1e300, 0/0)", {255, 0, 0, 0}},
                              Case{"colorGL(10, 20, 30, 40) drawLine(0, 0, 0, 1, 1, 1)", {255, 255, 255, 255}}}) {
            QCOMPARE(Run(c.chunk), std::string());
            GLfloat rgba[4];
            glGetFloatv(GL_CURRENT_COLOR, rgba);
            for (int i = 0; i < 4; ++i)
                QCOMPARE(int(std::lround(rgba[i] * 255)), c.rgba[i]);
        }
        const auto line = Primitives([] { Run("drawLine(1, '2', 3, 4, 5, 6, 7)"); });
        QCOMPARE(line.size(), size_t(1));
        QCOMPARE_NEAR(line[0][0], Vector3(1, 2, 3), 0.05f);
        QCOMPARE_NEAR(line[0][1], Vector3(4, 5, 6), 0.05f);
    }

    void scriptsDrawTrianglesWithEitherBeginAndCallsNeverRaiseNorReturn()
    {
        for (const char* begin : {"beginTriGL()", "beginLinGL()"}) {
            const auto triangle = Primitives([begin] { Run(std::string(begin) + " vectorGL(1, 2, 3) vectorGL('4', 5, 6) vectorGL('a') endGL()"); });
            QCOMPARE(triangle.size(), size_t(1));
            QCOMPARE(triangle[0].size(), size_t(3));
            QVERIFY(Distance(triangle[0][0], Vector3(1, 2, 3)) + Distance(triangle[0][1], Vector3(4, 5, 6)) + triangle[0][2].Length() < 0.05f);
        }
        QCOMPARE(Run("local n = 0 for _, f in ipairs{vectorGL, colorGL, setCamPos, rotateCam, lookAt, drawLine, beginTriGL, "
                     "endGL} do n = n + select('#', f('a', {})) end print(n)"), std::string("0\r\n"));
    }

    void scriptsMoveAndTurnTheCamera()
    {
        QCOMPARE(Run("setCamPos(1, 2) print(getCamPos())"), std::string("1\r\n2\r\n0\r\n"));
        QCOMPARE(Run("setCamPos('3', 4, 5) print(getCamPos()) setCamPos(10, 20, 30)"), std::string("3\r\n4\r\n5\r\n"));
        // Yaw turns right about the vertical, then pitch tilts up about the camera's own right axis.
        for (const QPointF turn : {QPointF(0.5, 0.3), QPointF(-1.2, -0.4), QPointF(0, 0.7)}) {
            Run(QString("lookAt(10, 20, 29) rotateCam(%1, %2)").arg(turn.x()).arg(turn.y()).toStdString());
            const float yaw = float(turn.x()), pitch = float(turn.y());
            const Vector3 expected(std::sin(yaw) * std::cos(pitch), std::sin(pitch), -std::cos(yaw) * std::cos(pitch));
            QVERIFY(Distance(Forward(), expected) < 1e-5f);
        }
        QCOMPARE(Run("setCamPos(0, 0, 0) lookAt(3, 4, 12) print(('%.4f %.4f %.4f'):format(getCamDir()))"), std::string("0.2308 0.3077 0.9231\r\n"));
        // lookAt faces its point in every direction; along the vertical the camera keeps its heading.
        for (const Vector3& d : {Vector3(1, 0, 0), Vector3(-1, 0, 0), Vector3(0, 0, 1), Vector3(0, 0, -1), Vector3(0, 1, 0),
                                 Vector3(0, -1, 0), Vector3(1e-6f, -1, 0), Vector3(0, 1, -3e-7f)}) {
            Run("setCamPos(200, 100, 200) lookAt(150, 80, 230)");
            const Vector3 right = world->camera.TransformDirection(Vector3(1, 0, 0)), up(0, 1, 0);
            world->LookAt(Vector3(200, 100, 200) + d * 150);
            QCOMPARE_NEAR(Forward(), d.Normalized(), 1e-6f);
            QCOMPARE_NEAR(world->camera.TransformDirection(Vector3(1, 0, 0)), d.y * d.y > 0.99f ? right : Cross(d, up), 1e-5f);
        }
        const Vector3 forward = Forward();  // the point where the camera is: nothing to face
        QCOMPARE_NEAR((world->LookAt(world->camera.GetPosition()), Forward()), forward, 0);
    }

    void theCreditsShortenAtTheirEndAndWrap()
    {
        g_marqueePos = g_creditsText.size() - 30;
        QCOMPARE(KestrovaWorld::MarqueeTitle(), QString(36, '-') + g_creditsText.right(30) + QString(36, '-'));
        g_marqueePos = g_creditsText.size() - 1, g_marqueeFrameCount = 3, world->Tick(0.05f);
        QCOMPARE(g_marqueePos, 0);
    }

    // The grid, ground, marker and pick come out as with a well-formed script; no GL error is left.
    void unfinishedShapesLeaveTheHostsDrawingAlone()
    {
        const std::string triangle = "beginTriGL() vectorGL(140, 55, 45) vectorGL(150, 55, 45) vectorGL(145, 65, 45) ";
        const std::pair<std::string, std::string> cases[] = {
            {"function render() beginTriGL() colorGL(255, 200, 40, 255) vectorGL(150, 0, 150) nosuch() end", ""},
            {"function render() " + triangle + "end", "function render() " + triangle + "endGL() end"},
            {"function update() beginTriGL() vectorGL(1, 2, 3) end", ""},
            {"function render() endGL() beginTriGL() beginTriGL() drawLine(0, 0, 0, 9, 9, 9) end", "function render() drawLine(0, 0, 0, 9, 9, 9) end"}};
        const auto frame = [this](const std::string& script) {
            Run("function update() end function render() end " + script);
            world->Tick(0.05f), view->Frame();
            return std::make_tuple(glGetError(), view->target->toImage(), world->pickDepth);
        };
        Move(320, 10);  // over the background
        view->showStatusStrip = false;  // the failing chunks would show in it
        for (const auto& [script, reference] : cases) {
            const auto [error, image, depth] = frame(script);
            const auto [referenceError, referenceImage, referenceDepth] = frame(reference);
            QCOMPARE(error, GLenum(GL_NO_ERROR));
            QCOMPARE(image, referenceImage);
            QCOMPARE(depth, referenceDepth);
        }
        frame("");
        view->showStatusStrip = true;
    }

    // A render() that fails leaves the picture the last working one drew; the strip over the view's
    // bottom edge lists what is wrong now, a line each and the newest on top, each line gone once
    // its cause is mended; with nothing to say it changes no pixel.
    void aFailingRenderLeavesTheLastWorkingPictureAndTheStripListsWhatIsWrong()
    {
        const QImage clean = Shot(false);
        QCOMPARE(Shot(true), clean);
        Run("function render() beginTriGL() colorGL(255, 200, 40, 255) "
            "vectorGL(140, 55, 45) vectorGL(150, 55, 45) vectorGL(145, 65, 45) endGL() end");
        world->Tick(0.05f);
        const QImage working = Shot(false);
        QVERIFY(working != clean);
        Run("function render() beginTriGL() colorGL(0, 0, 255, 255) vectorGL(140, 55, 45) vectorGL(150, 55, 45) "
            "vectorGL(150, 65, 45) endGL() error('first line\\nsecond line', 0) end");
        for (int frame = 0; frame < 2; ++frame)
            world->Tick(0.05f), view->Frame();
        QCOMPARE(Shot(false), working);
        QCOMPARE(StatusStrip::Current().message, QString("render(): first line"));
        QCOMPARE(StatusStrip::Current().count, QString("the last working one runs"));
        g_scriptFailures.Run(g_scriptFailures.load, "error('broken save', 0)");
        g_scriptFailures.Report("glow.frag", "glow.frag:3: error: oops");
        QStringList lines;
        for (const StatusStrip::Text& line : StatusStrip::Lines())
            lines << line.message + "|" + line.count;
        QCOMPARE(lines, QStringList({"glow.frag:3: error: oops|", "error('broken save', 0): broken save|",
                                     "render(): first line|the last working one runs"}));
        // Three bands, one above the other, and the view's picture above them.
        const int band = OverlayBandHeight(OverlayFont(), 1);
        const QImage three = Shot(true);
        for (int line = 0; line < 3; ++line)
            QCOMPARE(three.pixel(1, kHeight - 1 - line * band - band / 2), qRgb(110, 12, 12));
        QCOMPARE(three.copy(0, 0, kWidth, kHeight - 3 * band), working.copy(0, 0, kWidth, kHeight - 3 * band));

        g_scriptFailures.Run(g_scriptFailures.load, "");
        g_scriptFailures.Report("glow.frag", "");
        QCOMPARE(StatusStrip::Lines().size(), size_t(1));
        Run("function render() end");
        world->Tick(0.05f);
        QCOMPARE(Shot(true), clean);
    }

    // Without an error it shows the music's time while paused or just after a jump; it fits any
    // view, and leaves the GL state as it found it.
    void theStatusStripShowsMusicTimeFitsAndRestoresTheState()
    {
        g_musicClock = &clock;
        QVERIFY(StatusStrip::Current().message.isEmpty());
        clock.paused = true, clock.time = 125.379;
        QCOMPARE(StatusStrip::Current().message, QString("2:05.37"));
        clock.paused = false;
        QVERIFY(SeekMusic(3));
        QCOMPARE(StatusStrip::Current().message, QString("0:03.00"));
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        glEnable(GL_CULL_FACE), glDisable(GL_BLEND), glPolygonMode(GL_FRONT_AND_BACK, GL_LINE), glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
        glBindTexture(GL_TEXTURE_2D, 77), glPixelStorei(GL_UNPACK_ALIGNMENT, 1), glMatrixMode(GL_TEXTURE);
        glViewport(0, 0, 90, 6);  // a view a few pixels high is all strip
        const QStringList before = GLState();
        const QImage clean = view->target->toImage();
        view->statusStrip->Draw(1);
        QCOMPARE(GLState(), before);
        glPopClientAttrib(), glPopAttrib();
        const QImage drawn = view->target->toImage();
        QCOMPARE(drawn.pixel(1, kHeight - 1), qRgb(32, 32, 32));
        QCOMPARE(drawn.copy(0, 0, kWidth, kHeight - 6), clean.copy(0, 0, kWidth, kHeight - 6));
        QCOMPARE(drawn.copy(90, 0, kWidth - 90, kHeight), clean.copy(90, 0, kWidth - 90, kHeight));
        g_musicClock = nullptr;
        // A long message is cut with an ellipsis beside the count; too narrow for both, it keeps the message.
        StatusStrip::Text text{QString(300, 'x'), "12 frames in a row", true};
        const QFontMetrics metrics(QGuiApplication::font());
        for (int width : {400, 150}) {
            StatusStrip::Fit(text, metrics, width);
            QCOMPARE(text.message.right(1), QString(QChar(0x2026)));
            QCOMPARE_LE(metrics.horizontalAdvance(text.message + text.count), width);
            QCOMPARE(text.count.isEmpty(), width == 150);
        }
    }

    // F9's readout: hidden it measures and draws nothing; shown, the latest frame's figures in the
    // top right corner, with the GL state left as it was found.
    void theFrameReadoutShowsTheLatestFrameInItsCorner()
    {
        Run("function update() local t = os.clock() while os.clock() - t < 0.004 do end end "
            "function render() local t = os.clock() while os.clock() - t < 0.008 do end end");
        const auto frame = [this] {
            view->frameMeter.BeginFrame();
            world->Tick(0.05f), view->Frame();
            view->frameMeter.EndFrame();
            return view->target->toImage();
        };
        const QImage hidden = frame();
        QCOMPARE(view->frameMeter.last.renderMs, 0.0);
        view->ShowFrameReadout(true);
        QImage shown;
        for (int i = 0; i < 7; ++i, QTest::qWait(100))
            shown = frame();
        const FrameTimes& last = view->frameMeter.last;
        QVERIFY2(last.updateMs >= 4 && last.renderMs >= 8 && last.hostMs >= 0, qPrintable(FrameReadout::Text(view->frameMeter)));
        QVERIFY(view->frameMeter.framesPerSecond > 0 && view->frameMeter.framesPerSecond < 10.5);
        QVERIFY(QRegularExpression("^\\d+ fps   update \\d+\\.\\d\\d ms   render \\d+\\.\\d\\d ms   host \\d+\\.\\d\\d ms$")
                    .match(FrameReadout::Text(view->frameMeter)).hasMatch());
        QCOMPARE(shown.copy(0, 40, kWidth, kHeight - 40), hidden.copy(0, 40, kWidth, kHeight - 40));
        QCOMPARE(shown.copy(0, 0, kWidth / 3, 40), hidden.copy(0, 0, kWidth / 3, 40));
        QCOMPARE(shown.pixel(kWidth - 2, 2), qRgb(32, 32, 32));
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        glEnable(GL_CULL_FACE), glDisable(GL_BLEND), glPolygonMode(GL_FRONT_AND_BACK, GL_LINE), glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
        glBindTexture(GL_TEXTURE_2D, 77), glPixelStorei(GL_UNPACK_ALIGNMENT, 1), glMatrixMode(GL_TEXTURE);
        const QStringList before = GLState();
        view->frameReadout->Draw(view->frameMeter, 1);
        QCOMPARE(GLState(), before);
        glPopClientAttrib(), glPopAttrib();
        view->ShowFrameReadout(false);
        QCOMPARE(frame(), hidden);
        QCOMPARE(view->frameMeter.last.renderMs, 0.0);
        Run("function update() end function render() end");
    }

    // Frames a second are the frames begun over the latest half second or more, by the time that
    // took: between what at least the waits between them took and what the whole loop took.
    void framesASecondAreTheFramesBegunByTheTimeTheyTook()
    {
        FrameMeter meter;
        QElapsedTimer wall;
        wall.start();
        meter.BeginFrame();
        int frames = 0;
        for (; meter.framesPerSecond == 0; ++frames) {
            QTest::qSleep(20);
            meter.BeginFrame();
        }
        const double seconds = wall.nsecsElapsed() / 1e9;
        QVERIFY2(meter.framesPerSecond >= frames / seconds && meter.framesPerSecond <= frames / std::max(0.5, frames * 0.02),
                 qPrintable(QString("%1 frames in %2 s: %3 fps").arg(frames).arg(seconds).arg(meter.framesPerSecond)));
    }

    // Shown, the readout charges render() with the drawing it asked for, which the driver does
    // later (at the pick's read-back or the swap) and would otherwise fall on the host's figure.
    void theReadoutChargesRenderWithItsOwnDrawing()
    {
        // Layer upon layer over the whole view, each nearer than the last: much drawing for the
        // driver, few calls for the script.
        Run("function render() beginTriGL() colorGL(90, 90, 90, 255) for i = 1, 40 do local z = 45 - i * 0.01 "
            "vectorGL(-400, -600, z) vectorGL(700, -600, z) vectorGL(144, 900, z) end endGL() end");
        view->ShowFrameReadout(true);
        bool charged = false;
        for (int frame = 0; frame < 5 && !charged; ++frame) {
            view->frameMeter.BeginFrame();
            world->Tick(0.05f), view->Frame();
            view->frameMeter.EndFrame();
            charged = view->frameMeter.last.renderMs > view->frameMeter.last.hostMs;
        }
        QVERIFY2(charged, qPrintable(FrameReadout::Text(view->frameMeter)));
        view->ShowFrameReadout(false);
        Run("function render() end");
    }

    // A script may leave any pixel store: the strip's text, message and digits alike, comes out the
    // same, not shifted by a pixel or a row.
    void theStripsTextIgnoresThePixelStoreItFinds_data()
    {
        QTest::addColumn<int>("name");
        QTest::addColumn<int>("value");
        QTest::newRow("skipped pixels") << GL_UNPACK_SKIP_PIXELS << 1;
        QTest::newRow("skipped rows") << GL_UNPACK_SKIP_ROWS << 1;
        QTest::newRow("row length") << GL_UNPACK_ROW_LENGTH << 7;
    }
    void theStripsTextIgnoresThePixelStoreItFinds()
    {
        QFETCH(int, name);
        QFETCH(int, value);
        const auto shot = [this](GLenum name, int value) {
            view->showStatusStrip = false;
            view->Frame();
            view->showStatusStrip = true;
            StatusStrip fresh;  // every texture made now
            glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
            glPixelStorei(name, value);
            fresh.Draw(1);
            glPopClientAttrib();
            return view->target->toImage().copy(0, kHeight - 40, kWidth, 40);
        };
        g_musicClock = &clock;
        clock.paused = true, clock.time = 61.25;
        for (const char* error : {"", "error('prod.lua:3: a message', 0)"}) {
            g_scriptFailures.Run(g_scriptFailures.load, error);
            QCOMPARE(shot(GLenum(name), value), shot(GLenum(name), 0));
        }
        g_scriptFailures.Run(g_scriptFailures.load, "");
        clock.paused = false;
        g_musicClock = nullptr;
    }

    // The music's time is inked from the strip's left edge, and a count of failed frames, digits
    // and words, in its own colour after the message.
    void theStripInksTheTimeAndTheCount()
    {
        const auto inked = [this](const std::function<bool(QRgb)>& ink) {
            view->showStatusStrip = true;
            view->Frame();
            const QImage strip = view->target->toImage().copy(0, kHeight - 30, kWidth, 30);
            int count = 0, left = kWidth;
            for (int y = 0; y < strip.height(); ++y)
                for (int x = 0; x < strip.width(); ++x)
                    if (ink(strip.pixel(x, y)))
                        ++count, left = std::min(left, x);
            return std::pair(count, left);
        };
        const auto white = [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200; };
        const auto rose = [](QRgb c) { return qRed(c) > 230 && qGreen(c) > 150 && qGreen(c) < 215 && qBlue(c) > 140 && qBlue(c) < 205; };
        g_musicClock = &clock;
        clock.paused = true, clock.time = 61.25;
        const auto [timeInk, timeLeft] = inked(white);
        QVERIFY2(timeInk > 20 && timeLeft < 14, qPrintable(QString("%1 pixels from %2").arg(timeInk).arg(timeLeft)));
        clock.paused = false;
        g_musicClock = nullptr;
        // Once the only version fails, it is called on every frame and its failures counted.
        Run("n = 0 function render() n = n + 1 if n > 1 then error('x', 0) end end");
        for (int frame = 0; frame < 3; ++frame)
            world->Tick(0.05f), view->Frame();
        QCOMPARE(StatusStrip::Current().count, QString("2 frames in a row"));
        const auto [countInk, countLeft] = inked(rose);
        QVERIFY2(countInk > 40 && countLeft > 40, qPrintable(QString("%1 pixels from %2").arg(countInk).arg(countLeft)));
        Run("function render() end");
        world->Tick(0.05f), view->Frame();
    }

    // The shipped demo runs without an error for a few frames.
    void theDemoRuns()
    {
        QVERIFY(QDir::setCurrent(QFINDTESTDATA("../../demo")));
        QCOMPARE(Run("dofile('prod.lua')"), std::string());
        for (int frame = 0; frame < 3; ++frame, view->Frame()) world->Tick(0.05f);
        QCOMPARE(Run("update() render()"), std::string());
        world->RotateCamera(0.2f, 0);  // as the mouse turns it: the camera timeline lets go
        const Vector3 turned = Forward();
        world->Tick(0.05f);
        QCOMPARE_NEAR(Forward(), turned, 0);
    }

    // In one fresh state per document, in order, each twice (as a save or the history runs it again).
    void everyLuaSampleOfTheReadmeAndTheGuideRuns()
    {
        TestClock clock;
        clock.length = 180;
        g_musicClock = &clock;
        const QRegularExpression sample("```lua\n(.*?)```|<<'LUA'\n(.*?)\nLUA\n", QRegularExpression::DotMatchesEverythingOption);
        // The shader files a document shows ("// name.frag" on their first line) are written to a
        // folder of their own, where each image a sample loads is the guide's picture of the demo.
        const QRegularExpression shaderFile("```glsl\n// (\\S+)\n(.*?)```", QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpression imageFile("loadTexture\\(\"([^\"]+)\"\\)");
        const QString start = QDir::currentPath();
        for (const char* name : {"../../README.md", "../../docs/scripting.md"}) {
            QFile file(QFINDTESTDATA(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(file.readAll());
            QTemporaryDir folder;
            QVERIFY(QDir::setCurrent(folder.path()));
            for (const QRegularExpressionMatch& m : shaderFile.globalMatch(text)) {
                QFile shader(m.captured(1));
                QVERIFY(shader.open(QIODevice::WriteOnly));
                shader.write(m.captured(2).toUtf8());
            }
            for (const QRegularExpressionMatch& m : imageFile.globalMatch(text))
                QVERIFY(QFile::copy(QFINDTESTDATA("../../docs/demo.png"), m.captured(1)));
            CloseLua(), InitLua(), RegisterLuaBindings();
            int samples = 0;
            for (const QRegularExpressionMatch& m : sample.globalMatch(text))
                for (int run = 0; run < 2; ++run, ++samples) {
                    QCOMPARE(Run((m.captured(1) + m.captured(2)).toStdString(), true), std::string());
                    world->Tick(0.05f), view->Frame();
                    QCOMPARE(Run("update() render()", true), std::string());
                    QVERIFY(g_scriptFailures.Standing().empty());
                }
            QVERIFY2(samples > 0, name);
            QVERIFY(QDir::setCurrent(start));
        }
        g_musicClock = nullptr;
    }
};

QTEST_MAIN(WorldTest)
#include "world_test.moc"
