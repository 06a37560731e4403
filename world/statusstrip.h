#pragma once
// The strip along the bottom edge of the view: the script's latest error, or else the music's
// time while it is paused and for a moment after a jump. The view draws it over the finished
// frame; while it has nothing to say it draws nothing and touches no GL state.

#include <QColor>
#include <QFont>
#include <QSize>
#include <QString>

class QFontMetrics;

class StatusStrip {
public:
    struct Text {
        QString message;
        // For an error of update() or render(): how many frames in a row have failed.
        QString count;
        bool error = false;
        bool operator==(const Text& other) const;
    };

    StatusStrip();
    // Frees the strip's texture: the view's context must be current.
    ~StatusStrip();

    // What the strip says now: an empty message while it is hidden.
    static Text Current();
    // Cuts the message with an ellipsis to fit width pixels beside the count; drops the count
    // when too little would be left of the message.
    static void Fit(Text& text, const QFontMetrics& metrics, int width);
    // Draws along the bottom of the current viewport, over whatever is there, and leaves the GL
    // state as it found it. Each piece of text is laid out once per change of what it says or of
    // the size, into a texture just large enough for it.
    void Draw(qreal devicePixelRatio);

private:
    struct Label {
        QString text;
        QSize size;
        QColor band;
        unsigned texture = 0;
    };
    void SetLabel(Label& label, const QString& text, const QColor& colour, const QColor& band, int height,
                  qreal devicePixelRatio);
    static void DrawQuad(int x, int width, int height);

    QFont font;
    Text shown;
    QSize shownSize;
    qreal shownRatio = 0;
    Label message;
    Label count;
};
