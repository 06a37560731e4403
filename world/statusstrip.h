#pragma once
// The strip along the bottom edge of the view: what is wrong with the script now, a line for each
// failing part and the newest on top, or else the music's time while it is paused and for a
// moment after a jump. The view draws it over the finished frame; while it has nothing to say it
// draws nothing and touches no GL state.

#include <QColor>
#include <QFont>
#include <QString>

#include <memory>
#include <vector>

#include "world/glyphatlas.h"
#include "world/textlabel.h"

class QFontMetrics;

class StatusStrip {
public:
    struct Text {
        QString message;
        // For an error of update() or render(): how many frames in a row have failed, or what
        // runs in its place.
        QString count;
        bool error = false;
    };

    StatusStrip();
    // The strip's textures go with it: the view's context must be current.
    ~StatusStrip();

    // What the strip says now, a line each, the top one first; none while it is hidden.
    static std::vector<Text> Lines();
    // The top line: an empty message while the strip is hidden.
    static Text Current();
    // A line shown for a few seconds after the music's time, where no error is: what a key did.
    static void ShowNotice(const QString& notice);
    // Cuts the message with an ellipsis to fit width pixels beside the count; drops the count
    // when too little would be left of the message.
    static void Fit(Text& text, const QFontMetrics& metrics, int width);
    // Draws along the bottom of the current viewport, over whatever is there, and leaves the GL
    // state as it found it.
    void Draw(qreal devicePixelRatio);

private:
    // What one line has drawn.
    struct Line {
        // The error message was last fitted for this message, length of count, view width and
        // ratio.
        QString fittedMessage;
        int fittedCountLength = -1;
        int fittedWidth = -1;
        qreal fittedRatio = 0;
        bool countShown = false;
        TextLabel message;
        // A count or a time changes on every frame: its digits come from the atlas.
        QString number;
        TextLabel words;
    };

    // The labels and the glyphs for this text, at this view's width and this strip's height;
    // needs the overlays' GL state.
    void Prepare(Line& line, const Text& text, int width, int height);
    // The message, then the tail (the digits and the words after them), each run opaque, with
    // the band in the padding before, between and after the runs, from height y up.
    void DrawBandAndText(const Line& line, int y, int height) const;

    QFont font;
    GlyphAtlas digits;
    std::vector<std::unique_ptr<Line>> lines;
    QColor band;
    qreal ratio = 1;
};
