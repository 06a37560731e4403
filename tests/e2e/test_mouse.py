"""The mouse flies the camera in the running program."""
import os
import time
import unittest

from qmharness import ProgramTest, wait_until, xdotool

# Writes the camera position to cam.txt on every frame.
RECORDER = """
function update()
  local x, y, z = getCamPos()
  local f = io.open("cam.txt", "w")
  f:write(string.format("%.4f %.4f %.4f", x, y, z))
  f:close()
end
"""


class MouseCamera(ProgramTest):
    def camera(self):
        try:
            with open(os.path.join(self.workdir, "cam.txt")) as f:
                return tuple(float(v) for v in f.read().split())
        except (OSError, ValueError):
            return None

    def settled(self):
        """The camera position once two frames apart agree."""
        def steady():
            a = self.camera()
            time.sleep(0.1)
            return a if a is not None and a == self.camera() else None
        return wait_until(steady)

    def test_wheel_and_right_drag_move_the_camera_and_left_drag_only_turns_it(self):
        self.write("prod.lua", RECORDER)
        with self.start() as p:
            p.window()
            wait_until(p.maximized)
            time.sleep(0.5)
            _, _, w, h = p.geometry()
            ground = (w // 2, h * 3 // 4)
            start = self.settled()
            self.assertEqual(start, (162.0, 66.0, 35.0))

            p.move(*ground)
            time.sleep(0.2)
            xdotool("click", 4)  # one notch forward: towards the picked ground point
            zoomed = self.settled()
            moved = sum((a - b) ** 2 for a, b in zip(zoomed, start)) ** 0.5
            self.assertGreater(moved, 1.0)
            self.assertLess(zoomed[1], start[1], "the step should head down towards the ground")

            p.drag(3, ground, (ground[0] + 150, ground[1]))
            panned = self.settled()
            self.assertNotEqual(panned, zoomed)

            before = p.grab()[2]
            p.drag(1, ground, (ground[0] + 200, ground[1]))
            time.sleep(0.3)
            self.assertEqual(self.settled(), panned)
            self.assertNotEqual(p.grab()[2], before, "the view did not turn")

            self.assertEqual(p.script_lines(), [])
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
