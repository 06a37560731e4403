#include "console/linefold.h"

#include <QAbstractTextDocumentLayout>
#include <QColor>
#include <QFontMetricsF>
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

void LineFold::InsertText(QTextCursor& cursor, const QString& text)
{
    QTextCharFormat plain = cursor.charFormat();
    plain.clearProperty(QTextFormat::ObjectType);
    plain.clearProperty(kFoldedText);
    cursor.beginEditBlock();
    qsizetype pending = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = start;
        while (end < text.size() && !IsParagraphBreak(text.at(end)))
            ++end;
        if (end - start > kFoldAbove) {
            const qsizetype foldStart = CharacterBoundary(text, start + kShownEnds);
            const qsizetype foldEnd = CharacterBoundary(text, end - kShownEnds);
            QTextCharFormat fold = plain;
            fold.setObjectType(kFoldObject);
            fold.setProperty(kFoldedText, text.mid(foldStart, foldEnd - foldStart));
            cursor.insertText(text.mid(pending, foldStart - pending), plain);
            cursor.insertText(QString(QChar::ObjectReplacementCharacter), fold);
            pending = foldEnd;
        }
        start = end + 1;
    }
    cursor.insertText(text.mid(pending), plain);
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
    const qsizetype size = format.stringProperty(kFoldedText).size();
    return QString("[... %1 characters folded ...]").arg(size);
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
