#!/usr/bin/env bash
# An installation as an operator gets it: `cmake --install` into a temporary
# prefix must lay out one self-contained program folder, and a program
# started through a link elsewhere (as /usr/bin holds them) must still find
# the carrier's files beside the real program file and run an installation.
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

cmake --install "$build" --prefix "$folder" >"$work/install.log" || { tail -n 5 "$work/install.log" >&2; fail "cmake --install"; }

# The program folder holds exactly the programs and the carrier's files.
expected="AddTarnVel Data TarnVel.jpg TarnVelEODManifest.rpt TarnVel_Generic.lab TarnVel_Services.mdb
TarnVel_Zones.mdb TarnVel_Zones_Empty.mdb addtarnvel-cli dbquery"
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
zones=$("$work/bin/dbquery" "$folder/TarnVel_Zones.mdb" "Select Count(*) As N From [TARNVEL-GND]" | tail -n1)
[ "$zones" -gt 0 ] || fail "the working zones database in the program folder was not rebuilt"
for file in TarnVel_Services.mdb TarnVel_Zones.mdb TarnVelEODManifest.rpt TarnVel.jpg TarnVel_Generic.lab; do
  [ -f "$work/shop/$file" ] || fail "$file was not copied next to the shop database"
done

# As the Debian package lays it out: the program folder is root's and no
# operator may write it; the working zones database in it is a plain file
# that the operators' group may write. An operator in that group installs
# the service, after a run by root (when the check runs as root) that must
# leave the file as it was laid out. The operator is the caller, or, for
# root, nobody with the group as an extra one.
working=$folder/TarnVel_Zones.mdb
mkdir -p "$work/shop2"
"$work/bin/dbquery" --init "$work/shop2/Mailvoro.mdb" "$demo_sql" >/dev/null
if [ "$(id -u)" = 0 ]; then
  group=64999  # a group number no account uses
  chmod 0755 "$work" "$folder"
  chown -R nobody "$work/shop2"
  chgrp "$group" "$working" && chmod 0664 "$working"
  "$work/bin/addtarnvel-cli" --zip 90210 --yes "$work/shop/Mailvoro.mdb" >"$work/run-root.log" 2>&1 ||
    { cat "$work/run-root.log" >&2; fail "a run by root in the package layout"; }
  [ ! -L "$working" ] && [ "$(stat -c '%u %g %a' "$working")" = "0 $group 664" ] ||
    fail "a run by root left the working zones database as $(stat -c '%U:%G %a %F' "$working")"
  operator=(setpriv --reuid=nobody --regid=nogroup --groups="$group" --)
else
  chmod 0664 "$working"
  chmod 0555 "$folder"
  operator=()
fi
laid_out=$(stat -c '%i %u %g %a' "$working")
status=0
"${operator[@]}" "$work/bin/addtarnvel-cli" --zip 10001 --yes "$work/shop2/Mailvoro.mdb" >"$work/run2.log" 2>&1 || status=$?
chmod 0755 "$folder"
[ "$status" = 0 ] || { cat "$work/run2.log" >&2; fail "an operator in the group, in the package layout (exit $status)"; }
[ -f "$working" ] && [ ! -L "$working" ] && [ "$(stat -c '%i %u %g %a' "$working")" = "$laid_out" ] ||
  fail "the operator's run did not rewrite the working zones database where it lies, as it was laid out"
zones_rows=$("$work/bin/dbquery" "$working" "Select Count(*) As N From [TARNVEL-GND]" | tail -n1)
[ "$zones_rows" -gt 0 ] || fail "the operator's run did not rebuild the working zones database"

echo "PASSED: the installed program folder is self-contained and works through links"
