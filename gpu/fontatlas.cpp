// Glyph pages in single-channel GL textures, filled row by row.
#include "gpu/fontatlas.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>

#include "gpu/distancefield.h"

// Texels left empty between glyphs, so that filtering at a field's border never reads its
// neighbour.
static constexpr int kGap = 1;

FontAtlas::~FontAtlas() = default;

const AtlasGlyph* FontAtlas::Find(std::uint32_t glyph) const
{
    const auto found = glyphs.find(glyph);
    return found == glyphs.end() ? nullptr : &found->second;
}

bool FontAtlas::TooLarge(const DistanceGlyph& field)
{
    return field.width + kGap > kAtlasPageSide || field.height + kGap > kAtlasPageSide;
}

bool FontAtlas::Reserve(Page& page, int width, int height, int& x, int& y)
{
    if (page.shelfX + width > kAtlasPageSide) {
        page.shelfTop += page.shelfHeight;
        page.shelfHeight = 0;
        page.shelfX = 0;
    }
    if (page.shelfTop + height > kAtlasPageSide)
        return false;
    x = page.shelfX;
    y = page.shelfTop;
    page.shelfX += width;
    page.shelfHeight = std::max(page.shelfHeight, height);
    return true;
}

const AtlasGlyph* FontAtlas::Add(std::uint32_t glyph, const DistanceGlyph& field)
{
    AtlasGlyph placed;
    if (field.width == 0 || TooLarge(field))
        return &(glyphs[glyph] = placed);
    const int width = field.width + kGap, height = field.height + kGap;
    int x = 0, y = 0;
    // Pages fill in order: those before the one being filled have no room left.
    while (filling >= Pages() || !Reserve(pages[filling], width, height, x, y)) {
        if (filling < Pages())
            ++filling;
        if (filling == kAtlasMostPages)
            return nullptr;
        if (filling == Pages()) {
            pages.emplace_back();
            pages.back().texels.assign(kAtlasPageBytes, 0);
        }
    }
    Page& page = pages[filling];
    for (int row = 0; row < field.height; ++row)
        std::memcpy(&page.texels[std::size_t(y + row) * kAtlasPageSide + x], &field.texels[std::size_t(row) * field.width],
                    std::size_t(field.width));
    page.dirtyTop = page.dirtyTop == page.dirtyBottom ? y : std::min(page.dirtyTop, y);
    page.dirtyBottom = std::max(page.dirtyBottom, y + field.height);
    placed.page = filling;
    placed.u0 = float(x) / kAtlasPageSide;
    placed.v0 = float(y) / kAtlasPageSide;
    placed.u1 = float(x + field.width) / kAtlasPageSide;
    placed.v1 = float(y + field.height) / kAtlasPageSide;
    placed.left = float(field.left);
    placed.top = float(field.top);
    placed.width = float(field.width);
    placed.height = float(field.height);
    return &(glyphs[glyph] = placed);
}

void FontAtlas::Clear()
{
    glyphs.clear();
    filling = 0;
    for (Page& page : pages) {
        std::fill(page.texels.begin(), page.texels.end(), 0);
        page.dirtyTop = 0;
        page.dirtyBottom = kAtlasPageSide;
        page.shelfTop = page.shelfHeight = page.shelfX = 0;
    }
}

void FontAtlas::Upload(int index)
{
    Page& page = pages[std::size_t(index)];
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (!page.texture) {
        GLuint name = 0;
        glGenTextures(1, &name);
        page.texture = name;
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kAtlasPageSide, kAtlasPageSide, 0, GL_RED, GL_UNSIGNED_BYTE, page.texels.data());
        page.dirtyTop = page.dirtyBottom = 0;
        return;
    }
    glBindTexture(GL_TEXTURE_2D, page.texture);
    if (page.dirtyTop < page.dirtyBottom)
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, page.dirtyTop, kAtlasPageSide, page.dirtyBottom - page.dirtyTop, GL_RED,
                        GL_UNSIGNED_BYTE, &page.texels[std::size_t(page.dirtyTop) * kAtlasPageSide]);
    page.dirtyTop = page.dirtyBottom = 0;
}

bool FontAtlas::HoldsGl() const
{
    return std::any_of(pages.begin(), pages.end(), [](const Page& page) { return page.texture != 0; });
}

void FontAtlas::FreeGl()
{
    for (Page& page : pages) {
        const GLuint name = page.texture;
        if (name)
            glDeleteTextures(1, &name);
        page.texture = 0;
    }
}
