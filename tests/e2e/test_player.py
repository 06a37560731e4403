"""Showing a scene: the player alone on the whole screen or in a window of a given size, ended by
Escape; frames paced by --fps; the keyboard and the mouse read by the script; screenshots taken by
the script and by F11."""
import glob
import os
import subprocess
import unittest

from Xlib import X

from qmharness import AS_IT_IS, FULLSCREEN, ProgramTest, wait_until, xdotool

FILL = "void mainImage(out vec4 c, in vec2 p) {\n    c = vec4(0.2, 0.4, 0.6, 1.0);\n}\n"
FILLED = (51, 102, 153)
FILL_SCENE = 'fill = loadShader("fill.frag")\nfunction render() drawFullscreen(fill) end\n'


def is_filled(data, count):
    """Whether every pixel of an X image (BGRx) has the fill colour."""
    return (data[0::4], data[1::4], data[2::4]) == tuple(bytes([c]) * count for c in reversed(FILLED))


class Player(ProgramTest):
    def setUp(self):
        super().setUp()
        self.write("fill.frag", FILL)

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
            xdotool("mousemove", width // 2, height // 2)
            p.x.xfixes_query_version()
            self.assertTrue(wait_until(lambda: not any(
                pixel >> 24 for pixel in p.x.xfixes_get_cursor_image(screen.root).cursor_image)), "a cursor shows")
            p.focus()
            p.key("Escape")
            self.assertEqual(p.wait(), 0)

    def test_the_player_in_a_window_paces_its_frames_and_the_script_reads_keys_buttons_and_the_mouse(self):
        # Without a soundtrack the music's time is the wall clock; the script writes what it reads.
        self.write("prod.lua", FILL_SCENE + """
times, last = {}, ""
function update()
  times[#times + 1] = getMusicTime()
  if #times == 50 then local f = io.open("times.txt", "w") f:write(table.concat(times, " ")) f:close() end
  local now = string.format("w=%s shift=%s middle=%s at %d %d", tostring(isKeyDown("w")),
    tostring(isKeyDown("shift")), tostring(isMouseDown(3)), getMousePosition())
  if now ~= last then local f = io.open("input.txt", "a") f:write(now, "\\n") f:close() last = now end
end
""")

        def read_input(text):
            self.assertTrue(wait_until(lambda: text in ((self.read("input.txt") or "").splitlines() or [""])[-1]),
                            "waited for %r, the script read %r" % (text, self.read("input.txt")))
        with self.start(args=("--player", "--window", "320x240", "--fps", "10"), shown=AS_IT_IS) as p:
            self.assertTrue(wait_until(lambda: p.geometry()[2:] == (320, 240)), p.geometry())
            self.assertTrue(wait_until(lambda: is_filled(p.view()[0], 320 * 240)), "the window holds more than the scene")
            # Never sooner than a tenth of a second apart: at most one frame more than the span
            # holds, for the time a frame takes from its start to reading the clock. The clock
            # stands at 0 until the first frame has been shown.
            wait_until(lambda: os.path.exists(self.path("times.txt")), 60)
            running = [t for t in map(float, (self.read("times.txt") or "").split()) if t > 0]
            self.assertGreater(len(running), 30, running)
            self.assertLessEqual(len(running) - 1, 10 * (running[-1] - running[0]) + 1, running)
            p.focus()
            x, y, _, _ = p.geometry()
            xdotool("mousemove", x + 70, y + 50, "keydown", "w", "keydown", "shift", "mousedown", 2)
            read_input("w=true shift=true middle=true at 70 50")
            xdotool("keyup", "w", "keyup", "shift", "mouseup", 2)
            read_input("w=false shift=false middle=false")
            # A save reloads the scene as in the window: here, without its pass.
            self.write("prod.lua", "function render() end\n")
            self.assertTrue(wait_until(lambda: p.view()[1] == (0, 0, 0)), p.view()[1])
            p.key("Escape")
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
""")
        with self.start() as p:
            self.assertRegex(self.read("error.txt") or "", r"^saveScreenshot: cannot write 'missing/view\.png': ")
            self.assertTrue(wait_until(lambda: os.path.exists(self.path("shots/view.png"))))
            # Written under another name and renamed: nothing else is left in the folder.
            self.assertEqual(os.listdir(self.path("shots")), ["view.png"])
            shown, _ = p.view()
            saved = subprocess.run(["/usr/bin/convert", self.path("shots/view.png"), "-depth", "8", "rgb:-"],
                                   capture_output=True, check=True).stdout
            self.assertEqual(len(saved) // 3, len(shown) // 4)
            # Red, green and blue of the file against those of the window's BGRx pixels.
            for channel in range(3):
                self.assertTrue(saved[channel::3] == shown[2 - channel::4], "channel %d differs" % channel)
            p.focus()
            p.key("F11")
            shot = wait_until(lambda: glob.glob(self.path("screenshot-*.png")))
            self.assertRegex(os.path.basename((shot or ["none"])[0]), r"^screenshot-\d{8}-\d{6}\.png$")
            # The strip names it.
            self.assertTrue(wait_until(lambda: p.view()[1] == (32, 32, 32)), p.view()[1])
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
