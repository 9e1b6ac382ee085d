#!/usr/bin/env bash
# Installs what is missing, builds, starts the development server with a demo
# account and then the TavrelSync application. Ctrl-C (or "Quit") ends both.
#
# The server's documents are kept between runs in
# ${XDG_STATE_HOME:-~/.local/state}/TavrelSync/devserver, so that a saved
# session still signs in next time; `scripts/run.sh --fresh` (or
# TAVREL_DEVSERVER_FRESH=1) starts from an empty server. Its request log goes
# to devserver.log in the same folder, not to the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
fresh=${TAVREL_DEVSERVER_FRESH:-0}
for argument in "$@"; do
    case "$argument" in
        --fresh) fresh=1 ;;
        *) echo "usage: scripts/run.sh [--fresh]" >&2; exit 2 ;;
    esac
done
scripts/build.sh tavrelsync tavrel-devserver
port=${TAVREL_DEVSERVER_PORT:-8765}
home=${TAVREL_DEVSERVER_HOME:-${XDG_STATE_HOME:-$HOME/.local/state}/TavrelSync/devserver}
data=$home/data
log=$home/devserver.log
if [ "$fresh" = 1 ]; then
    rm -rf "$data"
fi
mkdir -p "$data"
build/tavrel-devserver --port "$port" --data-dir "$data" --demo --log-file "$log" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
sleep 1
echo
echo "Development server data: $data (kept; scripts/run.sh --fresh starts afresh)"
echo "Development server log:  $log"
echo "Sign in with server http://127.0.0.1:$port, e-mail demo@tavrel.test, password demo-password."
echo
build/tavrelsync
