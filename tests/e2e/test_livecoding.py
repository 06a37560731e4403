"""Live coding in the running program: the keys that stop a runaway chunk, on any keyboard layout,
with a save that waited behind it shown at once, the frame readout and the guides hidden."""
import os
import subprocess
import time
import unittest

from qmharness import NO_SOUNDTRACK, ProgramTest, wait_until

# A triangle over the middle of the view in the colour given, the camera fixed.
SCENE = """
function update() setCamPos(0, 0, 0) lookAt(0, 0, -1) end
function render()
  beginTriGL()
  colorGL(%d, %d, %d, 255)
  vectorGL(-200, -150, -100) vectorGL(200, -150, -100) vectorGL(0, 200, -100)
  endGL()
end
"""
RED, BLUE = (255, 0, 0), (0, 0, 255)
STOPPED = "script interrupted: stopped from the keyboard"
# A chunk that says in a file when it has begun to run for ever.
RUNAWAY = 'local f = io.open("%s", "w") f:write("yes") f:close() while true do end'
# The strip's band while something is wrong, at the view's bottom left corner.
STRIP = (110, 12, 12)


class StopKeys(ProgramTest):
    def centre(self, p):
        _, _, w, h = p.geometry()
        return p.pixel(w // 2, h // 3)

    def stopped(self, p, chunk, times=1, wait=True):
        """How often the chunk was stopped from the keyboard, once it has been that often (or now).
        A chunk the time limit stopped says so in another line."""
        count = lambda: sum(l == chunk + ": " + STOPPED for l in p.lines())
        if wait:
            wait_until(lambda: count() >= times)
        return count()

    def test_a_stopped_render_stays_stopped_until_a_save_and_a_waiting_save_shows_at_once(self):
        self.write("prod.lua", SCENE % RED)
        with self.start() as p:
            self.assertTrue(wait_until(lambda: self.centre(p) == RED))
            p.focus()
            p.key("F12")
            # Ctrl+. with the keyboard in the console stops the render() that never ends; the one
            # that worked before it draws, and the strip says so, until prod.lua is saved.
            p.command("function render() " + RUNAWAY % "rendering.txt" + " end")
            self.assertEqual(self.read("rendering.txt"), "yes")
            p.key("ctrl+period")
            self.assertEqual(self.stopped(p, "render()"), 1, p.lines())
            os.remove(self.path("rendering.txt"))
            self.assertTrue(wait_until(lambda: self.centre(p) == RED and p.view()[1] == STRIP))
            self.assertFalse(os.path.exists(self.path("rendering.txt")))
            self.write("prod.lua", SCENE % BLUE)
            self.assertTrue(wait_until(lambda: self.centre(p) == BLUE and p.view()[1] != STRIP), self.centre(p))
            # A save made while the next one runs away waits for it; Ctrl+Pause shows it.
            p.command("function render() " + RUNAWAY % "rendering.txt" + " end")
            self.assertEqual(self.read("rendering.txt"), "yes")
            self.write("prod.lua", SCENE % RED)
            time.sleep(0.5)
            self.assertNotEqual(self.centre(p), RED)
            p.key("ctrl+Pause")
            self.assertTrue(wait_until(lambda: self.centre(p) == RED), self.centre(p))
            self.assertEqual(self.stopped(p, "render()", 2), 2, p.lines())
            # A console command too; the key pressed while nothing runs away stops nothing.
            p.command(RUNAWAY % "running.txt")
            self.assertEqual(self.read("running.txt"), "yes")
            p.key("ctrl+period")
            self.assertTrue(self.stopped(p, RUNAWAY % "running.txt"), p.lines())
            p.key("ctrl+period")
            p.command('f = io.open("after.txt", "w") f:write("ran") f:close()')
            self.assertEqual(self.read("after.txt"), "ran")
            self.assertEqual(p.lines(), NO_SOUNDTRACK + ["render(): " + STOPPED] * 2 + [RUNAWAY % "running.txt" + ": " + STOPPED])
            p.close()
            self.assertEqual(p.wait(), 0)


    def keyboard_layout(self, layout):
        """Gives the test display's keyboard another layout; the one it had comes back after the test."""
        saved = self.path("keymap.xkb")
        if not os.path.exists(saved):
            subprocess.run(["xkbcomp", "-xkb", os.environ["DISPLAY"], saved], check=True, stderr=subprocess.DEVNULL)
            self.addCleanup(subprocess.run, ["xkbcomp", saved, os.environ["DISPLAY"]], stderr=subprocess.DEVNULL)
        subprocess.run(["setxkbmap", layout], check=True)

    def test_the_keys_follow_the_layout_to_whichever_key_and_level_gives_them(self):
        # On the French layout the full stop is shifted, on the key to the right of the comma.
        self.write("prod.lua", "")
        with self.start() as p:
            p.focus()
            p.key("F12")
            runaway = RUNAWAY % "running.txt"
            p.command(runaway)
            self.assertEqual(self.read("running.txt"), "yes")
            # Changed while the chunk holds up the window. The keys are taken again once the
            # program hears of the change: a press before that goes to the window.
            self.keyboard_layout("fr")
            for _ in range(20):
                p.key("ctrl+period")
                if wait_until(lambda: self.stopped(p, runaway, wait=False), 1):
                    break
            self.assertEqual(self.stopped(p, runaway), 1, p.lines())
            p.close()
            self.assertEqual(p.wait(), 0)


READOUT_BAND = (32, 32, 32)
GRID = bytes((230, 26, 153))  # as X stores the grid's colour: blue, green, red


class ViewKeys(ProgramTest):
    def top_right(self, p):
        view = p.window().query_tree().children[0]
        data = view.get_image(view.get_geometry().width - 3, 2, 1, 1, 2, 0xFFFFFFFF).data
        return data[2], data[1], data[0]

    def grid_shown(self, p):
        return GRID in p.view()[0]

    def test_f9_shows_the_frame_readout_and_f10_hides_the_guides_from_anywhere_in_the_window(self):
        self.write("prod.lua", "")  # the camera where it starts, over the grid
        with self.start() as p:
            _, _, w, h = p.geometry()
            self.assertTrue(wait_until(lambda: self.grid_shown(p)))
            p.focus()
            p.click(w // 2, h // 2)  # the keyboard in the view
            self.assertNotEqual(self.top_right(p), READOUT_BAND)
            p.key("F9")
            self.assertTrue(wait_until(lambda: self.top_right(p) == READOUT_BAND))
            p.key("F10")
            self.assertTrue(wait_until(lambda: not self.grid_shown(p)))
            p.key("F12")  # the keyboard in the console
            p.key("F9", "F10")
            self.assertTrue(wait_until(lambda: self.top_right(p) != READOUT_BAND and self.grid_shown(p)))
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
