#include <GL/gl.h>
#include <GL/glu.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLFramebufferObject>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

#include "script/bindings.h"
#include "script/luaengine.h"
#include "world/openglemptyworldwidget.h"
#include "world/world.h"

static constexpr int kWidth = 640;
static constexpr int kHeight = 480;

// The real view, drawn into an offscreen framebuffer so that colours and depth can be read
// back after the frame; input goes through its event handlers.
class TestView : public OpenGLEmptyWorldWidget {
public:
    QOpenGLFramebufferObject* target = nullptr;

    void Frame()
    {
        QVERIFY(MakeCurrent());
        if (!target) {
            target = new QOpenGLFramebufferObject(kWidth, kHeight,
                                                  QOpenGLFramebufferObject::Depth);
            target->bind();
            initializeGL();
            resizeGL(kWidth, kHeight);
        }
        target->bind();
        paintGL();
    }
};

class MouseCameraTest : public QObject {
    Q_OBJECT

    TestView* view = nullptr;
    World* world = nullptr;

    void Send(QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, QPointF(x, y), QPointF(x, y), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    }
    void Move(int x, int y, Qt::MouseButtons held = Qt::NoButton)
    {
        Send(QEvent::MouseMove, x, y, Qt::NoButton, held);
    }
    void Space(QEvent::Type type)
    {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, " ");
        QCoreApplication::sendEvent(view, &event);
    }
    void Wheel(QPoint angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &event);
    }
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
    Vector3 Forward() const { return world->camera.TransformDirection(Vector3(0, 0, -1)); }
    static float Distance(const Vector3& a, const Vector3& b) { return (a - b).Length(); }
    // Furthest green pixel sideways from a window point on its row: the marker's screen
    // radius (off the view axis the outline stretches radially, not sideways).
    float GreenReach(const Vector3& centre)
    {
        const QImage image = view->target->toImage();
        const int row = kHeight - 1 - int(std::lround(centre.y));
        float reach = 0;
        for (int y = row - 1; y <= row + 1; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) == qRgb(0, 255, 0))
                    reach = std::max(reach, std::fabs(x - centre.x));
        return reach;
    }
    // Camera at `from` looking at `target`, which is also the pivot.
    void Pose(const Vector3& from, const Vector3& target)
    {
        world->camera.SetPosition(from);
        world->LookAt(target);
        world->pivot = target;
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
        world = view->world;
    }
    void cleanupTestCase()
    {
        view->MakeCurrent();
        delete view->target;
        delete view;
        CloseLua();
    }
    void init()
    {
        view->MakeCurrent();
        world->camera.SetPosition(Vector3(162, 66, 35));
        world->LookAt(Vector3(144, 60, 45));
        world->showGround = world->showGrid = world->pickPivot = world->quaternionOrbit = true;
        view->Frame();
    }

    void pickFindsTheGroundOrFallsBackNearTheCamera()
    {
        Move(320, 420);
        view->Frame();
        QVERIFY(world->pickDepth < 1.0f);
        // The solid pass's polygon offset puts the surface a hair below the grid plane.
        QVERIFY(std::fabs(world->pivot.y) < 0.01f * Distance(world->pivot, world->camera.GetPosition()));

        Move(320, 10);  // above the horizon
        view->Frame();
        QCOMPARE(world->pickDepth, 0.1f);
        const float eyeDepth = -world->camera.WorldToLocal(world->pivot).z;
        QVERIFY(std::fabs(eyeDepth - 0.1111f) < 0.001f);

        world->showGround = false;  // empty ground no longer catches the pick
        Move(320, 420);
        view->Frame();
        QCOMPARE(world->pickDepth, 0.1f);
    }

    void pickOnTheTopRowReadsInsideTheViewport()
    {
        Pose(Vector3(200, 100, 200), Vector3(200, 0, 210));  // nearly straight down
        view->Frame();
        Move(320, 0);
        QCOMPARE(world->mousePos.y, float(kHeight));
        view->Frame();
        QVERIFY(world->pickDepth < 1.0f && world->pickDepth != 0.1f);
        QVERIFY(std::fabs(world->pivot.y) < 1.0f);
    }

    void groundHidesButDoesNotPaintAndTheMarkerHoldsItsSize()
    {
        world->pickPivot = false;
        world->pivot = Vector3(150, 55, 42);
        view->Frame();
        const QImage image = view->target->toImage();
        bool gridSeen = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                QVERIFY(image.pixel(x, y) != qRgb(77, 77, 77));  // the depth-only pass
                gridSeen = gridSeen || image.pixel(x, y) == qRgb(153, 26, 230);
            }
        QVERIFY(gridSeen);
        QVERIFY(std::fabs(GreenReach(Project(world->pivot)) - 15) < 1.5f);

        const Vector3 p = world->camera.GetPosition();
        world->camera.SetPosition(world->pivot + (p - world->pivot) * 2.0f);
        view->Frame();
        QVERIFY(std::fabs(GreenReach(Project(world->pivot)) - 15) < 1.5f);

        world->pivot = Vector3(150, -20, 42);  // inside the ground box
        view->Frame();
        QCOMPARE(GreenReach(Project(world->pivot)), 0.0f);

        GLfloat colour[4], width;
        glGetFloatv(GL_CURRENT_COLOR, colour);
        glGetFloatv(GL_LINE_WIDTH, &width);
        QVERIFY(colour[0] == 0 && colour[1] == 1 && colour[2] == 0 && colour[3] == 1);
        QCOMPARE(width, 1.0f);
        QVERIFY(!glIsEnabled(GL_TEXTURE_2D));
    }

    void leftDragLooksRightAboutTheVertical()
    {
        const Vector3 position = world->camera.GetPosition();
        const Vector3 expected = Quaternion(Vector3(0, 1, 0), -0.8f).Rotate(Forward());
        Move(200, 200);
        Send(QEvent::MouseButtonPress, 200, 200, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(!world->pickPivot);
        for (int x = 210; x <= 300; x += 10)
            Move(x, 200, Qt::LeftButton);
        Send(QEvent::MouseButtonRelease, 300, 200, Qt::LeftButton, Qt::NoButton);
        QVERIFY(world->pickPivot);
        QVERIFY(Distance(Forward(), expected) < 1e-4f);
        QCOMPARE(world->camera.GetPosition().x, position.x);
        QCOMPARE(world->camera.GetPosition().z, position.z);
    }

    void rightDragKeepsTheGrabbedPointUnderTheCursor()
    {
        Move(320, 420);
        view->Frame();
        const Vector3 grabbed = world->pivot;
        Send(QEvent::MouseButtonPress, 320, 420, Qt::RightButton, Qt::RightButton);
        Move(340, 400, Qt::RightButton);
        view->Frame();
        Move(370, 390, Qt::RightButton);
        view->Frame();
        Send(QEvent::MouseButtonRelease, 370, 390, Qt::RightButton, Qt::NoButton);
        const Vector3 seen = Project(grabbed);
        QVERIFY(std::fabs(seen.x - 370) < 0.5f);
        QVERIFY(std::fabs(seen.y - (kHeight - 390)) < 0.5f);
    }

    void orbitKeepsTheDistanceAndGuardsThePoles()
    {
        Move(320, 420);
        view->Frame();
        const float distance = Distance(world->camera.GetPosition(), world->pivot);
        Send(QEvent::MouseButtonPress, 320, 420, Qt::LeftButton, Qt::LeftButton);
        Space(QEvent::KeyPress);
        Move(360, 400, Qt::LeftButton);
        Move(300, 430, Qt::LeftButton);
        QVERIFY(std::fabs(Distance(world->camera.GetPosition(), world->pivot) - distance) < 1e-3f);
        Space(QEvent::KeyRelease);
        Send(QEvent::MouseButtonRelease, 300, 430, Qt::LeftButton, Qt::NoButton);

        // Looking 15 degrees from straight down: a step that ends within 10 degrees of the pole
        // while nearing it is refused; smaller steps and steps away pass.
        const Vector3 centre(200, 0, 200);
        struct Step { float fromDegrees, pitch; bool passes; };
        for (const Step step : {Step{15, -0.1f, false}, Step{15, -0.05f, true},
                                Step{15, 0.1f, true}, Step{8, -0.3f, true}}) {
            const float t = step.fromDegrees / 57.2957763671875f;
            Pose(centre + Vector3(0, std::cos(t), -std::sin(t)) * 50.0f, centre);
            const Vector3 before = world->camera.GetPosition();
            world->OrbitPivot(centre, 0, step.pitch);
            QCOMPARE(Distance(world->camera.GetPosition(), before) > 0.01f, step.passes);
            QVERIFY(std::fabs(Distance(world->camera.GetPosition(), centre) - 50) < 1e-3f);
        }
    }

    void orbitHoldTurnsOntoThePivotOrSlidesToIt()
    {
        Pose(Vector3(100, 10, 100), Vector3(100, 10, 50));
        world->RotateCamera(0.3f, 0);
        world->leftDown = world->spaceDown = true;
        const Vector3 position = world->camera.GetPosition();
        const Vector3 toPivot = (world->pivot - position).Normalized();
        const float before = Forward().AngleTo(toPivot);
        world->Tick(0.05f);
        QCOMPARE(world->camera.GetPosition().x, position.x);
        QVERIFY(std::fabs(Forward().AngleTo(toPivot) - 0.8f * before) < 1e-3f);

        world->quaternionOrbit = false;
        const Vector3 forward = Forward();
        const Vector3 local = world->camera.WorldToLocal(world->pivot);
        world->Tick(0.05f);
        const Vector3 after = world->camera.WorldToLocal(world->pivot);
        QVERIFY(Distance(Forward(), forward) < 1e-5f);
        QVERIFY(std::fabs(after.x - 0.9f * local.x) < 1e-3f);
        QVERIFY(std::fabs(after.z - local.z) < 1e-3f);
        world->leftDown = world->spaceDown = false;
    }

    void wheelStepsATenthOfTheWayAtMostTwenty()
    {
        struct Case { float away; QPoint angle; float moved; };
        for (const Case c : {Case{50, {0, 120}, -5}, Case{50, {0, -120}, 5},
                             Case{500, {0, 120}, -20}, Case{50, {120, 0}, -5}}) {
            Pose(Vector3(0, 0, c.away), Vector3(0, 0, 0));
            Wheel(c.angle);
            QVERIFY(std::fabs(world->camera.GetPosition().z - (c.away + c.moved)) < 1e-3f);
        }
        Pose(Vector3(3, 4, 5), Vector3(3, 4, 5));
        Wheel({0, 120});
        QVERIFY(Distance(world->camera.GetPosition(), Vector3(3, 4, 5)) == 0);
    }
};

QTEST_MAIN(MouseCameraTest)
#include "mouse_camera_test.moc"
