#!/bin/bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) in
# build-fuzz/ and runs each for a bounded time. Fails on any finding; the
# crash input is left in build-fuzz/findings/<target>/ - add it to
# fuzz/corpus/<target>/ together with the fix.
#   FUZZ_SECONDS   time per target (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
seconds=${FUZZ_SECONDS:-30}
targets=(callrequest plugincommand socketioframe logrecord apienvelope wanip storedsipaccounts screenpop vcard numberfinder)

CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELON_FUZZ=ON -DKARVELON_SANITIZE=address,undefined \
    -DKARVELON_BUILD_TESTS=OFF -DKARVELON_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target fuzzers

# Leak checking is off for the fuzzers: Qt 5.15's JSON parser leaks the first
# value of a duplicated key when that value is an object or array (reproduced
# with QJsonDocument::fromJson alone), and its frames carry no symbols to
# suppress by. Memory stays bounded by -rss_limit_mb/-malloc_limit_mb; leaks of
# our own objects are the business of the sanitizer test suite.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
status=0
for target in "${targets[@]}"; do
    work="$build/work/$target"     # what the run discovers; the committed seeds stay untouched
    findings="$build/findings/$target"
    mkdir -p "$work" "$findings"
    echo "== fuzz_$target (${seconds}s)"
    if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 \
            -max_len=65536 -timeout=10 -detect_leaks=0 -print_final_stats=1 -artifact_prefix="$findings/" \
            "$work" "$root/fuzz/corpus/$target" >"$build/fuzz-$target.log" 2>&1; then
        echo "FINDING in fuzz_$target:"
        tail -n 60 "$build/fuzz-$target.log"
        ls -l "$findings"
        status=1
    else
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/fuzz-$target.log" | tr '\n' ' '
        echo
    fi
done
exit $status
