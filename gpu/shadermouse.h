#pragma once
// iMouse as shaders pasted from the shader-sharing sites read it: xy the pointer while the left
// button is held (where it was last held after), zw where the button went down. z is positive
// while the button is held, negative after; w is positive only on the frame of the click.

class ShaderMouse {
public:
    // Once a frame: the pointer in pixels from the bottom left, and whether the left button is held.
    void Update(float x, float y, bool held);
    const float* Value() const { return value; }

private:
    float value[4] = {0, 0, 0, 0};
    bool wasHeld = false;
};
