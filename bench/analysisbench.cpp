// The music's analysis: the whole soundtrack decoded and analysed (wall time and the memory it
// takes at its peak), and what the script functions and the shader texture's rows cost a call.

#include <malloc.h>
#include <time.h>

#include <fstream>
#include <string>
#include <vector>

#include "analysis/soundtrackanalysis.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "script/musicclock.h"

static constexpr int kAnalysisRuns = 3;
static constexpr int kCalls = 200000;
static constexpr int kRowFills = 2000;

namespace {

// Music that moves on by a frame at every look, so that each call reads another time.
class AnalysisClock : public MusicClock {
public:
    explicit AnalysisClock(double length) : length(length) {}
    double Time() override
    {
        time += 1.0 / 60;
        if (time >= length)
            time = 0;
        return time;
    }
    double Length() const override { return length; }
    bool Paused() const override { return false; }
    void SetPaused(bool) override {}
    void Seek(double seconds) override { time = seconds; }

private:
    double length;
    double time = 0;
};

} // namespace

static long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}


int RunAnalysisBench(BenchResults& results)
{
    // The peak counts from here: what the analysis itself takes.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = ResidentKiB();
    std::vector<double> walls, cpus;
    for (int run = 0; run < kAnalysisRuns; ++run) {
        const double start = NowMs(), cpuStart = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        int error = 0;
        StartMusicAnalysis(SoundFile::Open("Ondrelle.mp3", error), kMusicMixRate, "Ondrelle.mp3");
        if (!WaitForMusicAnalysis())
            return 1;
        walls.push_back(NowMs() - start);
        cpus.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuStart);
        if (run == 0)
            results.Add("analysis.peak_mib", double(PeakResidentKiB() - before) / 1024);
    }
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    results.Add("analysis.wall_ms", Median(walls));
    results.Add("analysis.cpu_ms", Median(cpus));
    results.Add("analysis.music_s", analysis->Length());
    // What stays once the heap has given back what was freed.
    malloc_trim(0);
    results.Add("analysis.kept_mib", double(ResidentKiB() - before) / 1024);

    AnalysisClock clock(analysis->Length());
    g_musicClock = &clock;
    InitLua();
    RegisterLuaBindings();
    results.Add("analysis.band_narrow_us", MicrosecondsACall("getMusicBand(40, 120)", kCalls));
    results.Add("analysis.band_whole_us", MicrosecondsACall("getMusicBand(0, 22050)", kCalls));
    RunLuaString("bands = {}");
    results.Add("analysis.spectrum64_us", MicrosecondsACall("getMusicSpectrum(64, bands)", kCalls));
    results.Add("analysis.onset_us", MicrosecondsACall("getMusicOnset(40, 120)", kCalls));
    CloseLua();
    std::vector<float> bands(64);
    double start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 0; i < kCalls; ++i)
        analysis->Spectrum(clock.Time(), 64, bands.data());
    results.Add("analysis.spectrum64_direct_us", (CpuMs(CLOCK_THREAD_CPUTIME_ID) - start) * 1e3 / kCalls);
    std::vector<float> spectrum(kMusicTextureWidth), waveform(kMusicTextureWidth);
    start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 0; i < kRowFills; ++i)
        FillMusicTextureRows(clock.Time(), spectrum.data(), waveform.data());
    results.Add("analysis.texture_rows_us", (CpuMs(CLOCK_THREAD_CPUTIME_ID) - start) * 1e3 / kRowFills);
    g_musicClock = nullptr;
    StopMusicAnalysis();
    return 0;
}
