#!/usr/bin/env bash
# Installs what is needed, builds Karvelon against the local service simulator
# and starts both in a throw-away profile, so Karvelon can be tried without an
# account at the real service. Never touches your own settings or logs.
#
#   bash scripts/run.sh            # Ctrl+C stops everything it started
#
# Without a display it starts a virtual X server with a window manager and a
# tray, and tells how to take a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

API_PORT=${KARVELON_DEMO_API_PORT:-18080}
NOTIFY_PORT=${KARVELON_DEMO_NOTIFY_PORT:-4123}
BUILD_DIR=${BUILD_DIR:-build-demo}
SIM_CONFIG=${KARVELON_DEMO_CONFIG:-$ROOT/tools/pbx-sim/demo-config.json}

bash scripts/setup.sh

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKARVELON_BUILD_TESTS=OFF -DKARVELON_BUILD_BENCH=OFF \
    -DKARVELON_API_BASE_URL="http://127.0.0.1:$API_PORT/api/" \
    -DKARVELON_NOTIFY_URL="http://127.0.0.1:$NOTIFY_PORT" \
    -DKARVELON_WANIP_HTML_URL="http://127.0.0.1:$API_PORT/_sim/wanip.html" \
    -DKARVELON_WANIP_TEXT_URL="http://127.0.0.1:$API_PORT/_sim/wanip.txt"
cmake --build "$BUILD_DIR" -j "$(nproc)" --target karvelon

PROFILE=$(mktemp -d "${TMPDIR:-/tmp}/karvelon-demo.XXXXXX")
PIDS=()
cleanup() {
    trap - EXIT INT TERM
    echo
    echo "demo: stopping"
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[$i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$PROFILE"
}
trap cleanup EXIT INT TERM

mkdir -p "$PROFILE/home" "$PROFILE/config/Karvelon" "$PROFILE/data" "$PROFILE/cache" "$PROFILE/runtime" "$PROFILE/tmp"
chmod 700 "$PROFILE/runtime" "$PROFILE/config/Karvelon"
export HOME="$PROFILE/home" XDG_CONFIG_HOME="$PROFILE/config" XDG_DATA_HOME="$PROFILE/data" \
       XDG_CACHE_HOME="$PROFILE/cache" XDG_RUNTIME_DIR="$PROFILE/runtime" TMPDIR="$PROFILE/tmp"

# Seed the profile with the simulator's demo customer, API credentials and
# notification login.
node - "$SIM_CONFIG" > "$PROFILE/config/Karvelon/Karvelon.ini" <<'JS'
const cfg = JSON.parse(require('fs').readFileSync(process.argv[2], 'utf8'));
const c = cfg.customers[0];
const groups = { '': 'ClickToDial', msoutlook: 'OutlookPlugin', thunderbird: 'ThunderbirdPlugin', acontacts: 'AppleContactsPlugin' };
const out = [];
out.push('[CustomerGroup]', `Number=${c.number}`, `Password=${c.password}`, '');
const login = (cfg.notificationLogins || [])[0];
if (login) out.push('[Notifications]', 'Enabled=true', `Username=${login.username}`, `Password=${login.password}`, '');
for (const api of cfg.apis || []) {
  const g = groups[api.options || ''];
  if (!g) continue;
  out.push(`[${g}]`, `Id=${api.apiID}`, `Key=${api.key}`);
  if (c.sipAccounts && c.sipAccounts.length) out.push(`DefaultSip=${c.sipAccounts[0].SIPusername}`);
  out.push('');
}
process.stdout.write(out.join('\n'));
JS
chmod 600 "$PROFILE/config/Karvelon/Karvelon.ini"

# Demo: an incoming call every 30 seconds.
node -e '
const fs = require("fs");
const cfg = JSON.parse(fs.readFileSync(process.argv[1], "utf8"));
cfg.incomingCallEverySeconds = cfg.incomingCallEverySeconds || 30;
fs.writeFileSync(process.argv[2], JSON.stringify(cfg, null, 2));
' "$SIM_CONFIG" "$PROFILE/sim-config.json"

node tools/pbx-sim/sim.js --config "$PROFILE/sim-config.json" --api-port "$API_PORT" --notify-port "$NOTIFY_PORT" &
PIDS+=($!)

if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:${KARVELON_DEMO_DISPLAY:-77}
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    PIDS+=($!)
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    openbox >/dev/null 2>&1 &
    PIDS+=($!)
    trayer --edge top --align right --widthtype request --height 32 --transparent false --tint 0x303030 >/dev/null 2>&1 &
    PIDS+=($!)
    sleep 1
    echo "demo: virtual display $DISPLAY. Look at it with:"
    echo "    DISPLAY=$DISPLAY import -window root /tmp/karvelon-demo.png"
fi

"$BUILD_DIR/app/karvelon" &
PIDS+=($!)
echo "demo: Karvelon runs in the throw-away profile $PROFILE; the simulator on 127.0.0.1:$API_PORT."
echo "demo: dial from the tray menu; an incoming call arrives every 30 seconds. Ctrl+C stops everything."
wait "${PIDS[-1]}" || true
