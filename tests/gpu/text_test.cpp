// Fonts and text drawn by the real view, in a capture's offscreen view, and read back.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <string>

#include "capture/offscreenview.h"
#include "gpu/distancefield.h"
#include "gpu/fontatlas.h"
#include "gpu/scriptgpu.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "tests/world/framebufferview.h"
#include "world/kestrovaworld.h"
#include "world/viewgl.h"

static constexpr int kWidth = 400;
static constexpr int kHeight = 300;
// Brighter than this in a channel is ink: the edge's ramp fades below it.
static constexpr int kInk = 40;

class TestView : public FramebufferView {
public:
    TestView() : FramebufferView(kWidth, kHeight) {}
};

static std::string Run(const std::string& chunk)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    const std::size_t position = error.find("]:1: ");
    return output + (position == std::string::npos ? error : error.substr(position + 5));
}

static double Number(const std::string& expression)
{
    return std::stod(Run("print(" + expression + ")"));
}

// The smallest rectangle holding every pixel of ink in the image (empty when there is none).
static QRect Ink(const QImage& image, const QRect& within = QRect(0, 0, kWidth, kHeight))
{
    QRect box;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (qGreen(image.pixel(x, y)) > kInk)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Whether the ink lies inside the box of the given size at (x, y), give or take a pixel of
// ramp, and reaches within reach pixels of both its left and right sides.
static bool InkFits(const QRect& ink, double x, double y, double width, double height, int reach)
{
    return ink.left() >= int(x) - 1 && ink.right() <= int(x + width) + 1 && ink.top() >= int(y) - 1
        && ink.bottom() <= int(y + height) + 1 && ink.left() <= int(x) + reach && ink.right() >= int(x + width) - reach;
}
#define QVERIFY_INK(ink, left, top, wide, tall, reach)                                                          \
    do {                                                                                                          \
        const QRect i_ = (ink);                                                                                   \
        QVERIFY2(InkFits(i_, left, top, wide, tall, reach),                                                       \
                 qPrintable(QString("ink %1,%2 %3x%4 against the box %5,%6 %7x%8")                                \
                                .arg(i_.x()).arg(i_.y()).arg(i_.width()).arg(i_.height())                         \
                                .arg(left).arg(top).arg(wide).arg(tall)));                                        \
    } while (false)

class TextTest : public QObject {
    Q_OBJECT

    TestView* view = nullptr;
    QTemporaryDir folder;
    QString start;

    QImage Render(const std::string& body)
    {
        view->MakeCurrent();
        if (Run("function render() " + body + " end") != "")
            return QImage();
        return view->Frame();
    }

private slots:
    void initTestCase()
    {
        QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
        start = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        InitLua();
        RegisterLuaBindings();
        view = new TestView;
        view->resize(kWidth, kHeight);
        view->create();
        view->frameTimer->stop();
        view->showStatusStrip = false;
        World* w = view->world;
        w->showGrid = w->showGround = w->showPivotMarker = w->pickPivot = false;
        view->Frame();
        QVERIFY(QFile::copy("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", "serif.ttf"));
        QCOMPARE(Run("sans = newFont(20) serif = newFont('serif.ttf', 36) line = 'Hamburgefonstiv'"), std::string());
    }
    void cleanupTestCase()
    {
        view->MakeCurrent();
        CloseLua();
        delete view->target;
        delete view;
        QDir::setCurrent(start);
    }

    // At both sizes, of both fonts, the ink fills the box getWidth and getHeight give, at the
    // pixel asked for; a capture at another size draws the same ink at the same pixels, the
    // same every time.
    void inkFillsTheBoxOfGetWidthAndGetHeight()
    {
        for (const char* font : {"sans", "serif"}) {
            const std::string f = font;
            const double width = Number(f + ":getWidth(line)"), height = Number(f + ":getHeight()");
            QVERIFY(width > height * 3 && height > Number(f == "sans" ? "20" : "36"));
            const QImage shot = Render("drawText(" + f + ", line, 31, 17.5)");
            QVERIFY_INK(Ink(shot), 31, 17.5, width, height, 4);
        }
        // Into a target of the view's size, shown by a full-screen pass: the same ink.
        QFile show("show.frag");
        QVERIFY(show.open(QIODevice::WriteOnly));
        show.write("uniform sampler2D picture;\nvoid main() { gl_FragColor = texture2D(picture, gl_TexCoord[0].xy); }\n");
        show.close();
        const QRect direct = Ink(Render("drawText(sans, line, 31, 17.5)"));
        QCOMPARE(Run("t = newTarget() s = loadShader('show.frag') setUniform(s, 'picture', t)"), std::string());
        QCOMPARE(Ink(Render("setTarget(t) drawText(sans, line, 31, 17.5) setTarget(nil) drawFullscreen(s)")), direct);
        QCOMPARE(Number("serif:getWidth('ab\\nabab')"), Number("serif:getWidth('abab')"));
        QCOMPARE(Number("sans:getWidth('')"), 0.0);
        // Eight times the size its field was made at, a stem's edges each ramp over at most 2 pixels.
        const QImage stem = Render("colorGL(255, 255, 255, 255) drawText(newFont(256), 'l', 20, 0)");
        int ramp = 0, ink = 0;
        for (int x = 0; x < kWidth; ++x) {
            ramp += qGreen(stem.pixel(x, 150)) > 8 && qGreen(stem.pixel(x, 150)) < 247;
            ink += qGreen(stem.pixel(x, 150)) >= 247;
        }
        QVERIFY(ink > 20);
        QVERIFY2(ramp <= 4, qPrintable(QString::number(ramp)));

        const QRect inView = Ink(Render("colorGL(255, 255, 255, 255) drawText(sans, line, 12, 8)"));
        QImage frames[2];
        for (QImage& frame : frames) {
            CloseLua();
            {
                OffscreenView offscreen(200, 60);
                std::string error;
                QVERIFY2(offscreen.Create(error), error.c_str());
                KestrovaWorld world;
                world.showGrid = world.showGround = world.showPivotMarker = world.pickPivot = false;
                InitLua(), RegisterLuaBindings();
                QCOMPARE(Run("sans = newFont(20) function render() drawText(sans, 'Hamburgefonstiv', 12, 8) end"),
                         std::string());
                world.Tick(0.05f), offscreen.Draw(world);
                std::vector<unsigned char> pixels(200 * 60 * 4);
                offscreen.Read(pixels.data());
                frame = QImage(pixels.data(), 200, 60, QImage::Format_RGB32).mirrored();
                CloseLua();
            }
            g_world = static_cast<KestrovaWorld*>(view->world);
            view->MakeCurrent();
            InitLua(), RegisterLuaBindings();
        }
        QCOMPARE(frames[0], frames[1]);
        QCOMPARE(Ink(frames[0], QRect(0, 0, 200, 60)), inView);
        QCOMPARE(Run("sans = newFont(20) serif = newFont('serif.ttf', 36) line = 'Hamburgefonstiv'"), std::string());
    }

    // Letters outside ASCII draw ink; one the font lacks shows its box, as wide as getWidth says.
    void lettersOutsideAsciiAndMissingOnesDrawInk()
    {
        for (const char* text : {"\xc3\x84\xc3\xb8", "\xd0\x96\xd0\xb4", "\xe2\x82\xac", "\xe6\xbc\xa2"}) {
            const std::string quoted = std::string("'") + text + "'";
            const double width = Number("serif:getWidth(" + quoted + ")");
            QVERIFY(width > 10);
            const QRect ink = Ink(Render("drawText(serif, " + quoted + ", 40, 40)"));
            QVERIFY2(!ink.isEmpty(), text);
            QVERIFY_INK(ink, 40, 40, width, Number("serif:getHeight()"), 8);
        }
    }

    // Aligned within a width, or on x without one; broken at "\n", and at the width.
    void linesAlignAndBreak()
    {
        const double h = Number("sans:getHeight()"), w = Number("sans:getWidth('Quill')");
        QVERIFY_INK(Ink(Render("drawText(sans, 'Quill', 50, 10, 'right', 300)")), 350 - w, 10, w, h, 3);
        QVERIFY_INK(Ink(Render("drawText(sans, 'Quill', 50, 10, 'center', 300)")), 200 - w / 2, 10, w, h, 3);
        QVERIFY_INK(Ink(Render("drawText(sans, 'Quill', 200, 10, 'center')")), 200 - w / 2, 10, w, h, 3);
        QVERIFY_INK(Ink(Render("drawText(sans, 'Quill', 200, 10, 'right')")), 200 - w, 10, w, h, 3);
        // Three lines by "\n", centred each on its own; five words of which two fit in a line.
        const QImage broken = Render("drawText(sans, 'Quill\\nQuillQuill\\nQuill', 0, 10, 'center', 400)");
        QVERIFY_INK(Ink(broken, QRect(0, 10 + int(h), 400, int(h))), 200 - w, 10 + h, 2 * w, h, 3);
        QVERIFY_INK(Ink(broken), 200 - w, 10, 2 * w, 3 * h, 3);
        const double pair = Number("sans:getWidth('Quill Quill')");
        const QRect wrapped = Ink(Render("drawText(sans, 'Quill Quill Quill Quill Quill', 20, 5, 'left', " + std::to_string(pair + 5) + ")"));
        QVERIFY_INK(wrapped, 20, 5, pair, 3 * h, 3);
        QVERIFY(wrapped.height() > 2 * h);
        // In the world: ink where the camera looks, twice as tall at twice the height.
        view->world->camera.SetPosition(Vector3(0, 0, 10));
        view->world->LookAt(Vector3(0, 0, 0));
        const QRect one = Ink(Render("drawText3D(sans, 'Quill')")), two = Ink(Render("drawText3D(sans, 'Quill', 2)"));
        QVERIFY(!one.isEmpty());
        QVERIFY(std::abs(two.height() - 2 * one.height()) <= 2);
        // The text's top left on the origin, in the middle of the view.
        for (const QRect& ink : {one, two})
            QVERIFY(ink.left() >= kWidth / 2 - 1 && ink.left() <= kWidth / 2 + 3 && ink.top() >= kHeight / 2 - 1);
    }

    // Text reaching past each edge of the view draws there what it draws in the middle: the
    // glyphs across an edge keep their part in the view, those beyond it are left out.
    void textPastTheViewsEdgesDrawsWhatIsInTheView()
    {
        QCOMPARE(Run("three = line .. '\\n' .. line .. '\\n' .. line"), std::string());
        const QImage middle = Render("drawText(sans, three, 100, 100)");
        const QRect whole = Ink(middle);
        QVERIFY(whole.width() > 150 && whole.height() > 60);
        for (const QPoint at : {QPoint(-120, -35), QPoint(kWidth - 60, kHeight - 30), QPoint(-90, kHeight - 50),
                                QPoint(300, -60)}) {
            const QImage edge = Render("drawText(sans, three, " + std::to_string(at.x()) + ", " + std::to_string(at.y()) + ")");
            const QPoint shift = QPoint(100, 100) - at;
            int inked = 0, differ = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const QPoint there = QPoint(x, y) + shift;
                    const int ink = qGreen(edge.pixel(x, y));
                    inked += ink > kInk;
                    if (!middle.rect().contains(there))
                        continue;
                    differ += std::abs(ink - qGreen(middle.pixel(there))) > 2;
                }
            QVERIFY2(inked > 100 && differ == 0,
                     qPrintable(QString("at %1,%2: %3 inked, %4 differ").arg(at.x()).arg(at.y()).arg(inked).arg(differ)));
        }
        // A long line passing through the view sends only the glyphs in sight.
        const auto primitives = [&](const std::string& body) {
            view->MakeCurrent();
            QOpenGLExtraFunctions* gl = QOpenGLContext::currentContext()->extraFunctions();
            GLuint query = 0, count = 0;
            gl->glGenQueries(1, &query);
            gl->glBeginQuery(GL_PRIMITIVES_GENERATED, query);
            Render(body);
            view->MakeCurrent();
            gl->glEndQuery(GL_PRIMITIVES_GENERATED);
            gl->glGetQueryObjectuiv(query, GL_QUERY_RESULT, &count);
            gl->glDeleteQueries(1, &query);
            return count;
        };
        const GLuint none = primitives(""), inView = primitives("drawText(sans, 'Quill', 0, 0)") - none;
        const GLuint passing = primitives("drawText(sans, string.rep('Quill ', 1000), -2000, 0)") - none;
        QVERIFY2(inView > 0 && passing <= 20 * inView, qPrintable(QString("%1 %2").arg(inView).arg(passing)));
    }

    // 2,000 different characters in one text fill the atlas past its pages: it starts again,
    // stays within its bound, and a text drawn before the flood draws the same after it.
    void anAtlasFedTwoThousandCharactersStaysWithinItsBound()
    {
        QCOMPARE(Run("flood = newFont(16) chars = {} for c = 0x100, 0x100 + 1999 do "
                     "chars[#chars + 1] = c < 0x800 and string.char(0xC0 + math.floor(c / 64), 0x80 + c % 64) "
                     "or string.char(0xE0 + math.floor(c / 4096), 0x80 + math.floor(c / 64) % 64, 0x80 + c % 64) end "
                     "chars = table.concat(chars)"),
                 std::string());
        const QImage before = Render("drawText(flood, 'Greetings', 10, 10)");
        const std::size_t inUse = ScriptGpu::Current()->Budget().InUse();
        QVERIFY(!Ink(Render("drawText(flood, chars, 0, 0, 'left', 400)")).isEmpty());
        QVERIFY(ScriptGpu::Current()->Budget().InUse() - inUse <= kAtlasMostPages * kAtlasPageBytes);
        QCOMPARE(Render("drawText(flood, 'Greetings', 10, 10)"), before);
        QCOMPARE(Run("flood = nil chars = nil collectgarbage()"), std::string());
        QVERIFY(ScriptGpu::Current()->Budget().InUse() <= inUse);
    }

    // A font that says its em is 16 units makes its glyphs over a hundred ems: they are left out
    // without being filled (gigabytes and seconds each), and the text draws without them.
    void aBrokenFontsHugeGlyphsAreLeftOutUnfilled()
    {
        QPainterPath huge;
        huge.addRect(0, 0, 40000, 40000);
        const DistanceGlyph field = MakeDistanceGlyph(huge, kAtlasPageSide);
        QVERIFY(field.texels.empty() && FontAtlas::TooLarge(field));

        QFile sans("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
        QVERIFY(sans.open(QIODevice::ReadOnly));
        QByteArray bytes = sans.readAll();
        const auto word = [&](int at, int size) {
            quint32 value = 0;
            for (int i = 0; i < size; ++i)
                value = value << 8 | quint8(bytes[at + i]);
            return value;
        };
        for (int table = 0; table < int(word(4, 2)); ++table)
            if (bytes.mid(12 + 16 * table, 4) == "head") {
                const int unitsPerEm = int(word(12 + 16 * table + 8, 4)) + 18;
                bytes[unitsPerEm] = 0, bytes[unitsPerEm + 1] = 16;
            }
        QFile broken("broken.ttf");
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(bytes) == bytes.size());
        broken.close();
        const QImage empty = Render("");
        QCOMPARE(Run("broken = newFont('broken.ttf', 14)"), std::string());
        QCOMPARE(Render("drawText(broken, 'Ab', 10, 10)"), empty);
        QCOMPARE(Run("broken = nil collectgarbage()"), std::string());
    }

    // Fonts made, drawn and dropped every frame, never collected by the script: the collector
    // keeps pace with the pages they take, so few stay alive at once.
    void droppedFontsAreCollectedAsTheyTakePages()
    {
        const std::size_t inUse = ScriptGpu::Current()->Budget().InUse();
        std::size_t most = 0;
        for (int frame = 0; frame < 300; ++frame) {
            Render("drawText(newFont(10 + " + std::to_string(frame % 30) + "), 'dropped', 10, 10)");
            most = std::max(most, ScriptGpu::Current()->Budget().InUse() - inUse);
        }
        QVERIFY2(most <= 8 * kAtlasPageBytes, qPrintable(QString::number(most)));
    }

    void badArgumentsGiveErrorsNamingThem()
    {
        QFile notAFont("notes.txt");
        QVERIFY(notAFont.open(QIODevice::WriteOnly));
        notAFont.write("not a font");
        notAFont.close();
        const std::pair<const char*, const char*> cases[] = {
            {"newFont('notes.txt', 12)", "newFont: notes.txt: expected a TrueType or OpenType font, got a file that is not one\n"},
            {"newFont('missing.ttf', 12)", "newFont: missing.ttf: No such file or directory\n"},
            {"newFont('.', 12)", "newFont: .: not a regular file\n"},
            {"newFont(0)", "newFont: expected a size in pixels from 1 to 2048, got 0\n"},
            {"newFont('serif.ttf')", "newFont: expected a number as argument 2, got no value\n"},
            {"newFont(true)", "newFont: expected a font file name or a size, got boolean\n"},
            {"drawText(nil, 'a', 0, 0)", "drawText: expected a font, got nil\n"},
            {"drawText(sans, {}, 0, 0)", "drawText: expected a text, got table\n"},
            {"drawText3D(sans, string.rep('a', 1048577))", "drawText3D: expected a text of at most 1048576 bytes, got 1048577\n"},
            {"drawText(sans, 'a', 0)", "drawText: expected a number as argument 4, got no value\n"},
            {"drawText(sans, 'a', 0, 0, 'middle')", "drawText: expected the align \"left\", \"center\" or \"right\", got middle\n"},
            {"drawText(sans, 'a', 0, 0, 'left', -5)", "drawText: expected a width greater than 0, got -5\n"},
            {"drawText(sans, 'a', 0, 0)", "drawText: expected to be called while the view draws (from render()), got no GL context\n"},
            {"drawText3D(sans, 'a', 0)", "drawText3D: expected a height greater than 0, got 0\n"},
            {"sans.getWidth(nil, 'a')", "getWidth: expected a font, got nil\n"},
            {"print(tostring(sans), sans:getWidth(12) > 0 and 'wide')", "font: DejaVu Sans, 20 px\r\nwide\r\n"},
        };
        QOpenGLContext::currentContext()->doneCurrent();
        for (const auto& c : cases)
            QCOMPARE(QString::fromStdString(Run(c.first)), QString(c.second));
    }
};

QTEST_MAIN(TextTest)
#include "text_test.moc"
