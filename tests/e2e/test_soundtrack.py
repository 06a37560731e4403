"""The soundtrack in the real program: it plays after prod.lua has run, and its end ends the
program with status 1, losing nothing a script wrote. The scene keeps time with it, and the keys
and script functions pause it and jump in it."""
import array
import os
import subprocess
import unittest

from qmharness import NO_SOUNDTRACK, ProgramTest, wait_until

TONE, RATE = 660, 44100
# Busy for half a second, then it writes: lost if the music could end before prod.lua returns.
SLOW_SCRIPT = """
local start = os.clock() while os.clock() - start < 0.5 do end
io.write("written before the music\\n")
log = io.open("log.txt", "w") log:write("never closed\\n")
"""

# A jump before the music starts, then the music's time of every frame, one line each.
CLOCK_SCRIPT = """setMusicTime(1)
log = io.open("times.txt", "w")
function update() log:write(getMusicTime(), "\\n") log:flush() end
"""


def make_mp3(path, seconds):
    """A sine tone of TONE Hz as an mp3."""
    subprocess.run("sox -n -r %d -c 1 -t wav - synth %s sine %d vol 0.5 | lame --quiet -m m -b 64 - '%s'"
                   % (RATE, seconds, TONE, path), shell=True, check=True)


class Soundtrack(ProgramTest):
    def test_the_music_of_the_folder_given_plays_through_and_its_end_ends_the_program_keeping_what_was_written(self):
        make_mp3(self.path("Ondrelle.mp3"), 1.5)
        self.write("prod.lua", SLOW_SCRIPT)
        # SDL's disk driver writes the mixed sound, 16-bit stereo frames, as fast as it decodes.
        env = {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIODELAY": "0", "SDL_DISKAUDIOFILE": self.path("out.raw")}
        # Started elsewhere, with Qt's own options around the folder: the folder's script and
        # music are the ones used, and what the script writes lands there.
        with self.start(env, ["-qwindowtitle", "x", self.workdir, "-reverse"], cwd="/") as p:
            self.assertEqual(p.wait(), 1)
            self.assertEqual(p.lines(), ["written before the music"])
        self.assertEqual(self.read("log.txt"), "never closed\n")
        with open(self.path("out.raw"), "rb") as f:
            left = array.array("h", f.read())[::2]
        # About 1.5 s of sound that crosses zero twice in each period of the tone.
        played = [x for x in left if abs(x) > 64]
        crossings = sum(1 for a, b in zip(played, played[1:]) if (a < 0) != (b < 0))
        self.assertTrue(len(played) > RATE * 1.4 and abs(crossings / 2 / (len(played) / RATE) - TONE) < TONE * 0.03)

    def times(self):
        """The music's time of each frame so far."""
        if not os.path.exists(self.path("times.txt")):
            return []
        with open(self.path("times.txt")) as f:
            return [float(t) for t in f.read().split("\n")[:-1]]

    def frames_later(self, n=10):
        """The music's time at the nth frame from now."""
        seen = len(self.times())
        self.assertTrue(wait_until(lambda: len(self.times()) >= seen + n), "no frames drawn")
        return self.times()[-1]

    def time_after(self, *keys, until):
        """Presses the keys (xdotool's names) and waits until the music's time passes the test
        until(time); returns the time then."""
        if keys:
            self.program.key(*keys)
        reached = wait_until(lambda: self.times() and until(self.times()[-1]))
        self.assertTrue(reached, "after %s the time stayed at %s" % (keys, self.times()[-1]))
        return self.times()[-1]

    def test_the_scene_keeps_time_with_the_music_and_the_keys_pause_and_jump_in_it(self):
        make_mp3(self.path("Ondrelle.mp3"), 14)
        self.write("prod.lua", CLOCK_SCRIPT)
        with self.start() as p:
            self.program = p
            self.assertTrue(wait_until(lambda: len(self.read("times.txt") or "") > 100))
            self.assertTrue(1 <= self.times()[0] < 1.3, self.times()[0])
            # The time goes on while the music plays, a new time every frame.
            start = self.times()[-1]
            end = self.time_after(until=lambda t: t > start + 1)
            played = [t for t in self.times() if start <= t <= end]
            self.assertEqual(played, sorted(set(played)))

            # F5 over the scene stops the time and lets it go on.
            _, _, w, h = p.geometry()
            p.click(w // 2, h // 3)
            p.key("F5")
            paused = wait_until(lambda: len(set(self.times()[-5:])) == 1 and self.times()[-1])
            self.assertEqual(self.frames_later(), paused)
            self.time_after("F5", until=lambda t: t > paused)

            # Jumps while paused land exactly: F7 5 s on (at most to 1 s before the end), F6 back.
            self.time_after(until=lambda t: t > 3.5)
            p.key("F5")
            paused = wait_until(lambda: len(set(self.times()[-5:])) == 1 and self.times()[-1])
            for key, expected in (("F7", min(round(paused + 5, 6), 13)), ("F7", 13), ("F6", 8), ("F6", 3), ("F6", 0)):
                self.time_after(key, until=lambda t: round(t, 6) == expected)
            self.assertEqual(self.frames_later(), 0)

            # A bad time from the console is an error and changes nothing; paused at the end the
            # music does not end the program, resumed it does.
            p.key("F12")
            p.command("setMusicTime(-1)")
            self.assertTrue(wait_until(lambda: "setMusicTime: expected" in "\n".join(p.lines())))
            self.assertEqual(self.frames_later(), 0)
            p.command("setMusicTime(13.9)")
            self.time_after(until=lambda t: t == 13.9)
            self.frames_later()
            self.assertIsNone(p.process.poll())
            p.command("pauseMusic(false)")
            self.assertEqual(p.wait(), 1)
        self.assertIn("setMusicTime: expected seconds from 0 to below the music's length 14, got -1",
                      "\n".join(p.lines()))

    def test_held_the_music_ends_without_ending_the_program_and_f6_plays_it_again(self):
        make_mp3(self.path("Ondrelle.mp3"), 1)
        self.write("prod.lua", CLOCK_SCRIPT.replace("setMusicTime(1)", ""))
        with self.start(args=["--hold"]) as p:
            self.program = p
            # The clock stands at the end, which the decoder knows to the sample.
            last = wait_until(lambda: (l := self.times()[-20:]) and len(l) == 20 and len(set(l)) == 1 and l[0] > 0.5 and l)
            self.assertAlmostEqual(last[0], 1, delta=0.05)
            self.frames_later()
            self.assertIsNone(p.process.poll())
            _, _, w, h = p.geometry()
            p.click(w // 2, h // 3)
            self.time_after("F6", until=lambda t: t < 0.9)
            p.close()
            self.assertEqual(p.wait(), 0)

    def test_music_named_on_the_command_line_plays_in_place_of_the_folders_and_a_missing_one_is_named(self):
        os.mkdir(self.path("scene"))
        self.write("scene/prod.lua", "")
        subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "1", self.path("tone.wav"), "synth", "1", "sine", "440"],
                       check=True)
        # Relative to where the program starts, not to the scene's folder; the music's end ends it.
        with self.start(args=["scene", "--music", "tone.wav"]) as p:
            self.assertEqual(p.wait(), 1)
            self.assertEqual(p.lines(), [])
        with self.start(args=["scene/prod.lua", "--music", "missing.ogg"]) as p:
            p.window()
            # The soundtrack is opened once the first frame is up.
            self.assertEqual(wait_until(lambda: p.lines() == NO_SOUNDTRACK and p.lines()), NO_SOUNDTRACK)
            p.close()
            self.assertEqual(p.wait(), 0)
        with open(self.path("stderr.txt")) as f:
            self.assertIn("no soundtrack (missing.ogg: File not found)", f.read())


if __name__ == "__main__":
    unittest.main()
