// The soundtrack's analysis thread and what it leaves behind.
#include "analysis/soundtrackanalysis.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

static std::atomic<bool> g_cancelAnalysis{false};
// A program that ends without StopMusicAnalysis (a capture that failed) stops the thread as it
// exits: a thread still joinable at its destruction would end the process.
static struct AnalysisThread : std::thread {
    ~AnalysisThread()
    {
        g_cancelAnalysis.store(true);
        if (joinable())
            join();
    }
} g_analysisThread;
// Written once by the analysis thread when it is done; read by the GUI thread.
static std::atomic<MusicAnalysis*> g_readyAnalysis{nullptr};
static std::unique_ptr<MusicAnalysis> g_ownedAnalysis;
static MusicTempo g_tempoOverride;

static void Analyse(const std::string& path, const DecodedSoundHandler& decoded)
{
    auto sound = std::make_shared<DecodedSound>();
    if (!DecodeSoundFile(path, *sound, g_cancelAnalysis))
        return;
    if (decoded)
        decoded(sound);
    const int rate = sound->rate;
    std::vector<int16_t> mono = MusicAnalysis::MixToMono(sound->Samples(), sound->Frames(), sound->channels);
    // Without a taker the decoded sound goes before the analysis needs its own memory.
    sound.reset();
    std::unique_ptr<MusicAnalysis> analysis = MusicAnalysis::Analyse(std::move(mono), rate, g_cancelAnalysis);
    g_readyAnalysis.store(analysis.release());
}

void StartMusicAnalysis(const std::string& path, DecodedSoundHandler decoded)
{
    StopMusicAnalysis();
    g_cancelAnalysis.store(false);
    static_cast<std::thread&>(g_analysisThread) = std::thread(Analyse, path, std::move(decoded));
}

void StopMusicAnalysis()
{
    g_cancelAnalysis.store(true);
    WaitForMusicAnalysis();
    g_ownedAnalysis.reset();
}

bool WaitForMusicAnalysis()
{
    if (g_analysisThread.joinable())
        g_analysisThread.join();
    // The thread has handed its result over; from here on the GUI thread owns it.
    if (MusicAnalysis* done = g_readyAnalysis.exchange(nullptr))
        g_ownedAnalysis.reset(done);
    return g_ownedAnalysis != nullptr;
}

const MusicAnalysis* ReadyMusicAnalysis()
{
    if (!g_ownedAnalysis && g_readyAnalysis.load())
        WaitForMusicAnalysis();
    return g_ownedAnalysis.get();
}

MusicTempo CurrentMusicTempo()
{
    if (g_tempoOverride.bpm > 0)
        return g_tempoOverride;
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    return analysis ? analysis->EstimatedTempo() : MusicTempo();
}

void SetMusicTempo(MusicTempo tempo)
{
    g_tempoOverride = tempo;
}

void FillMusicTextureRows(double seconds, float* spectrum, float* waveform)
{
    if (const MusicAnalysis* analysis = ReadyMusicAnalysis()) {
        analysis->Spectrum(seconds, kMusicTextureWidth, spectrum);
        analysis->Waveform(seconds, kMusicTextureWidth, waveform);
        return;
    }
    std::fill(spectrum, spectrum + kMusicTextureWidth, 0.0f);
    std::fill(waveform, waveform + kMusicTextureWidth, 0.5f);
}
