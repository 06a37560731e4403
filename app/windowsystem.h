#pragma once
// The window system the toolkit will draw on, looked at before any toolkit object exists: the
// toolkit ends the process with a core dump when it finds no display, where this program
// gives one line and status 2.

#include <string>

// Why the toolkit would find no display, "" when it will find one or this cannot be known.
// platform and display are the values of -platform and -display ("" when not given); the
// environment (QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY) stands in for them. An X display is
// opened and closed again to see that it answers.
std::string DisplayProblem(const std::string& platform, const std::string& display);
