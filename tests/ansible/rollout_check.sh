#!/usr/bin/env bash
# The roll-out through the Ansible collection to 50 demo shops on this
# machine (local connection, 10 forks, charts of eight origins), two of them
# broken (a read-only shop database, a shop without [Master]):
#   check mode changes no byte; the first run changes every shop, and each
#   ends as one plain addtarnvel-cli run leaves a fresh demo shop of its ZIP
#   code; a second run changes none; state absent brings back every shop's
#   [Master] and [Panel] rows; the broken shops fail with their message.
#   Each run's service_items tells what became of the record; with --diff
#   (check, first and second run) the diff's two sides differ exactly when
#   the shop changed. In the second run one shop is also given an unquoted
#   ZIP code (refused, nothing changes) and state verified with another ZIP
#   code (fails) and its own.
# rollout_check.sh PROGRAM_FOLDER DEMO_SQL; exit 77 when ansible-core is missing.
set -euo pipefail
bin=$(cd "$1" && pwd) sql=$2 here=$(cd "$(dirname "$0")" && pwd)
command -v ansible-playbook >/dev/null || { echo "ansible-core is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
"$here/../../ansible/demo-shops.sh" "$bin" "$sql" "$work/shops" 50 >/dev/null
mkdir "$work/shops/host_vars"
chmod 444 "$work/shops/shop07/Mailvoro.mdb"
echo 'addtarnvel_fault: "read-only"' >"$work/shops/host_vars/shop07.yml"
for shop in shop13 shop41; do
  sqlite3 "$work/shops/$shop/Mailvoro.mdb" "DROP TABLE [Master]"
  echo "addtarnvel_fault: \"Master\"" >"$work/shops/host_vars/$shop.yml"
done

listing() { (cd "$work/shops" && find . -printf '%p %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort); }
rows() {
  for db in "$work"/shops/shop*/Mailvoro.mdb; do
    echo "$db"; sqlite3 -readonly "$db" "SELECT * FROM [Master]; SELECT * FROM [Panel]" 2>&1 || true
  done
}
same() { diff -u "$1" "$2" >&2 || { echo "FAILED: $3" >&2; exit 1; }; }
phase() {
  echo "== $1 (hosts by changed, failed, rescued)"
  ANSIBLE_CONFIG="$here/../../ansible/ansible.cfg" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
    ansible-playbook -i "$work/shops/inventory.yml" -f 10 "$here/rollout_check.yml" -e "phase=$1" "${@:2}" \
    >"$work/$1.log" 2>&1 || { grep -E -A3 "^(fatal|ERROR)" "$work/$1.log" | head -40; echo "FAILED: phase $1" >&2; exit 1; }
  awk '/^shop[0-9]+ +:/ {print $4, $6, $8}' "$work/$1.log" | sort | uniq -c
}

listing >"$work/listing.before"
rows >"$work/rows.before"
phase check --check --diff
listing >"$work/listing.after"
same "$work/listing.before" "$work/listing.after" "check mode changed a shop"

phase first --diff
# One plain run per ZIP code on a fresh demo shop: what each shop must match.
dump() { for f in Mailvoro.mdb TarnVel_Zones.mdb TarnVel_Services.mdb; do sqlite3 -readonly "$1/$f" .dump; done
         cat "$1"/TarnVel*.rpt "$1/TarnVel.jpg" "$1/TarnVel_Generic.lab" | sha256sum; }
while read -r host zip; do
  ref="$work/ref/$zip"
  if [ ! -d "$ref" ]; then
    mkdir -p "$ref" && "$work/shops/program/dbquery" --init "$ref/Mailvoro.mdb" "$sql"
    "$work/shops/program/addtarnvel-cli" --zip "$zip" --yes "$ref/Mailvoro.mdb" >/dev/null
    dump "$ref" >"$ref.dump"
  fi
  [ -f "$work/shops/host_vars/$host.yml" ] && continue
  dump "$work/shops/$host" >"$work/shop.dump"
  same "$ref.dump" "$work/shop.dump" "$host differs from a plain installation for $zip"
done < <(sed -n 's/^    \(shop[0-9]*\): .*origin_zip: "\([0-9]*\)".*/\1 \2/p' "$work/shops/inventory.yml")

phase again --diff
phase absent -e addtarnvel_state=absent
rows >"$work/rows.after"
same "$work/rows.before" "$work/rows.after" "removal did not bring back the rows"
echo "rollout_check: passed"
