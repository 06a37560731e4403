#include "script/bindings.h"

#include "script/luaengine.h"

// The callbacks the world calls every frame, and the ones scripts may define for themselves;
// empty until a script replaces them, so the frame loop runs without any script at all.
static const char* const kDefaultCallbacks[] = {
    "function update() end",
    "function render() end",
    "function LMBDown(x,y) end",
    "function LMBUp(x,y) end",
    "function mousemove(x,y,px,py) end",
};

void RegisterLuaBindings()
{
    for (const char* chunk : kDefaultCallbacks)
        RunLuaString(chunk);
}
