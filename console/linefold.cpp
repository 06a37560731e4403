#include "console/linefold.h"

#include <algorithm>

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QFontMetricsF>
#include <QList>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

static constexpr int kFoldObject = QTextFormat::UserObject + 1;
static constexpr int kFoldedText = QTextFormat::UserProperty;
// A line up to this long shows whole: laying it out after a key takes a few milliseconds.
static constexpr qsizetype kFoldAbove = 10000;
// What stays text at each end of a folded line.
static constexpr qsizetype kShownEnds = 1000;
// Text of more lines than this shows its first and last lines with a fold between: a paragraph
// costs some 20 microseconds to make and lay out, so 100,000 short lines held the program for
// seconds.
static constexpr qsizetype kFoldLinesAbove = 1000;
static constexpr qsizetype kShownLines = 100;
static constexpr qreal kLabelPadding = 3;

LineFold::LineFold(QObject* parent) : QObject(parent) {}

void LineFold::Install(QTextDocument* document)
{
    document->documentLayout()->registerHandler(kFoldObject, new LineFold(document));
}

// The characters QTextCursor::insertText starts a new paragraph at.
static bool IsParagraphBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

// An end that cuts no character in two: a surrogate pair stays together.
static qsizetype CharacterBoundary(const QString& text, qsizetype at)
{
    return at > 0 && text.at(at).isLowSurrogate() ? at - 1 : at;
}

static QTextCharFormat FoldFormat(const QTextCharFormat& plain, const QString& folded)
{
    QTextCharFormat fold = plain;
    fold.setObjectType(kFoldObject);
    fold.setProperty(kFoldedText, folded);
    return fold;
}

static void InsertFold(QTextCursor& cursor, const QTextCharFormat& plain, const QString& folded)
{
    cursor.insertText(QString(QChar::ObjectReplacementCharacter), FoldFormat(plain, folded));
}

// The text with the middle of each line longer than kFoldAbove folded.
static void InsertFoldingLongLines(QTextCursor& cursor, const QTextCharFormat& plain, const QString& text)
{
    qsizetype pending = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = start;
        while (end < text.size() && !IsParagraphBreak(text.at(end)))
            ++end;
        if (end - start > kFoldAbove) {
            const qsizetype foldStart = CharacterBoundary(text, start + kShownEnds);
            const qsizetype foldEnd = CharacterBoundary(text, end - kShownEnds);
            cursor.insertText(text.mid(pending, foldStart - pending), plain);
            InsertFold(cursor, plain, text.mid(foldStart, foldEnd - foldStart));
            pending = foldEnd;
        }
        start = end + 1;
    }
    cursor.insertText(text.mid(pending), plain);
}

// Where each line of the text starts.
static QList<qsizetype> LineStarts(const QString& text)
{
    QList<qsizetype> starts = {0};
    for (qsizetype i = 0; i < text.size(); ++i)
        if (IsParagraphBreak(text.at(i)))
            starts.append(i + 1);
    return starts;
}

// Lines past the first kShownLines, up to the last kShownLines, become one line holding a fold.
void LineFold::InsertText(QTextCursor& cursor, const QString& text)
{
    QTextCharFormat plain = cursor.charFormat();
    plain.clearProperty(QTextFormat::ObjectType);
    plain.clearProperty(kFoldedText);
    cursor.beginEditBlock();
    const QList<qsizetype> starts = LineStarts(text);
    if (starts.size() > kFoldLinesAbove) {
        const qsizetype foldStart = starts.at(kShownLines);
        // The line break before the last lines shown stays text.
        const qsizetype foldEnd = starts.at(starts.size() - kShownLines) - 1;
        InsertFoldingLongLines(cursor, plain, text.left(foldStart));
        InsertFold(cursor, plain, text.mid(foldStart, foldEnd - foldStart));
        InsertFoldingLongLines(cursor, plain, text.mid(foldEnd));
    } else {
        InsertFoldingLongLines(cursor, plain, text);
    }
    cursor.endEditBlock();
}

// Text typed right after a fold takes its format, so a fragment with the folded text may hold
// other characters too: only object characters stand for a fold.
QString LineFold::SelectedText(const QTextCursor& cursor)
{
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QString text;
    for (QTextBlock block = cursor.document()->findBlock(start); block.isValid() && block.position() <= end;
         block = block.next()) {
        if (block.position() > start)
            text += QChar::ParagraphSeparator;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = qMax(fragment.position(), start);
            const int to = qMin(fragment.position() + fragment.length(), end);
            if (from >= to)
                continue;
            const QString part = fragment.text().mid(from - fragment.position(), to - from);
            if (!fragment.charFormat().hasProperty(kFoldedText)) {
                text += part;
                continue;
            }
            const QString folded = fragment.charFormat().stringProperty(kFoldedText);
            for (const QChar c : part) {
                if (c == QChar::ObjectReplacementCharacter)
                    text += folded;
                else
                    text += c;
            }
        }
    }
    return text;
}

static QString Label(const QTextFormat& format)
{
    const QString folded = format.stringProperty(kFoldedText);
    const qsizetype lines = std::count_if(folded.begin(), folded.end(), IsParagraphBreak) + 1;
    if (lines > 1)
        return QString("[... %1 lines, %2 characters folded ...]").arg(lines).arg(folded.size());
    return QString("[... %1 characters folded ...]").arg(folded.size());
}

QSizeF LineFold::intrinsicSize(QTextDocument*, int, const QTextFormat& format)
{
    const QFontMetricsF metrics(format.toCharFormat().font());
    return QSizeF(metrics.horizontalAdvance(Label(format)) + 2 * kLabelPadding, metrics.ascent());
}

// Leaves the painter as it found it.
void LineFold::drawObject(QPainter* painter, const QRectF& rect, QTextDocument*, int, const QTextFormat& format)
{
    painter->save();
    painter->setPen(QColor(Qt::gray));
    painter->setFont(format.toCharFormat().font());
    painter->drawRect(rect.adjusted(0.5, 0.5, -0.5, -0.5));
    painter->drawText(rect, Qt::AlignCenter, Label(format));
    painter->restore();
}
