"""The shipped demo and the examples of the scripting guide, run in the real program."""
import os
import re
import time
import unittest

from qmharness import SOURCE, Program, ProgramTest, wait_until

GRID = (153, 25, 230)
GROUND = (77, 77, 204)


def near(a, b, tolerance=40):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class Demo(ProgramTest):
    def test_the_demo_draws_its_scene_without_errors_and_scrolls_the_credits(self):
        # In demo/ itself, as scripts/demo runs it, with its soundtrack on the silent driver.
        with Program(os.path.join(SOURCE, "demo"), {"SDL_AUDIODRIVER": "dummy"},
                     output=os.path.join(self.workdir, "stdout.txt")) as p:
            p.window()
            first = wait_until(lambda: p.title() if p.title().startswith("-" * 36) else None)
            self.assertIsNotNone(first, "the credits do not reach the title")
            time.sleep(3)
            self.assertNotEqual(p.title(), first)
            width, height, data = p.grab()
            colours = set()
            for y in range(0, height, 4):
                for x in range(0, width, 4):
                    i = (y * width + x) * 4
                    pixel = (data[i + 2], data[i + 1], data[i])
                    if sum(pixel) > 90 and not near(pixel, GRID) and not near(pixel, GROUND):
                        colours.add(tuple(c // 32 for c in pixel))
            self.assertGreater(len(colours), 12, "the scene's own colours are missing")
            self.assertEqual(p.script_lines(), [])
            p.close()
            self.assertEqual(p.wait(), 0)


def guide_snippets():
    with open(os.path.join(SOURCE, "docs", "scripting.md")) as f:
        return re.findall(r"```lua\n(.*?)```", f.read(), re.S)


class GuideExamples(ProgramTest):
    def test_every_example_runs_without_error(self):
        snippets = guide_snippets()
        self.assertGreater(len(snippets), 4)
        for number, snippet in enumerate(snippets):
            with self.subTest(snippet=number):
                self.write("snippet.lua", snippet)
                # Run the example, then let its callbacks run for a few frames.
                self.write("prod.lua", 'dofile("snippet.lua")\n'
                           'local u, n = update, 0\n'
                           'function update() u() n = n + 1 if n == 30 then\n'
                           '  local f = io.open("frames.txt", "w") f:write("30") f:close() end end\n')
                marker = os.path.join(self.workdir, "frames.txt")
                if os.path.exists(marker):
                    os.remove(marker)
                with self.start() as p:
                    self.assertTrue(wait_until(lambda: os.path.exists(marker)), "no frames ran")
                    time.sleep(0.2)
                    self.assertEqual(p.script_lines(), [], snippet)
                    p.close()
                    self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
