#pragma once
// What every benchmark needs: a clock, medians, the process's resident memory, and the program's
// window built as its entry point builds it.

#include <time.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class KestrovaWorld;
class OffscreenView;
class OpenGLEmptyWorldWidget;

double NowMs();
// CPU time in milliseconds: of this thread, or of the whole process with the analysis thread.
// On a machine shared with other work the wall clock would count the time spent waiting for a
// core as well.
double CpuMs(clockid_t clock);
// CPU microseconds a call of the chunk, run that many times in one Lua loop (i counting), less
// the empty loop's.
double MicrosecondsACall(const std::string& call, int calls);
double Median(std::vector<double> values);
double Minimum(const std::vector<double>& values);
// Milliseconds of one draw into a cleared frame, from an idle GL pipeline to the draw's last
// pixel (glFinish on both sides).
double TimedDraw(const std::function<void()>& draw);
// Resident set size of this process in KiB, from /proc/self/status.
long ResidentKiB();

// Builds the main window in the working directory (which holds the prod.lua to run) and returns
// once its view is exposed, its size has settled and a few frames have run.
void StartProgramWindow();
OpenGLEmptyWorldWidget* View();
// Runs the event loop for about this long.
void Spin(int milliseconds);
// Takes the frame timer away from the view so that the benchmark drives frames itself.
void StopFrameLoop();
// Takes the script state's time-limit hook off (false) or puts it back as the engine set it (true),
// to show what the check for a runaway chunk costs.
void SetTimeLimitCheck(bool on);
// Takes the window's script watcher away (false) or gives it a new one (true), to show what
// watching prod.lua costs. The new one watches prod.lua and its folder, as at start-up before
// prod.lua has run.
void SetScriptWatching(bool on);
// The median of frames (tick, draw, glFinish) with this render() on the view, after a few to settle.
double FrameMs(OffscreenView& view, KestrovaWorld& world, const std::string& render);
// What the render() with adds to the one without: frames of the two take turns, so that whatever
// else the machine does weighs on both alike.
double AddedMs(OffscreenView& view, KestrovaWorld& world, const std::string& without, const std::string& with);
