#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Mailsift on a real X server, driven with real X input as a person drives it:
# a click on "Export to eml", the output directory typed into the real folder
# browser and Enter, the completion message dismissed; a click on "Export
# email to text file", a name typed into the real Save As, which opens in the
# documents directory (not Mailsift's current directory), and Enter; a click
# on "Exit". The .eml files must be the Inbox's messages byte for byte, the
# text file in the documents directory, the exit status 0.
# With "stores", MAILDIR is unset and the home holds Evolution's and KMail's
# local folders and a mail spool: the drop-down lists them as one tree (in
# the order the store's test checks), and Evolution's folder "Projects",
# picked in it by real clicks and keys, is exported as .eml files (the rest
# is left to the run without it).
#   mailsift_x11_test.sh BIN_DIR [stores]   (77, skipped, when no X server starts here)
# Without a window manager windows take the keyboard as they appear and
# xdotool's windowactivate does not work: none is used.
set -u

bin=$(cd "$1" && pwd)
mode=${2:-demo}
work=$(mktemp -d /tmp/mailsift-x11.XXXXXX)
xvfb_pid=
mailsift_pid=

cleanup() {
  [ -n "$mailsift_pid" ] && kill "$mailsift_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

skip() { echo "SKIPPED: $*"; exit 77; }

fail() {
  echo "FAIL: $*"
  if [ -n "${DISPLAY:-}" ]; then
    import -window root "$PWD/mailsift_x11_test-failure.png" 2>/dev/null &&
      echo "screen at the failure: $PWD/mailsift_x11_test-failure.png"
  fi
  [ -s "$work/mailsift.log" ] && { echo "--- Mailsift's output"; cat "$work/mailsift.log"; }
  exit 1
}

command -v Xvfb >/dev/null || skip "Xvfb is not installed (Debian package xvfb)"
command -v xdotool >/dev/null || skip "xdotool is not installed (Debian package xdotool)"

# A display of our own: Xvfb takes a free number and writes it to fd 3.
# -noreset: by default the server resets when its last client leaves, and a
# client still connecting then is dropped. The polls below come and go while
# Mailsift connects, and Mailsift then found no display, about once in twenty
# starts on a busy machine.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/display" ] || skip "Xvfb could not start: $(tail -3 "$work/xvfb.log")"
export DISPLAY=":$(head -1 "$work/display")"

# Everything the programs read or write stays in the work directory.
mkdir -p "$work/home/Documents" "$work/runtime" "$work/out" "$work/cwd"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime"
export MAILQUARRY_REGISTRY="$work/registry"
export MAILDIR="$work/demo-Maildir" MAILQUARRY_ADDRESSBOOK="$work/demo-Maildir-contacts"
export QT_QPA_PLATFORM=xcb
# The programs load modules, as the test programs do (platform/testing/registered_modules.cpp).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0"
# Qt asks D-Bus for a session bus that does not exist here, and libdbus keeps
# its failed connection's buffer to the end; Qt's own D-Bus thread, when the
# program exits while it is still starting, leaves what it had made. The leak
# check leaves those two libraries alone and checks everything else. The full
# unwinder is needed for that: the fast one stops inside Qt, before the D-Bus
# frames a suppression can name.
export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
printf '%s\n' "leak:libdbus-1.so" "leak:libQt6DBus.so" >"$work/leaks.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$work/leaks.supp"

if [ "$mode" = stores ]; then
  # Evolution's local folders (the first store found: its Inbox comes first),
  # KMail's, and the spool, as those programs write them.
  unset MAILDIR
  export MAIL="$work/spool" MAILQUARRY_ADDRESSBOOK="$work/no-contacts"
  mkdir -p "$MAILQUARRY_ADDRESSBOOK"
  message() {  # FILE SUBJECT
    printf 'From: Ann <ann@example.org>\nTo: bob@example.org\nSubject: %s\nMessage-ID: <%s@x>\n\nHello.\n' \
      "$2" "${2// /.}" >"$1"
  }
  evolution="$HOME/.local/share/evolution/mail/local"
  for dir in "$evolution" "$evolution/.Projects" "$HOME/.local/share/local-mail/inbox"; do
    mkdir -p "$dir/cur" "$dir/new" "$dir/tmp"
  done
  touch "$evolution/..maildir++"
  message "$evolution/cur/1000000001.M1P1.host:2,S" "Evolution inbox"
  message "$evolution/.Projects/cur/1000000002.M1P1.host:2,S" "Project one"
  message "$evolution/.Projects/cur/1000000003.M1P1.host:2," "Project two"
  message "$HOME/.local/share/local-mail/inbox/cur/1000000004.M1P1.host:2," "KMail inbox"
  printf 'From ann@example.org Sat Jan  1 00:00:00 2000\n' >"$MAIL"
  message "$work/spool-message" "Spool inbox"
  cat "$work/spool-message" >>"$MAIL"
  expected_dir="$evolution/.Projects"
else
  "$bin/demo-store" "$MAILDIR" >/dev/null || fail "demo-store failed"
  expected_dir="$MAILDIR"
fi
for module in MailStore.so AddressBook.so Mailquarry.ocx; do
  "$bin/regsvr" "$bin/$module" >/dev/null || fail "regsvr $module failed"
done

(cd "$work/cwd" && exec "$bin/Mailsift") >"$work/mailsift.log" 2>&1 &
mailsift_pid=$!

# Mailsift's visible windows whose name matches PATTERN, one id a line.
windows() {
  xdotool search --all --onlyvisible --pid "$mailsift_pid" --name "$1" 2>/dev/null
}

# Waits up to 60 s for a visible window matching PATTERN other than EXCEPT and
# prints its id.
wait_for_window() {  # PATTERN [EXCEPT]
  local id
  for _ in $(seq 600); do
    id=$(windows "$1" | grep -vx "${2:-none}" | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$mailsift_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Waits up to SECONDS (default 30) for window ID to be gone (closed or hidden).
wait_until_gone() {  # ID PATTERN [SECONDS]
  for _ in $(seq $((${3:-30} * 10))); do
    windows "$2" | grep -qx "$1" || return 0
    sleep 0.1
  done
  return 1
}

# Waits up to 10 s for window ID to take the keyboard: a window shows a moment
# before it has the input focus, and keys sent before then go elsewhere.
wait_for_focus() {  # ID
  for _ in $(seq 100); do
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# Clicks WINDOW at a point given in its dialog units, the window being W by H
# units (the main dialog 286 by 174): units scale to its pixels whatever its font.
click_units() {  # WINDOW X Y [W H]
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH * $2 / ${4:-286})) $((HEIGHT * $3 / ${5:-174})) click 1
}

# Enter on the completion message that follows an export.
dismiss_message() {
  local message
  message=$(wait_for_window '^Mailsift$' "$main") || fail "no completion message appeared"
  wait_for_focus "$message" || fail "the completion message did not take the keyboard"
  xdotool key Return
  wait_until_gone "$message" '^Mailsift$' || fail "Enter did not dismiss the completion message"
}

# Clicks the button at X Y (units), types DIR into the folder browser it opens
# and Enter (a trailing / names the directory itself, so no completion list
# stands open), then dismisses the completion message.
export_into() {  # X Y DIR BUTTON
  local browser
  click_units "$main" "$1" "$2"
  browser=$(wait_for_window '^Please select an output directory$') ||
    fail "a click on \"$4\" opened no folder browser"
  wait_for_focus "$browser" || fail "the folder browser did not take the keyboard"
  xdotool type --delay 30 "$3/"
  for _ in 1 2 3; do
    sleep 0.5
    xdotool key Return
    wait_until_gone "$browser" '^Please select an output directory$' 10 && break
  done
  windows '^Please select an output directory$' | grep -qx "$browser" &&
    fail "Enter did not close the folder browser"
  dismiss_message
}

main=$(wait_for_window '^Mailsift$') || fail "the main dialog did not appear"

if [ "$mode" = stores ]; then
  # The drop-down is at 76, 16, 184 units wide: a click opens its list, where
  # "Projects" is the third entry (Inbox, Evolution: On This Computer, Projects).
  sleep 0.5
  click_units "$main" 168 22
  sleep 1
  xdotool key Down Down Return
  sleep 0.5
fi

# "Export to eml" is at 97, 46, 82 by 22 units: its centre.
export_into 138 57 "$work/out" "Export to eml"

# The text export, the options and the attachment export: over the demo store.
if [ "$mode" != stores ]; then
# "Export email to text file" is at 185, 46, 85 by 22 units: its centre.
click_units "$main" 227 57
save=$(wait_for_window '^Save As$') || fail "a click on \"Export email to text file\" opened no Save As"
wait_for_focus "$save" || fail "Save As did not take the keyboard"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 30 "senders.txt"
xdotool key Return
wait_until_gone "$save" '^Save As$' 10 || fail "Enter did not close Save As"
dismiss_message
[ -s "$HOME/Documents/senders.txt" ] ||
  fail "Save As did not start in the documents directory: $(ls -A "$HOME/Documents" "$work/cwd")"
[ -z "$(ls -A "$work/cwd")" ] || fail "a file was written into the current directory"

# "Options..." is at 216, 130, 50 by 14 units; the options dialog is 300 by
# 250 units: "Leave out embedded images" at 14, 167 and "Leave out
# duplicates" at 150, 167 (clicked on their boxes), "OK" at 187, 230, 50 by 14.
click_units "$main" 241 137
options=$(wait_for_window '^Export Options$') || fail "a click on \"Options...\" opened no options"
click_units "$options" 19 172 300 250
click_units "$options" 155 172 300 250
click_units "$options" 212 237 300 250
wait_until_gone "$options" '^Export Options$' || fail "\"OK\" did not close the options"

# "Export Attachments" is at 13, 46, 81 by 21 units.
mkdir -p "$work/attachments"
export_into 53 56 "$work/attachments" "Export Attachments"
fi

# "Exit" is at 216, 109, 50 by 14 units.
click_units "$main" 241 116
for _ in $(seq 300); do
  kill -0 "$mailsift_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$mailsift_pid" 2>/dev/null && fail "a click on \"Exit\" did not end Mailsift"
wait "$mailsift_pid"
status=$?
mailsift_pid=
[ "$status" -eq 0 ] || fail "Mailsift exited with $status"

# Every Inbox message (the Maildir++ root's cur/ and new/) as one .eml file.
hashes() { sha256sum "$@" | cut -d' ' -f1 | sort; }
expected=$(hashes "$expected_dir"/cur/* "$expected_dir"/new/* 2>/dev/null)
exported=$(hashes "$work/out"/*.eml 2>/dev/null)
[ -n "$expected" ] || fail "the exported folder is empty"
others=$(find "$work/out" -mindepth 1 ! -name '*.eml')
[ -z "$others" ] || fail "files other than .eml were written: $others"
[ "$expected" = "$exported" ] ||
  fail "the .eml files are not the folder's messages: $(ls "$work/out")"
if [ "$mode" = stores ]; then
  echo "PASS: $(echo "$exported" | wc -l) .eml files exported through clicks, typing and Enter"
  exit 0
fi

# The attachments the options chose: what the command line writes with the
# same two options (which files those are is the in-process options test's).
"$bin/mailsift" attachments --quiet --skip-embedded --skip-duplicates "$work/cli" ||
  fail "the command line failed"
tree() { (cd "$1" && find . -type f -exec sha256sum {} + | sort -k2); }
[ -n "$(tree "$work/attachments")" ] && [ "$(tree "$work/attachments")" = "$(tree "$work/cli")" ] ||
  fail "the dialog's attachments differ from the command line's: $(ls "$work/attachments")"
echo "PASS: $(echo "$exported" | wc -l) .eml files and $(wc -l <"$HOME/Documents/senders.txt")" \
  "return addresses exported through clicks, typing and Enter;" \
  "$(find "$work/attachments" -type f | wc -l) attachments with embedded images and duplicates left out"
