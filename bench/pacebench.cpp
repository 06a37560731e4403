// The frame loop at a set rate: frame starts read from the view's pacer after each frame, so the
// period is the pacer's own, start to start, for a light scene.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include <QEventLoop>
#include <QTimer>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "world/openglemptyworldwidget.h"

static constexpr int kRate = 60;
static constexpr int kRuns = 5;
static constexpr int kFramesPerRun = 300;

int RunPacingBench(BenchResults& results)
{
    StartProgramWindow();
    OpenGLEmptyWorldWidget* view = View();
    view->SetFrameRate(kRate);
    std::vector<double> starts, runPeriods, periods;
    QEventLoop loop;
    // Connected after the view's own slot: runs once the frame is done.
    QObject::connect(view->frameTimer, &QTimer::timeout, view, [&] {
        const auto start = view->framePacer.LastStart().time_since_epoch();
        starts.push_back(std::chrono::duration<double, std::milli>(start).count());
        if (int(starts.size()) > kFramesPerRun)
            loop.quit();
    });
    for (int run = 0; run < kRuns; ++run) {
        starts.clear();
        loop.exec();
        for (size_t i = 1; i < starts.size(); ++i)
            periods.push_back(starts[i] - starts[i - 1]);
        runPeriods.push_back((starts.back() - starts.front()) / double(starts.size() - 1));
    }
    double mean = 0, squares = 0;
    for (double p : periods)
        mean += p / double(periods.size());
    for (double p : periods)
        squares += (p - mean) * (p - mean);
    results.Add("pacing.rate", kRate);
    results.Add("pacing.period_ms", Median(runPeriods));
    results.Add("pacing.period_worst_run_ms", *std::max_element(runPeriods.begin(), runPeriods.end(), [](double a, double b) {
        return std::fabs(a - 1000.0 / kRate) < std::fabs(b - 1000.0 / kRate);
    }));
    results.Add("pacing.spread_ms", std::sqrt(squares / double(periods.size())));
    results.Add("pacing.shortest_ms", Minimum(periods));
    results.Add("pacing.longest_ms", *std::max_element(periods.begin(), periods.end()));
    results.Add("pacing.median_ms", Median(periods));
    return 0;
}
