#include <QMouseEvent>
#include <QTest>
#include <QTimer>

#include "world/openglemptyworldwidget.h"
#include "world/world.h"

// Writes T for a tick, D for a draw and I for a mouse move, in the order they happen.
class RecordingWorld : public World {
public:
    QString record;

protected:
    void Update(float) override { record += 'T'; }
    void Render() override { record += 'D'; }
    void OnMouseMove(int, int) override { record += 'I'; }
};

class FrameLoopTest : public QObject {
    Q_OBJECT

private slots:
    void eachShotTicksOnceAndDrawsOnceOnlyWhileExposedAndNeedsAContextToMoveTheCamera()
    {
        OpenGLEmptyWorldWidget view;
        delete view.world;
        auto* world = new RecordingWorld;
        view.world = world;
        view.frameTimer->stop();
        // Not shown yet, so without a GL context: a drag leaves the camera alone.
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove}) {
            QMouseEvent event(type, QPointF(50, 30), QPointF(50, 30), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &event);
        }
        QVERIFY(world->camera.GetPosition().x == 162 && world->mousePos.y == 300 && world->record.isEmpty());
        view.resize(320, 240);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_VERIFY(world->record.contains('D') && !world->record.contains('T'));  // exposure draws, no tick
        world->record.clear();
        view.frameTimer->start();
        for (int i = 0; i < 40; ++i, QTest::qWait(5))
            QCoreApplication::postEvent(&view, new QMouseEvent(QEvent::MouseMove, QPointF(i, i), QPointF(i, i),
                                                               Qt::NoButton, Qt::NoButton, Qt::NoModifier));
        // A tick is always followed at once by its draw.
        QTRY_VERIFY(world->record.count('T') >= 5 && world->record.contains('I'));
        QCOMPARE(world->record.count("TD"), world->record.count('T'));
        view.hide();
        QTRY_VERIFY(!view.isExposed());
        world->record.clear();
        QTRY_VERIFY(world->record.count('T') >= 5);
        QVERIFY(!world->record.contains('D'));
    }
};

QTEST_MAIN(FrameLoopTest)
#include "frame_loop_test.moc"
