#!/usr/bin/env bash
# Retries under Wine against a scripted server that cuts bodies at chosen
# offsets and answers 503: a file cut twice after long stretches arrives in
# one run by resuming at once from exactly the cut offsets, using no try
# (each cut moved the partial file on); three 503s are outlasted; a file cut
# four times after a few KiB each fails the run with its text, no restart,
# its partial file kept; the list fetch is retried too.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"

cycle_setup retries
FAULTS="$WORK/faults.json"

list_requests() { request_count '^/patch/528/filelist.txt 200'; }
reset_fault_run() { end_updaters; stop_fault_server; }

# new_client NAME: a client with the launcher and one old file, and a release
# in which big.bin is new.
new_client() {
  CLIENT="$WORK/$1 客户 端"; RELEASE="$WORK/$1 release"
  rm -rf "$CLIENT" "$RELEASE" "$SERVER/patch"; mkdir -p "$CLIENT"
  pack_updater "$CLIENT/$LAUNCHER"
  random_file "$CLIENT/big.bin" 10
  cp -r "$CLIENT" "$RELEASE"
  random_file "$RELEASE/big.bin" 600
  publish "$RELEASE" "$SERVER"
}
log_shows() { grep -a -q -- "$1" "$CLIENT/update.log" 2>/dev/null; }

# 1. Cut at two offsets far apart, then served: one run, byte-identical,
#    resumed at once from exactly the cut offsets with no try used, and one
#    restart.
new_client cut-twice
echo '{"/patch/528/big.bin": [{"cut": 100000}, {"cut": 350000}]}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[cut twice] the file arrives byte for byte" wait_until 60 cmp -s "$RELEASE/big.bin" "$CLIENT/big.bin"
check "[cut twice] the first request has no Range and was cut at 100000" \
  test -n "$(requests_of '^/patch/528/big.bin 200 "-" 100000$')"
check "[cut twice] the second resumes from 100000 and was cut at 350000" \
  test -n "$(requests_of '^/patch/528/big.bin 206 "bytes=100000-" 250000$')"
check "[cut twice] the third resumes from 350000 and completes" \
  test -n "$(requests_of '^/patch/528/big.bin 206 "bytes=350000-" 264400$')"
check "[cut twice] three requests for the file in all" test "$(request_count '^/patch/528/big.bin ')" -eq 3
twice() { [ "$(list_requests)" -ge 2 ]; }
check "[cut twice] the launcher restarted once and the next updater checked" wait_until 60 twice
sleep 3
check "[cut twice] ...and only once" test "$(list_requests)" -eq 2
check "[cut twice] no retry was counted" bash -c '! grep -qa "retry [0-9]/3 of big.bin" "$0"' "$CLIENT/update.log"
check "[cut twice] the log shows the resumes, each using no try" \
  log_has_in_order "$CLIENT/update.log" "file big\.bin: result 8 .*Interrupted" \
    "go on with big\.bin: the cut try moved its partial file on \(no try used\)" \
    "file big\.bin: result 8 .* from offset 100000" \
    "go on with big\.bin: the cut try moved its partial file on \(no try used\)" \
    "file big\.bin: result 0 \(Ok\), 264400 bytes from offset 350000.*checksum ok" "installed big\.bin" \
    "download run done: 1 files in [0-9.]+ s; restart"
reset_fault_run

# 2. Three 503 answers, then the file.
new_client busy
echo '{"/patch/528/big.bin": [{"status": 503}, {"status": 503}, {"status": 503}]}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[503] the file arrives after three 503s" wait_until 60 cmp -s "$RELEASE/big.bin" "$CLIENT/big.bin"
check "[503] three 503 answers, then one 200" \
  test "$(request_count '^/patch/528/big.bin 503')" -eq 3 -a "$(request_count '^/patch/528/big.bin 200')" -eq 1
check "[503] the launcher restarted" wait_until 60 twice
reset_fault_run

# 3. Cut four times, each after 5,000 bytes (too little to count as moving
#    on): the retry text is shown, and the run fails with its text, no
#    restart, partial kept, the old file untouched.
new_client cut-four
cp "$CLIENT/big.bin" "$WORK/cut-four old big.bin"
echo '{"/patch/528/big.bin": [{"cut": 5000}, {"cut": 10000}, {"cut": 15000}, {"cut": 20000}]}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[cut four times] the retry text is shown" wait_until 60 log_shows "retry 2/3 of big.bin"
shot retries-retrying
failed() { log_shows "run failed at big.bin"; }
check "[cut four times] the run fails after the first try and three more" wait_until 60 failed
sleep 2
shot retries-failed
check "[cut four times] four requests, the last resuming from 15000" \
  test "$(request_count '^/patch/528/big.bin ')" -eq 4 -a -n "$(requests_of 'big.bin 206 "bytes=15000-" 5000$')"
check "[cut four times] no restart: the list was fetched once" test "$(list_requests)" -eq 1
check "[cut four times] the updater stays with its window" test "$(updater_processes)" -eq 1 -a -n "$(window_id)"
check "[cut four times] the partial file keeps all that arrived" \
  cmp -s <(head -c 20000 "$RELEASE/big.bin") "$CLIENT/big.bin.tmp"
check "[cut four times] the old file stays as it was" cmp -s "$WORK/cut-four old big.bin" "$CLIENT/big.bin"
reset_fault_run
# The next start resumes the kept partial file.
: >"$FAULTS.none"; echo '{}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[cut four times] the next start completes the file" wait_until 60 cmp -s "$RELEASE/big.bin" "$CLIENT/big.bin"
check "[cut four times] ...asking only for the rest" test -n "$(requests_of 'big.bin 206 "bytes=20000-" 594400$')"
reset_fault_run

# 4. The list: 503 three times, then the list.
new_client list-busy
echo '{"/patch/528/filelist.txt": [{"status": 503}, {"status": 503}, {"status": 503}]}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[list 503] the file arrives after the list's retries" wait_until 60 cmp -s "$RELEASE/big.bin" "$CLIENT/big.bin"
check "[list 503] three 503s for the list before the first 200" \
  test "$(request_count '^/patch/528/filelist.txt 503')" -eq 3
reset_fault_run

# 5. The exit question during a wait before another try ends the updater at
#    once: the worker's wait before a file's third retry, and the window
#    thread's wait before the list's third retry.
box_open() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
exit_now() {  # confirms the exit question and checks the updater is gone
  click_close_button
  check "[exit $1] close asks for confirmation" wait_until 10 box_open "确认退出"
  xdotool search --onlyvisible --name "确认退出" windowactivate --sync >/dev/null 2>&1
  xdotool key Return
  check "[exit $1] Yes ends the updater during the wait" wait_until 10 no_updater
}
new_client exit-file
echo '{"/patch/528/big.bin": [{"cut": 5000}, {"cut": 10000}, {"cut": 15000}, {"cut": 20000}]}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[exit file] the third retry's wait has begun" wait_until 60 log_shows "retry 3/3 of big.bin"
exit_now file
check "[exit file] the partial file stays for the next start" \
  cmp -s <(head -c 15000 "$RELEASE/big.bin") "$CLIENT/big.bin.tmp"
reset_fault_run
new_client exit-list
echo '{"/patch/528/filelist.txt": [{"status": 503}, {"status": 503}, {"status": 503}, {"status": 503}]}' >"$FAULTS"
start_fault_server "$SERVER" "$FAULTS"
start_launcher "$CLIENT"
check "[exit list] the list's third retry's wait has begun" wait_until 60 log_shows "retry 3/3 of the list"
exit_now list
reset_fault_run

rm -rf "$WORK"
finish
