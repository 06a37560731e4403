"""The soundtrack in the real program: it plays, its end ends the program, failures are reported."""
import math
import os
import signal
import struct
import subprocess
import time
import unittest

from qmharness import ProgramTest, wait_until

TONE = 660
MIX_RATE = 44100
# The mixer's output, as SDL's disk driver writes it: 16-bit little-endian stereo frames.
FRAME = struct.Struct("<hh")
SILENCE = 64


def tone_share(samples, frequency, rate):
    """The share of the signal's power at frequency (Goertzel): near 1 for a pure tone there."""
    coefficient = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coefficient * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - coefficient * s1 * s2
    energy = sum(x * x for x in samples)
    return power / (len(samples) / 2 * energy) if energy else 0.0


class Soundtrack(ProgramTest):
    def make_mp3(self, seconds):
        wav = os.path.join(self.workdir, "tone.wav")
        subprocess.run(["sox", "-n", "-r", str(MIX_RATE), "-c", "1", wav,
                        "synth", str(seconds), "sine", str(TONE), "vol", "0.5"], check=True)
        subprocess.run(["lame", "--quiet", "-m", "m", "-b", "64", wav,
                        os.path.join(self.workdir, "Ondrelle.mp3")], check=True)
        os.remove(wav)

    def lines(self, p):
        return [l for l in p.stdout().splitlines() if l]

    def test_the_music_plays_through_and_its_end_ends_the_program_with_status_1(self):
        self.make_mp3(1.5)
        self.write("prod.lua", 'io.write("written before the music\\n")\n')
        pcm = os.path.join(self.workdir, "out.raw")
        env = {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIODELAY": "0", "SDL_DISKAUDIOFILE": pcm}
        with self.start(env) as p:
            self.assertEqual(p.wait(), 1)
            self.assertEqual(self.lines(p), ["written before the music"])
        with open(pcm, "rb") as f:
            data = f.read()
        left = [frame[0] for frame in FRAME.iter_unpack(data[:len(data) // 4 * 4])]
        sound = [i for i, x in enumerate(left) if abs(x) > SILENCE]
        self.assertTrue(sound, "the driver wrote only silence")
        played = left[sound[0]:sound[-1] + 1]
        self.assertGreater(len(played), MIX_RATE, "less than the tone was played")
        middle = played[len(played) // 4: len(played) * 3 // 4]
        self.assertGreater(tone_share(middle, TONE, MIX_RATE), 0.8)
        self.assertLess(tone_share(middle, TONE * 2 / 3, MIX_RATE), 0.05)

    def test_a_window_closed_while_the_music_plays_ends_with_status_0_and_ctrl_c_still_works(self):
        self.make_mp3(30)
        self.write("prod.lua", "")
        with self.start() as p:
            p.window()
            time.sleep(1)
            self.assertTrue(p.running())
            p.close()
            self.assertEqual(p.wait(10), 0)
            self.assertEqual(self.lines(p), [])
        # With the music playing, Ctrl+C in the terminal still stops the program.
        with self.start() as p:
            p.window()
            time.sleep(1)
            p.process.send_signal(signal.SIGINT)
            self.assertEqual(p.wait(10), -signal.SIGINT)

    def test_without_music_the_failure_is_reported_and_the_program_runs_until_closed(self):
        cases = [
            ("missing file", None, {}, ["Error!", "File not found"]),
            ("undecodable file", bytes(range(256)) * 16, {}, ["Error!", "Unknown file format"]),
            ("empty file", b"", {}, ["Error!", "Unknown file format"]),
            ("file cut off within its first frames", "cut", {}, ["Error!", "Unknown file format"]),
            ("no output device", "mp3", {"SDL_AUDIODRIVER": "nonexistent"},
             ["Error!", "Error initializing output device.",
              "Error!", "This command failed because FSOUND_Init was not called"]),
        ]
        self.write("prod.lua", "")
        for name, content, env, expected in cases:
            with self.subTest(name):
                track = os.path.join(self.workdir, "Ondrelle.mp3")
                if os.path.exists(track):
                    os.remove(track)
                if content in ("mp3", "cut"):
                    self.make_mp3(1)
                if content == "cut":
                    with open(track, "rb") as f:
                        head = f.read(300)
                    self.write("Ondrelle.mp3", head, "wb")
                elif content not in (None, "mp3"):
                    self.write("Ondrelle.mp3", content, "wb")
                with self.start(env) as p:
                    self.assertTrue(wait_until(lambda: len(self.lines(p)) >= len(expected)))
                    p.window()
                    time.sleep(1)
                    self.assertTrue(p.running())
                    self.assertEqual(self.lines(p), expected)
                    p.close()
                    self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
