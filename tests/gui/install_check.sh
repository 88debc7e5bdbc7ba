#!/usr/bin/env bash
# `cmake --install` lays out one self-contained program folder (folders and programs 0755, data files 0644) and
# nothing outside it; the programs, started through links elsewhere, find the carrier's files beside the real file
# and install the service, also as an operator who may write only the shop's folder; no run changes the program folder.
#   install_check.sh BUILD_DIR DEMO_SQL      Exit status: 0 passed, 1 failed.
set -euo pipefail

fail() { echo "FAILED: $*" >&2; exit 1; }

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR DEMO_SQL" >&2; exit 2; }
build=$1 demo_sql=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/atv-install.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
folder=$work/opt/addtarnvel

# Under the usual umask: a narrower one narrows the folders cmake makes.
(umask 022 && cmake --install "$build" --prefix "$folder") >"$work/install.log" ||
  { tail -n 5 "$work/install.log" >&2; fail "cmake --install"; }
outside=$(sed -n 's/^-- \(Installing\|Up-to-date\): //p' "$work/install.log" | grep -v "^$folder/" || true)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
got=$(cd "$folder" && LC_ALL=C ls | tr '\n' ' ')
[ "$got" = "AddTarnVel Data TarnVel.jpg TarnVelEODManifest.rpt TarnVel_Generic.lab TarnVel_Services.mdb \
TarnVel_Zones_Empty.mdb addtarnvel-cli dbquery " ] || fail "the program folder holds: $got"
charts=$(find "$build/bin/Data" -name 'TarnVel_*.csv' | wc -l)
[ "$charts" -gt 0 ] && [ "$(find "$folder/Data" -name 'TarnVel_*.csv' | wc -l)" -eq "$charts" ] ||
  fail "Data/ does not hold the build's $charts zone charts"
# Every entry a folder or a program file of 755 or a data file of 644: no link, nothing else.
modes=$(cd "$folder" && find . -mindepth 1 \( -type d -printf 'd %m %p\n' \) -o \( -type f -printf 'f %m %p\n' \) \
  -o -printf '? %m %p\n' | grep -vxE 'd 755 .*|f 755 \./(AddTarnVel|addtarnvel-cli|dbquery)|f 644 \./[^.].*' || true)
[ -z "$modes" ] || fail "in the program folder, not a folder or program of 755 or a data file of 644: $modes"

mkdir -p "$work/bin" && ln -s "$folder/addtarnvel-cli" "$folder/dbquery" "$work/bin/"

snapshot() { (cd "$folder" && find . -printf '%p %y %m %s %T@\n' | LC_ALL=C sort); }
# install SHOP OWNER [OPERATOR...]: a demo shop in the new folder SHOP, OWNER's, to which OPERATOR (a command
# prefix; none: the caller) adds the service through the links.
install() {
  local shop=$1 laid_out
  laid_out=$(snapshot)
  # Made by the caller (DEMO_SQL may be in a folder only the caller reads), then handed to OWNER.
  mkdir -p "$shop" && "$work/bin/dbquery" --init "$shop/Mailvoro.mdb" "$demo_sql" >/dev/null
  chown -R "$2" "$shop"
  "${@:3}" "$work/bin/addtarnvel-cli" --zip 10001 --yes "$shop/Mailvoro.mdb" >"$work/run.log" 2>&1 ||
    fail "the installation into $shop (exit $?): $(cat "$work/run.log")"
  [ "$("$work/bin/dbquery" "$shop/TarnVel_Zones.mdb" "Select Count(*) As N From [TARNVEL-GND]" | tail -n1)" -gt 0 ] ||
    fail "the zones database next to $shop holds no zone chart"
  [ "$(snapshot)" = "$laid_out" ] || fail "a run changed the program folder: $(diff <(echo "$laid_out") <(snapshot))"
}
install "$work/shop" "$(id -u)"
# The program folder read-only for everybody; the operator is nobody for root, to whom modes forbid nothing.
chmod -R a-w "$folder"
if [ "$(id -u)" = 0 ]; then
  chmod 0755 "$work" "$work/bin"
  install "$work/shop2" nobody:nogroup setpriv --reuid=nobody --regid=nogroup --clear-groups -- env HOME=/nonexistent
else
  install "$work/shop2" "$(id -u)"
fi
echo "PASSED: the installed program folder is self-contained and works through links"
