"""The running program reloads prod.lua, and the files it loads, when they are saved."""
import os
import time
import unittest

from qmharness import ProgramTest, wait_until

# Each load appends the frame count n to loads.txt; colour.lua returns the colour to draw.
SCENE = """
n = n or 0
local f = io.open("loads.txt", "a") f:write(n, " ") f:close()
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
RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)
WHITE, YELLOW = (255, 255, 255), (255, 255, 0)


class ReloadOnSave(ProgramTest):
    def save_in_two_writes(self, text):
        """Writes prod.lua in place the way a slow editor does: its first half, which is not
        valid Lua on its own, then after a pause the rest."""
        with open(os.path.join(self.workdir, "prod.lua"), "w") as f:
            f.write(text[:len(text) // 2])
            f.flush()
            time.sleep(0.03)
            f.write(text[len(text) // 2:])

    def assert_colour(self, p, colour, step):
        _, _, w, h = p.geometry()
        shown = wait_until(lambda: p.pixel(w // 2, h // 3) == colour, 10)
        self.assertTrue(shown, "%s: %s on screen, not %s" % (step, p.pixel(w // 2, h // 3), colour))

    def test_every_way_of_saving_reaches_the_scene_and_keeps_the_state(self):
        self.write("colour.lua", "return r, g, b\n")
        prod = os.path.join(self.workdir, "prod.lua")
        with self.start() as p:
            p.window()
            wait_until(p.maximized)
            # The missing script, then the missing soundtrack.
            start_lines = wait_until(lambda: len(p.script_lines()) >= 3 and p.script_lines(), 10)
            self.assertTrue(start_lines[0].startswith('dofile("prod.lua"): cannot open prod.lua'))

            self.save_in_two_writes(SCENE % RED)
            self.assert_colour(p, RED, "prod.lua created after start-up")
            self.save_in_two_writes(SCENE % GREEN)
            self.assert_colour(p, GREEN, "written in place")
            # An editor that keeps the old file open: the file replaced lives on, unchanged.
            with open(prod):
                os.replace(self.write("prod.lua.new", SCENE % BLUE), prod)
                self.assert_colour(p, BLUE, "replaced by rename")
                self.write("prod.lua", "function render( nosuch\n")
                error_line = wait_until(lambda: p.script_lines()[3:], 10)
            self.assertTrue(error_line, "no error line for the broken save")
            self.assertTrue(error_line[0].startswith('dofile("prod.lua"): prod.lua:'), error_line)
            self.assert_colour(p, BLUE, "after the broken save")

            os.remove(prod)
            time.sleep(0.5)
            self.write("prod.lua", SCENE % WHITE)
            self.assert_colour(p, WHITE, "deleted, then written again")
            self.write("colour.lua", "return 255, 255, 0\n")
            self.assert_colour(p, YELLOW, "colour.lua written")

            time.sleep(0.5)
            self.assertEqual(p.script_lines(), start_lines + error_line)
            loads = [int(n) for n in open(os.path.join(self.workdir, "loads.txt")).read().split()]
            self.assertEqual(len(loads), 5, "one load per save: %s" % loads)
            self.assertEqual(loads[0], 0)
            self.assertEqual(loads, sorted(set(loads)), "the frame count restarted: %s" % loads)
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
