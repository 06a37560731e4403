#pragma once
// Lines too long to lay out at once, shown folded: their first and last characters stay text,
// and the middle becomes one object character that draws as a box saying how many characters
// it holds. Text of very many lines is folded the same way, its middle lines in one object. The object's format keeps the text, so the input, the history and a copy get the
// whole line back.
//
// Why: a paragraph is laid out whole after every change in it, and QTextLayout takes time that
// grows with the square of a run of characters it finds no break in; a pasted line of 200 KB
// held the program for seconds, and even a line with spaces costs half a millisecond a KB.

#include <QObject>
#include <QSizeF>
#include <QTextObjectInterface>

class QPainter;
class QRectF;
class QString;
class QTextCursor;
class QTextDocument;
class QTextFormat;

class LineFold : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    // Makes the document draw folds; the document owns what this creates.
    static void Install(QTextDocument* document);
    // QTextCursor::insertText with the middle of every line longer than 10,000 characters folded,
    // and of a text of more than 1,000 lines all lines but the first and the last 100.
    static void InsertText(QTextCursor& cursor, const QString& text);
    // QTextCursor::selectedText with the whole text of each fold in its place.
    static QString SelectedText(const QTextCursor& cursor);

    QSizeF intrinsicSize(QTextDocument* document, int position, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* document, int position,
                    const QTextFormat& format) override;

private:
    explicit LineFold(QObject* parent);
};
