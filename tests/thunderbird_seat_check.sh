#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# A check by hand from a user's seat (not part of scripts/test): a home that
# holds only a Thunderbird profile, as Thunderbird writes it; scripts/run must
# name that profile in its store line and start Mailsift on it; Mailsift's
# folder drop-down is stepped through with the keyboard under Xvfb and each
# entry is photographed into one picture to look at; no file of the profile
# may change and none may be added.
#   tests/thunderbird_seat_check.sh [OUTPUT_PNG]     (needs xvfb, xdotool, imagemagick)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-$PWD/build/thunderbird-seat.png}
work=$(mktemp -d)
xvfb_pid= app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

home=$work/home
profile=$home/.thunderbird/k3x9q2ab.default-release
mkdir -p "$profile/Mail/Local Folders/Archives.sbd" "$profile/ImapMail/imap.example.com" \
  "$profile/Mail/pop.example.org/Inbox/cur" "$profile/Mail/pop.example.org/Inbox/tmp"
printf '[Install4F96D1932A9F858E]\nDefault=k3x9q2ab.default-release\nLocked=1\n\n[Profile0]\nName=default-release\nIsRelative=1\nPath=k3x9q2ab.default-release\nDefault=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n' \
  >"$home/.thunderbird/profiles.ini"
printf '[4F96D1932A9F858E]\nDefault=k3x9q2ab.default-release\nLocked=1\n' >"$home/.thunderbird/installs.ini"
{
  echo '// Mozilla User Preferences'
  for n in 1 2 3; do echo "user_pref(\"mail.account.account$n.server\", \"server$n\");"; done
  echo 'user_pref("mail.accountmanager.accounts", "account1,account2,account3");'
  echo 'user_pref("mail.accountmanager.defaultaccount", "account2");'
  echo 'user_pref("mail.server.server1.directory-rel", "[ProfD]Mail/Local Folders");'
  echo 'user_pref("mail.server.server1.name", "Local Folders");'
  echo 'user_pref("mail.server.server2.directory-rel", "[ProfD]ImapMail/imap.example.com");'
  echo 'user_pref("mail.server.server2.name", "jane@example.com");'
  echo 'user_pref("mail.server.server3.directory-rel", "[ProfD]Mail/pop.example.org");'
  echo 'user_pref("mail.server.server3.name", "Work account");'
} >"$profile/prefs.js"
message() {
  printf 'From - Sun Mar 05 14:07:09 2006\nX-Mozilla-Status: 0001\nFrom: Nora <nora@example.org>\nSubject: %s\nDate: Sun, 05 Mar 2006 14:07:09 +0000\n\nText of %s.\n\n' "$1" "$1"
}
imap=$profile/ImapMail/imap.example.com
{ message "Welcome to IMAP"; message "Unread news"; } >"$imap/INBOX"
message "Sent reply" >"$imap/Sent"
for f in INBOX Sent Drafts; do echo '// <!-- <mdb:mork:z v="1.4"/> -->' >"$imap/$f.msf"; done
message "Archived letter" >"$profile/Mail/Local Folders/Archives"
message "Letter of 2025" >"$profile/Mail/Local Folders/Archives.sbd/2025"
message "Thrown away" >"$profile/Mail/Local Folders/Trash"
printf 'X-Mozilla-Status: 0001\nFrom: Nora <nora@example.org>\nSubject: Per-message hello\n\nHi.\n' \
  >"$profile/Mail/pop.example.org/Inbox/cur/1733580000.M1P4242Q1.laptop.eml"
touch "$profile/.parentlock"
ln -s 127.0.1.1:+4242 "$profile/lock"
snapshot() { (cd "$home" && find . -printf '%y %p %l\n' | sort && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
snapshot >"$work/before"

display=:$((100 + RANDOM % 400))
# -noreset: a poll leaving must not reset the server under a client still connecting.
Xvfb "$display" -screen 0 1024x768x24 -noreset >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
env -u MAILDIR HOME="$home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" \
  XDG_DATA_HOME="$work/data" MAILQUARRY_REGISTRY="$work/registry" DISPLAY="$display" \
  scripts/run >"$work/run.log" 2>&1 &
app_pid=$!
failed=0
window=
for _ in $(seq 1 600); do
  window=$(DISPLAY=$display xdotool search --onlyvisible --name Mailsift 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.5
done
line=$(grep '^Mail store: ' "$work/run.log" || true)
echo "store line: $line"
[ "$line" = "Mail store: the Thunderbird profile $profile (read only: nothing is written to it)" ] ||
  { echo "FAIL: the store line does not name the profile"; failed=1; }
[ -n "$window" ] || { echo "FAIL: no Mailsift window"; cat "$work/run.log"; exit 1; }
sleep 1
eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window")"
# The drop-down's entries, one picture each, stepping with the Down key.
shots=()
for i in $(seq 0 9); do
  DISPLAY=$display import -window root -crop "260x30+$((X + 95))+$((Y + 16))" "$work/entry$i.png"
  shots+=("$work/entry$i.png")
  DISPLAY=$display xdotool key --window "$window" Down
  sleep 0.3
done
convert-im6.q16 "${shots[@]}" -append "$out"
echo "drop-down entries: $out"
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=
snapshot >"$work/after"
diff "$work/before" "$work/after" >/dev/null || { echo "FAIL: the profile changed"; failed=1; }
exit $failed
