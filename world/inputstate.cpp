// Held keys and buttons by name and number.
#include "world/inputstate.h"

#include <Qt>

static constexpr int kButtons = 3;

struct NamedKey {
    int qtKey;
    const char* name;
};

// Return and the keypad's Enter are one key to a script, and so are Tab and Shift+Tab.
static const NamedKey kNamedKeys[] = {
    {Qt::Key_Space, "space"}, {Qt::Key_Return, "return"}, {Qt::Key_Enter, "return"},
    {Qt::Key_Escape, "escape"}, {Qt::Key_Tab, "tab"}, {Qt::Key_Backtab, "tab"},
    {Qt::Key_Left, "left"}, {Qt::Key_Right, "right"}, {Qt::Key_Up, "up"}, {Qt::Key_Down, "down"},
    {Qt::Key_Shift, "shift"}, {Qt::Key_Control, "ctrl"}, {Qt::Key_Alt, "alt"},
};

std::string InputState::KeyName(int qtKey)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return std::string(1, char('a' + (qtKey - Qt::Key_A)));
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return std::string(1, char('0' + (qtKey - Qt::Key_0)));
    for (const NamedKey& key : kNamedKeys) {
        if (key.qtKey == qtKey)
            return key.name;
    }
    return "";
}

const char* InputState::KeyNames()
{
    return "a to z, 0 to 9, space, return, escape, tab, left, right, up, down, shift, ctrl, alt";
}

bool InputState::IsKeyName(const std::string& name)
{
    if (name.size() == 1)
        return (name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9');
    for (const NamedKey& key : kNamedKeys) {
        if (name == key.name)
            return true;
    }
    return false;
}

void InputState::KeyPressed(int qtKey)
{
    if (const std::string name = KeyName(qtKey); !name.empty())
        keys.insert(name);
}

void InputState::KeyReleased(int qtKey)
{
    keys.erase(KeyName(qtKey));
}

bool InputState::KeyDown(const std::string& name) const
{
    return keys.count(name) > 0;
}

void InputState::ButtonPressed(int button)
{
    if (button >= 1 && button <= kButtons)
        buttons.insert(button);
}

void InputState::ButtonReleased(int button)
{
    buttons.erase(button);
}

bool InputState::ButtonDown(int button) const
{
    return buttons.count(button) > 0;
}

void InputState::ReleaseAll()
{
    keys.clear();
    buttons.clear();
}
