// Drives a fresh console with the key sequence an input encodes (two bytes a key: which key,
// and its modifiers) and checks after every key that the text before the input region is what
// it was before the key. Submitted commands are answered as the main window does: the command
// comes back as output, then the next prompt.

#include <QApplication>
#include <QKeyEvent>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "console/repledit.h"

namespace {

struct KeyChoice {
    Qt::Key key;
    char text;  // what an X keyboard delivers with the key, before Shift and Ctrl; 0 for none
};

const KeyChoice kKeys[] = {
    {Qt::Key_A, 'a'}, {Qt::Key_B, 'b'}, {Qt::Key_L, 'l'}, {Qt::Key_U, 'u'}, {Qt::Key_X, 'x'},
    {Qt::Key_Z, 'z'}, {Qt::Key_Y, 'y'}, {Qt::Key_V, 'v'}, {Qt::Key_C, 'c'}, {Qt::Key_K, 'k'},
    {Qt::Key_Greater, '>'}, {Qt::Key_Space, ' '}, {Qt::Key_ParenLeft, '('},
    {Qt::Key_ParenRight, ')'}, {Qt::Key_Return, '\r'}, {Qt::Key_Enter, '\r'},
    {Qt::Key_Backspace, '\b'}, {Qt::Key_Delete, '\x7f'}, {Qt::Key_Tab, '\t'},
    {Qt::Key_Escape, '\x1b'}, {Qt::Key_Left, 0}, {Qt::Key_Right, 0}, {Qt::Key_Up, 0},
    {Qt::Key_Down, 0}, {Qt::Key_Home, 0}, {Qt::Key_End, 0}, {Qt::Key_PageUp, 0},
    {Qt::Key_PageDown, 0}, {Qt::Key_Insert, 0},
};
constexpr size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);
constexpr uint8_t kShiftBit = 1, kCtrlBit = 2, kAltBit = 4;
constexpr char kControlCodeBase = 'a' - 1;
const QString kPrompt = QStringLiteral("Lua>");

QString KeyText(const KeyChoice& choice, Qt::KeyboardModifiers modifiers)
{
    if (!choice.text)
        return QString();
    const bool letter = choice.text >= 'a' && choice.text <= 'z';
    if (letter && (modifiers & Qt::ControlModifier))
        return QString(QChar(choice.text - kControlCodeBase));
    if (letter && (modifiers & Qt::ShiftModifier))
        return QString(QChar(choice.text).toUpper());
    return QString(QChar(choice.text));
}

// Everything up to and including the last prompt, found as the console finds it.
QString Scrollback(const REPLEdit& edit)
{
    const QString text = edit.toPlainText();
    const qsizetype at = text.lastIndexOf(kPrompt, -1, Qt::CaseInsensitive);
    return at < 0 ? QString() : text.left(at + kPrompt.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto edit = std::make_unique<REPLEdit>();
    REPLEdit* console = edit.get();
    QObject::connect(console, &REPLEdit::CommandEntered, console, [console](QString sCommand) {
        if (!sCommand.isEmpty())
            console->append(sCommand);
        console->ShowPrompt();
    });

    for (size_t i = 0; i + 1 < size; i += 2) {
        const KeyChoice& choice = kKeys[data[i] % kKeyCount];
        const uint8_t bits = data[i + 1];
        Qt::KeyboardModifiers modifiers;
        if (bits & kShiftBit)
            modifiers |= Qt::ShiftModifier;
        if (bits & kCtrlBit)
            modifiers |= Qt::ControlModifier;
        if (bits & kAltBit)
            modifiers |= Qt::AltModifier;

        const QString before = Scrollback(*console);
        QKeyEvent press(QEvent::KeyPress, choice.key, modifiers, KeyText(choice, modifiers));
        QApplication::sendEvent(console, &press);
        QKeyEvent release(QEvent::KeyRelease, choice.key, modifiers, KeyText(choice, modifiers));
        QApplication::sendEvent(console, &release);

        const QString after = console->toPlainText();
        if (!after.startsWith(before)) {
            std::fprintf(stderr, "key %zu (Qt key 0x%x, modifiers 0x%x) changed the scrollback\n"
                         "before: [%s]\nafter:  [%s]\n", i / 2, unsigned(choice.key),
                         unsigned(modifiers), qPrintable(before), qPrintable(after));
            std::abort();
        }
    }
    return 0;
}
