"""A shader file the scene draws with is compiled again when it is saved: a broken save names its file
and line on standard output and in the view's strip while the last good program keeps drawing, and the
save that mends it clears the error. A texture file is read again on save too."""
import os
import unittest

from qmharness import ProgramTest, wait_until
from test_soundtrack import make_mp3

SCENE = """
s = loadShader("wave.frag")
function render() drawFullscreen(s) end
"""
COLOUR = "void mainImage(out vec4 c, in vec2 p) {\n    c = vec4(%s, 1.0);\n}\n"
BROKEN = "void mainImage(out vec4 c, in vec2 p) {\n    c = vec4(1.0) nosuch;\n}\n"
ERROR_STRIP = (110, 12, 12)
# Reads the shader, then saves it again at once; writes one file and removes another every frame.
BUSY_SCENE = """
s = loadShader("wave.frag")
local f = io.open("wave.frag", "w") f:write([[%s]]) f:close()
n = 0
function update()
  n = n + 1
  f = io.open("frame" .. n %% 2 .. ".txt", "w") f:write(n) f:close()
  os.remove("frame" .. (n + 1) %% 2 .. ".txt")
end
function render() drawFullscreen(s) end
"""


class ShaderFiles(ProgramTest):
    def assert_centre(self, p, colour, step):
        _, _, w, h = p.geometry()
        shown = wait_until(lambda: p.pixel(w // 2, h // 3) == colour)
        self.assertTrue(shown, "%s: %s on screen, not %s" % (step, p.pixel(w // 2, h // 3), colour))

    def test_a_saved_shader_is_compiled_again_and_a_broken_one_keeps_the_last_good_program(self):
        make_mp3(self.path("Ondrelle.mp3"), 30)
        self.write("wave.frag", COLOUR % "0.0, 1.0, 0.0")
        self.write("prod.lua", SCENE)
        with self.start() as p:
            self.assert_centre(p, (0, 255, 0), "the first compile")
            self.write("wave.frag", BROKEN)
            error = wait_until(lambda: [l for l in p.lines() if l.startswith("wave.frag:")])
            self.assertRegex((error or ["no error line"])[0], r"^wave\.frag:2: error: ")
            self.assertTrue(wait_until(lambda: p.view()[1] == ERROR_STRIP), "no error in the strip")
            self.assert_centre(p, (0, 255, 0), "the last good program after the broken save")
            # Saved by rename, as many editors do.
            self.write("wave.frag.new", COLOUR % "0.0, 0.0, 1.0")
            os.replace(self.path("wave.frag.new"), self.path("wave.frag"))
            self.assert_centre(p, (0, 0, 255), "the mended save")
            self.assertTrue(wait_until(lambda: p.view()[1] != ERROR_STRIP), "the error stayed in the strip")
            p.close()
            self.assertEqual(p.wait(), 0)

    def test_a_scene_that_writes_files_every_frame_still_sees_its_shaders_saved(self):
        """The folder changes on every frame, as the scene writes and removes files of its own; the
        shader's saves are compiled all the same, a save in the same chunk that read it included."""
        make_mp3(self.path("Ondrelle.mp3"), 30)
        self.write("wave.frag", COLOUR % "1.0, 0.0, 0.0")
        self.write("prod.lua", BUSY_SCENE % (COLOUR % "0.0, 1.0, 0.0"))
        with self.start() as p:
            self.assert_centre(p, (0, 255, 0), "the save made just after the shader was read")
            self.write("wave.frag", BROKEN)
            error = wait_until(lambda: [l for l in p.lines() if l.startswith("wave.frag:")], 10)
            self.assertRegex((error or ["no error line"])[0], r"^wave\.frag:2: error: ")
            self.write("wave.frag", COLOUR % "0.0, 0.0, 1.0")
            self.assert_centre(p, (0, 0, 255), "the mended save")
            self.assertTrue(any(os.path.exists(self.path("frame%d.txt" % i)) for i in (0, 1)), "the scene's own files")
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
