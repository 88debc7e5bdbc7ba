#!/usr/bin/env bash
# A removal killed (SIGKILL through strace) at each call of write, pwrite64,
# fsync, fdatasync, rename and unlink it makes, one point after another
# (every EVERYth point): the shop database stays whole, the record and each
# shop file are there as before or gone (a journal of the shop database may
# stay behind for SQLite to roll back), and a second removal finishes.
# remove_kill_check.sh PROGRAM_FOLDER DEMO_SQL [EVERY]; exit 77 without strace.
set -euo pipefail
shopt -s nullglob
bin=$(cd "$1" && pwd) sql=$2 every=${3:-1}
command -v strace >/dev/null || { echo "strace is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/program" "$work/installed"
cp "$bin"/TarnVel* "$bin/addtarnvel-cli" "$work/program"
ln -s "$bin/Data" "$work/program/Data"
"$bin/dbquery" --init "$work/installed/Mailvoro.mdb" "$sql"
cli() { "$work/program/addtarnvel-cli" --yes "$@" "$work/shop/Mailvoro.mdb" >/dev/null 2>&1; }
rm -rf "$work/shop" && cp -r "$work/installed" "$work/shop" && cli --zip 10001
rm -rf "$work/installed" && mv "$work/shop" "$work/installed"

fail() { echo "FAILED: killed at $point: $1" >&2; exit 1; }
# Pairs of a [Master] and a [Panel] row where either carries the service.
service_left() { sqlite3 "$1" "SELECT count(*) FROM [Master], [Panel] WHERE 'TARNVEL-GND' IN ([Service], [SV1])"; }
points=0
for call in write pwrite64 fsync fdatasync rename unlink; do
  for ((n = 1; ; n += every)); do
    point="$call #$n"
    rm -rf "$work/shop" && cp -a "$work/installed" "$work/shop"
    status=$(exec 2>/dev/null; strace -f -o /dev/null -e "trace=$call" "--inject=$call:signal=KILL:when=$n" \
      "$work/program/addtarnvel-cli" --yes --remove "$work/shop/Mailvoro.mdb" >/dev/null; echo $?)
    [ "$status" = 137 ] || break  # the run ended before the point
    points=$((points + 1))
    db="$work/shop/Mailvoro.mdb"
    [ "$(sqlite3 "$db" 'PRAGMA integrity_check')" = ok ] || fail "the shop database is damaged"
    for f in "$work/shop"/TarnVel*; do
      cmp -s "$f" "$work/installed/${f##*/}" || fail "${f##*/} is neither old nor gone"
    done
    files=("$work/shop"/TarnVel*)
    [ "$(service_left "$db")" = 0 ] || [ ${#files[@]} = 5 ] || fail "files went while the shop still used them"
    cli --remove || fail "the second removal failed"
    [ "$(service_left "$db")" = 0 ] || fail "the second removal left the service"
    [ "$(ls "$work/shop")" = Mailvoro.mdb ] || fail "the second removal left $(ls "$work/shop" | tr '\n' ' ')"
  done
done
echo "remove_kill_check: $points kill points passed"
[ "$points" -gt 0 ]
