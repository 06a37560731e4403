"""The scene the script draws, in the running program."""
import time
import unittest

from qmharness import ProgramTest, wait_until

TRIANGLE = """
function render()
  beginTriGL()
  colorGL(255, 0, 0, 255)
  vectorGL(-200, -150, -100) vectorGL(200, -150, -100) vectorGL(0, 200, -100)
  endGL()
end
function update()
  setCamPos(0, 0, 0) lookAt(0, 0, -1)
end
"""


class ScriptedScene(ProgramTest):
    def test_a_script_triangle_reaches_the_screen_and_the_credits_scroll(self):
        self.write("prod.lua", TRIANGLE)
        with self.start() as p:
            p.window()
            wait_until(p.maximized)
            first = wait_until(lambda: p.title() if p.title().startswith("-" * 36) else None)
            self.assertIsNotNone(first, "the credits do not reach the title")
            self.assertEqual(len(first), 36 + 70 + 36)
            time.sleep(1)
            _, _, w, h = p.geometry()
            red = wait_until(lambda: p.pixel(w // 2, h // 3) == (255, 0, 0), 10)
            self.assertTrue(red, "no red triangle at %s" % (p.pixel(w // 2, h // 3),))
            self.assertNotEqual(p.title(), first)
            lines = p.script_lines()
            self.assertEqual(lines, [], "script errors were printed")
            p.close()
            self.assertEqual(p.wait(), 0)

    def test_an_error_in_render_is_reported_every_frame_and_the_loop_goes_on(self):
        self.write("prod.lua", "n = 0 function update() n = n + 1 end function render() nosuch() end")
        with self.start() as p:
            p.window()
            self.assertTrue(wait_until(lambda: p.stdout().count("render(): ") >= 20, 15))
            self.assertTrue(wait_until(lambda: p.title().startswith("-" * 36)))
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
