#!/usr/bin/env bash
# The roll-out through the Ansible collection on 50 demo shops of this machine
# (local connection, 10 forks): `module` the role's service task (state present),
# `floor` a no-op command task (Ansible's own cost of reaching a host with one
# task), `cli` one plain addtarnvel-cli installation on a fresh shop. Each
# playbook runs twice on fresh shops and the faster run counts (the machine is shared).
# The last line reads (goal: R at most 1.5)
#   "rollout-shops-per-minute S module-ms-per-shop M floor-ms-per-shop F cli-ms C module-to-floor R"
# rollout_bench.sh PROGRAM_FOLDER DEMO_SQL
set -euo pipefail
bin=$(cd "$1" && pwd) sql=$2 top=$(cd "$(dirname "$0")/.." && pwd)
shops=50 forks=10
command -v ansible-playbook >/dev/null || { echo "ansible-core is not installed: no roll-out figures"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf -- '- hosts: shops\n  gather_facts: false\n  tasks:\n    - ansible.builtin.command: /bin/true\n' >"$work/floor.yml"
printf -- '- hosts: shops\n  gather_facts: false\n  roles:\n    - addtarnvel.shop.rollout\n' >"$work/module.yml"

now() { date +%s%N; }
# playbook NAME: the milliseconds of one run on fresh shops.
playbook() {
  rm -rf "$work/shops"
  "$top/ansible/demo-shops.sh" "$bin" "$sql" "$work/shops" "$shops" >/dev/null
  local start=$(now)
  ANSIBLE_CONFIG="$top/ansible/ansible.cfg" ansible-playbook -i "$work/shops/inventory.yml" -f "$forks" \
    "$work/$1.yml" >"$work/$1.log" 2>&1 || { cat "$work/$1.log" >&2; exit 1; }
  echo $(( ($(now) - start) / 1000000 ))
}
best() { local a b; a=$(playbook "$1"); b=$(playbook "$1"); echo $(( a < b ? a : b )); }

floor=$(best floor)
module=$(best module)
grep -q "changed=1" "$work/module.log" || { echo "the module changed no shop" >&2; exit 1; }
cli=0
for i in 1 2 3 4 5; do
  rm -rf "$work/one" && mkdir "$work/one" && "$work/shops/program/dbquery" --init "$work/one/Mailvoro.mdb" "$sql"
  start=$(now)
  "$work/shops/program/addtarnvel-cli" --zip 10001 --yes "$work/one/Mailvoro.mdb" >/dev/null
  cli=$(( cli + ($(now) - start) / 1000000 ))
done
cli=$(( cli / 5 ))
printf '%-24s %10s %12s\n' "run ($shops shops, $forks forks)" "total ms" "ms per shop"
printf '%-24s %10d %12d\n' "floor (command: true)" "$floor" $(( floor / shops ))
printf '%-24s %10d %12d\n' "module (state: present)" "$module" $(( module / shops ))
printf '%-24s %10s %12d\n' "one addtarnvel-cli run" "" "$cli"
awk -v m="$module" -v f="$floor" -v c="$cli" -v n="$shops" 'BEGIN {
  printf "rollout-shops-per-minute %.0f module-ms-per-shop %.0f floor-ms-per-shop %.0f cli-ms %d module-to-floor %.2f\n",
         n * 60000 / m, m / n, f / n, c, m / f }'
