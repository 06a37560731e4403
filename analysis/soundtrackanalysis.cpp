// The soundtrack's analysis thread and what it leaves behind.
#include "analysis/soundtrackanalysis.h"

#include <SDL_thread.h>

#include <algorithm>
#include <atomic>
#include <vector>

// What the analysis thread is handed.
struct AnalysisJob {
    std::string path;
    DecodedSoundHandler decoded;
};

static std::atomic<bool> g_cancelAnalysis{false};
// An SDL thread, since the mixer keeps an error text for each thread it runs on, which only SDL's
// own threads free as they end.
static SDL_Thread* g_analysisThread = nullptr;
// Written once by the analysis thread when it is done; read by the GUI thread.
static std::atomic<MusicAnalysis*> g_readyAnalysis{nullptr};
static std::unique_ptr<MusicAnalysis> g_ownedAnalysis;
static MusicTempo g_tempoOverride;
// A program that ends without StopMusicAnalysis (a capture that failed) stops the thread as it
// exits; declared last, it goes first.
static struct AnalysisThreadStop {
    ~AnalysisThreadStop() { StopMusicAnalysis(); }
} g_analysisThreadStop;

static int SDLCALL Analyse(void* data)
{
    const std::unique_ptr<AnalysisJob> job(static_cast<AnalysisJob*>(data));
    // The frames come first: on a busy machine the analysis waits for them, not they for it.
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_LOW);
    auto sound = std::make_shared<DecodedSound>();
    if (!DecodeSoundFile(job->path, *sound, g_cancelAnalysis))
        return 0;
    if (job->decoded)
        job->decoded(sound);
    const int rate = sound->rate;
    std::vector<int16_t> mono = MusicAnalysis::MixToMono(sound->Samples(), sound->Frames(), sound->channels);
    // Without a taker the decoded sound goes before the analysis needs its own memory.
    sound.reset();
    std::unique_ptr<MusicAnalysis> analysis = MusicAnalysis::Analyse(std::move(mono), rate, g_cancelAnalysis);
    g_readyAnalysis.store(analysis.release());
    return 0;
}

void StartMusicAnalysis(const std::string& path, DecodedSoundHandler decoded)
{
    StopMusicAnalysis();
    g_cancelAnalysis.store(false);
    auto* job = new AnalysisJob{path, std::move(decoded)};
    g_analysisThread = SDL_CreateThread(Analyse, "music analysis", job);
    if (!g_analysisThread)
        delete job;
}

void StopMusicAnalysis()
{
    g_cancelAnalysis.store(true);
    WaitForMusicAnalysis();
    g_ownedAnalysis.reset();
}

bool WaitForMusicAnalysis()
{
    if (g_analysisThread)
        SDL_WaitThread(g_analysisThread, nullptr);
    g_analysisThread = nullptr;
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
