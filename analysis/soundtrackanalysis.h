#pragma once
// The analysis of the music the program plays, made on a thread of its own as the music opens.
// Until it is ready every value reads 0; a capture waits for it. The functions are called from
// the GUI thread; only the decoding and the analysis run on the other.
#include <memory>
#include <string>

#include "analysis/musicanalysis.h"
#include "sound/soundfile.h"

// Width of each row of the shader texture: the spectrum and the waveform.
constexpr int kMusicTextureWidth = 512;
// The rate the window asks the output for, and the one a capture analyses at.
constexpr int kMusicMixRate = 44100;

// Decodes and analyses the music of the file, as the output plays it at that rate; an analysis
// still running is stopped first. A file in a format the analysis does not read gets a line on
// standard error that names it, and its values stay 0.
void StartMusicAnalysis(std::shared_ptr<const SoundFile> file, int rate, const std::string& name);
// Stops the analysis thread, at once if it still decodes, and forgets the analysis.
void StopMusicAnalysis();
// Blocks until the analysis has ended; true when it is ready.
bool WaitForMusicAnalysis();
// Null until the analysis is ready.
const MusicAnalysis* ReadyMusicAnalysis();

// The tempo set by SetMusicTempo, or else the estimate; 0 bpm before either.
MusicTempo CurrentMusicTempo();
// Overrides the estimate for as long as the program runs; a bpm of 0 goes back to it.
void SetMusicTempo(MusicTempo tempo);

// The shader texture's two rows at a time: the spectrum in kMusicTextureWidth log-spaced bands
// and the waveform around the time, all 0..1 (the waveform's silence is 0.5); zeros and 0.5s
// until the analysis is ready.
void FillMusicTextureRows(double seconds, float* spectrum, float* waveform);
