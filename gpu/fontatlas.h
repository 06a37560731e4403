#pragma once
// The distance-field glyphs of one font, packed in rows onto a few square pages, each page one
// texture. Glyphs are added as text first needs them; when every page is full the atlas is
// emptied and fills again with what the text drawn next needs, so that it never takes more
// than kAtlasMostPages pages whatever the text.
//
// GL: Upload binds the page's texture to the active unit and leaves it bound.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

struct DistanceGlyph;

constexpr int kAtlasPageSide = 512;
constexpr int kAtlasMostPages = 4;
constexpr std::size_t kAtlasPageBytes = std::size_t(kAtlasPageSide) * kAtlasPageSide;

// Where a glyph's field lies: its page and texture coordinates, and the field pixels it covers
// around the glyph's origin (see gpu/distancefield.h). A glyph without ink has page -1.
struct AtlasGlyph {
    int page = -1;
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    float left = 0, top = 0, width = 0, height = 0;
};

class FontAtlas {
public:
    FontAtlas() = default;
    ~FontAtlas();
    FontAtlas(const FontAtlas&) = delete;
    FontAtlas& operator=(const FontAtlas&) = delete;

    // The glyph's place, or null when it has not been added since the last Clear.
    const AtlasGlyph* Find(std::uint32_t glyph) const;
    // Places the glyph's field; null when no page has room left (Clear, then add again), or
    // when the field is larger than a page (it is then never drawn).
    const AtlasGlyph* Add(std::uint32_t glyph, const DistanceGlyph& field);
    // Forgets every glyph; the pages stay, empty.
    void Clear();
    // Whether the glyph could never be placed, even on an empty page.
    static bool TooLarge(const DistanceGlyph& field);

    int Pages() const { return int(pages.size()); }
    // Brings the page's texture up to date and binds it; with the context current.
    void Upload(int page);
    // With the context the textures were made in current; they are made again at the next Upload.
    void FreeGl();
    bool HoldsGl() const;

private:
    struct Page {
        std::vector<std::uint8_t> texels;
        unsigned texture = 0;
        // The rows written since the last upload: [dirtyTop, dirtyBottom).
        int dirtyTop = 0;
        int dirtyBottom = 0;
        // The row of glyphs being filled: where it starts, how tall it is, where the next goes.
        int shelfTop = 0;
        int shelfHeight = 0;
        int shelfX = 0;
    };
    // A place for a field of this size on the page, or false.
    static bool Reserve(Page& page, int width, int height, int& x, int& y);

    std::vector<Page> pages;
    int filling = 0;  // the page new glyphs go to
    std::unordered_map<std::uint32_t, AtlasGlyph> glyphs;
};
