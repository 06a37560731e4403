#pragma once
// The Lua console pane: a scrollback that ends with the prompt and the command being typed.
// The input region starts where the last prompt shown ends; that place is kept as a cursor that
// follows the edits before it, so that no key or paint has to look for it in the document.

#include <QString>
#include <QStringList>
#include <QTextCursor>
#include <QTextEdit>
#include <QVector>

class QContextMenuEvent;
class QDropEvent;
class QKeyEvent;
class QMimeData;
class QPaintEvent;
class QWidget;

class REPLEdit : public QTextEdit
{
    Q_OBJECT

public:
    explicit REPLEdit(QWidget* parent = nullptr);
    ~REPLEdit() override;

    // Takes effect for the next ShowPrompt; a prompt already on screen keeps its old text.
    void SetPrompt(const QString& sPrompt);
    // Prints the prompt on a new line and accepts keys again.
    void ShowPrompt();
    // A line of output that comes while no command runs (a script's log()): shown above the
    // prompt, the input being typed left as it is.
    void ShowLine(const QString& sLine);
    // Replaces the history, oldest entry first; Ctrl+Up starts from the newest.
    void SetHistory(const QStringList& entries);

signals:
    // A submitted command that enters the history, emitted before CommandEntered.
    void HistoryEntryAdded(QString sEntry);
    // Emitted on Return with the whole input region; the keyboard stays ignored until the
    // receiver calls ShowPrompt.
    void CommandEntered(QString sCommand);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Pasted and dropped data: plain text only, and only into the input region.
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Copies and drags carry plain text, folded lines whole.
    QMimeData* createMimeDataFromSelection() const override;

private:
    void UpdateInputState();
    QTextCursor InputRegion();
    QString GetInput();
    void ReplaceInput(const QString& sText);
    void InsertAtEnd(const QString& sText);
    QTextCursor IndentCursor();
    void BrowseHistory(bool older);
    void MatchBracketForward(bool typed);
    void MatchBracketBackward();
    bool GuardScrollback(QKeyEvent* event);
    bool SelectionReachesScrollback();
    void HandleKey(QKeyEvent* event);

    bool inputEnabled;
    // Text inserted right at it belongs to the input and leaves its position where it is (its
    // anchor moves on: only the position counts).
    QTextCursor inputStart;
    bool caretOnPromptLine;
    int caretInputPos;
    int lineIndent;
    QVector<QString> history;
    int historyIndex;
    QString savedInput;
    QString prompt;
    bool matchShown;
    QTextCursor matchCursor;
};
