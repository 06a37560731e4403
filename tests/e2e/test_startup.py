"""Start-up, the console path and shut-down of the real program."""
import os
import time
import unittest

from qmharness import ProgramTest, wait_until, xdotool


class StartupWithoutScript(ProgramTest):
    def test_reports_the_missing_script_and_runs_until_closed(self):
        with self.start() as p:
            out = wait_until(lambda: p.stdout() if "prod.lua" in p.stdout() else None)
            self.assertIsNotNone(out, "no error line for the missing prod.lua")
            self.assertTrue(out.startswith('dofile("prod.lua"): cannot open prod.lua'), out)
            self.assertIn("\n\n", out)
            p.window()
            self.assertTrue(wait_until(p.maximized), "the window is not maximised")
            self.assertNotIn("Kestrova", p.title())
            p.close()
            self.assertEqual(p.wait(), 0)


class ConsoleCommands(ProgramTest):
    def read(self, name, expected):
        path = os.path.join(self.workdir, name)

        def content():
            if os.path.exists(path):
                with open(path) as f:
                    return f.read() == expected
        return wait_until(content, 10)

    def test_commands_run_in_the_shared_state_and_history_recalls_them(self):
        self.write("prod.lua", "greeting = 'from prod.lua'\n")
        with self.start() as p:
            p.window()
            wait_until(p.maximized)
            time.sleep(0.5)
            p.open_console()
            p.focus()
            _, _, w, h = p.geometry()
            p.move(w // 2, h - 40)
            time.sleep(0.2)
            xdotool("click", 1)
            p.type('f = io.open("shared.txt", "w") f:write(greeting) f:close()')
            p.key("Return")
            self.assertTrue(self.read("shared.txt", "from prod.lua"))
            p.type('n = (n or 0) + 1 f = io.open("count.txt", "w") f:write(n) f:close()')
            p.key("Return")
            self.assertTrue(self.read("count.txt", "1"))
            p.key("ctrl+Up")
            p.key("Return")
            self.assertTrue(self.read("count.txt", "2"))
            p.close()
            self.assertEqual(p.wait(), 0)


if __name__ == "__main__":
    unittest.main()
