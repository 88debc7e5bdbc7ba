#!/usr/bin/env bash
# An installation as an operator gets it: `cmake --install` into a temporary
# prefix must lay out one self-contained program folder (root-style modes:
# folders and programs 0755, data files 0644; no working zones database), a
# program started through a link elsewhere (as /usr/bin holds them) must
# still find the carrier's files beside the real program file and run an
# installation, and an operator must install the service with the program
# folder read-only for everybody, leaving every byte of it as it was.
#
#   install_check.sh BUILD_DIR DEMO_SQL
# Exit status: 0 passed, 1 failed.
set -euo pipefail

fail() { echo "FAILED: $*" >&2; exit 1; }

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR DEMO_SQL" >&2; exit 2; }
build=$1
demo_sql=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/atv-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
folder=$work/opt/addtarnvel

# Under the usual umask: a narrower one narrows the folders cmake makes.
(umask 022 && cmake --install "$build" --prefix "$folder") >"$work/install.log" ||
  { tail -n 5 "$work/install.log" >&2; fail "cmake --install"; }

# The program folder holds exactly the programs and the carrier's files.
expected="AddTarnVel Data TarnVel.jpg TarnVelEODManifest.rpt TarnVel_Generic.lab TarnVel_Services.mdb
TarnVel_Zones_Empty.mdb addtarnvel-cli dbquery"
got=$(cd "$folder" && LC_ALL=C ls | tr '\n' ' ')
[ "$got" = "$(tr "\n" " " <<<"$expected")" ] || fail "the program folder holds: $got"
for program in AddTarnVel addtarnvel-cli dbquery; do
  [ -f "$folder/$program" ] && [ -x "$folder/$program" ] && [ ! -L "$folder/$program" ] ||
    fail "$program is not a real program file in the program folder"
done
charts_built=$(find "$build/bin/Data" -name 'TarnVel_*.csv' | wc -l)
charts_installed=$(find "$folder/Data" -name 'TarnVel_*.csv' | wc -l)
[ "$charts_built" -gt 0 ] && [ "$charts_installed" -eq "$charts_built" ] ||
  fail "Data/ holds $charts_installed zone charts, the build has $charts_built"
modes=$(cd "$folder" && find . -mindepth 1 \( -type d -printf 'd %m %p\n' \) -o \( -type f -printf 'f %m %p\n' \) -o -printf '? %m %p\n' |
  grep -vxE 'd 755 .*|f 755 \./(AddTarnVel|addtarnvel-cli|dbquery)|f 644 \./[^.].*' || true)
[ -z "$modes" ] || fail "in the program folder, not a folder or program of 755 or a data file of 644: $modes"
# What every run must leave as it is: each file, mode, size and time.
snapshot() { (cd "$folder" && find . -printf '%p %y %m %s %T@\n' | LC_ALL=C sort); }
laid_out=$(snapshot)
outside=$(sed -n 's/^-- \(Installing\|Up-to-date\): //p' "$work/install.log" | grep -v "^$folder/" || true)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"

# Started through links in another folder, the programs work from the program folder.
mkdir -p "$work/bin" "$work/shop"
for program in addtarnvel-cli dbquery; do ln -s "$folder/$program" "$work/bin/$program"; done
"$work/bin/dbquery" --version | grep -qx 'dbquery [0-9]*\.[0-9]*\.[0-9]*' || fail "dbquery --version"
"$work/bin/addtarnvel-cli" --help | grep -q '^Exit status' || fail "addtarnvel-cli --help tells no exit status"
"$work/bin/dbquery" --init "$work/shop/Mailvoro.mdb" "$demo_sql" >/dev/null
"$work/bin/addtarnvel-cli" --zip 10001 --yes "$work/shop/Mailvoro.mdb" >"$work/run.log" 2>&1 ||
  { cat "$work/run.log" >&2; fail "addtarnvel-cli through a link did not add the service"; }
for file in TarnVel_Services.mdb TarnVel_Zones.mdb TarnVelEODManifest.rpt TarnVel.jpg TarnVel_Generic.lab; do
  [ -f "$work/shop/$file" ] || fail "$file was not copied next to the shop database"
done
[ "$(snapshot)" = "$laid_out" ] || fail "a run changed the program folder: $(diff <(echo "$laid_out") <(snapshot) | head -n 5)"
zones=$("$work/bin/dbquery" "$work/shop/TarnVel_Zones.mdb" "Select Count(*) As N From [TARNVEL-GND]" | tail -n1)
[ "$zones" -gt 0 ] || fail "the zones database next to the shop holds no zone chart"

# The program folder read-only for everybody: an operator who may write only
# the shop's folder installs the service, and the folder stays as it was laid
# out. The operator is the caller, or nobody for root (to whom modes forbid
# nothing).
mkdir -p "$work/shop2"
"$work/bin/dbquery" --init "$work/shop2/Mailvoro.mdb" "$demo_sql" >/dev/null
chmod -R a-w "$folder"
if [ "$(id -u)" = 0 ]; then
  chmod 0755 "$work" "$work/bin"
  chown -R nobody:nogroup "$work/shop2"
  operator=(setpriv --reuid=nobody --regid=nogroup --clear-groups -- env HOME=/nonexistent)
else
  operator=()
fi
before=$(snapshot)
status=0
"${operator[@]}" "$work/bin/addtarnvel-cli" --zip 10001 --yes "$work/shop2/Mailvoro.mdb" >"$work/run2.log" 2>&1 || status=$?
after=$(snapshot)
chmod -R u+w "$folder"
[ "$status" = 0 ] || { cat "$work/run2.log" >&2; fail "an operator with a read-only program folder (exit $status)"; }
[ "$before" = "$after" ] && [ "$(snapshot)" = "$laid_out" ] ||
  fail "the operator's run changed the program folder: $(diff <(echo "$before") <(echo "$after") | head -n 5)"
zones_rows=$("$work/bin/dbquery" "$work/shop2/TarnVel_Zones.mdb" "Select Count(*) As N From [TARNVEL-GND]" | tail -n1)
[ "$zones_rows" -gt 0 ] || fail "the operator's run left no zone chart next to the shop"

echo "PASSED: the installed program folder is self-contained and works through links"
