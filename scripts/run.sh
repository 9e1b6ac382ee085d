#!/usr/bin/env bash
# Installs what is missing, builds, starts the development server with a demo
# account and then the TavrelSync application. Ctrl-C (or "Quit") ends both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh tavrelsync tavrel-devserver
port=${TAVREL_DEVSERVER_PORT:-8765}
data=$(mktemp -d "${TMPDIR:-/tmp}/tavrel-devserver.XXXXXX")
build/tavrel-devserver --port "$port" --data-dir "$data" --demo &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$data"' EXIT
sleep 1
echo
echo "Sign in with server http://127.0.0.1:$port, e-mail demo@tavrel.test, password demo-password."
echo
build/tavrelsync
