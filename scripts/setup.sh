#!/usr/bin/env bash
# Installs everything needed to build, run and test Karvelon on Debian 12.
# Safe to run again: apt-get and npm ci skip what is already in place.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5websockets5-dev libqt5svg5-dev
    libqt5sql5-sqlite sqlite3
    libquazip1-qt5-dev zlib1g-dev
    qtkeychain-qt5-dev libsecret-1-0 gnome-keyring libsecret-tools
    libqt5x11extras5-dev libxcb1-dev libxcb-keysyms1-dev x11proto-dev
    openssl unzip
    qttranslations5-l10n
    xvfb xauth x11-utils xdotool xclip openbox trayer imagemagick xdg-utils tzdata
    clang libclang-rt-14-dev
    dbus-daemon python3-dbusmock
    haskell-status-notifier-item-utils dunst
)

missing=()
# Node.js and npm usually come with the machine (a newer build than Debian's,
# whose npm package then conflicts); install Debian's only when they are absent.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    PACKAGES+=(nodejs npm)
fi
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The service simulator's own dependencies, pinned by its lock file.
if [ -f tools/pbx-sim/package-lock.json ]; then
    if [ ! -d tools/pbx-sim/node_modules ] || [ tools/pbx-sim/package-lock.json -nt tools/pbx-sim/node_modules ]; then
        (cd tools/pbx-sim && npm ci --no-audit --no-fund --loglevel=error)
    fi
fi
echo "setup: done"
