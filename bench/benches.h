#pragma once
// One entry per benchmark; each runs in the working directory the bench script chose and adds
// its figures to results.

class BenchResults;

int RunFrameBench(BenchResults& results, const char* scene);
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
// The status strip hidden, showing an error, and showing a text that changes every frame; the
// frame readout shown.
int RunStripBench(BenchResults& results);
