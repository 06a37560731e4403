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
    value = get("pacing.period_ms")
    name, goal = "1. Frame pacing at --fps 60, empty scene", "period within 1 % of 16.67 ms, none shorter"
    if value is None:
        out.append((name, goal, "not measured", False))
    else:
        target = 1000.0 / f["pacing.rate"]
        out.append((name, goal, "%.2f ms (median of 5 runs of 300 frames, the farthest run %.2f ms); spread %.2f ms "
                    "(standard deviation), shortest %.3f ms, median %.2f ms, longest %.1f ms" % (
                        value, f["pacing.period_worst_run_ms"], f["pacing.spread_ms"], f["pacing.shortest_ms"],
                        f["pacing.median_ms"], f["pacing.longest_ms"]),
                    abs(value - target) <= 0.01 * target and f["pacing.shortest_ms"] >= target - 0.001))
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
    for paste, what in (("pasted_line", "a pasted line of 1 MB"),
                        ("pasted_lines", "1 MB pasted as short lines")):
        for key, name, goal in (("paste_gap_ms", "longest gap between frames around the paste", 100),
                                ("return_ms", "Return to next prompt", 1000)):
            value = get("console.%s.%s" % (paste, key))
            out.append(("4. Console, %s: %s" % (what, name), "<= %d ms" % goal,
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
    measured = "not measured"
    if value is not None:
        measured = "%.0f ms (median of 9, slowest %.0f ms)" % (value, f["startup.first_frame_max_ms"])
        steps = [(label, get("startup.%s_ms" % key)) for key, label in (
            ("main", "process to main"), ("toolkit", "toolkit"), ("window", "window built and shown"),
            ("first_paint", "first paint swapped"), ("first_frame", "first frame of the loop"),
            ("soundtrack", "then the soundtrack started"))]
        measured += "; reached at: " + ", ".join("%s %.0f ms" % (label, ms) for label, ms in steps if ms is not None)
    out.append(("6. Start-up to first frame shown (the demo with its soundtrack, analysed as it starts)", "<= 300 ms", measured,
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
    catch_up, run_up = get("capture.60.catch_up_s"), get("capture.60.run_up_s")
    out.append(("8. Capture of the demo from 0:30 at 60 fps: the frames before it, update() alone / with the "
                "2 s run-up drawn", "(reported)", "not measured" if run_up is None else "%.2f s / %.2f s" % (
                    catch_up or 0, run_up), None))
    whole, parts = get("capture.minute.whole_s"), get("capture.minute.segments2_s")
    out.append(("8. A minute of the demo captured at 1280x720, 60 fps: one process / --segments 2 on this "
                "machine", "(reported)", "not measured" if parts is None else "%.1f s / %.1f s (%.2fx)" % (
                    whole, parts, whole / parts), None))
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
    for key, name, goal in (("fullscreen_added", "a trivial full-screen pass, added to a frame that only clears", 3),
                            ("postprocess_added", "a post-process through a target, added to the same scene drawn "
                             "straight into the view", 6),
                            ("feedback_added", "the feedback swap: two passes through a target that samples itself, "
                             "added to the same two passes straight into the view", 2)):
        value = get("shaders.%s_ms" % key)
        out.append(("10. Shaders at 1280x720: %s" % name, "<= %d ms" % goal,
                    "not measured" if value is None else "%.2f ms (a frame that only clears %.2f ms, the scene "
                    "alone %.2f ms)" % (value, f["shaders.clear_ms"], f["shaders.scene_ms"]),
                    value is not None and value <= goal))
    value = get("shaders.postprocess_fetch_added_ms")
    out.append(("10. Shaders at 1280x720: the same post-process sampling with texelFetch in place of texture()", "(reported)",
                "not measured" if value is None else "%.2f ms" % value, None))
    value = get("shaders.reset_ms")
    out.append(("10. Shaders: the host's state reset after render()", "<= 0.05 ms",
                "not measured" if value is None else "%.4f ms" % value, value is not None and value <= 0.05))
    value = get("shaders.gate_call_us")
    out.append(("10. Shaders: a call through the gate inside an open shape (useShader(nil) between beginTriGL and endGL)",
                "(reported)", "not measured" if value is None else "%.2f us" % value, None))
    value = get("shaders.compile_to_frame_ms")
    out.append(("10. Shaders: a 200-line shader's save to its first frame (the watcher's 100 ms settle and the compile to the frame drawn)",
                "<= 200 ms", "not measured" if value is None else "%.0f ms (100 ms + %.0f ms, median of 9; the same frame "
                    "drawn again %.1f ms)" % (100 + value, value, f["shaders.long_frame_ms"]), value is not None and 100 + value <= 200))
    value = get("shaders.spectrum_upload_ms")
    out.append(("11. The spectrum texture (iSpectrum) filled and uploaded, a frame", "<= 0.2 ms",
                "not measured" if value is None else "%.3f ms (a pass sampling it, against one with an empty sampler: "
                "%.3f ms more)" % (value, f.get("shaders.spectrum_bound_ms", 0)), value is not None and value <= 0.2))
    value = get("shaders.prepare_1500_lines_ms")
    out.append(("10. Shaders: a pasted 1,500-line file prepared for the compiler (comments, conditions and declarations read)",
                "<= 5 ms", "not measured" if value is None else "%.2f ms" % value, value is not None and value <= 5))
    value = get("shaders.shadertoy_two_buffers_added_ms")
    passes = f.get("shaders.three_script_passes_added_ms")
    out.append(("10. Shaders at 1280x720: a Shadertoy import of two buffers and its image, against the same three passes "
                "drawn by the script through two targets", "its passes and nothing more",
                "not measured" if value is None or passes is None else "%.2f ms (the script's three passes %.2f ms)" % (value, passes),
                value is not None and passes is not None and value <= passes * 1.25 + 0.5))
    value = get("analysis.wall_ms")
    out.append(("11. Analysis of the demo's soundtrack, decoded and analysed", "<= 1000 ms wall, <= 64 MiB",
                "not measured" if value is None else "%.0f ms for %.0f s of music (median of 3; CPU %.0f ms); peak %.1f MiB, "
                "%.1f MiB more resident after the three" % (value, f["analysis.music_s"], f.get("analysis.cpu_ms", 0), f["analysis.peak_mib"],
                                   f["analysis.kept_mib"]),
                value is not None and value <= 1000 and f["analysis.peak_mib"] <= 64))
    value = get("longmusic.peak_mib")
    out.append(("11. A three-hour soundtrack (mp3), played inside a loop near its end while it is analysed: the whole "
                "program's peak resident memory, and the analysis", "<= 512 MiB, the loop holds",
                "not measured" if value is None else "%.1f MiB for %.0f s of music; analysis ready %.0f s after the start "
                "(CPU %.0f s for the whole program by then); %d times round the loop" % (
                    value, f["longmusic.music_s"], f["longmusic.ready_s"], f["longmusic.cpu_s"], f["longmusic.loop_rounds"]),
                value is not None and value <= 512 and f["longmusic.loop_rounds"] >= 1))
    for key, label, goal in (("band_narrow", "getMusicBand(40, 120)", 2), ("band_whole", "getMusicBand(0, 22050)", 2),
                             ("spectrum64", "getMusicSpectrum(64, t)", 20), ("onset", "getMusicOnset(40, 120)", None),
                             ("texture_rows", "the shader texture's two rows filled (not uploaded)", None)):
        value = get("analysis.%s_us" % key)
        out.append(("11. %s, a call from Lua (CPU time)" % label if key != "texture_rows" else "11. " + label + " (CPU time)",
                    "(reported)" if goal is None else "<= %d us" % goal,
                    "not measured" if value is None else "%.2f us" % value,
                    None if goal is None else value is not None and value <= goal))
    value = get("readout.shown_ms")
    out.append(("9. Frame readout (F9) shown, new figures every frame: frame work with it less without; the "
                "draw call alone", "<= 0.2 ms", "not measured" if value is None else "%.3f ms; call %.0f us" % (
                    value, f.get("readout.draw_us", 0)), value is not None and value <= 0.2))
    out += error_rows(f)
    out += mesh_rows(f)
    out += sync_rows(f)
    out += text_rows(f)
    out += suite_rows(f)
    return out


def text_rows(f):
    """5,000 glyphs at 1280x720, as a scroller and all in view, LÖVE's print of the same, and getWidth."""
    value = f.get("text.line_5000_added_ms")
    out = [("Text: a scroller of 5,000 glyphs at 1280x720 (one line at 34 px passing along the bottom, as the "
            "demo's credits, one drawText a frame), what it adds to a frame that only clears", "<= 3 ms",
            "not measured" if value is None else "%.2f ms (whole frame %.2f ms, clear %.2f ms; %d fragments; first "
            "frame, laying out and making the glyphs, %.1f ms)" % (
                value, f["text.line_5000_frame_ms"], f["text.clear_ms"], f["text.line_5000_fragments"],
                f["text.line_first_frame_ms"]),
            value is not None and value <= 3)]
    value = f.get("text.wall_5000_added_ms")
    out.append(("Text: the same 5,000 glyphs all in the view at once (50 lines of 100 at 14 px, moving up), what "
                "they add to a frame that only clears", "(reported)",
                "not measured" if value is None else "%.2f ms (whole frame %.2f ms; below the view, nothing sent, "
                "%.2f ms; first frame %.1f ms)" % (
                    value, f["text.wall_5000_frame_ms"], f["text.wall_5000_clipped_added_ms"],
                    f["text.wall_first_frame_ms"]), None))
    floor = f.get("text.wall_5000_floor_ms")
    out.append(("Text: the least this renderer takes for those 5,000 glyphs' own quads: as many quads covering no "
                "pixel, and their fragments at what a pixel of one blended, textured quad over the view costs",
                "(reported)",
                "not measured" if floor is None else "%.2f ms (%d quads alone %.2f ms; %d fragments, a whole view blended "
                "%.2f ms); the glyphs in view take %.1f times that" % (
                    floor, f["text.wall_5000_quads"], f["text.floor_empty_quads_ms"],
                    f["text.wall_5000_fragments"], f["text.floor_blended_view_ms"],
                    (value or 0) / floor if floor else 0), None))
    for kind, what in (("line", "the scroller"), ("wall", "the glyphs all in view")):
        theirs = f.get("love.text_%s_5000_frame_ms" % kind)
        ours = f.get("text.%s_5000_frame_ms" % kind)
        out.append(("Text: %s, our whole frame against LÖVE's print of the same" % what, "(reported)",
                    "not measured" if theirs is None or ours is None else "ours %.2f ms, LÖVE %.2f ms" % (ours, theirs),
                    None))
    value = f.get("text.getwidth_100_new_us")
    out.append(("Text: getWidth of a 100-character line, a call from Lua (CPU time)", "<= 20 us",
                "not measured" if value is None else "%.1f us laid out anew; %.2f us for a line measured before" % (
                    value, f["text.getwidth_100_same_us"]), value is not None and value <= 20))
    return out


def sync_rows(f):
    """A track's value from Lua, and a frame's longest wait on an editor that never answers."""
    value = f.get("sync.value_us")
    out = [("13. track:value() on a track of 10,000 keys, a call from Lua (CPU time)", "<= 0.5 us",
            "not measured" if value is None else "%.3f us" % value, value is not None and value <= 0.5)]
    value = f.get("sync.silent_editor_longest_ms")
    out.append(("13. A frame's longest wait on a sync editor that accepts and never answers", "<= 1 ms",
                "not measured" if value is None else "%.3f ms, median %.3f ms, over %d frames (connecting, the wait for "
                "the greeting running out twice, trying again)" % (value, f["sync.silent_editor_median_ms"],
                                                                   f["sync.silent_editor_frames"]),
                value is not None and value <= 1))
    return out


def error_rows(f):
    """The callbacks' error bookkeeping a frame, and memory after running out."""
    out = []
    for key, label, goal in (("clean", "a frame without errors", 0.01), ("failing", "a frame whose render() fails", 0.1)):
        value = f.get("errors.%s_us" % key)
        out.append(("13. Error bookkeeping of update() and render(), %s: against the chunks run bare" % label,
                    "<= %g ms" % goal, "not measured" if value is None else "%.4f ms" % (value / 1000),
                    value is not None and value / 1000 <= goal))
    value = f.get("errors.oom_kept_mib")
    measured = "not measured"
    if value is not None:
        measured = "%.1f MiB more than before (%.0f MiB more while full); the next command %s" % (
            value, f["errors.oom_full_mib"], "failed" if f["errors.oom_next_command_failed"] else "ran")
    out.append(("13. Out of memory: resident after `t = nil collectgarbage()`, against before the state filled",
                "<= 100 MiB more", measured,
                value is not None and value <= 100 and not f["errors.oom_next_command_failed"]))
    return out


def suite_rows(f):
    """The figures the suite's tests leave to the bench: the music's clock against the wall clock,
    and memory while GPU objects are made and dropped every frame."""
    out = []
    for key, name, goal, text in (
            ("clock.drift_ms", "11. The music's time against the wall clock over %.0f s of play" % f.get("clock.played_s", 3),
             150, "%.0f ms apart"),
            ("clock.loop_jump_ms", "11. A loop's jump back: the music's time across it against the wall time between "
             "the two frames around it (worst of 4)", 10, "%.1f ms apart"),
            ("churn.meshes_growth_mib", "12. Memory with 1,000 meshes made and dropped a frame: resident growth over "
             "250 frames", 16, "%.1f MiB"),
            ("churn.textures_growth_mib", "10. Memory with 100 textures loaded, sampled and dropped a frame: resident "
             "growth over 50 frames", 32, "%.1f MiB"),
            ("churn.objects_growth_mib", "Memory with a target, a font and a texture made, drawn and dropped a frame: "
             "resident growth over 1,000 frames", 32, "%.1f MiB")):
        value = f.get(key)
        unit = "ms" if key.endswith("_ms") else "MiB"
        out.append((name, "<= %d %s" % (goal, unit), "not measured" if value is None else text % value,
                    value is not None and value <= goal))
    return out


def mesh_rows(f):
    """A static mesh drawn from the script, its upload, and memory over frames of meshes only."""
    out = []
    for n in (50000, 1000000):
        p = "mesh.%d." % n
        name = "12. Static mesh of %d triangles from the script, against C++ immediate mode" % n
        goal = "mesh / C++ immediate <= 0.5"
        if p + "ratio" not in f:
            out.append((name, goal, "not measured", False))
            continue
        out.append((name, goal, "%.2f (mesh %.2f ms, C++ immediate %.2f ms; behind the camera, nothing "
                    "rasterised: mesh %.2f ms, C++ %.2f ms, %.2f)" % (
                        f[p + "ratio"], f[p + "script_ms"], f[p + "cpp_immediate_ms"], f[p + "clipped_script_ms"],
                        f[p + "clipped_cpp_immediate_ms"],
                        f[p + "clipped_script_ms"] / f[p + "clipped_cpp_immediate_ms"]), f[p + "ratio"] <= 0.5))
        theirs = f.get("love.%d.mesh_frame_ms" % n)
        name = "12. Static mesh of %d triangles: our frame against LÖVE's one newMesh" % n
        goal = "our whole frame <= LÖVE's"
        if theirs is None:
            out.append((name, goal, "ours %.2f ms, LÖVE not measured" % f[p + "frame_ms"], False))
        else:
            out.append((name, goal, "ours %.2f ms, LÖVE %.2f ms, ratio %.2f" % (
                f[p + "frame_ms"], theirs, f[p + "frame_ms"] / theirs), f[p + "frame_ms"] <= theirs))
    p = "mesh.1000000."
    if p + "upload_ms" in f:
        total = f[p + "upload_ms"]
        out.append(("12. Upload of the 1000000-triangle mesh: newMesh and its first draw", "<= 1000 ms",
                    "%.0f ms (newMesh from a table %.0f ms, first draw with nothing on screen %.0f ms)" % (
                        total, f[p + "newmesh_ms"], f[p + "first_draw_clipped_ms"]), total <= 1000))
    else:
        out.append(("12. Upload of the 1000000-triangle mesh: newMesh and its first draw", "<= 1000 ms",
                    "not measured", False))
    p = "mesh.soak."
    name = "12. Memory over 10,000 frames of meshes only (100 drawn, 20 made and dropped a frame)"
    goal = "Lua and resident growth <= 1 MiB"
    if p + "resident_growth_mib" not in f:
        out.append((name, goal, "not measured", False))
    else:
        lua = (f[p + "lua_end_kib"] - f[p + "lua_start_kib"]) / 1024
        out.append((name, goal, "Lua %+.2f MiB (at most %.2f MiB above the start), resident %+.2f MiB" % (
            lua, (f[p + "lua_most_kib"] - f[p + "lua_start_kib"]) / 1024, f[p + "resident_growth_mib"]),
            lua <= 1 and f[p + "resident_growth_mib"] <= 1))
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
