// The frame loop as it runs: the timer's shots are timed from outside UpdateFrame, so the period
// is shot to shot and the work is the frame (tick, draw, swap) alone.

#include <algorithm>
#include <string>
#include <vector>

#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/musicclock.h"
#include "world/openglemptyworldwidget.h"

static constexpr int kRuns = 7;
static constexpr int kFramesPerRun = 200;
static constexpr double kRearmMs = 10;

// Counts the expose events the view gets: each one draws a frame outside the loop.
class ExposeCounter : public QObject {
public:
    int exposes = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Expose)
            ++exposes;
        return false;
    }
};

int RunFrameBench(BenchResults& results, const char* scene)
{
    StartProgramWindow();
    OpenGLEmptyWorldWidget* view = View();
    QObject::disconnect(view->frameTimer, nullptr, view, nullptr);
    ExposeCounter counter;
    view->installEventFilter(&counter);

    std::vector<double> periods, works, lastShot;
    QEventLoop loop;
    double previousShot = 0;
    QObject::connect(view->frameTimer, &QTimer::timeout, view, [&] {
        const double shot = NowMs();
        view->UpdateFrame();
        works.push_back(NowMs() - shot);
        if (previousShot > 0)
            periods.push_back(shot - previousShot);
        previousShot = shot;
        if (int(works.size()) >= kFramesPerRun) {
            view->frameTimer->stop();
            loop.quit();
        }
    });

    // Runs take turns: the loop as the program runs it, then without the state's time-limit hook
    // (what the check for a runaway chunk costs), then without the script watcher (what watching
    // prod.lua costs). The loop's own figures come from the first kind.
    enum RunKind { kAsRun, kUnchecked, kUnwatched, kRunKinds };
    std::vector<double> ratios, runPeriods, runWorks, uncheckedWorks;
    std::vector<double> unwatchedWorks, unwatchedPeriods;
    for (int run = 0; run < kRunKinds * kRuns; ++run) {
        const int kind = run % kRunKinds;
        SetTimeLimitCheck(kind != kUnchecked);
        SetScriptWatching(kind != kUnwatched);
        periods.clear();
        works.clear();
        previousShot = 0;
        // Each run starts the music over, between frames, so that a soundtrack never ends the
        // program mid-bench however slow the frames are; straight on the clock, as no jump to
        // show in the view.
        if (g_musicClock)
            g_musicClock->Seek(0);
        view->frameTimer->start(int(kRearmMs));
        loop.exec();
        const double period = Median(periods), work = Median(works);
        if (kind == kUnchecked) {
            uncheckedWorks.push_back(work);
            continue;
        }
        if (kind == kUnwatched) {
            unwatchedWorks.push_back(work);
            unwatchedPeriods.push_back(period);
            continue;
        }
        runPeriods.push_back(period);
        runWorks.push_back(work);
        ratios.push_back((kRearmMs + work) / period);
    }
    SetTimeLimitCheck(true);
    SetScriptWatching(true);
    const std::string prefix = std::string("frame.") + scene + ".";
    results.Add(prefix + "period_ms", Median(runPeriods));
    results.Add(prefix + "work_ms", Median(runWorks));
    results.Add(prefix + "unchecked_work_ms", Median(uncheckedWorks));
    results.Add(prefix + "unwatched_work_ms", Median(unwatchedWorks));
    results.Add(prefix + "unwatched_period_ms", Median(unwatchedPeriods));
    results.Add(prefix + "ratio_min", Minimum(ratios));
    results.Add(prefix + "ratio_median", Median(ratios));
    results.Add(prefix + "exposes", counter.exposes);
    results.Add(prefix + "period_max_ms", *std::max_element(runPeriods.begin(), runPeriods.end()));
    return 0;
}
