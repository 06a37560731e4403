# Shared by the README commands: package set-up, the build, and the virtual display.
# Sourced, not run.

QM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian 12 packages the build, the tests and the demo need.
QM_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev liblua5.1-0-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri libsdl2-mixer-dev libxcb1-dev libx11-dev
  libgtest-dev
  xvfb xauth openbox xdotool xclip x11-utils x11-xkb-utils python3 python3-xlib imagemagick
  sox libsox-fmt-mp3 lame ffmpeg libkissfft-dev libsndfile1-dev libharfbuzz-dev parallel rsync openssh-server
  fonts-dejavu-core
  clang libclang-rt-14-dev
)

# qm_as_root COMMAND...: runs the command as root, through sudo unless this is root already.
qm_as_root() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

qm_install_packages() {
  local missing=() p
  for p in "${QM_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  qm_as_root apt-get update -qq >/dev/null || { echo "setup: apt-get update failed" >&2; return 1; }
  qm_as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || { echo "setup: apt-get install failed" >&2; return 1; }
}

# qm_build DIR [cmake options...]
qm_build() {
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$QM_ROOT" -B "$dir" -G Ninja "$@" >/dev/null || return 1
  fi
  cmake --build "$dir" -- -j"$(nproc)" | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
  [ "${PIPESTATUS[0]}" -eq 0 ]
}

# qm_start_display WIDTHxHEIGHT: starts Xvfb on a free display number with openbox on it,
# exports DISPLAY, and sets QM_DISPLAY_PIDS for qm_stop_display.
qm_start_display() {
  local size=${1:-1280x800} numberfile i n=
  # Xvfb picks a free display number itself and reports it, so that displays started at the
  # same time never share a number.
  numberfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
  local xpid=$!
  for i in $(seq 100); do
    n=$(tr -dc 0-9 <"$numberfile")
    [ -n "$n" ] && break
    kill -0 "$xpid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numberfile"
  if [ -z "$n" ] || ! DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
    kill "$xpid" 2>/dev/null
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$n"
  QM_DISPLAY_PIDS=$xpid
  # Tests of maximised, active windows need a window manager: without one they would only time
  # out, as if the program were at fault. Its first start on a fresh machine can be slow, and a
  # busy machine slower still: one that dies, or runs but manages no window, is started again.
  local attempt wm
  for attempt in 1 2 3; do
    openbox >/dev/null 2>&1 &
    wm=$!
    for i in $(seq 300); do
      kill -0 "$wm" 2>/dev/null || break
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
      sleep 0.1
    done
    kill -0 "$wm" 2>/dev/null || continue
    if qm_wm_manages; then
      QM_DISPLAY_PIDS="$wm $xpid"
      return 0
    fi
    kill "$wm" 2>/dev/null
    wait "$wm" 2>/dev/null || true
  done
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null || true
  echo "test display: the window manager (openbox) does not manage windows on $DISPLAY" >&2
  return 1
}

# qm_wm_manages: true once a window mapped on DISPLAY is managed, that is has the WM_STATE
# property that only a window manager sets.
qm_wm_manages() {
  local probe i wid managed=1
  xmessage -title quillmere-wm-probe probe >/dev/null 2>&1 &
  probe=$!
  for i in $(seq 300); do
    wid=$(xdotool search --name '^quillmere-wm-probe$' 2>/dev/null | head -n 1)
    if [ -n "$wid" ] && xprop -id "$wid" WM_STATE 2>/dev/null | grep -q 'window state'; then
      managed=0
      break
    fi
    kill -0 "$probe" 2>/dev/null || break
    sleep 0.1
  done
  kill "$probe" 2>/dev/null
  wait "$probe" 2>/dev/null || true
  return $managed
}

qm_stop_display() {
  [ -n "${QM_DISPLAY_PIDS:-}" ] && kill $QM_DISPLAY_PIDS 2>/dev/null
  wait 2>/dev/null
  QM_DISPLAY_PIDS=
}
