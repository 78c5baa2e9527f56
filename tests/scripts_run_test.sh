#!/usr/bin/env bash
# What scripts/run says on its second run for a user without mail: one build
# line, one registration line, the demo store that the first run made (found
# now as a known place, not made again), and the command it was given.
# The build is the test build (MQ_RUN_BUILD_DIR) and cmake a stand-in, so
# nothing is built or reconfigured; paths are masked.
#   scripts_run_test.sh SOURCE_DIR BUILD_DIR EXPECTED
set -u
source_dir=$1 build_dir=$2 expected=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/stub" "$work/home"
printf '#!/bin/sh\nexit 0\n' >"$work/stub/cmake"
chmod +x "$work/stub/cmake"

# The programs load modules: the sanitizer default that regsvr's tests use.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0"

run() {
  env -u MAILDIR -u MAILQUARRY_ADDRESSBOOK -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    -u XDG_DATA_HOME HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    XDG_CACHE_HOME="$work/cache" MAILQUARRY_REGISTRY="$work/registry" \
    PATH="$work/stub:$PATH" MQ_RUN_BUILD_DIR="$build_dir" \
    "$source_dir/scripts/run" folders 2>&1
}

run >"$work/first" || { cat "$work/first"; echo "FAIL: the first run failed"; exit 1; }
run >"$work/second" || { cat "$work/second"; echo "FAIL: the second run failed"; exit 1; }
sed -e "s|$work/home|HOME|g" -e "s|$build_dir|BUILD|g" "$work/second" >"$work/masked"
if ! diff -u "$expected" "$work/masked"; then
  echo "FAIL: scripts/run's second run says something else (above: - expected, + said)"
  exit 1
fi
