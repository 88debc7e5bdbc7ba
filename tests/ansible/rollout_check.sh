#!/usr/bin/env bash
# The roll-out through the Ansible collection to 50 demo shops on this machine (local connection, 10 forks,
# charts of eight origins), three of them broken (a read-only shop database, two shops without [Master]),
# phase by phase (rollout_check.yml checks each shop's result): check mode changes no byte; the first run
# leaves each shop as one plain addtarnvel-cli run leaves a fresh demo shop of its ZIP code; a second run
# changes none; state absent brings back every shop's [Master] and [Panel] rows.
# rollout_check.sh PROGRAM_FOLDER DEMO_SQL; exit 77 when ansible-core is missing.
set -euo pipefail
bin=$(cd "$1" && pwd) sql=$2 here=$(cd "$(dirname "$0")" && pwd)
command -v ansible-playbook >/dev/null || { echo "ansible-core is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
shops=$work/shops
"$here/../../ansible/demo-shops.sh" "$bin" "$sql" "$shops" 50 >/dev/null
mkdir "$shops/host_vars"
fault() { echo "addtarnvel_fault: \"$2\"" >"$shops/host_vars/$1.yml"; }
chmod 444 "$shops/shop07/Mailvoro.mdb" && fault shop07 read-only
for shop in shop13 shop41; do sqlite3 "$shops/$shop/Mailvoro.mdb" "DROP TABLE [Master]" && fault $shop Master; done

listing() { (cd "$shops" && find . -printf '%p %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort); }
rows() {
  for db in "$shops"/shop*/Mailvoro.mdb; do
    echo "$db"; sqlite3 -readonly "$db" "SELECT * FROM [Master]; SELECT * FROM [Panel]" 2>&1 || true
  done
}
same() { diff -u "$1" "$2" >&2 || { echo "FAILED: $3" >&2; exit 1; }; }
phase() {
  ANSIBLE_CONFIG="$here/../../ansible/ansible.cfg" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
    ansible-playbook -i "$shops/inventory.yml" -f 10 "$here/rollout_check.yml" -e "phase=$1" "${@:2}" \
    >"$work/$1.log" 2>&1 || { grep -E -A3 "^(fatal|ERROR)" "$work/$1.log" | head -40; echo "FAILED: phase $1" >&2; exit 1; }
}

listing >"$work/listing.before"
rows >"$work/rows.before"
phase check --check --diff
listing >"$work/listing.after"
same "$work/listing.before" "$work/listing.after" "check mode changed a shop"

phase first --diff
# One plain run per ZIP code on a fresh demo shop: what each shop must match.
dump() {
  for f in Mailvoro.mdb TarnVel_Zones.mdb TarnVel_Services.mdb; do sqlite3 -readonly "$1/$f" .dump; done
  cat "$1"/TarnVel*.rpt "$1/TarnVel.jpg" "$1/TarnVel_Generic.lab" | sha256sum
}
while read -r host zip; do
  ref=$work/ref/$zip
  if [ ! -d "$ref" ]; then
    mkdir -p "$ref" && "$shops/program/dbquery" --init "$ref/Mailvoro.mdb" "$sql"
    "$shops/program/addtarnvel-cli" --zip "$zip" --yes "$ref/Mailvoro.mdb" >/dev/null
    dump "$ref" >"$ref.dump"
  fi
  [ -f "$shops/host_vars/$host.yml" ] || same "$ref.dump" <(dump "$shops/$host") "$host differs from a plain installation for $zip"
done < <(sed -n 's/^    \(shop[0-9]*\): .*origin_zip: "\([0-9]*\)".*/\1 \2/p' "$shops/inventory.yml")

phase again --diff
phase absent -e addtarnvel_state=absent
rows >"$work/rows.after"
same "$work/rows.before" "$work/rows.after" "removal did not bring back the rows"
echo "rollout_check: passed"
