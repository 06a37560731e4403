#include "console/repledit.h"

#include <QFontMetrics>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>

#include <memory>

static const QString kPrompt = QStringLiteral("Lua>");

class REPLEditTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyInputSubmitsEmptyCommand();
    void returnSubmitsWholeInputFromScrollbackAndWithShift();
    void tabBecomesThreeSpacesOnSubmit();
    void ctrlReturnIndentsAndLinesJoinWithNewlines();
    void keypadEnterInsertsPlainBreak();

    void consecutiveDuplicatesStoredOnce();
    void browsingClampsAtOldestAndNewest();
    void escapeRestoresTypedTextOrEmptiesInput();

    void homeOnPromptLineGoesToInputStart();
    void homeOnIndentedLineGoesToIndentThenLineStart();
    void homeOnEarlierPromptLineGoesToCurrentInputStart();

    void scrollbackCannotBeEditedButCaretMoves();
    void keysDroppedWhileBusy();

    void typedPromptInAnyCaseMovesInputStart();
    void newPromptTextMakesWholeDocumentInput();

    void arrowBeforeOuterBracketMarksOuterPartner();
    void typedClosingBracketMarksOpeningEvenInString();
    void typedOpeningBracketMarksFollowingClosing();
    void partnerBeforeInputStartIsNotFound();

    void promptLineDrawsBlueOverRed();
    void continuationLineDrawsBlueAfterIndent();
    void noMarkersWithCaretInScrollback();
    void fontIsMonospace();

private:
    void Type(const QString& text) { QTest::keyClicks(edit.get(), text); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(edit.get(), key, modifiers);
    }
    void Submit(const QString& text)
    {
        Type(text);
        Key(Qt::Key_Return);
    }
    QString Input() const
    {
        const QString text = edit->toPlainText();
        return text.mid(text.lastIndexOf(kPrompt) + kPrompt.length());
    }
    // Where a mouse click would put the caret.
    void PlaceCaret(int pos)
    {
        QTextCursor caret = edit->textCursor();
        caret.setPosition(pos);
        edit->setTextCursor(caret);
    }
    int Caret() const { return edit->textCursor().position(); }
    int InputStart() const { return int(edit->toPlainText().lastIndexOf(kPrompt) + kPrompt.length()); }
    QString LastCommand() const { return spy->last().at(0).toString(); }
    QImage Grab() const { return edit->viewport()->grab().toImage(); }
    bool MarkerAt(const QImage& image, int pos, Qt::GlobalColor colour) const;
    static int CountColour(const QImage& image, Qt::GlobalColor colour);

    std::unique_ptr<REPLEdit> edit;
    std::unique_ptr<QSignalSpy> spy;
    bool ownerAnswers = true;
};

void REPLEditTest::init()
{
    edit = std::make_unique<REPLEdit>();
    edit->resize(400, 300);
    edit->show();
    QVERIFY(QTest::qWaitForWindowExposed(edit.get()));
    // Keeps the blinking caret from painting over the markers.
    edit->clearFocus();
    spy = std::make_unique<QSignalSpy>(edit.get(), &REPLEdit::CommandEntered);
    ownerAnswers = true;
    connect(edit.get(), &REPLEdit::CommandEntered, this, [this] {
        if (ownerAnswers)
            edit->ShowPrompt();
    });
}

void REPLEditTest::cleanup()
{
    spy.reset();
    edit.reset();
}

bool REPLEditTest::MarkerAt(const QImage& image, int pos, Qt::GlobalColor colour) const
{
    QTextCursor cursor(edit->document());
    cursor.setPosition(pos);
    const QRect area = edit->cursorRect(cursor).adjusted(-1, -1, 1, 1);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.rect().contains(x, y) && image.pixelColor(x, y) == QColor(colour))
                return true;
    return false;
}

int REPLEditTest::CountColour(const QImage& image, Qt::GlobalColor colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == QColor(colour);
    return count;
}

// --- submission ---

void REPLEditTest::emptyInputSubmitsEmptyCommand()
{
    Key(Qt::Key_Return);
    QCOMPARE(spy->count(), 1);
    QCOMPARE(LastCommand(), QString());
    QCOMPARE(edit->toPlainText(), QStringLiteral("Lua>\nLua>"));
    QCOMPARE(Caret(), int(edit->toPlainText().length()));
}

void REPLEditTest::returnSubmitsWholeInputFromScrollbackAndWithShift()
{
    Submit("a=1");
    Type("b=2");
    PlaceCaret(0);
    Key(Qt::Key_Return);
    QCOMPARE(LastCommand(), QStringLiteral("b=2"));

    Type("c");
    Key(Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(spy->count(), 3);
    QCOMPARE(LastCommand(), QStringLiteral("c"));
    QCOMPARE(edit->toPlainText(), QStringLiteral("Lua>a=1\nLua>b=2\nLua>c\nLua>"));
}

void REPLEditTest::tabBecomesThreeSpacesOnSubmit()
{
    Type("\tx");
    QCOMPARE(Input(), QStringLiteral("\tx"));
    Key(Qt::Key_Return);
    QCOMPARE(LastCommand(), QStringLiteral("   x"));
    QCOMPARE(edit->toPlainText(), QStringLiteral("Lua>   x\nLua>"));
}

void REPLEditTest::ctrlReturnIndentsAndLinesJoinWithNewlines()
{
    Type("if x then");
    Key(Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(Input(), QStringLiteral("if x then\n    "));
    Type("  y");
    Key(Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Input(), QStringLiteral("if x then\n      y\n      "));
    QCOMPARE(spy->count(), 0);
    Type("end");
    Key(Qt::Key_Return);
    QCOMPARE(LastCommand(), QStringLiteral("if x then\n      y\n      end"));
}

void REPLEditTest::keypadEnterInsertsPlainBreak()
{
    Type("a");
    Key(Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(spy->count(), 0);
    QCOMPARE(Input(), QStringLiteral("a\n"));
    Submit("b");
    QCOMPARE(LastCommand(), QStringLiteral("a\nb"));
}

// --- history ---

void REPLEditTest::consecutiveDuplicatesStoredOnce()
{
    Submit("Q");
    Submit("P");
    Submit("P");
    Key(Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(Input(), QStringLiteral("P"));
    Key(Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(Input(), QStringLiteral("Q"));
}

void REPLEditTest::browsingClampsAtOldestAndNewest()
{
    Key(Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(Input(), QString());
    Submit("P");
    Submit("Q");
    Submit("R");
    QStringList seen;
    for (int i = 0; i < 4; ++i) {
        Key(Qt::Key_Up, Qt::ControlModifier);
        seen << Input();
    }
    for (int i = 0; i < 3; ++i) {
        Key(Qt::Key_Down, Qt::ControlModifier);
        seen << Input();
    }
    QCOMPARE(seen, QStringList({"R", "Q", "P", "P", "Q", "R", "R"}));
    QCOMPARE(Caret(), int(edit->toPlainText().length()));
}

void REPLEditTest::escapeRestoresTypedTextOrEmptiesInput()
{
    Type("typed");
    Key(Qt::Key_Escape);
    QCOMPARE(Input(), QString());

    Submit("P");
    Submit("Q");
    Type("abc");
    Key(Qt::Key_Up, Qt::ControlModifier);
    Key(Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(Input(), QStringLiteral("P"));
    Key(Qt::Key_Escape);
    QCOMPARE(Input(), QStringLiteral("abc"));

    Submit("");
    Type("xyz");
    Key(Qt::Key_Escape);
    QCOMPARE(Input(), QString());
}

// --- smart Home ---

void REPLEditTest::homeOnPromptLineGoesToInputStart()
{
    Type("abc");
    Key(Qt::Key_Left);
    Key(Qt::Key_Home);
    QCOMPARE(Caret(), InputStart());
    Key(Qt::Key_Home);
    QCOMPARE(Caret(), InputStart());

    Key(Qt::Key_End);
    Key(Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(Caret(), InputStart());
    QCOMPARE(edit->textCursor().selectedText(), QStringLiteral("abc"));
    // The caret at the input start protects the prompt even with a selection behind it.
    Key(Qt::Key_Backspace);
    QCOMPARE(edit->toPlainText(), QStringLiteral("Lua>abc"));
    // Down on the last line moves nothing but still drops the selection.
    Key(Qt::Key_Down);
    QVERIFY(!edit->textCursor().hasSelection());
}

void REPLEditTest::homeOnIndentedLineGoesToIndentThenLineStart()
{
    Type("x");
    Key(Qt::Key_Return, Qt::ControlModifier);
    Type("yz");
    const int lineStart = InputStart() + 2;
    Key(Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(Caret(), lineStart + 4);
    QCOMPARE(edit->textCursor().selectedText(), QStringLiteral("yz"));
    Key(Qt::Key_End);
    Key(Qt::Key_Home);
    QCOMPARE(Caret(), lineStart + 4);
    Key(Qt::Key_Home);
    QCOMPARE(Caret(), lineStart);
}

void REPLEditTest::homeOnEarlierPromptLineGoesToCurrentInputStart()
{
    Submit("a");
    Type("b");
    PlaceCaret(1);
    Key(Qt::Key_Home);
    QCOMPARE(Caret(), InputStart());
}

// --- scrollback protection ---

void REPLEditTest::scrollbackCannotBeEditedButCaretMoves()
{
    Key(Qt::Key_Backspace);
    QCOMPARE(edit->toPlainText(), kPrompt);

    Submit("a");
    Type("b");
    const QString before = edit->toPlainText();
    Key(Qt::Key_Up);
    QCOMPARE(Caret(), 5);
    Key(Qt::Key_Left);
    Key(Qt::Key_Left);
    Key(Qt::Key_Left);
    QCOMPARE(Caret(), 2);
    Type("zz");
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Tab);
    Key(Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(edit->toPlainText(), before);
    QCOMPARE(Caret(), 2);
    Key(Qt::Key_End);
    QCOMPARE(Caret(), 5);
    Key(Qt::Key_Down);
    QVERIFY(Caret() > 5);
}

void REPLEditTest::keysDroppedWhileBusy()
{
    ownerAnswers = false;
    Submit("run()");
    const QString busy = edit->toPlainText();
    Type("x");
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Return);
    QCOMPARE(edit->toPlainText(), busy);
    QCOMPARE(spy->count(), 1);

    edit->ShowPrompt();
    Submit("y");
    QCOMPARE(LastCommand(), QStringLiteral("y"));
}

// --- finding the prompt ---

void REPLEditTest::typedPromptInAnyCaseMovesInputStart()
{
    Type("x lua> y");
    Key(Qt::Key_Return);
    QCOMPARE(LastCommand(), QStringLiteral(" y"));
}

void REPLEditTest::newPromptTextMakesWholeDocumentInput()
{
    edit->SetPrompt("Py>");
    QCOMPARE(edit->toPlainText(), kPrompt);
    PlaceCaret(0);
    Type("1");
    Key(Qt::Key_Return);
    QCOMPARE(LastCommand(), QStringLiteral("1Lua>"));
    QCOMPARE(edit->toPlainText(), QStringLiteral("1Lua>\nPy>"));
    Submit("2");
    QCOMPARE(LastCommand(), QStringLiteral("2"));
}

// --- bracket matching ---

void REPLEditTest::arrowBeforeOuterBracketMarksOuterPartner()
{
    Type("f((a)b)");
    const int start = InputStart();
    Key(Qt::Key_Home);
    QVERIFY(!CountColour(Grab(), Qt::green));
    Key(Qt::Key_Right);
    const QImage image = Grab();
    QVERIFY(MarkerAt(image, start + 6, Qt::green));
    QVERIFY(!MarkerAt(image, start + 4, Qt::green));
}

void REPLEditTest::typedClosingBracketMarksOpeningEvenInString()
{
    Type("f(\"(\",");
    Type(")");
    const QImage image = Grab();
    QVERIFY(MarkerAt(image, InputStart() + 3, Qt::green));
    QVERIFY(!MarkerAt(image, InputStart() + 1, Qt::green));
    // The marker lasts until the next key press.
    Key(Qt::Key_End);
    QVERIFY(!CountColour(Grab(), Qt::green));
}

void REPLEditTest::typedOpeningBracketMarksFollowingClosing()
{
    Type("a)");
    Key(Qt::Key_Left);
    QVERIFY(!CountColour(Grab(), Qt::green));
    Type("(");
    QCOMPARE(Input(), QStringLiteral("a()"));
    // The mark was placed before the insertion and still stands before ")".
    const QImage image = Grab();
    QVERIFY(MarkerAt(image, InputStart() + 2, Qt::green));
    QVERIFY(!MarkerAt(image, InputStart() + 1, Qt::green));
}

void REPLEditTest::partnerBeforeInputStartIsNotFound()
{
    Submit("f(");
    Type("1)");
    const QImage image = Grab();
    QCOMPARE(CountColour(image, Qt::green), 0);
    QVERIFY(CountColour(image, Qt::blue) > 0);
}

// --- markers ---

void REPLEditTest::promptLineDrawsBlueOverRed()
{
    Type("x");
    const QImage image = Grab();
    QVERIFY(MarkerAt(image, InputStart(), Qt::blue));
    QCOMPARE(CountColour(image, Qt::red), 0);
}

void REPLEditTest::continuationLineDrawsBlueAfterIndent()
{
    Type("x");
    Key(Qt::Key_Return, Qt::ControlModifier);
    Type("y");
    const QImage image = Grab();
    QVERIFY(MarkerAt(image, InputStart(), Qt::red));
    QVERIFY(MarkerAt(image, InputStart() + 2 + 4, Qt::blue));
    QVERIFY(!MarkerAt(image, InputStart() + 2, Qt::blue));
}

void REPLEditTest::noMarkersWithCaretInScrollback()
{
    Submit("(1)");
    PlaceCaret(3);
    // Stops before "(", whose partner is found but must not be drawn.
    Key(Qt::Key_Right);
    const QImage image = Grab();
    QCOMPARE(CountColour(image, Qt::red), 0);
    QCOMPARE(CountColour(image, Qt::blue), 0);
    QCOMPARE(CountColour(image, Qt::green), 0);
}

void REPLEditTest::fontIsMonospace()
{
    QTextCursor prompt(edit->document());
    prompt.setPosition(1);
    const QFont font = prompt.charFormat().font();
    QCOMPARE(font.pointSize(), 8);
    const QFontMetrics metrics(font);
    QCOMPARE(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("MMMM"));
}

QTEST_MAIN(REPLEditTest)
#include "repledit_test.moc"
