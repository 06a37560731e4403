#include <GL/gl.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QTest>

#include <cmath>

#include "script/bindings.h"
#include "script/luaengine.h"
#include "world/kestrovaworld.h"

// The world and the script functions on a real GL context, without a window.
class WorldBindingsTest : public QObject {
    Q_OBJECT

    QOffscreenSurface surface;
    QOpenGLContext context;
    KestrovaWorld* world = nullptr;

    static std::string Output(const char* chunk)
    {
        std::string output, error;
        ExecuteLua(chunk, output, error);
        return output + error;
    }
    static void CurrentColour(GLfloat rgba[4]) { glGetFloatv(GL_CURRENT_COLOR, rgba); }
    static int Byte(GLfloat channel) { return int(std::lround(channel * 255)); }

    // Where the world's current modelview maps a world point.
    static Vector3 EyeOf(const Vector3& p)
    {
        GLfloat m[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, m);
        return Vector3(m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
                       m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                       m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]);
    }

private slots:
    void initTestCase()
    {
        surface.create();
        QVERIFY(context.create());
        QVERIFY(context.makeCurrent(&surface));
        glViewport(0, 0, 640, 480);
        world = new KestrovaWorld;
        InitLua();
        RegisterLuaBindings();
    }
    void cleanupTestCase()
    {
        CloseLua();
        delete world;
        QCOMPARE(g_world, static_cast<KestrovaWorld*>(nullptr));
    }

    void colourChannelsKeepTheLowEightBits()
    {
        Output("colorGL(256, -1, 128.7, 255)");
        GLfloat c[4];
        CurrentColour(c);
        QCOMPARE(Byte(c[0]), 0);
        QCOMPARE(Byte(c[1]), 255);
        QCOMPARE(Byte(c[2]), 128);
        QCOMPARE(Byte(c[3]), 255);
        Output("colorGL('255.9', 0.5, 1e300, 0/0)");
        CurrentColour(c);
        QCOMPARE(Byte(c[0]), 255);
        QCOMPARE(Byte(c[1]), 0);
        QCOMPARE(Byte(c[2]), 0);
        QCOMPARE(Byte(c[3]), 0);
    }

    void drawLineLeavesTheColourWhite()
    {
        Output("colorGL(10, 20, 30, 40) drawLine(0, 0, 0, 1, 1, 1)");
        GLfloat c[4];
        CurrentColour(c);
        QCOMPARE(Byte(c[0]), 255);
        QCOMPARE(Byte(c[1]), 255);
        QCOMPARE(Byte(c[2]), 255);
    }

    void bindingsNeverRaise()
    {
        QCOMPARE(Output("vectorGL('a') colorGL() setCamPos({}, nil) rotateCam() lookAt('x') print('ok')"),
                 std::string("ok\r\n"));
    }

    void cameraPositionIsSetAndReadBack()
    {
        QCOMPARE(Output("setCamPos(1, 2) print(getCamPos())"), std::string("1\r\n2\r\n0\r\n"));
        QCOMPARE(Output("setCamPos('3', 4, 5) print(getCamPos())"), std::string("3\r\n4\r\n5\r\n"));
    }

    void lookAtTurnsTheCameraOntoThePoint()
    {
        Output("setCamPos(10, 20, 30) lookAt(40, 10, -5)");
        world->SetupCamera();
        const Vector3 eye = EyeOf(Vector3(40, 10, -5));
        QVERIFY(std::fabs(eye.x) < 1e-3f && std::fabs(eye.y) < 1e-3f);
        QVERIFY(eye.z < 0);
    }

    void startPoseFacesItsTarget()
    {
        KestrovaWorld* fresh = new KestrovaWorld;
        fresh->SetupCamera();
        const Vector3 eye = EyeOf(Vector3(144, 60, 45));
        QVERIFY(std::fabs(eye.x) < 1e-3f && std::fabs(eye.y) < 1e-3f);
        QVERIFY(std::fabs(eye.z + std::sqrt(460.0f)) < 1e-3f);
        delete fresh;
        g_world = world;
    }

    void rotateCamThereAndBackRestores()
    {
        const Quaternion before = world->GetCamera().GetOrientation();
        Output("rotateCam(0.4, 0) rotateCam(-0.4, 0)");
        const Quaternion after = world->GetCamera().GetOrientation();
        QVERIFY(std::fabs(before.w - after.w) < 1e-5f && std::fabs(before.y - after.y) < 1e-5f);
    }

    void marqueeScrollsEveryFourthFrameAndWraps()
    {
        QCOMPARE(g_creditsText.size(), 1638);
        g_marqueePos = 0;
        g_marqueeFrameCount = 0;
        const QString edge(36, '-');
        for (int frame = 0; frame < 4; ++frame) {
            QCOMPARE(KestrovaWorld::MarqueeTitle(), edge + g_creditsText.left(70) + edge);
            world->Tick(0.05f);
        }
        QCOMPARE(KestrovaWorld::MarqueeTitle(), edge + g_creditsText.mid(1, 70) + edge);
        g_marqueePos = 1600;
        QCOMPARE(KestrovaWorld::MarqueeTitle().size(), 36 + 38 + 36);
        g_marqueePos = 1637;
        g_marqueeFrameCount = 3;
        world->Tick(0.05f);
        QCOMPARE(g_marqueePos, 0);
    }

    void pressesAreSeenByOneTickAndFreezeThePivot()
    {
        world->LeftButtonDown(5, 5);
        QVERIFY(world->leftDown && world->leftPressed && !world->pickPivot);
        world->RightButtonDown(5, 5);
        world->RightButtonUp(5, 5);
        QVERIFY(world->pickPivot);  // releasing either button resumes picking
        world->KeyDown(' ', 0, 0);
        world->KeyUp(' ', 0, 0);
        QVERIFY(!world->spaceDown && world->spacePressed);
        world->Tick(0.05f);
        QVERIFY(!world->leftPressed && !world->rightPressed && !world->spacePressed);
        QVERIFY(world->leftDown);
        world->LeftButtonUp(5, 5);
        QVERIFY(!world->leftDown);
    }
};

QTEST_MAIN(WorldBindingsTest)
#include "world_bindings_test.moc"
