"""Runs the real program on the test display and drives it as a user would.

The test runner (scripts/test) starts Xvfb and openbox and exports DISPLAY; QM_BINARY names the
program. Windows are found through the window manager's client list, keys and the mouse go
through xdotool, pixels are read straight from the X server.
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from Xlib import X, Xatom, display, protocol

BINARY = os.environ.get("QM_BINARY", "")
SOURCE = os.environ.get("QM_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))


def wait_until(predicate, timeout=15.0, step=0.05):
    """Polls predicate until it returns something true; returns that, or None after timeout."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            return None
        time.sleep(step)


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)


class Program:
    """The program started in a working directory of its own, standard output to a file."""

    def __init__(self, workdir, env=None, args=(), output=None):
        self.workdir = workdir
        self.stdout_path = output or os.path.join(workdir, "stdout.txt")
        environment = dict(os.environ)
        environment.setdefault("SDL_AUDIODRIVER", "dummy")
        environment["QT_QPA_PLATFORM"] = "xcb"
        environment.update(env or {})
        self._out = open(self.stdout_path, "wb")
        self.process = subprocess.Popen([BINARY, *args], cwd=workdir, env=environment,
                                        stdout=self._out, stderr=subprocess.DEVNULL,
                                        stdin=subprocess.DEVNULL)
        self.x = display.Display()
        self._window = None

    # -- lifetime ---------------------------------------------------------------------------
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._out.close()
        self.x.close()

    def wait(self, timeout=15.0):
        """Waits for the program to end; returns its exit status (None if it did not end)."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.process.poll() is None

    def stdout(self):
        with open(self.stdout_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def script_lines(self):
        """Non-empty output lines, without the report of a working folder that has no
        soundtrack (the tests' folders usually have none)."""
        lines = [l for l in self.stdout().splitlines() if l]
        if lines[:2] == ["Error!", "File not found"]:
            lines = lines[2:]
        return lines

    # -- the window -------------------------------------------------------------------------
    def window(self, timeout=20.0):
        """The program's top-level window, once the window manager manages it."""
        if self._window is None:
            self._window = wait_until(self._find_window, timeout)
            if self._window is None:
                raise AssertionError("the program's window did not appear")
        return self._window

    def _find_window(self):
        root = self.x.screen().root
        clients = root.get_full_property(self.x.intern_atom("_NET_CLIENT_LIST"), Xatom.WINDOW)
        pid_atom = self.x.intern_atom("_NET_WM_PID")
        for wid in (clients.value if clients else []):
            w = self.x.create_resource_object("window", wid)
            try:
                pid = w.get_full_property(pid_atom, Xatom.CARDINAL)
            except Exception:
                continue
            if pid and pid.value[0] == self.process.pid:
                return w
        return None

    def title(self):
        prop = self.window().get_full_property(self.x.intern_atom("_NET_WM_NAME"),
                                               self.x.intern_atom("UTF8_STRING"))
        return prop.value.decode("utf-8") if prop else ""

    def maximized(self):
        prop = self.window().get_full_property(self.x.intern_atom("_NET_WM_STATE"), Xatom.ATOM)
        states = set(prop.value) if prop else set()
        return {self.x.intern_atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                self.x.intern_atom("_NET_WM_STATE_MAXIMIZED_HORZ")} <= states

    def geometry(self):
        """(x, y, width, height) of the window's client area in root coordinates."""
        w = self.window()
        g = w.get_geometry()
        t = w.translate_coords(self.x.screen().root, 0, 0)
        return -t.x, -t.y, g.width, g.height

    def close(self):
        """Asks the window to close, as the window manager's close button does."""
        w = self.window()
        event = protocol.event.ClientMessage(
            window=w, client_type=self.x.intern_atom("WM_PROTOCOLS"),
            data=(32, [self.x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        w.send_event(event, event_mask=X.NoEventMask)
        self.x.flush()

    # -- input ------------------------------------------------------------------------------
    def focus(self):
        xdotool("windowactivate", "--sync", self.window().id)
        xdotool("windowfocus", "--sync", self.window().id)

    def move(self, x, y):
        """Moves the pointer to (x, y) in the window's client coordinates."""
        gx, gy, _, _ = self.geometry()
        xdotool("mousemove", "--sync", gx + x, gy + y)

    def drag(self, button, start, end, steps=10, hold_key=None):
        self.move(*start)
        if hold_key:
            xdotool("keydown", hold_key)
        xdotool("mousedown", button)
        for i in range(1, steps + 1):
            self.move(start[0] + (end[0] - start[0]) * i // steps,
                      start[1] + (end[1] - start[1]) * i // steps)
            time.sleep(0.03)
        xdotool("mouseup", button)
        if hold_key:
            xdotool("keyup", hold_key)

    def open_console(self, height=250):
        """Drags the splitter handle up from the bottom so the console pane opens."""
        _, _, w, h = self.geometry()
        # The console starts collapsed: its handle sits just inside the layout's bottom margin.
        for handle_y in (h - 14, h - 13, h - 15, h - 12, h - 16):
            self.drag(1, (w // 2, handle_y), (w // 2, h - height), steps=5)
            time.sleep(0.2)
            if self.console_open():
                return
        raise AssertionError("the console did not open")

    def console_open(self):
        # The console's background is white; the view's is black.
        _, _, w, h = self.geometry()
        return self.pixel(w // 2, h - 60)[0] > 200

    def type(self, text):
        xdotool("type", "--delay", 5, text)

    def key(self, *keys):
        xdotool("key", *keys)

    # -- pixels -----------------------------------------------------------------------------
    def grab(self):
        """The window's client area as (width, height, bytes in BGRX order)."""
        w = self.window()
        g = w.get_geometry()
        image = w.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF)
        return g.width, g.height, image.data

    def pixel(self, x, y):
        w = self.window()
        image = w.get_image(x, y, 1, 1, X.ZPixmap, 0xFFFFFFFF)
        b, g, r = image.data[0], image.data[1], image.data[2]
        return r, g, b

    def screenshot(self, path):
        subprocess.run(["import", "-window", str(self.window().id), path], check=True)


class ProgramTest(unittest.TestCase):
    """A test case with a fresh working directory per test."""

    def setUp(self):
        if not BINARY:
            self.skipTest("QM_BINARY is not set")
        self.workdir = tempfile.mkdtemp(prefix="quillmere-e2e-")

    def tearDown(self):
        shutil.rmtree(self.workdir, ignore_errors=True)

    def write(self, name, text, mode="w"):
        path = os.path.join(self.workdir, name)
        with open(path, mode) as f:
            f.write(text)
        return path

    def start(self, env=None, args=()):
        return Program(self.workdir, env, args)
