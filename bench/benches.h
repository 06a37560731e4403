#pragma once
// One entry per benchmark; each runs in the working directory the bench script chose and adds
// its figures to results.

class BenchResults;

int RunFrameBench(BenchResults& results, const char* scene);
// The loop at --fps 60 with the scene in the working directory: the period, start to start, and
// its spread.
int RunPacingBench(BenchResults& results);
int RunDrawBench(BenchResults& results);
// Fails unless the script's render() and the C++ loop draw the same picture.
int RunDrawCheck();
int RunConsoleBench(BenchResults& results);
int RunMemoryBench(BenchResults& results);
int RunStartupBench(BenchResults& results, char* self);
int RunStartupChild();
int RunReloadBench(BenchResults& results);
// Captures the demo in the working directory, with its soundtrack, into a video and removes it.
int RunCaptureBench(BenchResults& results);
int RunCaptureSegmentsBench(BenchResults& results);
// The status strip hidden, showing an error, and showing a text that changes every frame; the
// frame readout shown.
int RunStripBench(BenchResults& results);
// Shader passes, targets and feedback at 1280x720 against a frame that only clears, the state
// reset after render(), and a 200-line shader's compile after a save.
int RunShaderBench(BenchResults& results);
// Analyses the soundtrack in the working directory, then times the functions that read it.
int RunAnalysisBench(BenchResults& results);
// A static mesh against C++ immediate mode, a large upload, and memory over frames of meshes.
int RunMeshBench(BenchResults& results);
// How closely the music's time follows the wall clock and a loop's jump back, with the
// soundtrack in the working directory.
int RunClockBench(BenchResults& results);
// Resident memory while meshes, or textures, are made and dropped every frame.
int RunChurnBench(BenchResults& results);
// track:value() on a track of 10,000 keys, and the longest frame while the editor accepts the
// connection and never answers.
int RunSyncBench(BenchResults& results);
// The callbacks' error bookkeeping a frame, without errors and failing every frame; resident
// memory around a state that ran out of memory and was freed.
int RunErrorBench(BenchResults& results);
// A 5,000-glyph scroller at 1280x720 against a frame that only clears, and getWidth of a
// 100-character line.
int RunTextBench(BenchResults& results);
