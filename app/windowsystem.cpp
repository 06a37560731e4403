// The display check before the toolkit starts.
#include "app/windowsystem.h"

#include <X11/Xlib.h>

#include <cstdlib>

static std::string Environment(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? value : "";
}

std::string DisplayProblem(const std::string& platform, const std::string& display)
{
    const std::string chosen = platform.empty() ? Environment("QT_QPA_PLATFORM") : platform;
    // Another platform (offscreen, wayland, vnc ...) is the toolkit's to check.
    if (!chosen.empty() && chosen.compare(0, 3, "xcb") != 0)
        return "";
    const std::string name = display.empty() ? Environment("DISPLAY") : display;
    if (name.empty())
        return chosen.empty() && !Environment("WAYLAND_DISPLAY").empty() ? "" : "DISPLAY is not set";
    Display* connection = XOpenDisplay(name.c_str());
    if (!connection)
        return "the display '" + name + "' cannot be opened";
    XCloseDisplay(connection);
    return "";
}
