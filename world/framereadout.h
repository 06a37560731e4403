#pragma once
// The readout in the view's top right corner: frames a second and what the latest frame's
// update(), render() and the host's own drawing took, drawn as the status strip draws its text.
// Its words are drawn once; the figures come from number glyphs laid out once.

#include <QFont>
#include <QString>

#include "world/glyphatlas.h"
#include "world/textlabel.h"

class FrameMeter;

class FrameReadout {
public:
    FrameReadout();
    // The readout's textures go with it: the view's context must be current.

    // The readout's text as it is drawn, for a reader of the program's figures.
    static QString Text(const FrameMeter& meter);
    // Draws in the top right corner of the current viewport, over whatever is there, and leaves
    // the GL state as it found it. Nothing in a view lower than the readout.
    void Draw(const FrameMeter& meter, qreal devicePixelRatio);

private:
    static constexpr int kFigures = 4;
    // The figures, in the order of the words after them.
    static void Figures(const FrameMeter& meter, QString* figures);

    QFont font;
    GlyphAtlas digits;
    // The words after each figure.
    TextLabel words[kFigures];
};
