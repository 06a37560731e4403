"""The command line, and the capture it starts: a scene rendered offline into a video whose
frames and sound are checked by decoding it with ffmpeg."""
import array
import hashlib
import os
import shutil
import signal
import subprocess
import unittest

from qmharness import BINARY, PATIENCE, ProgramTest, wait_until

W, H, FPS = 160, 120, 20
# A quad that fills the view: white while floor(getMusicTime() * 2) is odd, black otherwise.
SCENE = """
setCamPos(0, 50, 0) lookAt(0, 50, -1)
function render()
  local c = math.floor(getMusicTime() * 2) % 2 == 1 and 255 or 0
  colorGL(c, c, c, 255)
  beginTriGL()
  vectorGL(-10, 40, -1) vectorGL(10, 40, -1) vectorGL(10, 60, -1)
  vectorGL(-10, 40, -1) vectorGL(10, 60, -1) vectorGL(-10, 60, -1)
  endGL()
end
"""
RENAME_THEN_SIGINT = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <string.h>
int rename(const char* from, const char* to)
{
    int (*real)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    int result = real(from, to);
    if (strstr(from, ".part.")) {
        raise(SIGINT);
        raise(SIGINT);
    }
    return result;
}
"""


def signal_pending(pid, number):
    """Whether the signal sent to the process waits to be taken."""
    with open("/proc/%d/status" % pid) as f:
        pending = next(l for l in f if l.startswith("ShdPnd:")).split()[1]
    return bool(int(pending, 16) & (1 << (number - 1)))


# A line one pixel wide, magenta on black, down the column x = 20.
ONE_PIXEL_LINE = """
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    fragColor = vec4(abs(fragCoord.x - 20.5) < 0.5 ? vec3(1.0, 0.0, 1.0) : vec3(0.0), 1.0);
}
"""
SLOW_UPDATE = "function update() local t = os.clock() while os.clock() - t < 0.05 do end end\n"


class Runs(ProgramTest):
    def run_program(self, *args, env=None):
        """(status, standard output, standard error) of a run in the working directory."""
        done = subprocess.run([BINARY, *args], cwd=self.workdir, capture_output=True, text=True, timeout=PATIENCE * 2,
                              env={**os.environ, "QT_QPA_PLATFORM": "xcb", **(env or {})})
        return done.returncode, done.stdout, done.stderr


class CommandLine(Runs):
    def test_help_and_version_need_no_display_and_a_bad_argument_gets_its_line_the_usage_and_status_2(self):
        no_display = {"DISPLAY": ""}
        status, out, err = self.run_program("--help", env=no_display)
        self.assertEqual((status, err), (0, ""))
        usage = out.splitlines()[0]
        for option in ("--capture FILE", "--fps", "--size", "--from", "--to", "--no-overlays", "--quality",
                       "--run-up", "--segments N", "--hosts FILE", "--print-segments", "--version", "--music FILE",
                       "--sync HOST:PORT", "--hold"):
            self.assertIn(option, usage)
            self.assertIn("\n  " + option, out.replace("-h, ", ""))
        self.assertIn("-platform", out)
        status, out, err = self.run_program("--version", env=no_display)
        self.assertEqual((status, err), (0, ""))
        self.assertRegex(out, r"^quillmere \d+\.\d+\.\d+\n")
        self.assertIn("MIT", out)
        self.write("file", "")
        for args, problem in ((["--bogus"], "unknown option --bogus"), (["missing"], "no folder 'missing'"),
                              (["file"], "'file' is not a folder"), (["--window", "640x480"], "only with --player")):
            status, out, err = self.run_program(*args, env=no_display)
            self.assertEqual((status, out, len(err.splitlines())), (2, "", 2), err)
            self.assertIn(problem, err.splitlines()[0])
            self.assertTrue(err.splitlines()[1].startswith("usage: quillmere "), err)
        # Without a display the window is not attempted: one line says why.
        status, out, err = self.run_program(env=no_display)
        self.assertEqual((status, out), (2, ""))
        self.assertIn("no display", err)

    def test_a_display_that_is_not_there_or_a_form_of_qts_options_it_would_ignore_gets_one_line_and_status_2(self):
        status, out, err = self.run_program(env={"DISPLAY": ":97"})
        self.assertEqual((status, out, len(err.splitlines())), (2, "", 1), err)
        self.assertIn("':97' cannot be opened", err)
        for option in ("-platform=xcb", "-display=:1"):
            status, out, err = self.run_program(option)
            self.assertEqual((status, out, len(err.splitlines())), (2, "", 2), err)
            self.assertIn("two arguments", err.splitlines()[0])


class Capture(Runs):
    def setUp(self):
        super().setUp()
        self.write("prod.lua", SCENE)
        # 3 s of sound: silent in the even half-seconds, a loud tone in the odd ones.
        halves = " : ".join("synth 0.5 sine 440 vol %s" % ("0.5" if i % 2 else "0") for i in range(6))
        subprocess.run("sox -n -r 44100 -c 1 -b 16 tone.wav %s && lame --quiet -m m -b 64 tone.wav Ondrelle.mp3"
                       " && rm tone.wav" % halves, shell=True, check=True, cwd=self.workdir)

    def capture(self, name, *options, env=None):
        return self.run_program("--capture", name, "--fps", str(FPS), "--size", "%dx%d" % (W, H), *options, env=env)

    def decode(self, name, *output):
        return subprocess.run(["ffmpeg", "-v", "error", "-i", self.path(name), *output, "-"], check=True,
                              capture_output=True).stdout

    def frames(self, name):
        data, size = self.decode(name, "-f", "rawvideo", "-pix_fmt", "rgb24"), W * H * 3
        return [data[i:i + size] for i in range(0, len(data), size)]

    def check_frames_and_sound(self, name, start):
        """Frame i shows music time start + i / FPS: white in its odd half-seconds, black in the even
        ones; the sound turns loud and silent where the frames turn, within a frame."""
        frames = self.frames(name)
        halves = [(int(start * 2 * FPS) + 2 * i) // FPS % 2 for i in range(len(frames))]
        corner = [f[(10 * W + 10) * 3] for f in frames]
        self.assertEqual("".join("W" if c > 200 else "b" if c < 50 else "?" for c in corner),
                         "".join("W" if h else "b" for h in halves))
        samples, window = array.array("h", self.decode(name, "-ac", "1", "-ar", "44100", "-f", "s16le")), 220
        loud = [max(map(abs, samples[i:i + window])) > 4000 for i in range(0, len(samples), window)]
        # Away from the ends, where the encoder's priming and padding sound as silence.
        turns = [t for t in (i * window / 44100 for i in range(1, len(loud)) if loud[i] != loud[i - 1])
                 if 1 / FPS < t < (len(frames) - 2) / FPS]
        expected = [i / FPS for i in range(1, len(frames)) if halves[i] != halves[i - 1]]
        self.assertEqual(len(turns), len(expected), turns)
        for turn, at in zip(turns, expected):
            self.assertLess(abs(turn - at), 1 / FPS, turns)
        return frames

    def test_each_frame_shows_its_music_time_the_sound_is_in_step_and_a_second_capture_is_the_same(self):
        status, _, err = self.capture("clip.mp4")
        self.assertEqual(status, 0, err)
        self.assertIn("wrote clip.mp4: 60 frames at 20 fps, 3.000 s", err.splitlines()[-1])
        self.assertEqual(sorted(os.listdir(self.workdir)), ["Ondrelle.mp3", "clip.mp4", "prod.lua"])
        frames = self.check_frames_and_sound("clip.mp4", 0)
        self.assertEqual(len(frames), 60)
        starts = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,pix_fmt,start_time",
                                 "-of", "csv=p=0", self.path("clip.mp4")], capture_output=True, text=True).stdout
        self.assertEqual(starts.split(), ["h264,yuv420p,0.000000", "aac,0.000000"])
        # The pivot marker sits at the view's centre, where the cursor rests, 15 pixels of radius in
        # 720 lines and so 2.5 in 120; --no-overlays drops it.
        green = lambda f: sum(1 for i in range(0, len(f), 3) if f[i + 1] > 150 and f[i] < 100)
        self.assertTrue(8 < green(frames[0]) < 50, green(frames[0]))
        self.assertEqual(self.capture("again.mp4")[0], 0)
        digest = lambda fs: [hashlib.md5(f).hexdigest() for f in fs]
        self.assertEqual(digest(self.frames("again.mp4")), digest(frames))
        self.assertEqual(self.capture("part.mkv", "--no-overlays", "--from", "0.5", "--to", "2.5")[0], 0)
        part = self.check_frames_and_sound("part.mkv", 0.5)
        self.assertEqual((len(part), green(part[0])), (40, 0))

    def test_high_quality_keeps_a_one_pixel_lines_colour_and_lossless_its_very_pixels(self):
        self.write("line.frag", ONE_PIXEL_LINE)
        self.write("prod.lua", 'local line = loadShader("line.frag") function render() drawFullscreen(line) end')
        line = {}
        for quality in ("normal", "high", "lossless"):
            status, _, err = self.capture(quality + ".mkv", "--no-overlays", "--to", "0.2", "--quality", quality)
            self.assertEqual(status, 0, err)
            frame = self.frames(quality + ".mkv")[0]
            line[quality] = [tuple(frame[(60 * W + x) * 3:(60 * W + x) * 3 + 3]) for x in (19, 20, 21)]
        off = lambda quality: max(abs(a - b) for got, want in zip(line[quality], [(0, 0, 0), (255, 0, 255), (0, 0, 0)])
                                  for a, b in zip(got, want))
        # 4:2:0 shares the colour between two columns: the line loses it, which makes this test one.
        self.assertGreater(off("normal"), 40, line)
        self.assertLess(off("high"), 16, line)
        self.assertEqual(off("lossless"), 0, line)

    def test_bad_input_gets_one_line_and_status_2_and_nothing_is_written(self):
        os.mkdir(self.path("folder.mp4"))
        before = sorted(os.listdir(self.workdir))
        for options, env in ((["--to", "3.5"], None), (["--from", "3"], None), (["--size", "161x120"], None),
                             (["--size", "0x120"], None), (["--fps", "-2"], None), (["--to", "1", "--from", "2"], None),
                             (["--music", "none.mp3", "--to", "999999999999"], None),
                             (["--bogus"], None), ([], {"PATH": "/nonexistent"})):
            status, _, err = self.capture("out.mp4", *options, env=env)
            self.assertEqual((status, err.count("quillmere:")), (2, 1), (options, err))
        for name in ("missing/out.mp4", "folder.mp4", "out.avi"):
            status, _, err = self.capture(name)
            self.assertEqual((status, err.count("quillmere:")), (2, 1), (name, err))
        self.assertEqual(sorted(os.listdir(self.workdir)), before)

    def test_a_capture_checks_the_display_before_it_writes_anything(self):
        before = sorted(os.listdir(self.workdir))
        status, _, err = self.capture("clip.mp4", env={"DISPLAY": ":97"})
        self.assertEqual((status, err.count("quillmere:")), (2, 1), err)
        self.assertIn("':97' cannot be opened", err)
        self.assertEqual(sorted(os.listdir(self.workdir)), before)

    def test_the_part_files_of_captures_that_ended_without_a_word_are_removed_by_the_next(self):
        ended = subprocess.Popen(["true"])
        ended.wait()
        # Those of running captures are kept whichever the folder lists first: a check of the one
        # before must not carry over to the next.
        uniques = ["Ab12C%d" % i for i in range(6)]
        abandoned = [".clip-%d-%s.part.mp4" % (ended.pid, u) for u in uniques]
        running = [".clip-%d-%s.part.mp4" % (os.getpid(), u) for u in uniques]
        kept = running + [".notes-1-x.part.mp4", ".clip-x-Ab12Cd.part.mp4"]
        for name in [n for pair in zip(abandoned, running) for n in pair] + kept[len(running):]:
            self.write(name, "part")
        self.write("music.wav", "")
        # Another soundtrack, named on the command line, sets the video's length.
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", self.path("music.wav"), "synth", "1", "sine", "440"],
                       check=True)
        status, _, err = self.capture("clip.mp4", "--music", "music.wav")
        self.assertEqual(status, 0, err)
        self.assertIn("wrote clip.mp4: 20 frames", err)
        self.assertEqual(sorted(os.listdir(self.workdir)),
                         sorted(["Ondrelle.mp3", "clip.mp4", "music.wav", "prod.lua"] + kept))

    def test_a_second_signal_ends_a_capture_at_once_without_its_part_file(self):
        # The second frame's update() never ends, and says when it starts.
        self.write("prod.lua", SCENE + "n = 0 function update() n = n + 1 if n < 2 then return end"
                   " io.stderr:write('busy\\n') io.stderr:flush() while true do end end\n")
        before = sorted(os.listdir(self.workdir))
        p = subprocess.Popen([BINARY, "--capture", "clip.mp4", "--size", "%dx%d" % (W, H)], cwd=self.workdir,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        while (line := p.stderr.readline()) and line != b"busy\n":
            pass
        # The second signal is sent once the first has been taken, or the two would be one.
        p.send_signal(signal.SIGINT)
        self.assertTrue(wait_until(lambda: not signal_pending(p.pid, signal.SIGINT)))
        p.send_signal(signal.SIGINT)
        self.assertEqual(p.wait(PATIENCE), 130)
        self.assertIn(b"stopped at once", p.stderr.read())
        p.stderr.close()
        self.assertEqual(sorted(os.listdir(self.workdir)), before)

    def test_a_stop_that_comes_once_the_video_is_in_place_is_not_reported_as_nothing_written(self):
        # Two signals arrive just as the finished video is renamed into place.
        self.write("shim.c", RENAME_THEN_SIGINT)
        subprocess.run(["cc", "-shared", "-fPIC", "-o", self.path("shim.so"), self.path("shim.c"), "-ldl"], check=True)
        env = {"LD_PRELOAD": self.path("shim.so"),
               "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"}
        status, _, err = self.capture("clip.mp4", "--to", "0.5", env=env)
        self.assertEqual(status, 0, err)
        self.assertIn("wrote clip.mp4", err)
        self.assertNotIn("nothing was written", err)
        self.assertTrue(os.path.exists(self.path("clip.mp4")))

    def fake_ffmpeg(self, when, then):
        """An ffmpeg first on PATH that runs the shell commands `then` when its arguments match the
        pattern `when`, and is the real one otherwise; the environment that finds it."""
        os.mkdir(self.path("bin"))
        with open(self.path("bin/ffmpeg"), "w") as f:
            f.write('#!/bin/sh\ncase "$*" in %s) %s;; esac\nexec %s "$@"\n' % (when, then, shutil.which("ffmpeg")))
        os.chmod(self.path("bin/ffmpeg"), 0o755)
        return {**os.environ, "PATH": self.path("bin") + ":" + os.environ["PATH"]}

    def test_an_encoder_that_fails_is_a_failure_even_when_sigchld_was_ignored_by_whoever_started_it(self):
        env = self.fake_ffmpeg("*rawvideo*", 'cat >/dev/null; echo "no encoder" >&2; exit 1')
        done = subprocess.run([BINARY, "--capture", "clip.mp4", "--size", "%dx%d" % (W, H), "--to", "0.5"],
                              cwd=self.workdir, capture_output=True, text=True, timeout=PATIENCE * 2, env=env,
                              preexec_fn=lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))
        self.assertEqual(done.returncode, 3, done.stderr)
        self.assertIn("no encoder", done.stderr)
        self.assertFalse(os.path.exists(self.path("clip.mp4")))

    def test_a_stop_while_the_soundtrack_is_measured_ends_the_capture_before_it_draws(self):
        measuring = self.path("bin/measuring")
        env = self.fake_ffmpeg("*progress*", "touch %s; sleep 2" % measuring)
        before = sorted(os.listdir(self.workdir))
        p = subprocess.Popen([BINARY, "--capture", "clip.mp4"], cwd=self.workdir, env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.assertTrue(wait_until(lambda: os.path.exists(measuring)))
        p.send_signal(signal.SIGTERM)
        self.assertEqual(p.wait(PATIENCE), 143)
        self.assertIn(b"stopped by SIGTERM; nothing was written to clip.mp4", p.stderr.read())
        p.stderr.close()
        self.assertEqual(sorted(os.listdir(self.workdir)), before)

    def test_a_soundtrack_that_does_not_decode_gives_a_silent_video_and_a_line_with_ffmpegs_reason(self):
        self.write("Ondrelle.mp3", "no sound in here")
        status, _, err = self.capture("clip.mp4", "--to", "0.2")
        self.assertEqual(status, 0, err)
        self.assertRegex(err, r"quillmere: Ondrelle.mp3 holds no sound that can be decoded \(.+\): the video is silent")
        # A FIFO nobody writes to: refused before anything waits on it, and nothing is written.
        os.remove(self.path("Ondrelle.mp3"))
        os.mkfifo(self.path("Ondrelle.mp3"))
        status, _, err = self.capture("fifo.mp4", "--to", "0.2")
        self.assertEqual(status, 2, err)
        self.assertIn("quillmere: a capture reads its music more than once, from a file: Ondrelle.mp3 is not a regular "
                      "file (save what it gives into one)", err)
        self.assertFalse(os.path.exists(self.path("fifo.mp4")))

    def test_a_stopped_capture_leaves_the_file_as_it_was_and_no_temporary_file(self):
        self.write("prod.lua", SCENE + SLOW_UPDATE)
        self.write("clip.mp4", "an earlier video")
        before = sorted(os.listdir(self.workdir))
        for stop, expected in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            p = subprocess.Popen([BINARY, "--capture", "clip.mp4", "--size", "%dx%d" % (W, H)], cwd=self.workdir,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            # Stopped once frames are being made: the first progress line says so.
            while (line := p.stderr.readline()) and not line.startswith(b"capture:"):
                pass
            p.send_signal(stop)
            self.assertEqual(p.wait(PATIENCE), expected)
            p.stderr.close()
            self.assertEqual(self.read("clip.mp4"), "an earlier video")
            self.assertEqual(sorted(os.listdir(self.workdir)), before)


if __name__ == "__main__":
    unittest.main()
