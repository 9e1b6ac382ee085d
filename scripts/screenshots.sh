#!/usr/bin/env bash
# Renders the documentation's pictures of TavrelSync (panel signed out, with
# no folder, during a first sync and signed in; a conflict notice beside the
# tray; sign-in window with an error; the settings tabs) into
# docs/screenshots/, or the folder given as the first argument. Runs the real
# application under a virtual X display with a system tray, against a
# development server with the demo account, in a throw-away home.
# TAVREL_BUILD_DIR names an existing build folder to use instead of build/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only these pictures need them; the build and the tests do not.
optional_packages=(xvfb xauth trayer)
missing=()
for p in "${optional_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ -n "${TAVREL_BUILD_DIR:-}" ]; then
  build=$TAVREL_BUILD_DIR
  ninja -C "$build" -j2 tavrelsync tavrel-devserver >/dev/null
else
  build=build
  scripts/build.sh tavrelsync tavrel-devserver >/dev/null
fi

out=$(realpath -m "${1:-docs/screenshots}")
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrel-screenshots.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A free loopback port for the server, a free display number for X.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done

mkdir -p "$work/server" "$work/config" "$work/data" "$work/run"
chmod 700 "$work/run"
"$build/tavrel-devserver" --port "$port" --data-dir "$work/server" --demo --quiet >"$work/server.log" 2>&1 &
pids+=($!)

Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# The tray host along the top right, where a desktop panel would have it.
trayer --edge top --align right --widthtype request --heighttype pixel --height 24 \
  --SetDockType true --transparent false --tint 0xdedede >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1

export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM=xcb
# No session bus: notifications show as the tray's own messages, which the
# pictures can catch beside the icon.
export DBUS_SESSION_BUS_ADDRESS=disabled:
"$build/tavrelsync" --screenshots "$out" --server "http://127.0.0.1:$port"
ls -1 "$out"
