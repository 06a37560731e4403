"""The scene hears its music in the real program: levels and bands where the sox-made track
has them, while it plays, after jumps and in a capture, the same values for the same time
either way; its tempo; a loop that jumps back at its end in the window and that a capture
ignores, and that holds an hour-long track from the start, long before its analysis is ready;
bad arguments."""
import os
import subprocess
import unittest

from qmharness import BINARY, ProgramTest, wait_until

BPM = 128
CLICKS_START = 6.0
# Half a window and a step of the analysis: a value this far from an edge of the track's parts
# reads one part alone.
SETTLED = (1024 + 512) / 44100 + 0.001
LOOP = (10.0, 11.0)

# Plays a while in each part, jumps to exact times while paused, then plays in the loop; one
# row a frame once the analysis is ready. In a capture the jumps change nothing.
SCRIPT = """
setMusicLoop(%g, %g)
log = io.open("values.txt", "w")
local function row(mode)
  local bpm = getMusicTempo()
  log:write(string.format("%%s %%.6f %%.6f %%.6f %%.6f %%.4f %%.4f\\n", mode, getMusicTime(), getMusicLevel(),
    getMusicBand(900, 1100), getMusicBand(50, 150), bpm, getMusicBeat()))
  log:flush()
end
local run = coroutine.wrap(function()
  for _, start in ipairs({0.3, 2.3, 4.3, 6.3}) do
    setMusicTime(start)
    for i = 1, 40 do coroutine.yield() row("play") end
  end
  pauseMusic(true)
  for _, t in ipairs({1.0, 3.0, 5.0, 7.5, 9.2}) do setMusicTime(t) coroutine.yield() row("still") end
  setMusicTime(10.4)
  pauseMusic(false)
  for i = 1, 200 do coroutine.yield() row("loop") end
  log:write("done\\n") log:flush()
  while true do coroutine.yield() end
end)
function update() if getMusicTempo() > 0 then run() end end
""" % LOOP


def make_long_track(path, pieces):
    """A 10 s tone made once and repeated: mp3 frames follow one another, so the copies make one
    long track in no time."""
    subprocess.run("sox -n -r 44100 -c 1 -t wav - synth 10 sine 440 vol 0.5 | lame --quiet -t -m m -b 32 - piece.mp3"
                   " && for i in $(seq %d); do cat piece.mp3; done > '%s' && rm piece.mp3" % (pieces, path),
                   shell=True, check=True, cwd=os.path.dirname(path))


def make_track(folder):
    """1 kHz at half scale, silence, 100 Hz near full scale (2 s each), then 3 kHz clicks at BPM."""
    beat = 60 / BPM
    subprocess.run(
        "sox -n -r 44100 -c 1 -b 16 a.wav synth 2 sine 1000 vol 0.5 && sox -n -r 44100 -c 1 -b 16 b.wav trim 0 2"
        " && sox -n -r 44100 -c 1 -b 16 c.wav synth 2 sine 100 vol 0.9"
        " && sox -n -r 44100 -c 1 -b 16 d.wav synth 0.005 sine 3000 vol 0.6 pad 0 %f repeat 12"
        " && sox a.wav b.wav c.wav d.wav track.wav && lame --quiet -m m -b 128 track.wav Ondrelle.mp3"
        " && rm a.wav b.wav c.wav d.wav track.wav" % (beat - 0.005), shell=True, check=True, cwd=folder)


class Listening(ProgramTest):
    def setUp(self):
        super().setUp()
        make_track(self.workdir)
        self.write("prod.lua", SCRIPT)

    def rows(self):
        with open(self.path("values.txt")) as f:
            lines = f.read().splitlines()
        return [(l.split()[0], *map(float, l.split()[1:])) for l in lines if l != "done"]

    def check_parts(self, rows):
        """Each row's values against the part of the track its time lies in."""
        for mode, t, level, high, low, bpm, beat in rows:
            where = "%s at %.3f" % (mode, t)
            if 0.05 < t < 2 - SETTLED:
                self.assertGreater(high, 0.85, where)
                self.assertLess(low, 0.1, where)
            elif 2 + SETTLED < t < 4 - SETTLED:
                self.assertLess(level, 0.05, where)
            elif 4 + SETTLED < t < 6 - SETTLED:
                self.assertGreater(low, 0.9, where)
                self.assertLess(high, 0.1, where)
            self.assertAlmostEqual(bpm, BPM, delta=BPM * 0.01)
            if t > CLICKS_START:
                self.assertAlmostEqual(beat, (t - CLICKS_START) * bpm / 60, delta=0.1)

    def test_in_the_window_the_values_follow_play_and_jumps_and_the_loop_goes_back_at_its_end(self):
        with self.start() as p:
            self.assertTrue(wait_until(lambda: "done" in (self.read("values.txt") or "")))
            self.assertIsNone(p.process.poll(), "the music ended inside its loop")
        rows = self.rows()
        self.check_parts(rows)
        modes = [r[0] for r in rows]
        self.assertGreater(modes.count("play"), 100)
        stills = [r for r in rows if r[0] == "still"]
        self.assertEqual([r[1] for r in stills], [1.0, 3.0, 5.0, 7.5, 9.2])
        times = [r[1] for r in rows if r[0] == "loop"]
        back = [(a, b) for a, b in zip(times, times[1:]) if b < a]
        self.assertGreaterEqual(len(back), 2, times)
        # The time never leaves the loop once inside it. (How closely a jump back follows the
        # frame's step is a figure of the bench.)
        self.assertTrue(all(LOOP[0] <= t <= LOOP[1] for t in times[times.index(back[0][1]):]), times)
        self.assertLessEqual(max(times), LOOP[1])

        # A capture of the same scene reads the same values at the same times, and plays through
        # the loop.
        done = subprocess.run([BINARY, "--capture", "clip.mp4", "--fps", "10", "--size", "160x120"], cwd=self.workdir,
                              capture_output=True, text=True, timeout=120,
                              env={**os.environ, "QT_QPA_PLATFORM": "xcb"})
        self.assertEqual(done.returncode, 0, done.stderr)
        captured = self.rows()
        self.check_parts(captured)
        times = [r[1] for r in captured]
        self.assertEqual(times, sorted(times))
        self.assertGreater(times[-1], LOOP[1] + 0.5)
        at = {round(r[1], 6): r[2:] for r in captured}
        for still in stills:
            self.assertEqual(at[round(still[1], 6)], still[2:], still[1])

    def test_a_loop_set_at_load_holds_an_hour_long_track_from_the_first_time_it_comes_round(self):
        make_long_track(self.path("Ondrelle.mp3"), 360)
        self.write("prod.lua", 'setMusicTime(3597) setMusicLoop(3590, 3599)\n'
                   'log = io.open("times.txt", "w")\n'
                   'function update() log:write(getMusicTime(), "\\n") log:flush() end\n')

        def times():
            return [float(t) for t in (self.read("times.txt") or "").split()]

        def jumps_back():
            return sum(1 for a, b in zip(times(), times()[1:]) if b < a - 5)
        with self.start() as p:
            # Each time round is 9 s: the first from 3597 takes 2. The first goes back from the
            # music as the mixer plays it, the second from the loop's own frames.
            self.assertTrue(wait_until(lambda: jumps_back() >= 2, timeout=90), times()[-20:])
            self.assertIsNone(p.process.poll(), "the music ended inside its loop")
        self.assertTrue(all(3590 <= t <= 3599.01 for t in times() if t > 0), times())

    def test_bad_arguments_name_the_range(self):
        calls = (("getMusicBand(500, 100)", "getMusicBand: expected frequencies 0 <= lowHz < highHz <= 22050"),
                 ("getMusicOnset('low', 100)", "getMusicOnset: expected frequencies 0 <= lowHz < highHz"),
                 ("getMusicBand(0, 30000)", "got 0 and 30000"),
                 ("getMusicSpectrum(0)", "getMusicSpectrum: expected a whole number of bands from 1 to 1024, got 0"),
                 ("getMusicSpectrum(1025)", "from 1 to 1024, got 1025"),
                 ("getMusicSpectrum(2.5)", "got 2.5"),
                 ("getMusicSpectrum(8, 'x')", "expected a table to fill"),
                 ("setMusicTempo(-5)", "setMusicTempo: expected beats a minute above 0"),
                 ("setMusicTempo(120, -1)", "setMusicTempo: expected the first beat in seconds from 0 on, got -1"),
                 ("setMusicLoop(5, 2)", "setMusicLoop: expected seconds 0 <= from < to <= "),
                 ("setMusicLoop(0, 60)", "(the music's length), got 0 and 60"))
        script = "".join("log:write(select(2, pcall(function() %s end)), '\\n')\n" % call for call, _ in calls)
        self.write("prod.lua", "log = io.open('errors.txt', 'w')\nlocal done = false\nfunction update()\n"
                   "if done or getMusicLength() == 0 then return end done = true\n" + script +
                   "local t = {} log:write(tostring(getMusicSpectrum(4, t) == t), ' ', #t, '\\n')\n"
                   "setMusicTempo(60, 1) log:write(getMusicTempo(), ' ', select(2, getMusicTempo()), '\\n')\n"
                   "log:close() end\n")
        with self.start():
            text = wait_until(lambda: (self.read("errors.txt") or "").count("\n") == len(calls) + 2 and self.read("errors.txt"))
        lines = text.splitlines()
        for (call, message), line in zip(calls, lines):
            self.assertIn(message, line, call)
        self.assertEqual(lines[-2:], ["true 4", "60 1"])


class Kicks(ProgramTest):
    """Every click of a 120 BPM track reads as an onset at the frame after it, at 30 and at 60 frames
    a second, wherever the frames fall: a frame reads the strongest onset since the frame before."""

    def test_every_click_reads_as_an_onset_in_a_capture_at_30_and_at_60_fps(self):
        subprocess.run("sox -n -r 44100 -c 1 -b 16 clicks.wav synth 0.005 sine 3000 vol 0.6 pad 0.25 0.245 repeat 19"
                       " && lame --quiet -m m -b 128 clicks.wav Ondrelle.mp3", shell=True, check=True, cwd=self.workdir)
        self.write("prod.lua", 'out = io.open("onsets.txt", "w")\n'
                   'function update() out:write(getMusicTime(), " ", getMusicOnset(0, 22050), "\\n") out:flush() end\n')
        # A click's onset is high for a step or two of the analysis (12 ms each): at 30 fps a frame's
        # time alone falls beside it from the second start on.
        for fps, start in ((30, 0), (30, 0.011), (60, 0.008)):
            done = subprocess.run([BINARY, "--capture", "clicks.mp4", "--fps", str(fps), "--from", str(start), "--to", "10",
                                   "--size", "64x48", "--no-overlays"], cwd=self.workdir, capture_output=True, text=True,
                                  timeout=300, env={**os.environ, "QT_QPA_PLATFORM": "xcb"})
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(self.path("onsets.txt")) as f:
                rows = [tuple(map(float, line.split())) for line in f]
            # The encoder's delay moves the clicks a little later than the samples they were made of.
            for click in (0.25 + 0.5 * i for i in range(20)):
                read = max(onset for t, onset in rows if click <= t < click + 0.15)
                self.assertGreaterEqual(read, 0.5, "%d fps from %g s, the click at %.2f s" % (fps, start, click))


if __name__ == "__main__":
    unittest.main()
