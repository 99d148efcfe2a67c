#!/usr/bin/env bash
# Two games signed with one key, each updater built for its own product (the
# signed test build: folder 528, product 528 by default; its second game:
# folder 529, product game-b), with the real updater.exe under Wine and nginx:
#   - game A takes its release at sequence 12, then game B its first release
#     at 1: A's sequence does not block B; both are playable;
#   - B's list, re-signed at 20, served in A's folder: A refuses it ("for
#     another product" in update.log), fetches nothing, keeps its files;
#   - publish refuses to put A's next release over B's list unasked; A's real
#     next release at 13 arrives.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$ROOT/tests/e2e/cycle_lib.sh"
build_signed_updater || { echo "the signed updaters did not build"; exit 1; }
source "$ROOT/tests/e2e/lib.sh"

cycle_setup products
forget_list_sequence
start_nginx "$SERVER" 8088 || { echo "nginx did not start"; exit 1; }
LIST_A="$SERVER/patch/528/filelist.txt"
LIST_B="$SERVER/patch/529/filelist.txt"

# new_game NAME UPDATER: a client at version 1 in $WORK/NAME, its release at
# version 2 (a changed file and a new one) in "$WORK/NAME release".
new_game() {
  local client="$WORK/$1 客户 端" release="$WORK/$1 release"
  mkdir -p "$client"
  pack_updater "$client/$LAUNCHER" "$2"
  echo "$1 v1" >"$client/readme.txt"
  cp -r "$client" "$release"
  echo "$1 v2" >"$release/readme.txt"
  random_file "$release/数据/$1.pak" 100
}
new_game A "$SIGNED_UPDATER"
new_game B "$SIGNED_UPDATER_B"
CLIENT_A="$WORK/A 客户 端"; RELEASE_A="$WORK/A release"
CLIENT_B="$WORK/B 客户 端"; RELEASE_B="$WORK/B release"
publish_signed "$RELEASE_A" "$SERVER" --sequence 12
publish_signed "$RELEASE_B" "$SERVER" --folder 529 --product game-b --sequence 1
check "[lists] each names its product" \
  test "$(grep -ac '^#product#528' "$LIST_A")" = 1 -a "$(grep -ac '^#product#game-b' "$LIST_B")" = 1

log_of() { cat "$1/update.log" 2>/dev/null; }
seq_of() { tr '\r\n' '  ' <"$1/update.seq" 2>/dev/null | tr -s ' ' | sed 's/ $//'; }
up_to_date() { grep -aq 'list checked: 0 files to update' "$1/update.log" 2>/dev/null; }
# playable LABEL CLIENT: the enter-game click starts the game.
playable() {
  wait_until 30 has_window; sleep 1
  shot "products-$1"
  click_enter_game
  check "[$1] the enter-game click starts the game" wait_until 30 test -f "$2/game_started.txt"
  end_updaters
}

# 1. Game A at 12, then game B's first release at 1.
start_launcher "$CLIENT_A"
check "[A at 12] the release arrives" \
  wait_until 90 same_tree_files "$RELEASE_A" "$CLIENT_A" readme.txt "数据/A.pak"
check "[A at 12] after the restart A is up to date" wait_until 60 up_to_date "$CLIENT_A"
check "[A at 12] update.seq keeps 12 for product 528" test "$(seq_of "$CLIENT_A")" = "12 528"
playable "A-up-to-date" "$CLIENT_A"
start_launcher "$CLIENT_B"
check "[B at 1] B's first release arrives though A's is 12" \
  wait_until 90 same_tree_files "$RELEASE_B" "$CLIENT_B" readme.txt "数据/B.pak"
check "[B at 1] after the restart B is up to date" wait_until 60 up_to_date "$CLIENT_B"
check "[B at 1] update.seq keeps 1 for product game-b" test "$(seq_of "$CLIENT_B")" = "1 game-b"
reg_value() { timeout 30 wine reg query "HKCU\\Software\\GameClientUpdater\\ListKeys\\$LIST_PUBLIC_KEY\\$1" /v Sequence 2>/dev/null | tr -d '\r' | awk '/Sequence/ {print $NF}'; }
check "[B at 1] the registry keeps each product's own" test "$(reg_value 528)" = 12 -a "$(reg_value game-b)" = 1
playable "B-up-to-date" "$CLIENT_B"
grep -a 'list from\|list refused\|list checked' "$CLIENT_B/update.log" | tail -3

# 2. B's list re-signed at 20, with B's files, served in A's folder.
cp -r "$SERVER/patch/529/." "$SERVER/patch/528/"
resign_list "$LIST_A" "$LIST_KEY" 20
: >"$NGINX_DIR/access.log"; rm -f "$CLIENT_A/update.log"
start_launcher "$CLIENT_A"
refused_other() { grep -aq 'list refused: the list is for another product (game-b, this updater.s is 528)' "$CLIENT_A/update.log" 2>/dev/null; }
check "[B's list for A] refused, the reason in update.log" wait_until 60 refused_other
check "[B's list for A] the list is unusable" wait_until 30 grep -aq 'list unusable' "$CLIENT_A/update.log"
sleep 2
shot products-other-product-refused
grep -a 'list refused' "$CLIENT_A/update.log"
check "[B's list for A] nothing but the list is requested, A keeps its files and 12" \
  test "$(request_count '^/patch/528/[^f]')" -eq 0 -a "$(cat "$CLIENT_A/readme.txt")" = "A v2" \
  -a ! -e "$CLIENT_A/数据/B.pak" -a "$(seq_of "$CLIENT_A")" = "12 528"
end_updaters

# 3. A's next release over B's list: refused unasked, taken with --product.
echo "A v3" >"$RELEASE_A/readme.txt"
check "[A at 13] publish refuses to change the folder's product unasked" \
  not "$PATCHTOOL" publish "$RELEASE_A" "$SERVER" --sign "$LIST_KEY" --sequence 13
publish_signed "$RELEASE_A" "$SERVER" --sequence 13 --product 528 2>/dev/null
: >"$NGINX_DIR/access.log"; rm -f "$CLIENT_A/update.log"
start_launcher "$CLIENT_A"
check "[A at 13] A's real next release arrives" wait_until 90 cmp -s "$RELEASE_A/readme.txt" "$CLIENT_A/readme.txt"
check "[A at 13] update.seq keeps 13" wait_until 30 test "$(seq_of "$CLIENT_A")" = "13 528"
check "[A at 13] after the restart A is up to date" wait_until 60 up_to_date "$CLIENT_A"
end_updaters

stop_nginx
rm -rf "$WORK"
finish
