"""A prod.lua that is not what it claims: one error line, and the program runs on."""
import os
import time
import unittest

from qmharness import ProgramTest, wait_until, xdotool

PREFIX = 'dofile("prod.lua"): '
# The start of a PNG image, then bytes of every value.
GARBAGE = b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + bytes(range(256)) * 4
# A file that opens like a compiled chunk and is not one.
FALSE_BYTECODE = b"\x1bLua\x51\x00\x01\x04\x08" + bytes(range(200, 256)) * 8
LAST_LINE_ERROR = "x = 1\nfunction render() end\ny = = 2"


class BadScriptFile(ProgramTest):
    def run_and_check(self, content, expect_error):
        """Starts the program on prod.lua with content; returns its script error lines after
        checking that the window stays, the console works and closing gives status 0."""
        self.write("prod.lua", content, "wb")
        with self.start() as p:
            p.window()
            wait_until(p.maximized)
            if expect_error:
                self.assertTrue(wait_until(lambda: PREFIX in p.stdout(), 15), p.stdout())
            time.sleep(0.5)
            self.assertTrue(p.running(), "the program ended")
            p.open_console()
            p.focus()
            _, _, w, h = p.geometry()
            p.move(w // 2, h - 40)
            xdotool("click", 1)
            p.type('f = io.open("alive.txt", "w") f:write(tostring(x)) f:close()')
            p.key("Return")
            path = os.path.join(self.workdir, "alive.txt")
            self.assertTrue(wait_until(lambda: os.path.exists(path) and os.path.getsize(path)),
                            "the console command did not run")
            with open(path) as f:
                # Nothing of a script that failed to load has run.
                self.assertEqual(f.read(), "nil")
            # The working folder has no soundtrack either; that report is not the script's.
            lines = [l for l in p.script_lines() if l not in ("Error!", "File not found")]
            p.close()
            self.assertEqual(p.wait(), 0)
        return lines

    def test_binary_garbage_gives_one_syntax_error_line(self):
        lines = self.run_and_check(GARBAGE, True)
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith(PREFIX + "prod.lua:1: unexpected symbol"), lines)

    def test_a_false_compiled_chunk_is_refused_with_one_line(self):
        lines = self.run_and_check(FALSE_BYTECODE, True)
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith(PREFIX + "prod.lua: bad header"), lines)

    def test_an_empty_script_reports_nothing(self):
        self.assertEqual(self.run_and_check(b"", False), [])

    def test_a_syntax_error_on_the_last_line_names_that_line(self):
        lines = self.run_and_check(LAST_LINE_ERROR.encode(), True)
        self.assertEqual(lines, [PREFIX + "prod.lua:3: unexpected symbol near '='"])


if __name__ == "__main__":
    unittest.main()
