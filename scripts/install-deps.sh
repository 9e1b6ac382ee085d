#!/usr/bin/env bash
# Installs the Debian 12 packages TavrelSync needs to build, test and run.
# Runs apt-get only for what is missing; uses sudo when not root.
#   --fuzz      also clang 14 and its libFuzzer and sanitizer runtimes
#               (scripts/fuzz.sh)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  qcoro-qt6-dev
  qtkeychain-qt6-dev libsecret-1-0
  dbus gnome-keyring libsecret-tools
  libssl-dev nlohmann-json3-dev libjemalloc-dev
  libgtest-dev libgmock-dev
  desktop-file-utils
  qt6-l10n-tools qt6-translations-l10n
)
for option in "$@"; do
  case "$option" in
    --fuzz) packages+=(clang-14 libclang-rt-14-dev llvm-14) ;;
    *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
