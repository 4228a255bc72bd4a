#!/bin/bash
# ThreadSanitizer build (build-tsan/) of the tests that run our three threads
# (GUI, plug-in command server, web service): the controller with its worker
# threads, the command server, the web-service client and its notification
# channel, the load and fault tests that drive them, and the real program
# started, used and quit (test_program, test_shutdown, test_e2e_plugin).
# Fails on any report not suppressed by tests/tsan.supp, which names only what
# lies inside Qt and the libraries under it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"
tests=(test_controller test_internalapi test_notificationchannel test_logger test_faults_service
       test_load_plugincommands test_load_logging test_load_traycalls
       test_program test_shutdown test_e2e_plugin)

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELON_SANITIZE=thread \
    -DKARVELON_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${TSAN_JOBS:-2}" --target "${tests[@]}"

export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
regex=$(IFS='|'; echo "^(${tests[*]})\$")
ctest --test-dir "$build" -R "$regex" --output-on-failure -j1 --timeout 600
