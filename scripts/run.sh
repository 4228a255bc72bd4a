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

# The simulator prints one ready line once it listens; Karvelon fetches the
# SIP accounts at start-up, so it must not start before.
mkfifo "$PROFILE/sim-out"
node tools/pbx-sim/sim.js --config "$PROFILE/sim-config.json" --api-port "$API_PORT" --notify-port "$NOTIFY_PORT" \
    > "$PROFILE/sim-out" &
PIDS+=($!)
exec 4< "$PROFILE/sim-out"
if ! read -r -t 20 ready <&4 || [[ "$ready" != *'"ready":true'* ]]; then
    echo "demo: the simulator did not start (ports $API_PORT and $NOTIFY_PORT free?)" >&2
    exit 1
fi
# Its further lines (the calls it carries out, the incoming calls it sends)
# are the point of the demo: show them.
sed -u 's/^/simulator: /' <&4 &
PIDS+=($!)
exec 4<&-

if [ -z "${DISPLAY:-}" ]; then
    # The server picks a free display number and writes it to fd 5.
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$PROFILE/display" >/dev/null 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do [ -s "$PROFILE/display" ] && break; sleep 0.1; done
    if [ ! -s "$PROFILE/display" ]; then
        echo "demo: the virtual X server did not start" >&2
        exit 1
    fi
    export DISPLAY=":$(tr -d '[:space:]' < "$PROFILE/display")"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    openbox >/dev/null 2>&1 &
    PIDS+=($!)
    trayer --edge top --align right --widthtype request --height 32 --transparent false --tint 0x303030 >/dev/null 2>&1 &
    PIDS+=($!)
    sleep 1
    echo "demo: virtual display $DISPLAY. Look at it with:"
    echo "    DISPLAY=$DISPLAY import -window root /tmp/karvelon-demo.png"
fi

# The plug-ins' socket /tmp/Karvelon is shared by every Karvelon of the
# machine; say so when the demo is about to take it from a running one.
if node -e 'const s = require("net").connect("/tmp/Karvelon"); s.on("connect", () => process.exit(0)); s.on("error", () => process.exit(1));' 2>/dev/null; then
    echo "demo: note: another Karvelon serves /tmp/Karvelon; the demo takes that socket over while it runs."
fi

"$BUILD_DIR/app/karvelon" &
PIDS+=($!)
echo "demo: Karvelon runs in the throw-away profile $PROFILE; the simulator on 127.0.0.1:$API_PORT."
echo "demo: dial from the tray menu; an incoming call arrives every 30 seconds. Ctrl+C stops everything."
wait "${PIDS[-1]}" || true
