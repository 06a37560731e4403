"""Turns the figures of one bench run ("key value" lines) into the results table.

usage: report.py RESULTS OUTPUT.md
Prints the table and writes it, with the machine it ran on, to OUTPUT.md.
"""
import os
import platform
import sys
import time


def load(path):
    figures = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition(" ")
            if key:
                try:
                    figures[key] = float(value)
                except ValueError:
                    figures[key] = value
    return figures


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


def rows(f):
    """(figure, goal, measured, passed) for every figure; passed is None without a goal."""
    out = []

    def get(key):
        return f.get(key)

    for scene, name in (("empty", "empty scene"), ("demo", "demo scene"),
                        ("music", "demo scene with its soundtrack, getMusicTime() every frame")):
        p = "frame.%s." % scene
        if get(p + "ratio_min") is None:
            out.append(("1. Frame loop, " + name, "(10 ms + work) / period >= 0.95 in every run", "not measured", False))
            continue
        out.append(("1. Frame loop, " + name, "(10 ms + work) / period >= 0.95 in every run",
                    "lowest %.3f, median %.3f (period %.2f ms, work %.2f ms, %d exposes)" % (
                        f[p + "ratio_min"], f[p + "ratio_median"], f[p + "period_ms"], f[p + "work_ms"],
                        f.get(p + "exposes", 0)),
                    f[p + "ratio_min"] >= 0.95))
    for scene in ("empty", "demo"):
        p = "frame.%s." % scene
        name, goal = "1. Time-limit check, %s scene" % scene, "frame work checked / unchecked <= 1.02"
        if get(p + "unchecked_work_ms") is None:
            out.append((name, goal, "not measured", False))
            continue
        ratio = f[p + "work_ms"] / f[p + "unchecked_work_ms"]
        out.append((name, goal, "%.3f (work with the check %.2f ms, without %.2f ms)" % (
            ratio, f[p + "work_ms"], f[p + "unchecked_work_ms"]), ratio <= 1.02))
    for scene in ("empty", "demo"):
        p = "frame.%s." % scene
        name = "1. Script watcher, %s scene" % scene
        # Watching costs the event loop, if anything, not the frame's own work: the period judges.
        goal = "frame period watched / unwatched <= 1.02"
        if get(p + "unwatched_work_ms") is None:
            out.append((name, goal, "not measured", False))
            continue
        work = f[p + "work_ms"] / f[p + "unwatched_work_ms"]
        period = f[p + "period_ms"] / f[p + "unwatched_period_ms"]
        out.append((name, goal, "%.3f (watched %.2f ms, not %.2f ms); work %.3f (%.2f ms, %.2f ms)" % (
            period, f[p + "period_ms"], f[p + "unwatched_period_ms"], work, f[p + "work_ms"],
            f[p + "unwatched_work_ms"]), period <= 1.02))
    for n in (10000, 50000):
        p = "draw.%d." % n
        if get(p + "ratio") is None:
            out.append(("2. Script drawing, N = %d" % n, "C++ work / script work >= 0.8", "not measured", False))
            continue
        out.append(("2. Script drawing, N = %d" % n, "C++ work / script work >= 0.8",
                    "%.2f (C++ %.2f ms, script %.2f ms; the same loop calling a no-op: %.2f ms)" % (
                        f[p + "ratio"], f[p + "cpp_ms"], f[p + "script_ms"], f.get(p + "interpreter_ms", 0)),
                    f[p + "ratio"] >= 0.8))
    for n in (10000, 50000):
        p = "draw.%d." % n
        if get(p + "unchecked_script_ms") is not None:
            out.append(("2. Time-limit check in script drawing, N = %d" % n, "(reported)",
                        "%.3f (with the check %.2f ms, without %.2f ms)" % (
                            f[p + "script_ms"] / f[p + "unchecked_script_ms"], f[p + "script_ms"],
                            f[p + "unchecked_script_ms"]), None))
    for n in (10000, 50000):
        ours, theirs = get("draw.%d.frame_ms" % n), get("love.%d.frame_ms" % n)
        goal = "our frame work <= LÖVE's whole frame"
        if ours is None or theirs is None:
            out.append(("3. Peer side by side, N = %d" % n, goal, "not measured", False))
            continue
        out.append(("3. Peer side by side, N = %d" % n, goal,
                    "ours %.2f ms, LÖVE %.2f ms, ratio %.2f" % (ours, theirs, ours / theirs), ours <= theirs))
    for key, name in (("console.key_ms", "key press handled and painted"),
                      ("console.return_ms", "Return to next prompt, print(1)")):
        value = get(key)
        out.append(("4. Console, 100,000 lines: " + name, "<= 16 ms",
                    "not measured" if value is None else "%.2f ms" % value,
                    value is not None and value <= 16))
    for key, name in (("lines", "for i = 1, 100000 do print(i) end"),
                      ("line", 'print(string.rep("x", 1000000))')):
        for figure, label in (("return_ms", "Return to next prompt"),
                              ("frame_gap_ms", "longest gap between frames")):
            value = get("console.long_%s.%s" % (key, figure))
            out.append(("4. Console, %s: %s" % (name, label), "<= 100 ms",
                        "not measured" if value is None else "%.1f ms" % value,
                        value is not None and value <= 100))
    for key, name, goal in (("paste_gap_ms", "longest gap between frames around the paste", 100),
                            ("return_ms", "Return to next prompt", 1000)):
        value = get("console.pasted_line." + key)
        out.append(("4. Console, a pasted line of 1 MB: " + name, "<= %d ms" % goal,
                    "not measured" if value is None else "%.1f ms" % value,
                    value is not None and value <= goal))
    value = get("memory.startup_mib")
    out.append(("5. Memory: resident after start-up", "(reported)",
                "not measured" if value is None else "%.1f MiB" % value, None))
    value = get("memory.frames_growth_mib")
    out.append(("5. Memory: growth, 100,000 failing frames", "<= 1 MiB",
                "not measured" if value is None else "%.2f MiB" % value,
                value is not None and value <= 1))
    value = get("memory.commands_second_batch_growth_mib")
    measured = "not measured"
    if value is not None:
        measured = ("%.2f MiB over a second 10,000 with the scrollback emptied after each; the first "
                    "10,000: %.2f MiB with their %d lines of scrollback kept, %.2f MiB once emptied") % (
            value, f["memory.commands_growth_mib"], f["memory.commands_blocks"],
            f["memory.commands_growth_without_scrollback_mib"])
    out.append(("5. Memory: growth, 10,000 console commands", "<= 1 MiB", measured,
                value is not None and value <= 1))
    value = get("startup.first_frame_ms")
    out.append(("6. Start-up to first frame shown", "<= 300 ms",
                "not measured" if value is None else "%.0f ms (median of 9, slowest %.0f ms)" % (
                    value, f["startup.first_frame_max_ms"]),
                value is not None and value <= 300))
    value = get("reload.first_frame_ms")
    out.append(("7. Save of a changed prod.lua to the first frame drawn with it", "<= 200 ms",
                "not measured" if value is None else "%.0f ms (median of 9 saves, slowest %.0f ms)" % (
                    value, f["reload.first_frame_max_ms"]),
                value is not None and value <= 200))
    for fps, goal in ((30, "video s / wall s >= 1.0"), (60, "(reported)")):
        p = "capture.%d." % fps
        name = "8. Capture of the demo, 1280x720 at %d fps" % fps
        if get(p + "speed") is None:
            out.append((name, goal, "not measured", False if fps == 30 else None))
            continue
        out.append((name, goal, "%.2f (a frame %.1f ms: drawing %.1f ms, pixel readback %.2f ms, "
                    "waiting for ffmpeg %.1f ms)" % (f[p + "speed"], f[p + "frame_ms"], f[p + "draw_ms"],
                                                      f[p + "readback_ms"], f[p + "encoder_ms"]),
                    f[p + "speed"] >= 1.0 if fps == 30 else None))
    name = "9. Status strip hidden: the call, and frame work with it less without"
    value = get("strip.hidden_call_ns")
    out.append((name, "call <= 1000 ns", "not measured" if value is None else "%.0f ns; frame %+.3f ms" % (
        value, f.get("strip.hidden_ms", 0)), value is not None and value <= 1000))
    for key, label in (("error", "an error that stays the same"),
                       ("counting", "a failing render(), its count new every frame"),
                       ("time", "the music time, new every frame")):
        value = get("strip.%s_ms" % key)
        out.append(("9. Status strip showing %s: frame work with it less without" % label, "<= 0.5 ms",
                    "not measured" if value is None else "%.3f ms" % value, value is not None and value <= 0.5))
    value = get("readout.shown_ms")
    out.append(("9. Frame readout (F9) shown, new figures every frame: frame work with it less without; the "
                "draw call alone", "<= 0.2 ms", "not measured" if value is None else "%.3f ms; call %.0f us" % (
                    value, f.get("readout.draw_us", 0)), value is not None and value <= 0.2))
    return out


def table(f):
    verdict = {True: "pass", False: "FAIL", None: "-"}
    lines = ["| figure | goal | measured | result |", "|---|---|---|---|"]
    for figure, goal, measured, passed in rows(f):
        lines.append("| %s | %s | %s | %s |" % (figure, goal, measured, verdict[passed]))
    return lines


def notes(f):
    """What limits the figures that miss their goals, from the measurements of the same run."""
    out = []
    for n in (10000, 50000):
        p = "draw.%d." % n
        if p + "interpreter_ms" not in f or f[p + "ratio"] >= 0.8:
            continue
        script, cpp, interp = f[p + "script_ms"], f[p + "cpp_ms"], f[p + "interpreter_ms"]
        own = script - cpp - interp
        out.append(
            "- Script drawing, N = %d: the script trails the C++ loop by %.2f ms. The same Lua loop with "
            "every binding replaced by a C function that does nothing takes %.2f ms of it, so even "
            "bindings that cost nothing would give at most %.2f; the bindings' own share is %.2f ms "
            "(%.0f ns a call, four calls a triangle). The limit is the Lua 5.1 interpreter: the loop, "
            "the table reads and the calls." % (n, script - cpp, interp, cpp / (cpp + interp), own,
                                                 max(own, 0) * 1e6 / (4 * n)))
    return ["", "## What limits the figures that miss", ""] + out if out else []


def main():
    f = load(sys.argv[1])
    machine = "Machine: %s, %d cores; renderer %s (%s); view %dx%d." % (
        cpu_model(), os.cpu_count() or 0, f.get("gl.renderer", "unknown"), f.get("gl.version", "unknown"),
        int(f.get("view.width", 0)), int(f.get("view.height", 0)))
    text = "\n".join(["# Benchmark results", "",
                      "Run of scripts/bench on %s. Medians over repeated runs; every ratio compares two "
                      "figures of the same run." % time.strftime("%Y-%m-%d %H:%M %Z"), "",
                      machine, ""] + table(f) + notes(f)) + "\n"
    sys.stdout.write(text)
    with open(sys.argv[2], "w") as out:
        out.write(text)


if __name__ == "__main__":
    main()
