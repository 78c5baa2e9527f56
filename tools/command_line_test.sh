#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# The platform's programs answer --help, -h and unknown options like Linux
# tools, and never take an option for a file or directory name.
#   command_line_test.sh REGSVR TLBDUMP DEMO_STORE
set -u
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

expect() {  # STATUS STREAM COMMAND...: the status, and the usage on that stream
  want=$1 stream=$2
  shift 2
  "$@" >out 2>err
  got=$?
  if [ "$got" -ne "$want" ] || ! grep -q '^usage: ' "$stream"; then
    echo "FAIL: $* exited $got (want $want, usage on $stream)"
    failed=1
  fi
}

for tool in "$@"; do
  expect 0 out "$tool" --help
  expect 0 out "$tool" -h
  expect 2 err "$tool" --frobnicate
  expect 2 err "$tool" -x something
  expect 2 err "$tool"
done
if [ -n "$(ls -A)" ] && [ "$(ls -A)" != "$(printf 'err\nout')" ]; then
  echo "FAIL: files were created: $(ls -A)"
  failed=1
fi
# "--" ends the options: demo-store then writes into a directory named "-d".
"$3" -- -d >/dev/null || { echo "FAIL: demo-store -- -d"; failed=1; }
[ -d ./-d/cur ] || { echo "FAIL: no store in -d"; failed=1; }
exit $failed
