"""A capture cut into segments: each rendered by a process of its own through GNU parallel, on this
machine or through an sshd the test starts, joined into a video whose frames are those of the whole
capture; a segment that fails is tried again, one that keeps failing ends the capture without a
trace, and a scene's errors are counted over all segments."""
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from qmharness import BINARY, ProgramTest, wait_until

W, H, FPS = 64, 36, 20
# State that update() builds (a count), a feedback target that fades to black within five frames
# and iFrame, so that a segment shows what the whole capture shows only if it ran the frames
# before it: update() alone for most, and drawn for the run-up.
SCENE = """
n = n or 0
local trail = newTarget()
local fade, show = loadShader("trail.frag"), loadShader("show.frag")
setUniform(fade, "iChannel0", trail)
setUniform(show, "iChannel0", trail)
function update() n = n + 1 end
function render()
  setTarget(trail)
  setUniform(fade, "count", n)
  drawFullscreen(fade)
  setTarget(nil)
  drawFullscreen(show)
end
"""
TRAIL = """
uniform float count;
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    vec3 before = texture(iChannel0, fragCoord / iResolution.xy).rgb * 0.25;
    vec2 spot = vec2(mod(count * 3.0, iResolution.x), mod(count, iResolution.y));
    float on = step(length(fragCoord - spot), 4.0);
    fragColor = vec4(max(before, vec3(on, 0.5 * on, float(iFrame % 7) / 7.0)), 1.0);
}
"""
SHOW = """
void mainImage(out vec4 fragColor, in vec2 fragCoord) {
    fragColor = texture(iChannel0, fragCoord / iResolution.xy);
}
"""
# Kills its own process once, in a frame of the last of three segments, and leaves a mark.
KILL_ONCE = """
function render()
  if getMusicTime() >= 2.5 and not io.open("killed") then
    io.open("killed", "w"):close()
    os.execute("kill -9 $PPID")
  end
end
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Segments(ProgramTest):
    def setUp(self):
        super().setUp()
        self.write("prod.lua", SCENE)
        self.write("trail.frag", TRAIL)
        self.write("show.frag", SHOW)
        subprocess.run("sox -n -r 44100 -c 1 -b 16 tone.wav synth 3 sine 440 && lame --quiet tone.wav Ondrelle.mp3"
                       " && rm tone.wav", shell=True, check=True, cwd=self.workdir)

    def capture(self, name, *options, env=None):
        done = subprocess.run([BINARY, "--capture", name, "--fps", str(FPS), "--size", "%dx%d" % (W, H),
                               "--quality", "lossless", *options], cwd=self.workdir, capture_output=True, text=True,
                              timeout=600, env={**os.environ, "QT_QPA_PLATFORM": "xcb", **(env or {})})
        return done.returncode, done.stdout, done.stderr

    def framemd5(self, name):
        """Each video frame's time and checksum, as ffmpeg decodes it."""
        out = subprocess.run(["ffmpeg", "-v", "error", "-i", self.path(name), "-map", "0:v", "-f", "framemd5", "-"],
                             check=True, capture_output=True, text=True).stdout
        return [line for line in out.splitlines() if not line.startswith("#")]

    def whole(self):
        status, _, err = self.capture("whole.mkv")
        self.assertEqual(status, 0, err)
        frames = self.framemd5("whole.mkv")
        self.assertEqual(len(frames), 3 * FPS)
        return frames

    def test_three_local_segments_and_the_printed_commands_give_the_whole_captures_frames(self):
        whole = self.whole()
        before = sorted(os.listdir(self.workdir))
        # The segments' folder of a capture killed outright goes, the folder its link leads to stays.
        ended = subprocess.Popen(["true"])
        ended.wait()
        abandoned = self.path(".joined-%d-Ab12Cd.part.segments" % ended.pid)
        os.makedirs(abandoned)
        os.symlink(self.workdir, os.path.join(abandoned, "scene"))
        self.write(os.path.join(abandoned, "segment1.mp4"), "part")
        status, _, err = self.capture("joined.mkv", "--segments", "3", "--run-up", "0.5")
        self.assertEqual(status, 0, err)
        self.assertIn("capture: 60/60 frames", err)
        self.assertIn("wrote joined.mkv: 60 frames", err)
        self.assertEqual(self.framemd5("joined.mkv"), whole)
        # The parts and their folder are gone.
        self.assertEqual(sorted(os.listdir(self.workdir)), sorted(before + ["joined.mkv"]))
        # The same cut, run by hand: the commands printed, one after another.
        status, out, err = self.capture("printed.mkv", "--segments", "3", "--run-up", "0.5", "--print-segments")
        self.assertEqual((status, out.count("--from")), (0, 3), err)
        self.assertFalse(os.path.exists(self.path("printed.mkv")))
        by_hand = subprocess.run(["sh", "-e"], input=out, text=True, cwd="/", capture_output=True,
                                 env={**os.environ, "QT_QPA_PLATFORM": "xcb"})
        self.assertEqual(by_hand.returncode, 0, out + by_hand.stderr[-4000:])
        self.assertEqual(self.framemd5("printed.mkv"), whole)

    def test_a_segment_killed_once_is_tried_again(self):
        self.write("prod.lua", KILL_ONCE)
        status, _, err = self.capture("clip.mp4", "--segments", "3")
        self.assertEqual(status, 0, err)
        self.assertTrue(os.path.exists(self.path("killed")))
        self.assertEqual(len(self.framemd5("clip.mp4")), 3 * FPS)

    def test_a_segment_that_keeps_failing_ends_the_capture_naming_it_and_leaves_nothing(self):
        self.write("prod.lua", "function render() if getMusicTime() >= 2.5 then os.execute('kill -9 $PPID') end end")
        self.write("clip.mp4", "an earlier video")
        before = sorted(os.listdir(self.workdir))
        status, _, err = self.capture("clip.mp4", "--segments", "3")
        self.assertEqual(status, 3, err)
        self.assertIn("segment 3 of 3 (frames 40 to 59) failed on this machine after 3 tries (status 137)", err)
        self.assertEqual(sorted(os.listdir(self.workdir)), before)
        self.assertEqual(self.read("clip.mp4"), "an earlier video")

    def test_a_scenes_errors_and_a_shader_that_did_not_compile_still_give_a_video_a_count_and_status_4(self):
        self.write("prod.lua", "function render() if getMusicTime() >= 1.5 then error('late', 0) end end")
        for options in ([], ["--segments", "2"]):
            status, out, err = self.capture("clip.mp4", *options)
            self.assertEqual(status, 4, err)
            self.assertEqual(err.splitlines()[-1], "quillmere: the scene had errors in 30 of 60 frames; the first: late")
            self.assertIn("late", out)
            self.assertEqual(len(self.framemd5("clip.mp4")), 3 * FPS)
        # A shader that never compiles stands for every frame drawn after it.
        self.write("bad.frag", "void mainImage(out vec4 c, in vec2 p) { c = nothing; }\n")
        self.write("prod.lua", 'local bad = loadShader("bad.frag") function render() drawFullscreen(bad) end')
        status, _, err = self.capture("shader.mp4", "--to", "1")
        self.assertEqual(status, 4, err)
        self.assertRegex(err.splitlines()[-1], r"errors in 20 of 20 frames; the first: bad\.frag:1: .*nothing")
        self.assertTrue(os.path.exists(self.path("shader.mp4")))

    def test_a_bad_hosts_file_gets_one_line_and_status_2(self):
        self.write("comments", "# nothing but this\n\n")
        self.write("zero", "0/somewhere\n")
        self.write("odd", ":\nhost;rm -rf /\n")
        before = sorted(os.listdir(self.workdir))
        for hosts, problem in (("missing", "cannot read the hosts file missing"),
                               ("comments", "the hosts file comments names no machine"),
                               ("zero", "zero:1: '0/somewhere' is no sshlogin"),
                               ("odd", "odd:2: 'host;rm -rf /' is no sshlogin")):
            status, _, err = self.capture("clip.mp4", "--segments", "2", "--hosts", hosts)
            self.assertEqual((status, err.count("quillmere:")), (2, 1), err)
            self.assertIn(problem, err)
        self.assertEqual(sorted(os.listdir(self.workdir)), before)

    def test_two_segments_through_ssh_give_the_whole_captures_frames(self):
        whole = self.whole()
        ssh = tempfile.mkdtemp(prefix="quillmere-ssh-")
        self.addCleanup(shutil.rmtree, ssh, True)
        config = self.start_sshd(ssh)
        # One machine, two jobs at once on it; the scene's folder and the segments travel by rsync.
        self.write("hosts", "# the test's own sshd\n2/quillmere-test\n")
        status, _, err = self.capture("joined.mkv", "--segments", "2", "--run-up", "0.5", "--hosts", "hosts",
                                      env={"PARALLEL_SSH": "ssh -F " + config})
        self.assertEqual(status, 0, err)
        self.assertEqual(self.framemd5("joined.mkv"), whole)

    def start_sshd(self, folder):
        """An sshd on a free loopback port that lets this user in with a key of the test's; the ssh
        configuration that reaches it as the host quillmere-test."""
        for key in ("host", "user"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(folder, key)], check=True)
        shutil.copy(os.path.join(folder, "user.pub"), os.path.join(folder, "authorized_keys"))
        port = free_port()
        # The sanitizers' settings travel to the segments, which would otherwise report as leaks
        # what the suite's suppressions leave out.
        sanitizers = "ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS"
        with open(os.path.join(folder, "sshd_config"), "w") as f:
            f.write("ListenAddress 127.0.0.1:%d\nHostKey %s/host\nAuthorizedKeysFile %s/authorized_keys\n"
                    "PidFile %s/sshd.pid\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                    "KbdInteractiveAuthentication no\nAcceptEnv %s\n" % (port, folder, folder, folder, sanitizers))
        with open(os.path.join(folder, "ssh_config"), "w") as f:
            f.write("Host quillmere-test\n  HostName 127.0.0.1\n  Port %d\n  IdentityFile %s/user\n"
                    "  IdentitiesOnly yes\n  BatchMode yes\n  StrictHostKeyChecking no\n"
                    "  UserKnownHostsFile /dev/null\n  LogLevel ERROR\n  SendEnv %s\n" % (port, folder, sanitizers))
        # Run as root, sshd wants its privilege separation folder, which only a service start makes.
        if os.geteuid() == 0:
            os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        with open(os.path.join(folder, "sshd.log"), "wb") as log:
            sshd = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", os.path.join(folder, "sshd_config")],
                                    stdout=subprocess.DEVNULL, stderr=log)
        self.addCleanup(sshd.wait)
        self.addCleanup(sshd.terminate)

        def answers():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", port)) == 0 or sshd.poll() is not None
        self.assertTrue(wait_until(answers, 30))
        if sshd.poll() is not None:
            with open(os.path.join(folder, "sshd.log")) as log:
                self.fail("sshd did not start: " + log.read())
        return os.path.join(folder, "ssh_config")


if __name__ == "__main__":
    unittest.main()
