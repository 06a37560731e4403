// Line widths shaped by HarfBuzz directly against the same lines through Qt's layout.
#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>

#include <random>
#include <string>

#include "gpu/linewidths.h"

static QByteArray ReadFont(const char* name)
{
    QFile file(QString("/usr/share/fonts/truetype/dejavu/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

static void PutUtf8(std::string& out, char32_t c)
{
    out += c < 0x80 ? std::string(1, char(c)) : std::string{char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
}

// Lines of ASCII and Latin letters with kerning pairs, ligatures, letters whose ink reaches past
// their advance at the end, blanks at either end, and letters some of the fonts lack.
static std::vector<std::string> LatinLines()
{
    std::vector<std::string> lines = {"",   "AVAWAY To Ty", "office ffi fl", "f",   "K",
                                      "_",  "Wolf",         "abc   ",        "   abc", " ",
                                      "ff", "\xC3\xA9t\xC3\xA9 \xC5\x93uvre"};
    std::mt19937 random(1);
    for (int n = 0; n < 300; ++n) {
        std::string line;
        const int length = 1 + int(random() % 60);
        for (int i = 0; i < length; ++i) {
            const unsigned kind = random() % 10;
            char32_t c = kind < 6 ? 0x20 + random() % 95 : kind < 8 ? 0xA0 + random() % 96 : 0x100 + random() % 0x150;
            if (c == 0xAD)
                c = 'f';
            PutUtf8(line, c);
        }
        if (n % 4 == 0)
            line += "  ";
        lines.push_back(line);
    }
    return lines;
}

TEST(LineWidths, LatinLinesShapedDirectlyMeasureWhatTheLayoutMeasures)
{
    const std::vector<std::string> lines = LatinLines();
    for (const char* name : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSerif.ttf", "DejaVuSansMono.ttf"}) {
        const QByteArray data = ReadFont(name);
        for (double size : {7.25, 14.0, 100.0, 333.3}) {
            const QRawFont raw(data, size, QFont::PreferNoHinting);
            LineWidths widths(data, raw);
            std::size_t shaped = 0;
            for (const std::string& line : lines) {
                const double width = widths.Width(line);
                shaped += widths.lastShaped;
                EXPECT_EQ(width, widths.LaidOutWidth(QString::fromUtf8(line.c_str())))
                    << name << " at " << size << ": [" << line << "]" << (widths.lastShaped ? " shaped" : "");
            }
            // Most lines take the direct way; DejaVu Sans Mono lacks a third of Latin Extended.
            EXPECT_GT(shaped, lines.size() / 2) << name << " at " << size;
        }
    }
}

TEST(LineWidths, OtherTextGoesThroughTheLayout)
{
    const QByteArray data = ReadFont("DejaVuSans.ttf");
    const QRawFont raw(data, 14, QFont::PreferNoHinting);
    LineWidths widths(data, raw);
    const char* const others[] = {
        "tab\there",                       // expanded to a tab stop
        "soft\xC2\xADhyphen",              // U+00AD, drawn only at a break
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",  // Cyrillic
        "cafe\xCC\x81",                    // a combining acute accent
        "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85",  // Arabic, right to left
        "bad \xC3",                        // a lead byte at the end
        "bad \xC3( ",                      // a lead byte without its continuation
        "overlong \xC1\x81",               // 'A' in two bytes
        "bell\x07",                        // a control character
    };
    for (const char* line : others) {
        const double width = widths.Width(line);
        EXPECT_FALSE(widths.lastShaped) << line;
        EXPECT_EQ(width, widths.LaidOutWidth(QString::fromUtf8(line))) << line;
    }
}

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
