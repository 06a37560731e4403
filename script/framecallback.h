#pragma once
// update() and render() as the frames call them, so that live coding keeps flowing. A version of
// the callback that raises an error is not called again while another version that worked is at
// hand: that one runs in its place, so the picture stays what it drew. The failing version is
// tried again on the next frame once the global holds a new value, prod.lua was loaded, or a
// console command ran. A version stopped from the keyboard (or by the time limit) is not called
// again until the global holds a new value or prod.lua is loaded.

#include <string>

struct ScriptFailure;

class FrameCallback {
public:
    // The callback the global of that name holds; its errors go to failure.
    FrameCallback(const char* global, ScriptFailure& failure);

    // Calls the callback once, for a frame.
    void Run();
    // A failing version is tried again on its next frame; after a load of prod.lua, a stopped
    // one too.
    void Retry(bool afterLoad);

private:
    // Registry entries, keyed by these members' addresses, set up once per Lua state.
    bool KnowsState();
    bool SameAsFailing();
    // Pushes the version that last worked when it is another than the one on top of the stack.
    bool PushOlderVersion();
    void Keep(char& slot);

    const char* global;
    std::string chunk;
    ScriptFailure& failure;
    // The version the global holds raised an error and is not to be called again yet.
    bool failing = false;
    // The version the global holds was stopped.
    bool stopped = false;
    bool retryDue = false;
    char nameSlot = 0;
    char workingSlot = 0;
    char failingSlot = 0;
};

extern FrameCallback g_updateCallback;
extern FrameCallback g_renderCallback;

// After a console command, or (afterLoad) a load of prod.lua.
void RetryFrameCallbacks(bool afterLoad);
