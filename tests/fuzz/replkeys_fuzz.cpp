// Drives a fresh console with the actions an input encodes, two bytes each: a key and its
// modifiers, or a clipboard, mouse or drop action and which clipboard and where. After every
// action the text up to the end of the last prompt printed must be what it was: only output, the
// command echoed as the main window would, may add to it. Runs offscreen, or on X when QT_QPA_PLATFORM says so.

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QTest>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "console/repledit.h"

namespace {

// Drops cannot be sent without a drag in progress, so the driver hands them over itself.
class DropEdit : public REPLEdit {
public:
    using REPLEdit::dropEvent;
};

// Each key with what an X keyboard delivers as its text, before Shift and Ctrl (0 for none).
const std::pair<Qt::Key, char> kKeys[] = {
    {Qt::Key_A, 'a'}, {Qt::Key_B, 'b'}, {Qt::Key_L, 'l'}, {Qt::Key_U, 'u'}, {Qt::Key_X, 'x'}, {Qt::Key_Z, 'z'},
    {Qt::Key_Y, 'y'}, {Qt::Key_V, 'v'}, {Qt::Key_C, 'c'}, {Qt::Key_K, 'k'}, {Qt::Key_Greater, '>'},
    {Qt::Key_Space, ' '}, {Qt::Key_ParenLeft, '('}, {Qt::Key_ParenRight, ')'}, {Qt::Key_Return, '\r'},
    {Qt::Key_Enter, '\r'}, {Qt::Key_Backspace, '\b'}, {Qt::Key_Delete, '\x7f'}, {Qt::Key_Tab, '\t'},
    {Qt::Key_Escape, '\x1b'}, {Qt::Key_Left, 0}, {Qt::Key_Right, 0}, {Qt::Key_Up, 0}, {Qt::Key_Down, 0},
    {Qt::Key_Home, 0}, {Qt::Key_End, 0}, {Qt::Key_PageUp, 0}, {Qt::Key_PageDown, 0}, {Qt::Key_Insert, 0},
};
enum Action { kSetClipboard, kClearClipboard, kClick, kDoubleClick, kMiddleClick, kDrop, kActionCount };
constexpr int kKeyCount = int(sizeof kKeys / sizeof kKeys[0]);
constexpr uint8_t kShiftBit = 1, kCtrlBit = 2, kAltBit = 4, kSelectionBit = 8;

QString KeyText(char text, Qt::KeyboardModifiers modifiers)
{
    const bool letter = text >= 'a' && text <= 'z';
    if (letter && (modifiers & Qt::ControlModifier))
        return QString(QChar(text - 'a' + 1));
    return text ? QString(QChar(letter && (modifiers & Qt::ShiftModifier) ? text - 'a' + 'A' : text)) : QString();
}

// Text, markup with text, an image or nothing at all, as other programs leave the clipboard.
QMimeData* ClipboardData(uint8_t kind)
{
    auto* data = new QMimeData;
    if (kind % 4 == 1)
        data->setHtml("<b>bold</b> <i>(</i>");
    if (kind % 4 < 2)
        data->setText(kind % 4 ? "bold (" : "q = 1\nLua>(");
    if (kind % 4 == 2)
        data->setImageData(QImage(8, 8, QImage::Format_RGB32));
    return data;
}

QPoint PointOf(const REPLEdit& edit, uint8_t where)
{
    QTextCursor cursor(edit.document());
    cursor.setPosition(where % edit.document()->characterCount());
    return edit.cursorRect(cursor).center();
}

void Act(DropEdit* console, uint8_t what, uint8_t bits)
{
    const QClipboard::Mode mode = bits & kSelectionBit ? QClipboard::Selection : QClipboard::Clipboard;
    const QPoint point = PointOf(*console, bits);
    const std::unique_ptr<QMimeData> data(ClipboardData(bits >> 4));
    switch (what % (kKeyCount + kActionCount) - kKeyCount) {
    case kSetClipboard:
        return QGuiApplication::clipboard()->setMimeData(ClipboardData(bits >> 4), mode);
    case kClearClipboard:
        return QGuiApplication::clipboard()->clear(mode);
    case kClick:
        return QTest::mouseClick(console->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    case kDoubleClick:
        return QTest::mouseDClick(console->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    case kMiddleClick:
        return QTest::mouseClick(console->viewport(), Qt::MiddleButton, Qt::NoModifier, point);
    case kDrop: {
        QDropEvent drop(point, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        return console->dropEvent(&drop);
    }
    }
    const auto [key, text] = kKeys[what % (kKeyCount + kActionCount)];
    Qt::KeyboardModifiers modifiers;
    modifiers.setFlag(Qt::ShiftModifier, bits & kShiftBit).setFlag(Qt::ControlModifier, bits & kCtrlBit);
    modifiers.setFlag(Qt::AltModifier, bits & kAltBit);
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, modifiers, KeyText(text, modifiers));
        QApplication::sendEvent(console, &event);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto console = std::make_unique<DropEdit>();
    // Everything up to the end of the prompt printed last; a prompt typed or pasted is input.
    QString scrollback = console->toPlainText();
    QObject::connect(console.get(), &REPLEdit::CommandEntered, console.get(),
                     [edit = console.get(), &scrollback](QString sCommand) {
        if (!sCommand.isEmpty())
            edit->append(sCommand);
        edit->ShowPrompt();
        scrollback = edit->toPlainText();
    });
    console->resize(300, 200);
    console->show();
    for (size_t i = 0; i + 1 < size; i += 2) {
        const QString before = scrollback;
        Act(console.get(), data[i], data[i + 1]);
        if (!console->toPlainText().startsWith(before)) {
            std::fprintf(stderr, "action %zu (0x%02x 0x%02x) changed the scrollback\nbefore: [%s]\nafter:  [%s]\n",
                         i / 2, data[i], data[i + 1], qPrintable(before), qPrintable(console->toPlainText()));
            std::abort();
        }
    }
    return 0;
}
