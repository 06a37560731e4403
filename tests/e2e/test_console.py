"""The console in the running program, used with a person's desktop habits; started after a script
that ran out of memory with a finalizer that raises."""
import os
import subprocess
import unittest

from qmharness import NO_SOUNDTRACK, PATIENCE, ProgramTest, wait_until, xdotool
from test_soundtrack import make_mp3

WRITE = 'f = io.open("%s", "w") f:write(%s) f:close()'
SCRIPT = """greeting = "from prod.lua"
local proxy = newproxy(true)
getmetatable(proxy).__gc = function() error("finalizer failed", 0) end
local held, s = proxy, "x"
while true do s = s .. s end
"""


class Console(ProgramTest):
    def own(self, selection, data, target="UTF8_STRING"):
        """Has xclip own the X selection with data as another program would (None: no owner)."""
        owner = getattr(self, selection, None)
        if owner:
            owner.kill()
            owner.wait()
            setattr(self, selection, None)
        if data is not None:
            owner = subprocess.Popen(["xclip", "-quiet", "-selection", selection, "-t", target],
                                     stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)
            owner.stdin.write(data.encode() if isinstance(data, str) else data)
            owner.stdin.close()
            self.addCleanup(owner.kill)
            setattr(self, selection, owner)
        self.assertTrue(wait_until(lambda: bool(self.selection(selection, "TARGETS")) == (data is not None)))

    def selection(self, name="clipboard", target="UTF8_STRING"):
        return subprocess.run(["xclip", "-o", "-selection", name, "-t", target], capture_output=True,
                              timeout=PATIENCE).stdout.decode()

    def copied(self, p, *keys):
        """What the console puts on the clipboard when these keys are pressed."""
        self.own("clipboard", "nothing copied")
        p.key(*keys)
        return wait_until(lambda: (text := self.selection()) != "nothing copied" and text)

    def test_the_console_keeps_a_desktop_users_habits(self):
        self.write("prod.lua", SCRIPT)
        with self.start() as p:
            _, _, w, h = p.geometry()
            p.focus()
            p.key("F12")
            p.command(WRITE % ("shared.txt", "greeting"))
            self.assertEqual(self.read("shared.txt"), "from prod.lua")

            # Pastes with nothing, an image or markup on the clipboard add nothing; text pastes.
            image = b"\x89PNG\r\n\x1a\n" + bytes(range(256))
            for data, target in ((None, None), (image, "image/png"), ("<b>bold</b>", "text/html")):
                self.own("clipboard", data, target)
                p.key("ctrl+v", "shift+Insert")
            self.own("clipboard", WRITE % ("pasted.txt", "greeting"))
            p.key("ctrl+v", "Return")
            self.assertEqual(self.read("pasted.txt"), "from prod.lua")

            # A word of output copied by double-click and Ctrl+C; the middle button over the
            # output pastes into the input, and the output stays. Lines of one long word fill the
            # console, which takes the lower third of the window.
            p.command('for i = 1, 40 do print(string.rep("w", 99)) end')
            p.command(WRITE % ("shown.txt", "1"))  # the output is on screen once this has run
            self.assertEqual(self.read("shown.txt"), "1")
            p.click(100, h - h // 6, repeat=2)
            self.assertEqual(self.copied(p, "ctrl+c"), "w" * 99)
            before = self.copied(p, "ctrl+a", "ctrl+c", "ctrl+End")
            self.own("primary", WRITE % ("middle.txt", '"middle"'))
            p.click(100, h - h // 6, button=2)
            p.key("Return")
            self.assertEqual(self.read("middle.txt"), "middle")
            self.assertTrue(self.copied(p, "ctrl+a", "ctrl+c", "ctrl+End").startswith(before.rstrip("\n")))

            # Very long output: the console shows its ends at once and goes on.
            p.command("for i = 1, 400000 do print(i) end")
            p.command('print(string.rep("x", 1e6))')
            p.command(WRITE % ("after.txt", '"after"'))
            self.assertEqual(self.read("after.txt"), "after")
            shown = self.copied(p, "ctrl+a", "ctrl+c", "ctrl+End")
            self.assertIn("\n500\n[... 399000 lines and 3082503 bytes left out ...]\n399501\n", shown)
            self.assertIn("\n[... 967234 bytes left out ...]\n", shown)

            # The shortcut closes the console, giving the keyboard to the scene; Tab from the
            # scene gives it back to the console while it is open, never to a collapsed one.
            p.key("ctrl+grave")
            p.command(WRITE % ("lost.txt", '"lost"'))
            p.click(w // 2, h // 3)
            p.key("Tab")
            p.command(WRITE % ("lost.txt", '"lost"'))
            p.key("F12")
            p.click(w // 2, h // 3)
            p.key("Tab")
            p.command(WRITE % ("tab.txt", '"tab"'))
            self.assertEqual(self.read("tab.txt"), "tab")
            self.assertFalse(os.path.exists(self.path("lost.txt")))

            p.close()
            self.assertEqual(p.wait(), 0)
        errors = [l for l in p.lines() if l not in NO_SOUNDTRACK]
        self.assertEqual(errors, ['dofile("prod.lua"): not enough memory', 'dofile("prod.lua"): finalizer failed'])

    # Commands are kept as they are run: the music's end, and later a kill, loses none of them.
    def test_the_history_outlives_the_program_and_two_at_once_keep_each_others(self):
        history, env = self.path("state/history"), {"QUILLMERE_HISTORY": self.path("state/history")}
        self.write("prod.lua", "")
        make_mp3(self.path("Ondrelle.mp3"), 6)
        with self.start(env) as p:
            p.focus()
            p.key("F12")
            xdotool("type", "--delay", 5, 'f = io.open("a.txt", "w") f:write([[first')
            p.key("ctrl+Return")
            p.command("second]]) f:close()")
            self.assertEqual(self.read("a.txt"), "first\n    second")
            self.assertEqual(p.wait(), 1)  # the music's end
        for name in ("Ondrelle.mp3", "a.txt"):
            os.remove(self.path(name))

        with self.start(env) as first, self.start(env) as second:
            # Both windows are shown, and the second has handled its keys, before the first takes
            # the keyboard.
            first.window(), second.window()
            second.focus()
            second.key("F12")
            second.command(WRITE % ("c.txt", '"c"'))
            self.assertEqual(self.read("c.txt"), "c")
            first.focus()
            first.key("F12", "ctrl+Up", "Return")
            self.assertEqual(self.read("a.txt"), "first\n    second")
            first.command(WRITE % ("b.txt", '"b"'))
            self.assertEqual(self.read("b.txt"), "b")

        with open(history, "ab") as f:
            f.write(b"\xff\n")
        for name in "bc":
            os.remove(self.path(name + ".txt"))
        with self.start(env) as p:
            p.focus()
            p.key("F12", "ctrl+Up", "Return", "ctrl+Up", "ctrl+Up", "Return")
            self.assertEqual((self.read("b.txt"), self.read("c.txt")), ("b", "c"))
            # The missing soundtrack is told once the first frame is up.
            expected = ["history: %s: 1 unreadable entry skipped" % history] + NO_SOUNDTRACK
            self.assertEqual(wait_until(lambda: p.lines() == expected) and p.lines(), expected, p.lines())


if __name__ == "__main__":
    unittest.main()
