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

    // Every other run goes without the state's time-limit hook, to show what the check for a
    // runaway chunk costs the loop; the loop's own figures come from the runs with it.
    std::vector<double> ratios, runPeriods, runWorks, uncheckedWorks;
    for (int run = 0; run < 2 * kRuns; ++run) {
        const bool checked = run % 2 == 0;
        SetTimeLimitCheck(checked);
        periods.clear();
        works.clear();
        previousShot = 0;
        view->frameTimer->start(int(kRearmMs));
        loop.exec();
        const double period = Median(periods), work = Median(works);
        if (!checked) {
            uncheckedWorks.push_back(work);
            continue;
        }
        runPeriods.push_back(period);
        runWorks.push_back(work);
        ratios.push_back((kRearmMs + work) / period);
    }
    SetTimeLimitCheck(true);
    const std::string prefix = std::string("frame.") + scene + ".";
    results.Add(prefix + "period_ms", Median(runPeriods));
    results.Add(prefix + "work_ms", Median(runWorks));
    results.Add(prefix + "unchecked_work_ms", Median(uncheckedWorks));
    results.Add(prefix + "ratio_min", Minimum(ratios));
    results.Add(prefix + "ratio_median", Median(ratios));
    results.Add(prefix + "exposes", counter.exposes);
    results.Add(prefix + "period_max_ms", *std::max_element(runPeriods.begin(), runPeriods.end()));
    return 0;
}
