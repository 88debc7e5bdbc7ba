#!/usr/bin/env bash
# Makes COUNT demo shops on this machine and an inventory that reaches them
# over the local connection, to try the collection (or to measure it):
#   ansible/demo-shops.sh PROGRAM_FOLDER DEMO_SQL FOLDER COUNT [ZIP...]
# FOLDER/program is a copy of the programs and carrier files of
# PROGRAM_FOLDER (its Data a link), so that the shops' installations rebuild
# a working zones database of their own. FOLDER/shopNN/Mailvoro.mdb is made
# from DEMO_SQL (data/demo-shop.sql), and FOLDER/inventory.yml lists the
# hosts shop01.. in the group "shops", their ZIP codes taken from ZIP... in turn.
set -euo pipefail
program=$(cd "$1" && pwd) sql=$2 folder=$3 count=$4
shift 4
zips=("$@")
[ ${#zips[@]} -gt 0 ] || zips=(10001 90210 60601 30301 98101 02108 75201 33101)
mkdir -p "$folder/program"
folder=$(cd "$folder" && pwd)
cp "$program"/TarnVel* "$program/addtarnvel-cli" "$program/dbquery" "$folder/program"
ln -sfn "$program/Data" "$folder/program/Data"
program=$folder/program
rm -f "$folder/template.mdb"
"$program/dbquery" --init "$folder/template.mdb" "$sql"
{
  echo "shops:"
  echo "  vars:"
  echo "    ansible_connection: local"
  echo "    ansible_python_interpreter: /usr/bin/python3"
  echo "    addtarnvel_install_package: false"
  echo "    addtarnvel_cli: $program/addtarnvel-cli"
  echo "  hosts:"
  for i in $(seq -w 1 "$count"); do
    mkdir -p "$folder/shop$i"
    cp "$folder/template.mdb" "$folder/shop$i/Mailvoro.mdb"
    echo "    shop$i: {addtarnvel_shop_db: $folder/shop$i/Mailvoro.mdb, addtarnvel_origin_zip: \"${zips[$((10#$i % ${#zips[@]}))]}\"}"
  done
} >"$folder/inventory.yml"
rm -f "$folder/template.mdb"
