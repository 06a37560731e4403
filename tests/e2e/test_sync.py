"""Sync tracks in the real program against a fake sync editor on a loopback port: the greeting, the
tracks asked for in order, keys of every interpolation read back against the formulas, the music
following the editor's row and pause and the editor told the music's row, the track files saved
and read again without an editor, reload, bad input, and captures."""
import hashlib
import os
import socket
import struct
import subprocess
import threading
import time
import unittest

from qmharness import BINARY, ProgramTest, wait_until

PROBES = [-1, 0, 2, 3.5, 5, 7.25, 9.99, 10, 11, 12, 40]
# One row a second: a track's value at time t is its value at row t. The values go to a folder of
# their own, where writing them on every frame is no change to the scene's folder.
SCENE = """
setSyncTempo(60, 1)
names = {"step", "linear", "smooth", "ramp", "cam:pos x/\\195\\169"}
first = first or getTrack("step")
tracks = {}
for i, name in ipairs(names) do tracks[i] = getTrack(name) end
probes = {$PROBES}
function update()
  local f = io.open("probe/values.tmp", "w")
  for _, t in ipairs(tracks) do
    for _, r in ipairs(probes) do f:write(string.format("%.6f ", t:value(r))) end
    f:write("\\n")
  end
  f:write(string.format("%.6f %.6f %s %s\\n", getMusicTime(), getSyncRow(), tostring(rawequal(first, getTrack("step"))),
                        tostring(tracks[1])))
  f:close()
  os.rename("probe/values.tmp", "probe/values.txt")
end
""".replace("$PROBES", ", ".join(map(str, PROBES)))
TRACKS = ["step", "linear", "smooth", "ramp", "cam:pos x/\u00e9"]
# Each track: keys at rows 2, 10 and 12; the first key's interpolation is the track's own.
KEYS = [(2, 1.0), (10, 5.0), (12, -3.0)]
GREETING, ANSWER = b"hello, synctracker!", b"hello, demo!"
NOTICE_STRIP = (32, 32, 32)


def expected(kind, row):
    """A track keyed with KEYS, all but the last key of the interpolation kind (0 step, 1 linear,
    2 smooth, 3 ramp), at a fractional row."""
    if not KEYS[0][0] <= row < KEYS[-1][0]:
        return KEYS[0][1] if row < KEYS[0][0] else KEYS[-1][1]
    (r0, v0), (r1, v1) = [(KEYS[i], KEYS[i + 1]) for i in range(len(KEYS) - 1) if KEYS[i][0] <= row // 1][-1]
    t = (row - r0) / (r1 - r0)
    return v0 + (v1 - v0) * {0: 0, 1: t, 2: t * t * (3 - 2 * t), 3: t * t}[kind]


class FakeEditor:
    """The editor's side of the protocol: listens on an ephemeral loopback port, answers the program's
    greeting, collects what it sends on a thread of its own, and sends it keys, rows, pauses and saves."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port = self.server.getsockname()[1]
        self.conn = None
        self.received = []

    def close(self):
        self.hang_up()
        self.server.close()

    def hang_up(self):
        if self.conn:
            self.conn.shutdown(socket.SHUT_RDWR)
            self.conn.close()
            self.reader.join()
            self.conn = None

    def greet(self, answer=ANSWER):
        """Accepts the next connection, reads the program's greeting and answers."""
        self.hang_up()
        self.server.settimeout(30)
        self.conn, _ = self.server.accept()
        self.conn.settimeout(None)
        self.greeting = self.conn.recv(len(GREETING), socket.MSG_WAITALL)
        self.received = []
        self.conn.sendall(answer)
        self.reader = threading.Thread(target=self._collect, args=(self.conn, self.received))
        self.reader.start()

    @staticmethod
    def _collect(conn, received):
        def read(count):
            data = conn.recv(count, socket.MSG_WAITALL)
            if len(data) < count:
                raise EOFError
            return data
        try:
            while True:
                command = read(1)[0]
                if command == 2:
                    received.append(("track", read(struct.unpack(">I", read(4))[0]).decode()))
                elif command == 3:
                    received.append(("row", struct.unpack(">I", read(4))[0]))
                else:
                    received.append(("command", command))
        except (EOFError, OSError):
            received.append(("closed",))

    def tracks(self):
        return [m[1] for m in list(self.received) if m[0] == "track"]

    def rows(self):
        return [m[1] for m in list(self.received) if m[0] == "row"]

    def send(self, data):
        self.conn.sendall(data)

    def set_key(self, track, row, value, kind):
        self.send(struct.pack(">BIIfB", 0, track, row, value, kind))

    def key_all(self):
        for track in range(len(TRACKS)):
            for row, value in KEYS:
                self.set_key(track, row, value, min(track, 3) if row < KEYS[-1][0] else 0)


def track_file(keys):
    return struct.pack("<I", len(keys)) + b"".join(struct.pack("<IfB", r, v, t) for r, v, t in keys)


class SyncTracks(ProgramTest):
    def setUp(self):
        super().setUp()
        self.editor = FakeEditor()
        self.addCleanup(self.editor.close)
        self.write("prod.lua", SCENE)
        os.mkdir(self.path("probe"))

    def start_synced(self):
        return self.start(args=("--sync", "127.0.0.1:%d" % self.editor.port))

    def values(self):
        with open(self.path("probe/values.txt")) as f:
            lines = f.read().splitlines()
        rows = [[float(x) for x in line.split()] for line in lines[:len(TRACKS)]]
        time_, row, same, name = lines[len(TRACKS)].split(" ", 3)
        return rows, float(time_), float(row), same, name

    def wait_values(self, predicate, what):
        def check():
            try:
                return predicate(self.values())
            except (OSError, ValueError, IndexError):
                return False
        self.assertTrue(wait_until(check, 20), what)

    def assert_keyed(self, what, tracks=range(len(TRACKS))):
        def keyed(v):
            return all(abs(v[0][t][i] - expected(min(t, 3), r)) < 1e-4 for t in tracks for i, r in enumerate(PROBES))
        self.wait_values(keyed, what)

    def assert_empty(self, what):
        self.wait_values(lambda v: all(x == 0 for row in v[0] for x in row), what)

    def wait_line(self, p, text, after=0):
        line = wait_until(lambda: [l for l in p.lines()[after:] if text in l], 20)
        self.assertTrue(line, "no line with %r in %s" % (text, p.lines()))
        return len(p.lines())

    def wait_tracks(self, names, what):
        self.assertTrue(wait_until(lambda: self.editor.tracks() == names, 20), "%s: %s" % (what, self.editor.tracks()))

    def test_the_editor_keys_the_tracks_moves_the_music_and_saves_them_and_the_files_play_without_it(self):
        with self.start_synced() as p:
            self.editor.greet()
            self.assertEqual(self.editor.greeting, GREETING)
            self.wait_tracks(TRACKS, "every track asked for, in the order of the first getTrack")
            seen = self.wait_line(p, "sync: connected to the editor at 127.0.0.1:%d" % self.editor.port)
            self.assertTrue(wait_until(lambda: p.view()[1] == NOTICE_STRIP, 10), "the strip shows the connection")
            self.assert_empty("no keys before the editor sends them")
            self.editor.key_all()
            self.assert_keyed("values at, between and past the keys of each interpolation")
            self.wait_values(lambda v: v[3:] == ("true", "track step"), "getTrack gives the same object")
            # A key deleted, and a row without a key deleted, which changes nothing.
            self.editor.send(struct.pack(">BII", 1, 1, 10) + struct.pack(">BII", 1, 1, 11))
            self.wait_values(lambda v: abs(v[0][1][PROBES.index(7.25)] - (1 - 4 * 5.25 / 10)) < 1e-4,
                             "the linear track runs from row 2 to row 12 once row 10's key is gone")
            self.editor.set_key(1, 10, 5.0, 1)
            self.assert_keyed("the key put back")

            # The editor pauses the music and moves it; played again, each new whole row is sent.
            self.editor.send(struct.pack(">BB", 4, 1) + struct.pack(">BI", 3, 30))
            self.wait_values(lambda v: v[1] == 30 and v[2] == 30, "SET_ROW 30 moved the paused music to 30 s")
            sent = len(self.editor.rows())
            time.sleep(1.5)
            self.wait_values(lambda v: v[1] == 30, "still paused")
            self.assertEqual(self.editor.rows()[sent:], [], "no rows while paused and still")
            self.editor.send(struct.pack(">BB", 4, 0))
            self.assertTrue(wait_until(lambda: len(self.editor.rows()) >= sent + 2, 20), self.editor.rows())
            self.editor.send(struct.pack(">BB", 4, 1))
            rows = self.editor.rows()[sent:]
            self.assertEqual(rows, list(range(31, 31 + len(rows))))

            # The files, as the player library lays them out, with the name encoded.
            self.editor.send(bytes([5]))
            self.wait_line(p, "sync: the editor saved 5 track files")
            names = sorted(f for f in os.listdir(self.workdir) if f.endswith(".track"))
            self.assertEqual(names, sorted(["sync_step.track", "sync_linear.track", "sync_smooth.track",
                                            "sync_ramp.track", "sync_cam-3Apos-20x-2F-C3-A9.track"]))
            with open(self.path("sync_smooth.track"), "rb") as f:
                self.assertEqual(f.read(), track_file([(2, 1.0, 2), (10, 5.0, 2), (12, -3.0, 0)]))

            # Reload: the same tracks and connection; a new track asked for at once, numbered next.
            self.write("prod.lua", SCENE + 'extra = getTrack("extra")\n')
            self.wait_tracks(TRACKS + ["extra"], "the new track asked for, the others not again")
            self.editor.set_key(5, 0, 7.5, 0)
            self.assert_keyed("the keys stay across the reload")
            self.wait_values(lambda v: v[3] == "true", "the same object after the reload")
            self.assertNotIn(("closed",), self.editor.received, "the reload closed the connection")

            # Losing the editor keeps the keys and says so; the program comes back and asks again.
            self.editor.hang_up()
            seen = self.wait_line(p, "sync: lost the editor at 127.0.0.1:%d: it closed the connection"
                                  % self.editor.port, seen)
            self.assert_keyed("the keys kept when the editor is lost")
            self.editor.greet()
            self.wait_tracks(TRACKS + ["extra"], "every track asked for again")
            self.assert_empty("a new connection starts from the editor's keys")

        # Without an editor the saved files give the same values, and are read again when saved.
        with self.start(args=("--sync", "off")) as p:
            self.assert_keyed("the saved files read back")
            with open(self.path("sync_linear.track"), "wb") as f:
                f.write(track_file([(0, 2.0, 0)]))
            self.wait_values(lambda v: v[0][1] == [2.0] * len(PROBES), "the file read again when saved")

    def test_bad_input_drops_the_connection_with_one_line_and_keeps_the_keys(self):
        bad = [
            (struct.pack(">BIIfB", 0, len(TRACKS), 1, 1.0, 0), "a key for the track %d" % len(TRACKS)),
            (b"\x09", "the unknown command 9"),
            (b"\x02\x00\x00\x00\x00", "the unknown command 2"),
            (struct.pack(">BIIfB", 0, 0, 1, 1.0, 4), "a key with the interpolation 4, past 3"),
            (struct.pack(">BIIf", 0, 0, 1, 1.0), "it closed the connection in the middle of a message"),
            (struct.pack(">BII", 0, 0, 1), "a message stopped short for 5 s"),
        ]
        with self.start_synced() as p:
            self.editor.greet(b"hello, dome!")
            seen = self.wait_line(p, "sync: dropped the connection to the editor at 127.0.0.1:%d: it did not greet "
                                  "as the sync editor does" % self.editor.port)
            for data, why in bad:
                self.editor.greet()
                self.wait_tracks(TRACKS, "asked again")
                self.editor.key_all()
                self.editor.send(data)
                if why.startswith("it closed"):
                    self.editor.hang_up()
                seen = self.wait_line(p, "sync: dropped the connection to the editor at 127.0.0.1:%d: %s"
                                      % (self.editor.port, why), seen)
                self.assert_keyed("the keys kept after: " + why)
            lines = [l for l in p.lines() if l.startswith("sync:")]
            self.assertEqual(len(lines), 1 + 2 * len(bad), lines)
            self.assertIsNone(p.process.poll())

    def test_two_captures_from_the_files_agree(self):
        # A capture reads the files; a flash keyed on a track shows in the frames, the same twice.
        with open(self.path("sync_flash.track"), "wb") as f:
            f.write(track_file([(0, 0.0, 1), (4, 255.0, 0), (6, 0, 0)]))
        self.write("prod.lua", """setSyncTempo(120, 4)
flash = getTrack("flash")
function render()
  local v = flash:value()
  setCamPos(0, 0, 0) lookAt(0, 0, -1)
  beginTriGL() colorGL(v, v, v, 255)
  vectorGL(-500, -500, -10) vectorGL(500, -500, -10) vectorGL(0, 500, -10) endGL()
end
""")
        digests = []
        for name in ("a.mp4", "b.mp4"):
            done = subprocess.run([BINARY, "--capture", name, "--size", "64x48", "--fps", "8", "--to", "1",
                                   "--no-overlays"],
                                  cwd=self.workdir, capture_output=True, timeout=120,
                                  env={**os.environ, "QT_QPA_PLATFORM": "xcb"})
            self.assertEqual(done.returncode, 0, done.stderr)
            frames = subprocess.run(["ffmpeg", "-v", "error", "-i", self.path(name), "-f", "rawvideo", "-pix_fmt",
                                     "gray", "-"], capture_output=True, check=True).stdout
            grey = [frames[i + 12 * 64 + 16] for i in range(0, len(frames), 64 * 48)]
            digests.append(hashlib.md5(frames).hexdigest())
        # 8 rows a second: frame i is at row i, the flash rising to row 4, full to row 6, then dark.
        self.assertEqual("".join("d" if g < 20 else "F" if g > 235 else "m" for g in grey), "dmmmFFdd")
        self.assertTrue(grey[1] < grey[2] < grey[3], grey)
        self.assertEqual(digests[0], digests[1])


if __name__ == "__main__":
    unittest.main()
