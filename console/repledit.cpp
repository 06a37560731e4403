#include "console/repledit.h"

#include <QAction>
#include <QColor>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFont>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPaintEvent>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>

#include "console/linefold.h"

static const char* const kDefaultPrompt = "Lua>";
static const char* const kFontFamily = "Courier New";
static constexpr int kFontPointSize = 8;
static const char* const kTabExpansion = "   ";
// QTextCursor::selectedText puts this between paragraphs instead of a newline.
static constexpr char16_t kParagraphSeparator = u'\u2029';

// Reads the character after the cursor and leaves the cursor behind it. Empty at the end.
static QString ReadNext(QTextCursor& cursor)
{
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    const QString text = cursor.selectedText();
    cursor.setPosition(cursor.selectionEnd());
    return text;
}

// Reads the character before the cursor and leaves the cursor in front of it.
static QString ReadPrevious(QTextCursor& cursor)
{
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    const QString text = cursor.selectedText();
    cursor.setPosition(cursor.selectionStart());
    return text;
}

static bool IsArrowKey(int key)
{
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

// Copying and selecting change nothing in the document, so they work wherever the caret is. On
// X their events carry a control character as text, which would otherwise count as typing.
static bool IsReadOnlyKey(QKeyEvent* event)
{
    return event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll);
}

// Keys that change the text at the caret or its selection.
static bool IsEditingKey(QKeyEvent* event)
{
    return !event->text().isEmpty() || event->key() == Qt::Key_Backspace
        || event->key() == Qt::Key_Delete || event->matches(QKeySequence::Cut)
        || event->matches(QKeySequence::Paste);
}

// The same selection cut down to its part from start on.
static QTextCursor ClampSelection(QTextCursor cursor, int start)
{
    const int position = cursor.position();
    cursor.setPosition(qMax(cursor.anchor(), start));
    cursor.setPosition(qMax(position, start), QTextCursor::KeepAnchor);
    return cursor;
}

// Context menu entries that change the selected text.
static const char* const kEditingActions[] = {"edit-undo", "edit-redo", "edit-cut", "edit-delete"};

REPLEdit::REPLEdit(QWidget* parent)
    : QTextEdit(parent),
      inputEnabled(false),
      inputStart(document()),
      caretOnPromptLine(false),
      caretInputPos(0),
      lineIndent(0),
      historyIndex(0),
      prompt(QString::fromLatin1(kDefaultPrompt)),
      matchShown(false)
{
    lineIndent = int(prompt.length());

    // The hint keeps the console monospaced where the named family is not installed.
    QFont font(QString::fromLatin1(kFontFamily), kFontPointSize);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setCurrentFont(font);
    setAcceptRichText(false);
    LineFold::Install(document());

    append(prompt);
    inputStart.setKeepPositionOnInsert(true);
    inputStart.movePosition(QTextCursor::End);
    QTextCursor caret = textCursor();
    caret.movePosition(QTextCursor::End);
    setTextCursor(caret);
    document()->clearUndoRedoStacks();

    inputEnabled = true;
}

REPLEdit::~REPLEdit() = default;

void REPLEdit::SetPrompt(const QString& sPrompt)
{
    prompt = sPrompt;
    lineIndent = int(prompt.length());
}

void REPLEdit::ShowPrompt()
{
    inputEnabled = true;
    InsertAtEnd(QLatin1Char('\n') + prompt);
    inputStart.movePosition(QTextCursor::End);
    QTextCursor caret = textCursor();
    caret.movePosition(QTextCursor::End);
    setTextCursor(caret);
    // Undo reaches back no further than this prompt: the output and the prompt stay.
    document()->clearUndoRedoStacks();
}

void REPLEdit::ShowLine(const QString& sLine)
{
    QTextCursor above(inputStart.block());
    // Not an edit of the input: undo must not take it back.
    document()->setUndoRedoEnabled(false);
    above.insertText(sLine);
    above.insertBlock();
    document()->setUndoRedoEnabled(true);
    ensureCursorVisible();
}

void REPLEdit::SetHistory(const QStringList& entries)
{
    history = entries;
    historyIndex = int(history.size());
    savedInput.clear();
}

void REPLEdit::UpdateInputState()
{
    caretOnPromptLine = false;
    lineIndent = int(prompt.length());

    const QTextCursor caret = textCursor();
    caretInputPos = caret.position() - inputStart.position();

    QTextCursor probe = caret;
    probe.movePosition(QTextCursor::StartOfLine);
    probe.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, int(prompt.length()));
    if (probe.selectedText() == prompt) {
        caretOnPromptLine = true;
        return;
    }

    lineIndent = 0;
    probe = caret;
    probe.movePosition(QTextCursor::StartOfLine);
    while (ReadNext(probe) == QLatin1String(" "))
        ++lineIndent;
}

// A cursor of its own: inputStart's anchor moves on with the text typed at it.
QTextCursor REPLEdit::InputRegion()
{
    QTextCursor region(document());
    region.setPosition(inputStart.position());
    region.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    return region;
}

QString REPLEdit::GetInput()
{
    const QTextCursor region = InputRegion();
    QString text = LineFold::SelectedText(region);
    text.replace(QChar(kParagraphSeparator), QLatin1Char('\n'));
    text.replace(QLatin1Char('\t'), QLatin1String(kTabExpansion));
    return text;
}

void REPLEdit::ReplaceInput(const QString& sText)
{
    QTextCursor region = InputRegion();
    region.removeSelectedText();
    LineFold::InsertText(region, sText);
    ensureCursorVisible();
}

void REPLEdit::InsertAtEnd(const QString& sText)
{
    QTextCursor end = textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(sText);
    ensureCursorVisible();
}

QTextCursor REPLEdit::IndentCursor()
{
    QTextCursor indent = textCursor();
    indent.movePosition(QTextCursor::StartOfLine);
    indent.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, lineIndent);
    return indent;
}

// Browsing stops at the oldest and at the newest entry; the text being typed before browsing
// started is kept in savedInput for Escape, and so is a recalled entry that was edited.
void REPLEdit::BrowseHistory(bool older)
{
    if (history.isEmpty())
        return;
    const int size = int(history.size());
    const QString atIndex = historyIndex >= 0 && historyIndex < size ? history.at(historyIndex) : QString();
    historyIndex += older ? -1 : 1;
    historyIndex = qBound(0, historyIndex, size - 1);
    const QString entry = history.at(historyIndex);
    const QString current = GetInput();
    if (current != atIndex)
        savedInput = current;
    ReplaceInput(entry);
}

// A typed "(" is matched before it is inserted; matchCursor is live, so the insertion at the
// caret carries it along and it still stands before the partner afterwards.
void REPLEdit::MatchBracketForward(bool typed)
{
    QTextCursor work = textCursor();
    if (!typed)
        work.movePosition(QTextCursor::NextCharacter);
    int depth = -1;
    while (!work.atEnd()) {
        const QString c = ReadNext(work);
        if (c == QLatin1String("("))
            --depth;
        else if (c == QLatin1String(")"))
            ++depth;
        if (depth == 0)
            break;
    }
    work.movePosition(QTextCursor::PreviousCharacter);
    matchShown = depth == 0;
    if (matchShown)
        matchCursor = work;
}

// Never reads before the input start: the scrollback holds other commands' brackets.
void REPLEdit::MatchBracketBackward()
{
    QTextCursor work = textCursor();
    int depth = -1;
    while (work.position() > inputStart.position()) {
        const QString c = ReadPrevious(work);
        if (c == QLatin1String("("))
            ++depth;
        else if (c == QLatin1String(")"))
            --depth;
        if (depth == 0)
            break;
    }
    matchShown = depth == 0;
    if (matchShown)
        matchCursor = work;
}

void REPLEdit::keyPressEvent(QKeyEvent* event)
{
    // While a command runs (possibly in a nested event loop) keys are dropped, not queued.
    if (!inputEnabled)
        return;
    UpdateInputState();
    matchShown = false;
    HandleKey(event);
    // One repaint per handled key, so the markers follow the caret.
    viewport()->update();
}

// The scrollback stays as it is: a selection reaching back into it is cut at the input start
// before an edit replaces it, a backward word deletion stops there, and an undo that would change
// it is taken back.
bool REPLEdit::GuardScrollback(QKeyEvent* event)
{
    if (caretInputPos < 0)
        return false;
    const int start = inputStart.position();
    QTextCursor caret = textCursor();
    if (IsEditingKey(event) && caret.hasSelection() && caret.selectionStart() < start) {
        caret = ClampSelection(caret, start);
        setTextCursor(caret);
    }
    if (event->matches(QKeySequence::DeleteStartOfWord) && !caret.hasSelection()) {
        QTextCursor word = caret;
        word.movePosition(QTextCursor::PreviousWord, QTextCursor::KeepAnchor);
        if (word.position() < start) {
            word.setPosition(start, QTextCursor::KeepAnchor);
            word.removeSelectedText();
            return true;
        }
    }
    const bool isUndo = event->matches(QKeySequence::Undo);
    if (isUndo || event->matches(QKeySequence::Redo)) {
        const QString before = toPlainText().left(start);
        isUndo ? undo() : redo();
        if (!toPlainText().startsWith(before))
            isUndo ? redo() : undo();
        return true;
    }
    return false;
}

void REPLEdit::HandleKey(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool ctrl = modifiers & Qt::ControlModifier;

    if (IsReadOnlyKey(event)) {
        QTextEdit::keyPressEvent(event);
        return;
    }
    if (GuardScrollback(event))
        return;

    if (key == Qt::Key_ParenLeft)
        MatchBracketForward(true);
    else if (key == Qt::Key_ParenRight)
        MatchBracketBackward();

    if (key == Qt::Key_Home) {
        const QTextCursor::MoveMode mode =
            modifiers & Qt::ShiftModifier ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
        QTextCursor caret = textCursor();
        const int indentPos = IndentCursor().position();
        int target = -1;
        if (caretOnPromptLine)
            target = inputStart.position();
        else if (caret.position() != indentPos)
            target = indentPos;
        if (target >= 0) {
            caret.setPosition(target, mode);
            setTextCursor(caret);
            return;
        }
        // Already at the indentation point: QTextEdit takes the caret to the line start.
    }

    if (key == Qt::Key_Return) {
        if (ctrl) {
            if (caretInputPos >= 0) {
                insertPlainText(QLatin1Char('\n') + QString(lineIndent, QLatin1Char(' ')));
                ensureCursorVisible();
            }
            return;
        }
        const QString cmd = GetInput();
        ReplaceInput(cmd);
        inputEnabled = false;
        // Kept before it runs, so that a command that ends the program is kept too.
        if (!cmd.isEmpty() && (history.isEmpty() || history.last() != cmd)) {
            history.append(cmd);
            emit HistoryEntryAdded(cmd);
        }
        // The receiver runs the command and prints the next prompt before this returns.
        emit CommandEntered(cmd);
        historyIndex = int(history.size());
        savedInput.clear();
        return;
    }

    if (key == Qt::Key_Up && ctrl) {
        BrowseHistory(true);
        return;
    }
    if (key == Qt::Key_Down && ctrl) {
        BrowseHistory(false);
        return;
    }
    if (key == Qt::Key_Down && modifiers == Qt::NoModifier) {
        QTextCursor caret = textCursor();
        caret.clearSelection();
        setTextCursor(caret);
    }
    if (key == Qt::Key_Backspace && caretInputPos <= 0)
        return;
    if (key == Qt::Key_Escape)
        ReplaceInput(savedInput);

    // Shift+Insert pastes and Shift+Delete cuts without carrying any text.
    if ((!event->text().isEmpty() || IsEditingKey(event)) && caretInputPos < 0)
        return;
    QTextEdit::keyPressEvent(event);

    if (IsArrowKey(key)) {
        QTextCursor next = textCursor();
        next.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        const QString c = next.selectedText();
        if (c == QLatin1String("("))
            MatchBracketForward(false);
        else if (c == QLatin1String(")"))
            MatchBracketBackward();
    }
}

void REPLEdit::paintEvent(QPaintEvent* event)
{
    UpdateInputState();
    if (caretInputPos >= 0) {
        // The painter must end before QTextEdit opens its own on the viewport.
        QPainter painter(viewport());
        painter.eraseRect(viewport()->rect());
        const QRect inputRect = cursorRect(inputStart);
        const QRect indentRect = cursorRect(IndentCursor());
        painter.setPen(QColor(Qt::red));
        painter.drawRect(inputRect);
        painter.setPen(QColor(Qt::blue));
        painter.drawRect(indentRect);
        if (matchShown) {
            painter.setPen(QColor(Qt::green));
            painter.drawRect(cursorRect(matchCursor));
        }
    }
    QTextEdit::paintEvent(event);
}

bool REPLEdit::SelectionReachesScrollback()
{
    UpdateInputState();
    return textCursor().selectionStart() < inputStart.position();
}

bool REPLEdit::canInsertFromMimeData(const QMimeData* source) const
{
    return source && source->hasText() && !source->text().isEmpty();
}

// Pastes from the keyboard, the middle button and drops all arrive here, with the caret where
// the text is to go. Only plain text is taken, so it keeps the console's font; text aimed at the
// scrollback goes to the end of the input instead. QTextEdit's own handling is never reached: on
// this platform it crashes on an empty clipboard.
void REPLEdit::insertFromMimeData(const QMimeData* source)
{
    if (!canInsertFromMimeData(source))
        return;
    UpdateInputState();
    const int start = inputStart.position();
    QTextCursor caret = textCursor();
    if (caret.position() < start)
        caret.movePosition(QTextCursor::End);
    else
        caret = ClampSelection(caret, start);
    LineFold::InsertText(caret, source->text());
    setTextCursor(caret);
    ensureCursorVisible();
}

QMimeData* REPLEdit::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    data->setText(LineFold::SelectedText(textCursor()).replace(QChar(kParagraphSeparator), QLatin1Char('\n')));
    return data;
}

// Text dragged out of the scrollback is copied, never moved: a move would remove it there.
void REPLEdit::dropEvent(QDropEvent* event)
{
    if (event->source() && SelectionReachesScrollback())
        event->setDropAction(Qt::CopyAction);
    QTextEdit::dropEvent(event);
}

void REPLEdit::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    if (SelectionReachesScrollback()) {
        for (QAction* action : menu->actions())
            for (const char* name : kEditingActions)
                if (action->objectName() == QLatin1String(name))
                    action->setEnabled(false);
    }
    menu->exec(event->globalPos());
}
