// The pointer as iMouse.
#include "gpu/shadermouse.h"

#include <cmath>

void ShaderMouse::Update(float x, float y, bool held)
{
    if (held) {
        value[0] = x;
        value[1] = y;
        if (!wasHeld) {
            value[2] = x;
            value[3] = y;
        } else {
            value[2] = std::fabs(value[2]);
            value[3] = -std::fabs(value[3]);
        }
    } else {
        value[2] = -std::fabs(value[2]);
        value[3] = -std::fabs(value[3]);
    }
    wasHeld = held;
}
