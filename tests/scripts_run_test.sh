#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# What scripts/run says on its second run for a user without mail (paths
# masked): the demo store the first run made is found as a known place. The
# build is this test build (MQ_RUN_BUILD_DIR) and cmake a stand-in.
#   scripts_run_test.sh SOURCE_DIR BUILD_DIR EXPECTED
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/stub" && printf '#!/bin/sh\n' >"$work/stub/cmake" && chmod +x "$work/stub/cmake"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0"  # modules load
run() {
  env -u MAILDIR -u MAILQUARRY_ADDRESSBOOK -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    -u XDG_DATA_HOME HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    MAILQUARRY_REGISTRY="$work/registry" PATH="$work/stub:$PATH" MQ_RUN_BUILD_DIR="$2" \
    "$1/scripts/run" folders 2>&1 | sed -e "s|$work/home|HOME|g" -e "s|$2|BUILD|g"
}
run "$1" "$2" >/dev/null
run "$1" "$2" | diff -u "$3" - || { echo "FAIL: the second run said otherwise (+)"; exit 1; }
