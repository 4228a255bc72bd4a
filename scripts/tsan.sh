#!/bin/bash
# ThreadSanitizer build (build-tsan/) of the tests that run our threads: the
# log store written from several threads, the keyring's secrets read from
# another thread while libsecret answers, the command server on its own
# thread, the web-service client with its notification channel on a worker
# thread, the address books read on a worker thread, the real program with
# its keyring (test_keyring), and the real program started, used and quit
# (test_shutdown, test_e2e). Fails on any report not suppressed by tests/tsan.supp, which
# names only what lies inside Qt and the libraries under it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"
tests=(test_storage test_addressbook test_secrets test_parsing test_notify test_controller test_keyring test_shutdown
       test_e2e)

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELON_SANITIZE=thread \
    -DKARVELON_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${TSAN_JOBS:-2}" --target "${tests[@]}"

export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1 history_size=7 ${TSAN_OPTIONS:-}"
regex=$(IFS='|'; echo "^(${tests[*]})\$")
ctest --test-dir "$build" -R "$regex" --output-on-failure -j1 --timeout 600
