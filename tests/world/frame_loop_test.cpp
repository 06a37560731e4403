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
    void eachShotTicksOnceAndDrawsOnceOnlyWhileExposed()
    {
        OpenGLEmptyWorldWidget view;
        delete view.world;
        auto* world = new RecordingWorld;
        view.world = world;
        view.frameTimer->stop();
        view.resize(320, 240);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_VERIFY(world->record.contains('D'));  // exposure draws without a tick
        QVERIFY(!world->record.contains('T'));
        world->record.clear();
        view.frameTimer->start();
        for (int i = 0; i < 40; ++i, QTest::qWait(5))
            QCoreApplication::postEvent(&view, new QMouseEvent(QEvent::MouseMove, QPointF(i, i), QPointF(i, i),
                                                               Qt::NoButton, Qt::NoButton, Qt::NoModifier));
        // A tick is always followed at once by its draw.
        QVERIFY(world->record.count('T') >= 5 && world->record.contains('I'));
        QCOMPARE(world->record.count("TD"), world->record.count('T'));
        view.hide();
        QTRY_VERIFY(!view.isExposed());
        world->record.clear();
        QTest::qWait(200);
        QVERIFY(world->record.count('T') >= 5 && !world->record.contains('D'));
        view.frameTimer->stop();
    }
};

QTEST_MAIN(FrameLoopTest)
#include "frame_loop_test.moc"
