#pragma once
// The strip along the bottom edge of the view: the script's latest error, or else the music's
// time while it is paused and for a moment after a jump. The view draws it over the finished
// frame; while it has nothing to say it draws nothing and touches no GL state.

#include <QColor>
#include <QFont>
#include <QString>

#include <vector>

class QFontMetrics;
class QImage;

class StatusStrip {
public:
    struct Text {
        QString message;
        // For an error of update() or render(): how many frames in a row have failed.
        QString count;
        bool error = false;
    };

    StatusStrip();
    // Frees the strip's textures: the view's context must be current.
    ~StatusStrip();

    // What the strip says now: an empty message while it is hidden.
    static Text Current();
    // Cuts the message with an ellipsis to fit width pixels beside the count; drops the count
    // when too little would be left of the message.
    static void Fit(Text& text, const QFontMetrics& metrics, int width);
    // Draws along the bottom of the current viewport, over whatever is there, and leaves the GL
    // state as it found it.
    void Draw(qreal devicePixelRatio);

private:
    // Text drawn on the band into a texture as wide as the text and as high as the strip.
    struct Label {
        QString text;
        int width = 0;
        unsigned texture = 0;
    };
    void Prepare(const Text& text, int width, int height, qreal devicePixelRatio);
    QImage BandImage(int width) const;
    static void Upload(Label& label, const QImage& image);
    void SetLabel(Label& label, const QString& text, const QColor& ink);
    void DrawGlyphs();
    int NumberWidth() const;

    QFont font;
    // What the labels and the glyphs are drawn for.
    int height = 0;
    qreal ratio = 0;
    QColor band;
    // The error message was last fitted for this message, length of count and view width.
    QString fittedMessage;
    int fittedCountLength = -1;
    int fittedWidth = -1;
    bool countShown = false;
    Label message;
    // A count or a time changes on every frame: its digits come from the glyphs, drawn once.
    QString number;
    Label words;
    Label glyphs;
    // Where each glyph starts in the glyphs' texture, and where the last one ends.
    std::vector<int> glyphX;
};
