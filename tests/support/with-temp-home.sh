#!/bin/sh
# Runs a test with HOME, the XDG directories and TMPDIR in a new temporary directory, removed afterwards.
# Both D-Bus addresses point at nothing (a test that needs a bus starts its own):
# without any address, libdbus would start a session bus by itself (dbus-x11's
# autolaunch) that outlives the test and is shared between tests.
base=$(mktemp -d "${TMPDIR:-/tmp}/karvelon-test.XXXXXX") || exit 1
mkdir -p "$base/home" "$base/config" "$base/data" "$base/cache" "$base/runtime" "$base/tmp" && chmod 700 "$base/runtime"
HOME="$base/home" XDG_CONFIG_HOME="$base/config" XDG_DATA_HOME="$base/data" XDG_CACHE_HOME="$base/cache" \
XDG_RUNTIME_DIR="$base/runtime" TMPDIR="$base/tmp" KARVELON_TEST_HOME="$base" \
DBUS_SESSION_BUS_ADDRESS="unix:path=$base/no-bus" \
DBUS_SYSTEM_BUS_ADDRESS="unix:path=$base/no-bus" "$@"
rc=$?
rm -rf "$base"
exit $rc
