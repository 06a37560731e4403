"""Showing a scene: the player alone on the whole screen or in a window of a given size, ended by
Escape; frames paced by --fps; the keyboard and the mouse read by the script; screenshots taken by
the script and by F11."""
import glob
import os
import re
import subprocess
import unittest

from Xlib import X

from qmharness import AS_IT_IS, FULLSCREEN, ProgramTest, wait_until, xdotool

FILL = "void mainImage(out vec4 c, in vec2 p) {\n    c = vec4(0.2, 0.4, 0.6, 1.0);\n}\n"
FILLED = (51, 102, 153)
# Each frame a full-screen pass of the colour above, over whatever else is drawn before it.
FILL_SCENE = """
fill = loadShader("fill.frag")
function render() drawFullscreen(fill) end
"""
# Writes what it reads of the keyboard and the mouse to input.txt whenever that changes.
INPUT_SCENE = """
log = io.open("input.txt", "w")
last = ""
function update()
  local x, y = getMousePosition()
  local now = string.format("w=%s shift=%s middle=%s at %d %d", tostring(isKeyDown("w")),
    tostring(isKeyDown("shift")), tostring(isMouseDown(3)), x, y)
  if now ~= last then log:write(now, "\\n") log:flush() last = now end
end
"""
TIME_BAND = (32, 32, 32)


def is_filled(data, count):
    """Whether every pixel of an X image (BGRx) has the fill colour."""
    return (data[0::4], data[1::4], data[2::4]) == tuple(bytes([c]) * count for c in reversed(FILLED))


class Player(ProgramTest):
    def setUp(self):
        super().setUp()
        self.write("fill.frag", FILL)

    def last_input(self):
        with open(self.path("input.txt")) as f:
            lines = f.read().splitlines()
        return lines[-1] if lines else ""

    def wait_input(self, text):
        shown = wait_until(lambda: os.path.exists(self.path("input.txt")) and text in self.last_input())
        self.assertTrue(shown, "waited for %r, the script read %r" % (text, self.last_input()))

    def test_the_player_shows_the_scene_alone_on_the_whole_screen_and_escape_ends_it_with_status_0(self):
        # The error would show in the strip of the window; the player has none.
        self.write("prod.lua", FILL_SCENE + 'function update() error("broken on purpose") end\n')
        with self.start(args=("--player",), shown=FULLSCREEN) as p:
            screen = p.x.screen()
            width, height = screen.width_in_pixels, screen.height_in_pixels
            self.assertEqual(p.geometry(), (0, 0, width, height))

            def screen_filled():
                return is_filled(screen.root.get_image(0, 0, width, height, X.ZPixmap, 0xFFFFFFFF).data, width * height)
            # No frame, guides, strip or console: every pixel of the screen is the scene's.
            self.assertTrue(wait_until(screen_filled), "the screen holds more than the scene")
            self.assertTrue(wait_until(lambda: any("broken on purpose" in l for l in p.lines())), p.lines())
            # The cursor over the scene is blank.
            xdotool("mousemove", width // 2, height // 2)
            p.x.xfixes_query_version()
            self.assertTrue(wait_until(lambda: not any(
                pixel >> 24 for pixel in p.x.xfixes_get_cursor_image(screen.root).cursor_image)), "a cursor shows")
            self.assertTrue(screen_filled(), "the pointer moved the scene")
            p.focus()
            p.key("Escape")
            self.assertEqual(p.wait(), 0)

    def test_the_player_in_a_window_of_a_given_size_paces_its_frames_and_hands_the_keys_to_the_scene(self):
        # The music's time is the wall clock without a soundtrack: the frames of each tenth of a second.
        self.write("prod.lua", FILL_SCENE + INPUT_SCENE.replace("function update()", """
times = {}
function update()
  times[#times + 1] = getMusicTime()
  if #times == 60 then local f = io.open("times.txt", "w") f:write(table.concat(times, " ")) f:close() end
  update_input()
end
function update_input()""", 1))
        with self.start(args=("--player", "--window", "320x240", "--fps", "10"), shown=AS_IT_IS) as p:
            self.assertTrue(wait_until(lambda: p.geometry()[2:] == (320, 240)), p.geometry())
            self.assertTrue(wait_until(lambda: is_filled(p.view()[0], 320 * 240)), "the window holds more than the scene")
            times = [float(t) for t in (self.read("times.txt") or "").split()]
            # The clock stands at 0 until the first frame has been shown.
            running = [t for t in times if t > 0]
            self.assertGreater(len(running), 40, times)
            span = running[-1] - running[0]
            # Never sooner than a tenth of a second apart: at most one frame more than the span
            # holds, for the time a frame takes from its start to reading the clock.
            self.assertLessEqual(len(running) - 1, 10 * span + 1, times)
            p.focus()
            xdotool("keydown", "w")
            self.wait_input("w=true")
            xdotool("keyup", "w")
            self.wait_input("w=false")
            p.key("Escape")
            self.assertEqual(p.wait(), 0)

    def test_the_script_reads_keys_buttons_and_the_mouse_while_the_host_keeps_them(self):
        self.write("prod.lua", INPUT_SCENE)
        with self.start() as p:
            view = p.window().query_tree().children[0]
            origin = view.translate_coords(p.x.screen().root, 0, 0)
            # A click gives the view the keyboard.
            xdotool("mousemove", -origin.x + 40, -origin.y + 30, "click", 1)
            self.wait_input("at 40 30")
            xdotool("keydown", "w", "keydown", "shift")
            self.wait_input("w=true shift=true")
            xdotool("keyup", "w")
            self.wait_input("w=false shift=true")
            xdotool("keyup", "shift", "mousemove", -origin.x + 70, -origin.y + 50, "mousedown", 2)
            self.wait_input("w=false shift=false middle=true at 70 50")
            xdotool("mouseup", 2)
            self.wait_input("middle=false")
            # F10 is the host's: the guides go, and the script still reads its keys.
            with_guides, _ = p.view()
            p.key("F10")
            self.assertTrue(wait_until(lambda: p.view()[0] != with_guides), "F10 changed nothing")
            xdotool("keydown", "w")
            self.wait_input("w=true")
            xdotool("keyup", "w")
            p.close()
            self.assertEqual(p.wait(), 0)

    def test_a_screenshot_holds_the_pixels_of_the_view_and_f11_saves_one_into_the_folder(self):
        os.mkdir(self.path("shots"))
        self.write("prod.lua", """
function update()
  setCamPos(162, 66, 35) lookAt(144, 60, 45)
  frame = (frame or 0) + 1
  if frame == 20 then
    saveScreenshot("shots/view.png")
    local ok, e = pcall(saveScreenshot, "missing/view.png")
    local f = io.open("error.txt", "w") f:write(e) f:close()
  end
end
function render()
  beginTriGL() colorGL(255, 120, 0, 255)
  vectorGL(140, 50, 40) vectorGL(150, 70, 40) vectorGL(150, 50, 50)
  endGL()
end
""")
        with self.start() as p:
            self.assertRegex(self.read("error.txt") or "", r"^saveScreenshot: cannot write 'missing/view\.png': ")
            self.assertTrue(wait_until(lambda: os.path.exists(self.path("shots/view.png"))))
            # Written under another name and renamed: nothing else is left in the folder.
            self.assertEqual(os.listdir(self.path("shots")), ["view.png"])
            shown, _ = p.view()
            g = p.window().query_tree().children[0].get_geometry()
            saved = subprocess.run(["/usr/bin/convert", self.path("shots/view.png"), "-depth", "8", "rgb:-"],
                                   capture_output=True, check=True).stdout
            self.assertEqual(len(saved), g.width * g.height * 3)
            # Red, green and blue of the file against those of the window's BGRx pixels.
            for channel in range(3):
                self.assertTrue(saved[channel::3] == shown[2 - channel::4], "channel %d differs" % channel)
            p.focus()
            p.key("F11")
            shot = wait_until(lambda: glob.glob(self.path("screenshot-*.png")))
            self.assertRegex(os.path.basename((shot or ["none"])[0]), r"^screenshot-\d{8}-\d{6}\.png$")
            # Where it went, in the strip.
            self.assertTrue(wait_until(lambda: p.view()[1] == TIME_BAND), p.view()[1])
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
