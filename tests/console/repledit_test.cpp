#include "console/repledit.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

// Drops cannot be sent without a drag in progress, so the test hands them over itself.
class DropEdit : public REPLEdit
{
public:
    using REPLEdit::dropEvent;
};

class REPLEditTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<DropEdit> edit;
    std::unique_ptr<QSignalSpy> spy;

    // Plays a key script: plain text is typed; <Ctrl+Up> and the like are single keys (Num+ is
    // the keypad); <@N> puts the caret at position N and <@A:B> selects from A to B, as the
    // mouse would.
    void Play(const QString& script)
    {
        static const QRegularExpression token("<([^>]+)>");
        int at = 0;
        for (auto it = token.globalMatch(script); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            QTest::keyClicks(edit.get(), script.mid(at, m.capturedStart() - at));
            at = int(m.capturedEnd());
            const QString name = m.captured(1);
            if (name.startsWith('@')) {
                QTextCursor caret = edit->textCursor();
                caret.setPosition(name.mid(1).section(':', 0, 0).toInt());
                caret.setPosition(name.section(':', -1).remove('@').toInt(), QTextCursor::KeepAnchor);
                edit->setTextCursor(caret);
            } else {
                const QKeyCombination key = QKeySequence(name)[0];
                QTest::keyClick(edit.get(), key.key(), key.keyboardModifiers());
            }
        }
        QTest::keyClicks(edit.get(), script.mid(at));
    }
    // The document with the caret shown as | and the anchor of a selection as ^.
    QString Shown() const
    {
        const QTextCursor caret = edit->textCursor();
        QString text = edit->toPlainText();
        if (caret.hasSelection())
            text.insert(caret.anchor(), '^');
        return text.insert(caret.position() + (caret.anchor() < caret.position()), '|');
    }
    QPoint PointOf(int pos) const
    {
        QTextCursor cursor(edit->document());
        cursor.setPosition(pos);
        return edit->cursorRect(cursor).center();
    }

private slots:
    void init()
    {
        edit = std::make_unique<DropEdit>();
        edit->resize(400, 300);
        edit->show();
        QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
        edit->clearFocus();  // no blinking caret over the markers
        spy = std::make_unique<QSignalSpy>(edit.get(), &REPLEdit::CommandEntered);
        connect(edit.get(), &REPLEdit::CommandEntered, edit.get(), &REPLEdit::ShowPrompt);
        QGuiApplication::clipboard()->setText("pasted");
    }
    void cleanup() { spy.reset(), edit.reset(); }

    void keys_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("commands");  // the commands emitted, each followed by ;
        QTest::newRow("empty input submits an empty command") << "<Return>" << "Lua>\nLua>|" << ";";
        QTest::newRow("return submits the whole input from anywhere, shift+return too")
            << "a=1<Return>b=2<@0><Return>c<Shift+Return>" << "Lua>a=1\nLua>b=2\nLua>c\nLua>|" << "a=1;b=2;c;";
        QTest::newRow("a tab becomes three spaces on submission") << "\tx<Return>" << "Lua>   x\nLua>|" << "   x;";
        QTest::newRow("ctrl+return indents like its line; lines join with newlines")
            << "if x then<Ctrl+Return>  y<Ctrl+Shift+Return>end<Return>" << "Lua>if x then\n      y\n      end\nLua>|"
            << "if x then\n      y\n      end;";
        QTest::newRow("keypad enter inserts a plain break") << "a<Num+Enter>b<Return>" << "Lua>a\nb\nLua>|" << "a\nb;";
        QTest::newRow("the same command twice in a row is stored once")
            << "Q<Return>P<Return>P<Return><Ctrl+Up><Ctrl+Up>" << "Lua>Q\nLua>P\nLua>P\nLua>Q|" << "Q;P;P;";
        QTest::newRow("browsing stops at the oldest entry") << "<Ctrl+Up>P<Return>Q<Return><Ctrl+Up><Ctrl+Up><Ctrl+Up>"
            << "Lua>P\nLua>Q\nLua>P|" << "P;Q;";
        QTest::newRow("and at the newest") << "P<Return>Q<Return><Ctrl+Up><Ctrl+Up><Ctrl+Down><Ctrl+Down>"
            << "Lua>P\nLua>Q\nLua>Q|" << "P;Q;";
        QTest::newRow("escape brings back what was typed before browsing")
            << "P<Return>Q<Return>abc<Ctrl+Up><Ctrl+Up><Escape>" << "Lua>P\nLua>Q\nLua>abc|" << "P;Q;";
        QTest::newRow("an edited entry is kept for escape")
            << "P<Return>Q<Return><Ctrl+Up>!<Ctrl+Up><Escape>" << "Lua>P\nLua>Q\nLua>Q!|" << "P;Q;";
        QTest::newRow("a submission forgets the typed text") << "P<Return>abc<Ctrl+Up><Return>xyz<Escape>"
            << "Lua>P\nLua>P\nLua>|" << "P;P;";
        QTest::newRow("an empty submission starts browsing from the newest again")
            << "P<Return>Q<Return><Ctrl+Up><Ctrl+Up><Escape><Return><Ctrl+Up>" << "Lua>P\nLua>Q\nLua>\nLua>Q|" << "P;Q;;";
        QTest::newRow("home on the prompt line goes to the input start") << "abc<Left><Home><Home>" << "Lua>|abc" << "";
        QTest::newRow("shift+home selects; backspace there deletes nothing") << "abc<Shift+Home><Backspace>" << "Lua>|abc^" << "";
        QTest::newRow("down clears the selection") << "abc<Shift+Home><Down>" << "Lua>|abc" << "";
        QTest::newRow("home on an indented line: the indent, then the line start")
            << "x<Ctrl+Return>yz<End><Home><Home>" << "Lua>x\n|    yz" << "";
        QTest::newRow("shift+home there selects to the indent") << "x<Ctrl+Return>yz<Shift+Home>" << "Lua>x\n    |yz^" << "";
        QTest::newRow("home follows the line's own indentation")
            << "x<Ctrl+Return><Backspace><Backspace>y<Home>" << "Lua>x\n  |y" << "";
        QTest::newRow("home on an earlier prompt line goes to the current input") << "a<Return>b<@1><Home>" << "Lua>a\nLua>|b" << "a;";
        QTest::newRow("backspace at the input start deletes nothing") << "<Backspace>" << "Lua>|" << "";
        QTest::newRow("keys in the scrollback move the caret but change nothing")
            << "a<Return>b<Up><Left><Left><Left>zz\t<Backspace><Ctrl+Return><Shift+Insert><Ctrl+V><Shift+Delete><End>"
            << "Lua>a|\nLua>b" << "a;";
        QTest::newRow("typing over a selection into the scrollback replaces only the input part")
            << "abc<Return>xy<@2:14>q" << "Lua>abc\nLua>q|" << "abc;";
        QTest::newRow("word deletion stops at the input start") << "  <Ctrl+Backspace>" << "Lua>|" << "";
        QTest::newRow("one undo takes back one edit") << "ab<Ctrl+Return>cd<Ctrl+Z>" << "Lua>ab\n    |" << "";
        QTest::newRow("undo stops at the prompt") << "abc<Return>xy<Ctrl+Z><Ctrl+Z><Ctrl+Z>" << "Lua>abc\nLua>|" << "abc;";
        QTest::newRow("a typed or pasted prompt is part of the input")
            << "x Lua> y<Shift+Insert><Return>" << "Lua>x Lua> ypasted\nLua>|" << "x Lua> ypasted;";
    }
    void keys()
    {
        QFETCH(QString, script);
        Play(script);
        QTEST(Shown(), "shown");
        QString commands;
        for (const QList<QVariant>& args : *spy)
            commands += args.at(0).toString() + ';';
        QTEST(commands, "commands");
    }

    // Drops, like the middle button, put plain text where they land, or at the end of the input
    // when that is the scrollback; an empty clipboard pastes nothing.
    void pastesAndDropsTakePlainTextIntoTheInputOnly()
    {
        Play("abc<Return>xy<Left>");
        QMimeData html, image;
        html.setHtml("<b style='font-size:30pt'>bold</b>");
        html.setText("plain");
        image.setImageData(QImage(4, 4, QImage::Format_RGB32));
        for (const auto& [data, pos] : {std::pair{&html, 13}, std::pair{&image, 13}, std::pair{&html, 1}}) {
            QDropEvent drop(PointOf(pos), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            edit->dropEvent(&drop);
        }
        QGuiApplication::clipboard()->setMimeData(new QMimeData);
        QVERIFY(!edit->canPaste());  // nor does the context menu offer to
        // Nor do the toolkit's own ways in (input methods, accessibility) take markup.
        QVERIFY(!edit->acceptRichText());
        Play("<Ctrl+V><Shift+Insert>");
        QCOMPARE(Shown(), "Lua>abc\nLua>xplainyplain|");
        // The console's own font: monospaced at 8 points, pasted text included.
        for (int pos : {1, 15}) {
            QTextCursor at(edit->document());
            at.setPosition(pos);
            const QFont font = at.charFormat().font();
            QVERIFY(font.pointSize() == 8 && font.weight() == QFont::Normal);
            QCOMPARE(QFontMetrics(font).horizontalAdvance("iiii"), QFontMetrics(font).horizontalAdvance("MMMM"));
        }
    }

    // A pasted line too long to lay out at once shows folded, yet runs, comes back from the
    // history and copies whole, with a key typed right after the fold.
    void longLinesAreFoldedButKeptWhole()
    {
        const QString line = "s = '" + QString(30000, 'x') + "'";
        QGuiApplication::clipboard()->setText(line);
        Play("<Ctrl+V>");
        QCOMPARE(edit->toPlainText().contains(QString(5000, 'x')), false);
        Play(QString("<@%1>!<Return><Ctrl+Up><Return><Ctrl+A><Ctrl+C>").arg(edit->toPlainText().indexOf(QChar(0xfffc)) + 1));
        const QString typed = QString(line).insert(line.size() - 1000, '!');
        QCOMPARE(spy->last().at(0).toString(), typed);
        QCOMPARE(QGuiApplication::clipboard()->text(), "Lua>" + typed + "\nLua>" + typed + "\nLua>");

        // So are very many lines: the first and last hundred show.
        const auto lines = [](int count) {
            QStringList lines;
            for (int i = 0; i < count; ++i)
                lines << QString("n = %1").arg(i);
            return lines.join('\n');
        };
        edit->clear();
        QGuiApplication::clipboard()->setText(lines(5000));
        Play("<Ctrl+V><Return>");
        QCOMPARE(edit->document()->blockCount(), 100 + 1 + 100 + 1);
        QCOMPARE(spy->last().at(0).toString(), lines(5000));
        // Folded from more than 10,000 characters on a line, and from more than 1,000 lines.
        for (const auto& [text, folded] : {std::pair{QString(10000, 'x'), false}, std::pair{QString(10001, 'x'), true},
                                           std::pair{lines(1000), false}, std::pair{lines(1001), true}}) {
            edit->clear();
            QGuiApplication::clipboard()->setText(text);
            Play("<Ctrl+V>");
            QCOMPARE(edit->toPlainText().contains(QChar(0xfffc)), folded);
        }
    }

    // The named actions the context menu enables for the selection the script leaves.
    QStringList EnabledInContextMenu(const QString& script)
    {
        Play(script);
        QStringList enabled;
        QTimer::singleShot(0, this, [&] {
            QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            for (QAction* action : menu->actions())
                if (action->isEnabled() && !action->objectName().isEmpty())
                    enabled << action->objectName();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, PointOf(1), edit->mapToGlobal(PointOf(1)));
        QApplication::sendEvent(edit->viewport(), &event);
        return enabled;
    }

    // A selection that starts in the scrollback cannot be edited from the menu; one that starts
    // right at the input start can.
    void theContextMenuDoesNotEditTheScrollback()
    {
        QCOMPARE(EnabledInContextMenu("abc<Return>x<@7:13>"), QStringList({"edit-copy", "edit-paste", "select-all"}));
        QCOMPARE(EnabledInContextMenu("<@12:13>"),
                 QStringList({"edit-undo", "edit-cut", "edit-copy", "edit-paste", "edit-delete", "select-all"}));
    }

    // Red at the input start, blue at the indentation point (over red on the prompt line), green
    // before the partner of the bracket at the caret; none with the caret in the scrollback.
    void markers_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("colour");
        QTest::addColumn<int>("at");  // after the last input start; -1 for anywhere
        QTest::addColumn<bool>("drawn");
        QTest::newRow("no partner to mark yet") << "f((a)b)<Home>" << int(Qt::green) << -1 << false;
        QTest::newRow("before an outer bracket its partner") << "f((a)b)<Home><Right>" << int(Qt::green) << 6 << true;
        QTest::newRow("not the inner one") << "f((a)b)<Home><Right>" << int(Qt::green) << 4 << false;
        QTest::newRow("a typed bracket, brackets in strings count") << "f(\"(\",)" << int(Qt::green) << 3 << true;
        QTest::newRow("the next key clears it") << "f(\"(\",)<End>" << int(Qt::green) << -1 << false;
        QTest::newRow("placed before a typed bracket went in") << "a)<Left>(" << int(Qt::green) << 2 << true;
        QTest::newRow("no partner before the input start") << "f(<Return>1)" << int(Qt::green) << -1 << false;
        QTest::newRow("blue on the prompt line") << "" << int(Qt::blue) << 0 << true;
        QTest::newRow("covering red") << "x" << int(Qt::red) << -1 << false;
        QTest::newRow("red on a continuation line") << "x<Ctrl+Return>y" << int(Qt::red) << 0 << true;
        QTest::newRow("blue after its indent") << "x<Ctrl+Return>y" << int(Qt::blue) << 6 << true;
        QTest::newRow("not at its start") << "x<Ctrl+Return>y" << int(Qt::blue) << 2 << false;
        for (Qt::GlobalColor colour : {Qt::red, Qt::blue, Qt::green})
            QTest::addRow("none in the scrollback %d", colour) << "(1)<Return><@3><Right>" << int(colour) << -1 << false;
    }
    void markers()
    {
        QFETCH(QString, script);
        QFETCH(int, colour);
        QFETCH(int, at);
        Play(script);
        const QImage image = edit->viewport()->grab().toImage();
        QRect area = image.rect();
        if (at >= 0) {
            QTextCursor cursor(edit->document());
            cursor.setPosition(int(edit->toPlainText().lastIndexOf("Lua>")) + 4 + at);
            area = edit->cursorRect(cursor).adjusted(-1, -1, 1, 1) & image.rect();
        }
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += image.pixelColor(x, y) == QColor(Qt::GlobalColor(colour));
        QTEST(count > 0, "drawn");
    }

};

QTEST_MAIN(REPLEditTest)
#include "repledit_test.moc"
