"""The soundtrack in the real program: it plays after prod.lua has run, and its end ends the
program with status 1, losing nothing a script wrote."""
import array
import subprocess
import unittest

from qmharness import ProgramTest

TONE, RATE = 660, 44100
# Busy for half a second, then it writes: lost if the music could end before prod.lua returns.
SLOW_SCRIPT = """
local start = os.clock() while os.clock() - start < 0.5 do end
io.write("written before the music\\n")
log = io.open("log.txt", "w") log:write("never closed\\n")
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


if __name__ == "__main__":
    unittest.main()
