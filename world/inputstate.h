#pragma once
// The keys and mouse buttons held over the view and where the mouse is, as scripts read them.
// The view reports its input here as it arrives; the host's own use of the same input (the mouse
// camera, the shortcuts) is not changed by it.

#include <set>
#include <string>

class InputState {
public:
    // A key's name as scripts give it: "a" to "z", "0" to "9", "space", "return", "escape",
    // "tab", "left", "right", "up", "down", "shift", "ctrl", "alt". "" for a key that has none.
    static std::string KeyName(int qtKey);
    // The names above, for a message that lists them.
    static const char* KeyNames();
    static bool IsKeyName(const std::string& name);

    void KeyPressed(int qtKey);
    void KeyReleased(int qtKey);
    bool KeyDown(const std::string& name) const;

    // Buttons as scripts number them: 1 left, 2 right, 3 middle.
    void ButtonPressed(int button);
    void ButtonReleased(int button);
    bool ButtonDown(int button) const;

    // The view lost the keyboard: what it holds now is released where it cannot see.
    void ReleaseAll();

    // The mouse in view pixels, origin top left: where it was last seen over the view.
    int mouseX = 0;
    int mouseY = 0;

private:
    std::set<std::string> keys;
    std::set<int> buttons;
};
