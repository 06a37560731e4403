// Distance fields of glyph outlines, by Felzenszwalb and Huttenlocher's distance transform.
#include "gpu/distancefield.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QImage>
#include <QPainter>
#include <QPainterPath>

// Farther than any two pixels of a glyph's image lie apart, and still exact in a float sum.
static constexpr float kFar = 1e20f;
// Texels of field around the outline's box: the spread, and one more for the filter's reach.
static constexpr int kFieldMargin = kFieldSpread + 1;

// The squared distance along one row to the nearest feature (f = 0), through the lower envelope
// of the parabolas rooted at each sample: d[q] = min over p of (q - p)^2 + f[p].
static void Transform1D(const float* f, int n, float* d, int* roots, float* bounds)
{
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    int k = 0;
    roots[0] = 0;
    bounds[0] = -kInfinity;
    bounds[1] = kInfinity;
    for (int q = 1; q < n; ++q) {
        // Parabolas the new one hides are dropped; none hides the first bound, minus infinity.
        float s;
        for (;; --k) {
            const int p = roots[k];
            s = ((f[q] + float(q) * float(q)) - (f[p] + float(p) * float(p))) / float(2 * (q - p));
            if (s > bounds[k])
                break;
        }
        ++k;
        roots[k] = q;
        bounds[k] = s;
        bounds[k + 1] = kInfinity;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (bounds[k + 1] < float(q))
            ++k;
        const float dq = float(q - roots[k]);
        d[q] = dq * dq + f[roots[k]];
    }
}

// In place: each value becomes the squared distance to the nearest zero of the grid, columns
// first, then rows.
static void Transform2D(std::vector<float>& grid, int width, int height)
{
    const int longest = std::max(width, height);
    std::vector<float> f(longest), d(longest), bounds(longest + 1);
    std::vector<int> roots(longest);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y)
            f[y] = grid[std::size_t(y) * width + x];
        Transform1D(f.data(), height, d.data(), roots.data(), bounds.data());
        for (int y = 0; y < height; ++y)
            grid[std::size_t(y) * width + x] = d[y];
    }
    for (int y = 0; y < height; ++y) {
        float* row = &grid[std::size_t(y) * width];
        Transform1D(row, width, d.data(), roots.data(), bounds.data());
        std::copy(d.begin(), d.begin() + width, row);
    }
}

DistanceGlyph MakeDistanceGlyph(const QPainterPath& outline, int largest)
{
    DistanceGlyph glyph;
    const QRectF box = outline.boundingRect();
    if (outline.isEmpty() || box.isEmpty())
        return glyph;
    // Far from the origin counts as large too: the texel coordinates below are ints.
    const double most = double(largest) * kFieldOversample;
    if (!(box.width() <= most && box.height() <= most && std::abs(box.left()) <= most && std::abs(box.top()) <= most)) {
        glyph.width = glyph.height = largest + 1;
        return glyph;
    }
    glyph.left = int(std::floor(box.left() / kFieldOversample)) - kFieldMargin;
    glyph.top = int(std::floor(box.top() / kFieldOversample)) - kFieldMargin;
    glyph.width = int(std::ceil(box.right() / kFieldOversample)) + kFieldMargin - glyph.left;
    glyph.height = int(std::ceil(box.bottom() / kFieldOversample)) + kFieldMargin - glyph.top;

    const int fineWidth = glyph.width * kFieldOversample, fineHeight = glyph.height * kFieldOversample;
    QImage fine(fineWidth, fineHeight, QImage::Format_Grayscale8);
    fine.fill(0);
    {
        QPainter painter(&fine);
        painter.translate(-glyph.left * kFieldOversample, -glyph.top * kFieldOversample);
        QPainterPath filled = outline;
        filled.setFillRule(Qt::WindingFill);
        painter.fillPath(filled, Qt::white);
    }

    // Distances from outside pixels to the shape, and from inside pixels to the outside.
    const std::size_t count = std::size_t(fineWidth) * fineHeight;
    std::vector<float> toInside(count), toOutside(count);
    for (int y = 0; y < fineHeight; ++y) {
        const uchar* row = fine.constScanLine(y);
        for (int x = 0; x < fineWidth; ++x) {
            const bool inside = row[x] >= 128;
            toInside[std::size_t(y) * fineWidth + x] = inside ? 0 : kFar;
            toOutside[std::size_t(y) * fineWidth + x] = inside ? kFar : 0;
        }
    }
    Transform2D(toInside, fineWidth, fineHeight);
    Transform2D(toOutside, fineWidth, fineHeight);
    // Signed, in fine pixels, positive inside: the edge lies half a pixel from either centre.
    auto signedAt = [&](int x, int y) {
        const std::size_t i = std::size_t(y) * fineWidth + x;
        return toOutside[i] > 0 ? std::sqrt(toOutside[i]) - 0.5f : 0.5f - std::sqrt(toInside[i]);
    };

    glyph.texels.resize(std::size_t(glyph.width) * glyph.height);
    const int half = kFieldOversample / 2;
    for (int ty = 0; ty < glyph.height; ++ty)
        for (int tx = 0; tx < glyph.width; ++tx) {
            // The texel's centre lies between the four fine pixels around it.
            const int fx = tx * kFieldOversample + half, fy = ty * kFieldOversample + half;
            const float fineDistance = (signedAt(fx - 1, fy - 1) + signedAt(fx, fy - 1) + signedAt(fx - 1, fy)
                                        + signedAt(fx, fy)) / 4;
            const float distance = fineDistance / kFieldOversample;
            const float value = 0.5f + distance / (2 * kFieldSpread);
            glyph.texels[std::size_t(ty) * glyph.width + tx] = std::uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255));
        }
    return glyph;
}
