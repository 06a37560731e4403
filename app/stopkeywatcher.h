#pragma once
// Ctrl+Pause and Ctrl+. stop the chunk that runs now, from anywhere in the window. A chunk runs on
// the GUI thread and holds up everything the toolkit would do with a key, so the keys are taken
// from the X server on a connection and a thread of their own.

#include <thread>

struct xcb_connection_t;

class StopKeyWatcher {
public:
    // Watches the keys while the keyboard is in the top-level X window or anything inside it, on
    // whichever keys the keyboard's layout puts them. Does nothing on another window system.
    explicit StopKeyWatcher(unsigned long window);
    ~StopKeyWatcher();
    StopKeyWatcher(const StopKeyWatcher&) = delete;
    StopKeyWatcher& operator=(const StopKeyWatcher&) = delete;

    bool Watching() const { return thread.joinable(); }

private:
    void Run();

    const unsigned long window;
    xcb_connection_t* connection = nullptr;
    // Written once by the destructor to end the thread's wait.
    int quitFd = -1;
    std::thread thread;
};
