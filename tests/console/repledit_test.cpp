#include "console/repledit.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>

#include <memory>

static const QString kPrompt = QStringLiteral("Lua>");
static constexpr auto kCtrl = Qt::ControlModifier;

class REPLEditTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<REPLEdit> edit;
    std::unique_ptr<QSignalSpy> spy;
    bool ownerAnswers = true;

    void Type(const QString& text) { QTest::keyClicks(edit.get(), text); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int times = 1)
    {
        while (times-- > 0)
            QTest::keyClick(edit.get(), key, modifiers);
    }
    void Submit(const QString& text) { Type(text); Key(Qt::Key_Return); }
    QString Doc() const { return edit->toPlainText(); }
    int InputStart() const { return int(Doc().lastIndexOf(kPrompt) + kPrompt.length()); }
    QString Input() const { return Doc().mid(InputStart()); }
    int Caret() const { return edit->textCursor().position(); }
    QString LastCommand() const { return spy->last().at(0).toString(); }
    // Where a mouse click would put the caret.
    void PlaceCaret(int pos)
    {
        QTextCursor caret = edit->textCursor();
        caret.setPosition(pos);
        edit->setTextCursor(caret);
    }
    QImage Grab() const { return edit->viewport()->grab().toImage(); }
    // Pixels of exactly this colour, around the cursor rectangle at pos or (pos < 0) anywhere.
    int Pixels(const QImage& image, Qt::GlobalColor colour, int pos = -1) const
    {
        QRect area = image.rect();
        if (pos >= 0) {
            QTextCursor cursor(edit->document());
            cursor.setPosition(pos);
            area = edit->cursorRect(cursor).adjusted(-1, -1, 1, 1) & image.rect();
        }
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += image.pixelColor(x, y) == QColor(colour);
        return count;
    }

private slots:
    void init()
    {
        edit = std::make_unique<REPLEdit>();
        edit->resize(400, 300);
        edit->show();
        QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
        edit->clearFocus(); // no blinking caret over the markers
        spy = std::make_unique<QSignalSpy>(edit.get(), &REPLEdit::CommandEntered);
        ownerAnswers = true;
        connect(edit.get(), &REPLEdit::CommandEntered, this, [this] { if (ownerAnswers) edit->ShowPrompt(); });
    }
    void cleanup() { spy.reset(); edit.reset(); }

    // --- submission ---
    void emptyInputSubmitsEmptyCommand()
    {
        Key(Qt::Key_Return);
        QCOMPARE(spy->count(), 1);
        QCOMPARE(LastCommand(), QString());
        QCOMPARE(Doc(), "Lua>\nLua>");
    }
    void returnSubmitsWholeInputFromScrollbackAndWithShift()
    {
        Submit("a=1");
        Type("b=2");
        PlaceCaret(0);
        Key(Qt::Key_Return);
        QCOMPARE(LastCommand(), "b=2");
        Type("c");
        Key(Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(LastCommand(), "c");
        QCOMPARE(Doc(), "Lua>a=1\nLua>b=2\nLua>c\nLua>");
    }
    void tabBecomesThreeSpacesOnSubmit()
    {
        Type("\tx");
        QCOMPARE(Input(), "\tx");
        Key(Qt::Key_Return);
        QCOMPARE(LastCommand(), "   x");
        QCOMPARE(Doc(), "Lua>   x\nLua>");
    }
    void ctrlReturnIndentsAndLinesJoinWithNewlines()
    {
        Type("if x then");
        Key(Qt::Key_Return, kCtrl);
        QCOMPARE(Input(), "if x then\n    ");
        Type("  y");
        Key(Qt::Key_Return, kCtrl | Qt::ShiftModifier);
        QCOMPARE(Input(), "if x then\n      y\n      ");
        QCOMPARE(spy->count(), 0);
        Submit("end");
        QCOMPARE(LastCommand(), "if x then\n      y\n      end");
    }
    void keypadEnterInsertsPlainBreak()
    {
        Type("a");
        Key(Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(spy->count(), 0);
        QCOMPARE(Input(), "a\n");
        Submit("b");
        QCOMPARE(LastCommand(), "a\nb");
    }
    // --- history ---
    void consecutiveDuplicatesStoredOnce()
    {
        for (const char* cmd : {"Q", "P", "P"})
            Submit(cmd);
        Key(Qt::Key_Up, kCtrl, 2);
        QCOMPARE(Input(), "Q");
    }
    void browsingClampsAtOldestAndNewest()
    {
        Key(Qt::Key_Up, kCtrl);
        QCOMPARE(Input(), QString());
        for (const char* cmd : {"P", "Q", "R"})
            Submit(cmd);
        QStringList seen;
        for (int i = 0; i < 7; ++i) {
            Key(i < 4 ? Qt::Key_Up : Qt::Key_Down, kCtrl);
            seen << Input();
        }
        QCOMPARE(seen, QStringList({"R", "Q", "P", "P", "Q", "R", "R"}));
    }
    void escapeRestoresTypedTextOrEmptiesInput()
    {
        Type("typed");
        Key(Qt::Key_Escape);
        QCOMPARE(Input(), QString());
        Submit("P");
        Submit("Q");
        Type("abc");
        Key(Qt::Key_Up, kCtrl, 2);
        QCOMPARE(Input(), "P");
        Key(Qt::Key_Escape);
        QCOMPARE(Input(), "abc");
        Submit("");
        Type("xyz");
        Key(Qt::Key_Escape);
        QCOMPARE(Input(), QString());
    }
    // --- smart Home ---
    void homeOnPromptLineGoesToInputStart()
    {
        Type("abc");
        Key(Qt::Key_Left);
        Key(Qt::Key_Home, Qt::NoModifier, 2);
        QCOMPARE(Caret(), InputStart());
        Key(Qt::Key_End);
        Key(Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(Caret(), InputStart());
        QCOMPARE(edit->textCursor().selectedText(), "abc");
        Key(Qt::Key_Backspace); // the caret at the input start protects the prompt
        QCOMPARE(Doc(), "Lua>abc");
        Key(Qt::Key_Down); // nothing to move to, but the selection goes
        QVERIFY(!edit->textCursor().hasSelection());
    }
    void homeOnIndentedLineGoesToIndentThenLineStart()
    {
        Type("x");
        Key(Qt::Key_Return, kCtrl);
        Type("yz");
        const int lineStart = InputStart() + 2;
        Key(Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(Caret(), lineStart + 4);
        QCOMPARE(edit->textCursor().selectedText(), "yz");
        Key(Qt::Key_End);
        Key(Qt::Key_Home);
        QCOMPARE(Caret(), lineStart + 4);
        Key(Qt::Key_Home);
        QCOMPARE(Caret(), lineStart);
    }
    void homeOnEarlierPromptLineGoesToCurrentInputStart()
    {
        Submit("a");
        Type("b");
        PlaceCaret(1);
        Key(Qt::Key_Home);
        QCOMPARE(Caret(), InputStart());
    }
    // --- protection ---
    void scrollbackCannotBeEditedButCaretMoves()
    {
        Key(Qt::Key_Backspace);
        QCOMPARE(Doc(), kPrompt);
        Submit("a");
        Type("b");
        const QString before = Doc();
        Key(Qt::Key_Up);
        Key(Qt::Key_Left, Qt::NoModifier, 3);
        QCOMPARE(Caret(), 2);
        Type("zz\t");
        Key(Qt::Key_Backspace);
        Key(Qt::Key_Return, kCtrl);
        QCOMPARE(Doc(), before);
        Key(Qt::Key_End);
        QCOMPARE(Caret(), 5);
    }
    void editsThatReachBackStopAtTheInput()
    {
        QGuiApplication::clipboard()->setText("pasted");
        Submit("abc");
        const QString scrollback = Doc();
        Type("xy");
        // A selection from the scrollback into the input: typing replaces only its input part.
        QTextCursor selection = edit->textCursor();
        selection.setPosition(2);
        selection.setPosition(Doc().length(), QTextCursor::KeepAnchor);
        edit->setTextCursor(selection);
        Type("q");
        QCOMPARE(Doc(), scrollback + "q");
        // Word deletion stops at the input start.
        Key(Qt::Key_Backspace, kCtrl, 3);
        QCOMPARE(Doc(), scrollback);
        // Undo reaches back no further than the prompt.
        Key(Qt::Key_Z, kCtrl, 5);
        QVERIFY(Doc().startsWith(scrollback));
        Key(Qt::Key_Y, kCtrl, 5);
        QVERIFY(Doc().startsWith(scrollback));
        // Pasting and cutting with the caret in the scrollback change nothing.
        const QString before = Doc();
        PlaceCaret(1);
        Key(Qt::Key_Insert, Qt::ShiftModifier);
        Key(Qt::Key_V, kCtrl);
        Key(Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(Doc(), before);
    }
    void keysDroppedWhileBusy()
    {
        ownerAnswers = false;
        Submit("run()");
        const QString busy = Doc();
        Type("x");
        Key(Qt::Key_Backspace);
        Key(Qt::Key_Return);
        QCOMPARE(Doc(), busy);
        QCOMPARE(spy->count(), 1);
        edit->ShowPrompt();
        Submit("y");
        QCOMPARE(LastCommand(), "y");
    }
    // --- finding the prompt ---
    void typedPromptInAnyCaseMovesInputStart()
    {
        Submit("x lua> y");
        QCOMPARE(LastCommand(), " y");
    }
    void newPromptTextMakesWholeDocumentInput()
    {
        edit->SetPrompt("Py>");
        QCOMPARE(Doc(), kPrompt);
        PlaceCaret(0);
        Submit("1");
        QCOMPARE(LastCommand(), "1Lua>");
        QCOMPARE(Doc(), "1Lua>\nPy>");
        Submit("2");
        QCOMPARE(LastCommand(), "2");
    }
    // --- bracket matching (the green marker stands before the partner) ---
    void arrowBeforeOuterBracketMarksOuterPartner()
    {
        Type("f((a)b)");
        Key(Qt::Key_Home);
        QCOMPARE(Pixels(Grab(), Qt::green), 0);
        Key(Qt::Key_Right);
        const QImage image = Grab();
        QVERIFY(Pixels(image, Qt::green, InputStart() + 6) > 0);
        QCOMPARE(Pixels(image, Qt::green, InputStart() + 4), 0);
    }
    void typedClosingBracketMarksOpeningEvenInString()
    {
        Type("f(\"(\",)");
        const QImage image = Grab();
        QVERIFY(Pixels(image, Qt::green, InputStart() + 3) > 0);
        QCOMPARE(Pixels(image, Qt::green, InputStart() + 1), 0);
        Key(Qt::Key_End); // the next key press clears it
        QCOMPARE(Pixels(Grab(), Qt::green), 0);
    }
    void typedOpeningBracketMarksFollowingClosing()
    {
        Type("a)");
        Key(Qt::Key_Left);
        QCOMPARE(Pixels(Grab(), Qt::green), 0);
        Type("(");
        QCOMPARE(Input(), "a()");
        // Placed before the "(" went in, the mark still stands before ")".
        const QImage image = Grab();
        QVERIFY(Pixels(image, Qt::green, InputStart() + 2) > 0);
        QCOMPARE(Pixels(image, Qt::green, InputStart() + 1), 0);
    }
    void partnerBeforeInputStartIsNotFound()
    {
        Submit("f(");
        Type("1)");
        const QImage image = Grab();
        QCOMPARE(Pixels(image, Qt::green), 0);
        QVERIFY(Pixels(image, Qt::blue, InputStart()) > 0);
    }
    // --- markers ---
    void promptLineDrawsBlueOverRed()
    {
        Type("x");
        const QImage image = Grab();
        QVERIFY(Pixels(image, Qt::blue, InputStart()) > 0);
        QCOMPARE(Pixels(image, Qt::red), 0);
    }
    void continuationLineDrawsBlueAfterIndent()
    {
        Type("x");
        Key(Qt::Key_Return, kCtrl);
        Type("y");
        const QImage image = Grab();
        const int lineStart = InputStart() + 2;
        QVERIFY(Pixels(image, Qt::red, InputStart()) > 0);
        QVERIFY(Pixels(image, Qt::blue, lineStart + 4) > 0);
        QCOMPARE(Pixels(image, Qt::blue, lineStart), 0);
    }
    void noMarkersWithCaretInScrollback()
    {
        Submit("(1)");
        PlaceCaret(3);
        Key(Qt::Key_Right); // before "(": its partner is found but not drawn
        const QImage image = Grab();
        for (Qt::GlobalColor colour : {Qt::red, Qt::blue, Qt::green})
            QCOMPARE(Pixels(image, colour), 0);
    }
    void fontIsMonospace()
    {
        QTextCursor prompt(edit->document());
        prompt.setPosition(1);
        const QFont font = prompt.charFormat().font();
        QCOMPARE(font.pointSize(), 8);
        QCOMPARE(QFontMetrics(font).horizontalAdvance("iiii"), QFontMetrics(font).horizontalAdvance("MMMM"));
    }
};

QTEST_MAIN(REPLEditTest)
#include "repledit_test.moc"
