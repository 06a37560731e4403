"""The running program reloads prod.lua, and the files it loads, when they are saved; the view shows
the latest error of a load or of a frame until it is mended."""
import os
import time
import unittest

from qmharness import ProgramTest, wait_until
from test_soundtrack import make_mp3

# Each load appends the frame count n to loads.txt and loads seen.lua, which it has just written
# (that is no reason to load again); colour.lua returns the colour to draw.
SCENE = """
n = n or 0
local f = io.open("loads.txt", "a") f:write(n, " ") f:close()
f = io.open("seen.lua", "w") f:write("return ", n) f:close() dofile("seen.lua")
r, g, b = %d, %d, %d
r, g, b = dofile("colour.lua")
function update() n = n + 1 setCamPos(0, 0, 0) lookAt(0, 0, -1) end
function render()
  beginTriGL()
  colorGL(r, g, b, 255)
  vectorGL(-200, -150, -100) vectorGL(200, -150, -100) vectorGL(0, 200, -100)
  endGL()
end
"""
RED, GREEN, BLUE, WHITE, YELLOW = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (255, 255, 0)
ERROR_STRIP = (110, 12, 12)


class ReloadOnSave(ProgramTest):
    def save_in_two_writes(self, text):
        """Writes prod.lua in place as a slow editor does: a first half that is no valid Lua, then the rest."""
        with open(self.path("prod.lua"), "w") as f:
            f.write(text[:len(text) // 2])
            f.flush()
            time.sleep(0.03)
            f.write(text[len(text) // 2:])

    def assert_colour(self, p, colour, step):
        _, _, w, h = p.geometry()
        shown = wait_until(lambda: p.pixel(w // 2, h // 3) == colour)
        self.assertTrue(shown, "%s: %s on screen, not %s" % (step, p.pixel(w // 2, h // 3), colour))

    def assert_view(self, p, expected, step):
        """Waits until the view shows the error strip (expected is True) or exactly the frame expected."""
        seen = wait_until(lambda: p.view()[1] == ERROR_STRIP if expected is True else p.view()[0] == expected)
        self.assertTrue(seen, step)

    def test_every_way_of_saving_reaches_the_scene_and_keeps_the_state(self):
        self.write("colour.lua", "return r, g, b\n")
        make_mp3(self.path("Ondrelle.mp3"), 30)
        prod = self.path("prod.lua")
        with self.start() as p:
            # The missing script is reported, the music plays and the credits scroll.
            start_lines = wait_until(lambda: p.lines())
            self.assertRegex(start_lines[0], r'^dofile\("prod.lua"\): cannot open prod.lua')
            self.assertTrue(wait_until(lambda: p.title().startswith("-" * 36)), p.title())

            self.save_in_two_writes(SCENE % RED)
            self.assert_colour(p, RED, "prod.lua created after start-up")
            self.save_in_two_writes(SCENE % GREEN)
            self.assert_colour(p, GREEN, "written in place")
            # An editor that keeps the old file open: the file replaced lives on, unchanged.
            with open(prod):
                self.write("prod.lua.new", SCENE % BLUE)
                os.replace(self.path("prod.lua.new"), prod)
                self.assert_colour(p, BLUE, "replaced by rename")
                blue = p.view()[0]
                self.write("prod.lua", "function render( nosuch\n")
                error_line = wait_until(lambda: p.lines()[1:])
            self.assertRegex((error_line or ["no error line"])[0], r'^dofile\("prod.lua"\): prod.lua:')
            self.assert_colour(p, BLUE, "after the broken save")
            self.assert_view(p, True, "the broken save's error")
            self.write("prod.lua", SCENE % BLUE)
            self.assert_view(p, blue, "the error gone with the next good save")

            os.remove(prod)
            time.sleep(0.5)
            self.write("prod.lua", SCENE % WHITE)
            self.assert_colour(p, WHITE, "deleted, then written again")
            self.write("colour.lua", "return 255, 255, 0\n")
            self.assert_colour(p, YELLOW, "colour.lua written")

            time.sleep(0.5)
            self.assertEqual(p.lines(), start_lines + error_line)
            # One load per save, and the frame count never restarts.
            loads = [int(n) for n in self.read("loads.txt").split()]
            self.assertTrue(len(loads) == 6 and loads[0] == 0 and loads == sorted(set(loads)), loads)

            # A render() that fails from the console shows its error until the console mends it.
            p.focus()
            p.key("F12")
            p.command("working = render")
            p.command('function render() error("broken render") end')
            self.assert_view(p, True, "the failing render()")
            p.command("render = working")
            self.assert_colour(p, YELLOW, "render() mended")
            self.assertTrue(wait_until(lambda: p.view()[1] != ERROR_STRIP), "render() mended: the error stayed")
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
