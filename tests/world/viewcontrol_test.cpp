#include <GL/gl.h>

#include <cmath>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

#include "script/bindings.h"
#include "script/luaengine.h"
#include "tests/world/framebufferview.h"
#include "world/viewgl.h"

static constexpr int kWidth = 320;
static constexpr int kHeight = 240;

// What a chunk printed and its error.
static QString Run(const std::string& chunk)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    return QString::fromStdString(output + error).trimmed();
}

// What the expression gives, tab-separated, or its error.
static QString Eval(const std::string& expression)
{
    std::string output, error, values;
    ExecuteLua("return " + expression, output, error, &values);
    return QString::fromStdString(values + error).trimmed();
}

// The script's hold on the projection and the guides, and its view of the keyboard.
class ViewControlTest : public QObject {
    Q_OBJECT

    FramebufferView* view = nullptr;
    World* world = nullptr;

    void Frame() { QVERIFY(view->Paint(0)); }
    void Key(QEvent::Type type, Qt::Key key, const QString& text, bool autoRepeat = false)
    {
        QKeyEvent event(type, key, Qt::NoModifier, text, autoRepeat);
        QCoreApplication::sendEvent(view, &event);
    }
    void MoveMouse(int x, int y)
    {
        QMouseEvent event(QEvent::MouseMove, QPointF(x, y), QPointF(x, y), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    }

private slots:
    void initTestCase()
    {
        QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
        InitLua();
        RegisterLuaBindings();
        view = new FramebufferView(kWidth, kHeight);
        view->resize(kWidth, kHeight);
        view->create();
        view->frameTimer->stop();
        world = view->world;
        Frame();
    }
    void cleanupTestCase()
    {
        view->MakeCurrent();
        delete view->target;
        delete view;
        CloseLua();
    }

    // The projection takes the field of view and the clip range from the next frame on, and the
    // pick reads its point back through them: looking down at the ground, the pivot lies on it.
    void theFieldOfViewAndTheClipRangeShapeTheProjectionAndThePick()
    {
        QCOMPARE(QList<float>({world->fieldOfView, world->clipNear, world->clipFar}), QList<float>({90, 0.1f, 20000}));
        QCOMPARE(Run("setFieldOfView(40) setClipRange(2, 500) setCamPos(200, 50, 200) lookAt(200, 0, 210)"), QString());
        MoveMouse(kWidth / 2, kHeight / 3);
        Frame();
        GLdouble m[16];
        glGetDoublev(GL_PROJECTION_MATRIX, m);
        QCOMPARE(QList<double>({std::round(m[5] * 1e4), std::round(m[10] * 1e4), std::round(m[14] * 1e4)}),
                 QList<double>({std::round(1e4 / std::tan(20 * M_PI / 180)), std::round(-1e4 * 502 / 498),
                                std::round(-1e4 * 2 * 2 * 500 / 498)}));
        QVERIFY2(std::fabs(world->pivot.y) < 0.05f, qPrintable(QString::number(world->pivot.y)));
        QCOMPARE(Run("setFieldOfView(90) setClipRange(0.1, 20000)"), QString());
    }

    // A value out of range is an error that says what is taken, and changes nothing.
    void valuesOutOfRangeAreErrorsThatChangeNothing()
    {
        const QList<QPair<std::string, QString>> cases = {
            {"setFieldOfView(0)", "setFieldOfView: expected degrees from 1 to 179, got 0"},
            {"setFieldOfView(179.5)", "got 179.5"},
            {"setClipRange(0, 10)", "setClipRange: expected distances with 0 < near < far, got 0 and 10"},
            {"setClipRange(5, 5)", "got 5 and 5"},
            {"setClipRange(1, 1/0)", "got 1 and inf"},
            {"setOverlays(1)", "setOverlays: expected true (show) or false (hide), got number"},
            {"isKeyDown('W')", "isKeyDown: no key is named 'W' (the names: a to z, 0 to 9, space,"},
            {"isMouseDown(4)", "isMouseDown: expected 1 (left), 2 (right) or 3 (middle), got 4"},
        };
        for (const auto& [chunk, message] : cases)
            QVERIFY2(Run(chunk).contains(message), qPrintable(QString::fromStdString(chunk) + ": " + Run(chunk)));
        QCOMPARE(QList<float>({world->fieldOfView, world->clipNear, world->clipFar}), QList<float>({90, 0.1f, 20000}));
        QCOMPARE(Run("setOverlays(false)"), QString());
        QVERIFY(!world->GuidesShown());
        QCOMPARE(Run("setOverlays(true)"), QString());
        QVERIFY(world->GuidesShown());
    }

    // Keys count from their first press to their release, auto-repeat aside, keys without text
    // too; the host keeps its own use of them, and the keyboard leaving the view releases all.
    void theScriptReadsHeldKeysWhileTheHostKeepsThem()
    {
        Key(QEvent::KeyPress, Qt::Key_W, "w");
        Key(QEvent::KeyPress, Qt::Key_Shift, "");
        Key(QEvent::KeyPress, Qt::Key_Space, " ");
        Key(QEvent::KeyRelease, Qt::Key_W, "w", true);
        Key(QEvent::KeyPress, Qt::Key_W, "w", true);
        QCOMPARE(Eval("isKeyDown('w'), isKeyDown('shift'), isKeyDown('space'), isKeyDown('a')"),
                 QString("true\ttrue\ttrue\tfalse"));
        QVERIFY(world->spaceDown);
        Key(QEvent::KeyRelease, Qt::Key_W, "w");
        Key(QEvent::KeyPress, Qt::Key_Enter, "\r");
        QCOMPARE(Eval("isKeyDown('w'), isKeyDown('return')"), QString("false\ttrue"));
        QFocusEvent out(QEvent::FocusOut);
        QCoreApplication::sendEvent(view, &out);
        QCOMPARE(Eval("isKeyDown('shift'), isKeyDown('space'), isKeyDown('return')"), QString("false\tfalse\tfalse"));
        Key(QEvent::KeyRelease, Qt::Key_Space, " ");
    }
};

QTEST_MAIN(ViewControlTest)
#include "viewcontrol_test.moc"
