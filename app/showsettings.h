#pragma once
// How the window shows the scene: as the program's window with its console, or as the player
// (the scene alone, on the whole screen or in a window of a given size), and at what pace.

struct ShowSettings {
    bool player = false;
    // The player's window size in pixels; 0 for the whole screen.
    int width = 0;
    int height = 0;
    // Frames a second from frame start to frame start; 0 for the wait after each frame.
    int fps = 0;
};
