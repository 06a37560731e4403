"""Runs the program QM_BINARY on the test display (Xvfb and openbox) and drives it as a user would:
windows found through the window manager, keys and mouse through xdotool, pixels read from X."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from Xlib import X, Xatom, display, protocol

BINARY = os.environ.get("QM_BINARY", "")
# What a folder without a soundtrack prints at start-up.
NO_SOUNDTRACK = ["Error!", "File not found"]
# The programs started keep no console history unless a test names a file for it.
os.environ["QUILLMERE_HISTORY"] = ""


# How long a test waits for what it expects before it fails: long enough for a machine whose
# cores are all busy with other work. Tests wait for conditions, never for a set time.
PATIENCE = 60.0


def wait_until(predicate, timeout=PATIENCE):
    """Polls predicate until it returns something true; returns that, or the last value."""
    end = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() < end:
        time.sleep(0.05)
    return value


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)


# How the window manager shows the program's window: maximised, or (the player) on the whole screen
# or as it is.
MAXIMISED = ("MAXIMIZED_VERT", "MAXIMIZED_HORZ")
FULLSCREEN = ("FULLSCREEN",)
AS_IT_IS = ()


class Program:
    """The program started in a working directory (or in cwd, with arguments), standard output to
    a file in the working directory; its window is expected shown as `shown` says."""

    def __init__(self, workdir, env=None, args=(), cwd=None, shown=MAXIMISED):
        self.shown = shown
        self.stdout_path = os.path.join(workdir, "stdout.txt")
        self._out = open(self.stdout_path, "wb")
        self._err = open(os.path.join(workdir, "stderr.txt"), "wb+")
        self.process = subprocess.Popen(
            [BINARY, *args], cwd=cwd or workdir, stdout=self._out, stderr=self._err, stdin=subprocess.DEVNULL,
            env={**os.environ, "SDL_AUDIODRIVER": "dummy", "QT_QPA_PLATFORM": "xcb", **(env or {})})
        self.x = display.Display()
        self._window = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.kill()
        self.process.wait()
        self._out.close()
        self._err.close()
        self.x.close()

    def wait(self, timeout=PATIENCE):
        """Waits for the program to end; returns its exit status (None if it did not end)."""
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        if status < 0:  # ended by a signal nobody sent: what it said last tells why
            self._err.seek(0)
            sys.stderr.write(self._err.read()[-4000:].decode("utf-8", "replace"))
        return status

    def lines(self):
        with open(self.stdout_path, "rb") as f:
            return [l for l in f.read().decode("utf-8", "replace").splitlines() if l]

    def property(self, name, kind):
        prop = self.window().get_full_property(self.x.intern_atom(name), kind)
        return prop.value if prop else ()

    def window(self):
        """The program's top-level window, once the window manager shows it as expected."""
        if self._window is None:
            self._window = wait_until(self._find_window)
            states = {self.x.intern_atom("_NET_WM_STATE_" + s) for s in self.shown}
            if not self._window or not wait_until(lambda: states <= set(self.property("_NET_WM_STATE", Xatom.ATOM))):
                raise AssertionError("the program's window did not appear with the states %s" % (self.shown,))
        return self._window

    def _find_window(self):
        clients = self.x.screen().root.get_full_property(self.x.intern_atom("_NET_CLIENT_LIST"), Xatom.WINDOW)
        for wid in (clients.value if clients else []):
            w = self.x.create_resource_object("window", wid)
            try:
                if w.get_full_property(self.x.intern_atom("_NET_WM_PID"), Xatom.CARDINAL).value[0] == self.process.pid:
                    return w
            except Exception:
                continue
        return None

    def title(self):
        return bytes(self.property("_NET_WM_NAME", self.x.intern_atom("UTF8_STRING"))).decode("utf-8")

    def geometry(self):
        """(x, y, width, height) of the window's client area in root coordinates."""
        g, t = self.window().get_geometry(), self.window().translate_coords(self.x.screen().root, 0, 0)
        return -t.x, -t.y, g.width, g.height

    def close(self):
        """Asks the window to close, as the window manager's close button does."""
        event = protocol.event.ClientMessage(
            window=self.window(), client_type=self.x.intern_atom("WM_PROTOCOLS"),
            data=(32, [self.x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        self.window().send_event(event, event_mask=X.NoEventMask)
        self.x.flush()

    def focus(self):
        for command in ("windowactivate", "windowfocus"):
            xdotool(command, "--sync", self.window().id)

    def click(self, x, y, button=1, repeat=1):  # (x, y) in the window's client area
        gx, gy, _, _ = self.geometry()
        xdotool("mousemove", gx + x, gy + y, "click", "--repeat", repeat, button)

    def command(self, text):
        xdotool("type", "--delay", 5, text)
        xdotool("key", "Return")

    def key(self, *keys):
        xdotool("key", *keys)

    def view(self):
        """The scene's pixels, one row after another, and the colour of its bottom left corner: the
        view is the window's one native child."""
        view = self.window().query_tree().children[0]
        g = view.get_geometry()
        data = view.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF).data
        corner = len(data) - g.width * 4
        return data, (data[corner + 2], data[corner + 1], data[corner])

    def pixel(self, x, y):
        data = self.window().get_image(x, y, 1, 1, X.ZPixmap, 0xFFFFFFFF).data
        return data[2], data[1], data[0]


class ProgramTest(unittest.TestCase):
    """A test case with a fresh working directory per test."""

    def setUp(self):
        if not BINARY:
            self.skipTest("QM_BINARY is not set")
        self.workdir = tempfile.mkdtemp(prefix="quillmere-e2e-")
        self.addCleanup(shutil.rmtree, self.workdir, True)

    def path(self, name):
        return os.path.join(self.workdir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)

    def read(self, name):
        """The file's text once it exists and is not empty (None if it never is)."""
        def text():
            if os.path.exists(self.path(name)):
                with open(self.path(name)) as f:
                    return f.read() or None
        return wait_until(text)

    def start(self, env=None, args=(), cwd=None, shown=MAXIMISED):
        return Program(self.workdir, env, args, cwd, shown)
