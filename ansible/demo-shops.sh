#!/usr/bin/env bash
# Makes COUNT demo shops on this machine and an inventory that reaches them
# over the local connection, to try the collection (or to measure it):
#   ansible/demo-shops.sh PROGRAM_FOLDER DEMO_SQL FOLDER COUNT [ZIP...]
# FOLDER/program copies PROGRAM_FOLDER's programs and carrier files (its Data
# a link), so each shop rebuilds a zones database of its own; FOLDER/shopNN/
# Mailvoro.mdb is made from DEMO_SQL, and FOLDER/inventory.yml lists shop01..
# in the group "shops", their ZIP codes taken from ZIP... in turn. FOLDER is
# new or made by this script before (its parts are then made afresh), the
# user's own and writable by nobody else, so no link in it is another user's.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: $0 PROGRAM_FOLDER DEMO_SQL FOLDER COUNT [ZIP...]" >&2; exit 2; }
program=$(cd "$1" && pwd) sql=$2 folder=$3 count=$4
shift 4
[[ $count =~ ^[1-9][0-9]*$ ]] || { echo "COUNT must be a whole number from 1, not '$count'" >&2; exit 2; }
zips=("$@")
[ ${#zips[@]} -gt 0 ] || zips=(10001 90210 60601 30301 98101 02108 75201 33101)
readonly kMark="# Demo shops made by ansible/demo-shops.sh"

if [ -L "$folder" ] || { [ -e "$folder" ] && [ ! -d "$folder" ]; }; then
  echo "$folder is not a folder: give a new FOLDER" >&2; exit 1
fi
mkdir -p -m 0755 "$folder"
folder=$(cd "$folder" && pwd)
if [ ! -O "$folder" ] || [ -n "$(find "$folder" -maxdepth 0 -perm /022)" ]; then
  echo "$folder is not the user's own, or others may write it: give a new FOLDER" >&2; exit 1
fi
if [ -n "$(ls -A "$folder")" ] && [ "$(head -n1 "$folder/inventory.yml" 2>/dev/null)" != "$kMark" ]; then
  echo "$folder holds files that this script did not make: give a new or empty FOLDER" >&2; exit 1
fi
echo "$kMark" >"$folder/inventory.yml"   # marks the folder before anything else is made in it

rm -rf "$folder/program"
mkdir "$folder/program"
cp "$program"/TarnVel* "$program/addtarnvel-cli" "$program/dbquery" "$folder/program"
ln -s "$program/Data" "$folder/program/Data"
program=$folder/program
rm -f "$folder/template.mdb"
"$program/dbquery" --init "$folder/template.mdb" "$sql"
{
  echo "$kMark"
  echo "shops:"
  echo "  vars:"
  echo "    ansible_connection: local"
  echo "    ansible_python_interpreter: /usr/bin/python3"
  echo "    addtarnvel_install_package: false"
  echo "    addtarnvel_cli: $program/addtarnvel-cli"
  echo "  hosts:"
  for i in $(seq -w 1 "$count"); do
    rm -rf "$folder/shop$i"
    mkdir "$folder/shop$i"
    cp "$folder/template.mdb" "$folder/shop$i/Mailvoro.mdb"
    echo "    shop$i: {addtarnvel_shop_db: $folder/shop$i/Mailvoro.mdb, addtarnvel_origin_zip: \"${zips[$((10#$i % ${#zips[@]}))]}\"}"
  done
} >"$folder/inventory.yml"
rm -f "$folder/template.mdb"
echo "Made $count demo shops in $folder; their inventory is $folder/inventory.yml."
