"""A three-hour soundtrack in the real program: the whole program's peak resident memory while it
plays, analyses and loops the music, and how long the analysis takes. scripts/bench runs it and
appends the figures to its results file.

usage: longmusic.py RESULTS  (QM_BINARY names the program; a display must be running)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HOURS = 3
# A 12 s pattern at 100 beats a minute, encoded once and repeated: mp3 frames follow one another,
# so the copies make one long track in no time.
PATTERN = ("sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.6 sine 60 fade 0 0.6 0.55 vol 0.8 2>/dev/null"
           " | sox -t wav - -t wav - repeat 19 2>/dev/null | lame --quiet -t -b 128 - pattern.mp3")
# Plays near the end inside a loop from the start on, and says when the analysis is ready.
SCRIPT = """
setMusicTime(%(length)f - 20) setMusicLoop(%(length)f - 30, %(length)f - 10)
log = io.open("times.txt", "w")
function update()
  log:write(getMusicTime(), "\\n") log:flush()
  if not ready and (getMusicTempo() > 0 or getMusicLevel() > 0) then
    ready = true
    local f = io.open("ready.txt", "w") f:write(getMusicTempo(), "\\n") f:close()
  end
end
"""
TIMEOUT = 1800


def status_kb(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main(results):
    work = tempfile.mkdtemp(prefix="quillmere-longmusic-")
    try:
        subprocess.run(PATTERN, shell=True, check=True, cwd=work)
        pattern = os.path.join(work, "pattern.mp3")
        seconds = float(subprocess.run(["soxi", "-D", pattern], capture_output=True, text=True, check=True).stdout)
        copies = int(HOURS * 3600 / seconds + 0.999)
        with open(os.path.join(work, "Ondrelle.mp3"), "wb") as out, open(pattern, "rb") as piece:
            data = piece.read()
            for _ in range(copies):
                out.write(data)
        with open(os.path.join(work, "prod.lua"), "w") as f:
            f.write(SCRIPT % {"length": copies * seconds})
        env = {**os.environ, "SDL_AUDIODRIVER": "dummy", "QT_QPA_PLATFORM": "xcb", "QUILLMERE_HISTORY": ""}
        start = time.monotonic()
        program = subprocess.Popen([os.environ["QM_BINARY"]], cwd=work, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        ready = os.path.join(work, "ready.txt")
        while program.poll() is None and not os.path.exists(ready) and time.monotonic() - start < TIMEOUT:
            time.sleep(0.2)
        analysed = time.monotonic() - start
        if program.poll() is not None or not os.path.exists(ready):
            print("longmusic: the program ended or the analysis never came", file=sys.stderr)
            program.kill()
            return 1
        cpu = cpu_seconds(program.pid)
        # A few more rounds of the loop once the analysis is there.
        time.sleep(25)
        peak = status_kb(program.pid, "VmHWM")
        alive = program.poll() is None
        program.kill()
        program.wait()
        with open(os.path.join(work, "times.txt")) as f:
            times = [float(t) for t in f.read().split()]
        rounds = sum(1 for a, b in zip(times, times[1:]) if b < a - 5)
        with open(results, "a") as f:
            f.write("longmusic.music_s %.0f\n" % (copies * seconds))
            f.write("longmusic.peak_mib %.1f\n" % (peak / 1024))
            f.write("longmusic.ready_s %.1f\n" % analysed)
            f.write("longmusic.cpu_s %.1f\n" % cpu)
            f.write("longmusic.loop_rounds %d\n" % (rounds if alive else -1))
        return 0
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
