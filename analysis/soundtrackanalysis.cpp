// The soundtrack's analysis thread and what it leaves behind.
#include "analysis/soundtrackanalysis.h"

#include <SDL_thread.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "analysis/musicwaveform.h"
#include "sound/soundreader.h"

// The music is read as the output plays it: 16-bit stereo, mixed to mono by the analysis.
constexpr int kAnalysedChannels = 2;

// What the analysis thread is handed.
struct AnalysisJob {
    std::unique_ptr<SoundReader> reader;
    std::string name;
};

static std::atomic<bool> g_cancelAnalysis{false};
// An SDL thread, since SDL keeps an error text for each thread it runs on, which only SDL's own
// threads free as they end.
static SDL_Thread* g_analysisThread = nullptr;
// Written once by the analysis thread when it is done, the waveform before the analysis; read by
// the GUI thread once it has the analysis.
static std::atomic<MusicAnalysis*> g_readyAnalysis{nullptr};
static std::unique_ptr<MusicWaveform> g_readyWaveform;
static std::unique_ptr<MusicAnalysis> g_ownedAnalysis;
static std::unique_ptr<MusicWaveform> g_waveform;
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
    SoundReader& reader = *job->reader;
    std::unique_ptr<MusicAnalysis> analysis = MusicAnalysis::Analyse(
        [&reader](int16_t* samples, long long frames) { return reader.Read(samples, frames); }, reader.Rate(),
        reader.Channels(), g_cancelAnalysis);
    // The reader has been through the whole file, so it knows where each part lies and jumps
    // there at once; a fresh one might first read up to the place, on the GUI thread.
    if (analysis)
        g_readyWaveform = std::make_unique<MusicWaveform>(std::move(job->reader));
    g_readyAnalysis.store(analysis.release());
    return 0;
}

void StartMusicAnalysis(std::shared_ptr<const SoundFile> file, int rate, const std::string& name)
{
    StopMusicAnalysis();
    g_cancelAnalysis.store(false);
    auto job = std::make_unique<AnalysisJob>(AnalysisJob{SoundReader::Open(file, rate, kAnalysedChannels), name});
    if (!job->reader) {
        std::fprintf(stderr, "quillmere: %s: the analysis reads WAV, FLAC, Ogg Vorbis, Opus and MP3 only; "
                     "the music's values stay 0\n", name.c_str());
        return;
    }
    g_analysisThread = SDL_CreateThread(Analyse, "music analysis", job.get());
    if (g_analysisThread)
        job.release();
}

void StopMusicAnalysis()
{
    g_cancelAnalysis.store(true);
    WaitForMusicAnalysis();
    g_ownedAnalysis.reset();
    g_waveform.reset();
}

bool WaitForMusicAnalysis()
{
    if (g_analysisThread)
        SDL_WaitThread(g_analysisThread, nullptr);
    g_analysisThread = nullptr;
    // The thread has handed its result over; from here on the GUI thread owns it.
    if (MusicAnalysis* done = g_readyAnalysis.exchange(nullptr)) {
        g_ownedAnalysis.reset(done);
        g_waveform = std::move(g_readyWaveform);
    }
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
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    if (analysis)
        analysis->Spectrum(seconds, kMusicTextureWidth, spectrum);
    else
        std::fill(spectrum, spectrum + kMusicTextureWidth, 0.0f);
    if (analysis && g_waveform)
        g_waveform->Fill(seconds, kMusicTextureWidth, waveform);
    else
        std::fill(waveform, waveform + kMusicTextureWidth, 0.5f);
}
