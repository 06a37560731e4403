#pragma once
// Overlay text drawn once into a texture on its band's colour and shown with one opaque quad, so
// that a frame that shows the same text again lays out none.

#include <QColor>
#include <QFont>
#include <QString>

class QImage;

// The font overlays are drawn in: the application's, sized in pixels so that the images it is
// drawn into lay it out as the screen would.
QFont OverlayFont();
// How many device pixels high a band of overlay text in that font is.
int OverlayBandHeight(const QFont& font, qreal devicePixelRatio);

// How an overlay's text looks: the font in logical pixels, the band behind the text and the ink,
// for a band this many device pixels high at this device pixel ratio.
struct TextStyle {
    QFont font;
    QColor band;
    QColor ink;
    int height = 0;
    qreal ratio = 1;
    bool operator==(const TextStyle& other) const;
    bool operator!=(const TextStyle& other) const { return !(*this == other); }

    // An image of the band this wide, for text to be painted on at the style's ratio.
    QImage Band(int width) const;
};

// A new texture for the image in the one given, the old one deleted. A new name for each image:
// the driver may still be drawing with the old one, and writing into it would make this frame
// wait for that. Needs the overlays' pixel store (SetupOverlayRenderState).
void UploadOverlayImage(unsigned& texture, const QImage& image);

class TextLabel {
public:
    TextLabel() = default;
    // Frees the texture: its context must be current.
    ~TextLabel();
    TextLabel(const TextLabel&) = delete;
    TextLabel& operator=(const TextLabel&) = delete;

    // Draws the text anew unless it and the style are those of the last call.
    void Set(const QString& text, const TextStyle& style);
    const QString& Text() const { return text; }
    // Device pixels across; 0 for no text.
    int Width() const { return width; }
    // The quad with its bottom left corner at (x, y), the band's height; nothing without text.
    // Binds the label's texture, with texturing on.
    void Draw(int x, int y) const;

private:
    QString text;
    TextStyle style;
    int width = 0;
    unsigned texture = 0;
};
