#!/usr/bin/python
# Installs, removes or verifies the TARN-VEL service in a shop database by
# running addtarnvel-cli on the managed host and reading the summary line
# that ends its transcript.

from __future__ import annotations

DOCUMENTATION = r"""
module: tarnvel_service
short_description: Install, remove or verify the TARN-VEL service in a Mailvoro shop database
description:
  - Runs C(addtarnvel-cli) on the managed host and reads the summary line that ends its transcript.
  - With I(state=present) the service is installed as the AddTarnVel window installs it
    (the zone chart of I(origin_zip), the carrier's files beside the shop database,
    the [Master] record and the [Panel] button). A run that finds everything in place
    reports C(changed=false).
  - With I(state=absent) the service's [Master] records, its [Panel] buttons and the
    carrier's files beside the shop database are removed.
  - With I(state=verified) nothing is changed; the task fails when the service is not
    installed as an installation leaves it, naming each item that is not. With
    I(origin_zip) it also fails unless the shop's zone table holds exactly the chart
    of that ZIP code.
  - In check mode the installation or removal runs on a private copy of the shop
    (C(addtarnvel-cli --dry-run)), so nothing of the shop changes and C(changed) tells
    whether the real run would change it.
  - >-
    In diff mode (C(--diff)) the diff is the shop's items, one line each, as the shop held
    them before the run and as the run leaves them (in check mode, would leave them), for
    example C(record: absent) before and C(record: added) after. The before side is told
    by each item's result in the summary - C(added) and C(created) were C(absent),
    C(extended) was C(present) with the old values of its columns, C(replaced) was
    C(the shop's own), C(removed) and C(cleared) were C(present); the chart was C(absent)
    or C(the shop's own) as its zones database was created or replaced - and an item that
    did not change reads the same on both sides, so a run that changes nothing shows no diff.
  - A failed run fails the host with the texts of the message boxes it showed.
version_added: "1.0.0"
author: AddTarnVel project
requirements:
  - The Debian package addtarnvel (or a program folder holding addtarnvel-cli) on the managed host.
options:
  path:
    description: The shop database on the managed host.
    type: path
    required: true
  state:
    description: Whether the service should be installed, removed, or only checked.
    type: str
    choices: [present, absent, verified]
    default: present
  origin_zip:
    description:
      - The shop's ZIP code of origin, whose zone chart is imported. Required with I(state=present).
      - With I(state=verified), the ZIP code whose chart the zone table must hold.
      - Text of exactly five digits, quoted in YAML (C("02134")). An unquoted C(02134) is read
        as the octal number 1116 and an unquoted C(10001) as a number, so a number is refused
        instead of being turned into the wrong ZIP code.
    type: raw
  cli:
    description: The program to run, by name on the PATH or by path.
    type: str
    default: addtarnvel-cli
  program_folder:
    description: The folder of the carrier's files, when it is not the folder of the program file.
    type: path
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
"""

EXAMPLES = r"""
- name: Install the service with the zone chart of the shop's ZIP code (quoted, as text)
  addtarnvel.shop.tarnvel_service:
    path: /opt/Mailvoro/Mailvoro.mdb
    origin_zip: "02134"
  register: installed

- name: Tell what became of each item
  ansible.builtin.debug:
    msg: "{{ item.item }}: {{ item.result }}"
  loop: "{{ installed.service_items }}"

- name: Fail the host unless the service is installed with the zone chart of 02134
  addtarnvel.shop.tarnvel_service:
    path: /opt/Mailvoro/Mailvoro.mdb
    state: verified
    origin_zip: "02134"

- name: Take the service out again
  addtarnvel.shop.tarnvel_service:
    path: /opt/Mailvoro/Mailvoro.mdb
    state: absent
"""

RETURN = r"""
summary:
  description: The summary event of the run, as addtarnvel-cli printed it.
  returned: when the run printed one
  type: dict
  sample: {"event": "summary", "mode": "install", "dry_run": false, "outcome": "succeeded", "exit": 0,
           "changed": true, "items": [{"item": "record", "result": "added"}]}
service_items:
  description:
    - What became of the [Master] record, the [Panel] button, each shop file and the chart
      (the C(items) of the summary; named so because C(result.items) in a template is the
      dict method, not this list).
  returned: when addtarnvel-cli ran (empty when it printed no summary)
  type: list
  elements: dict
messages:
  description: The message boxes of the run, each as its title and text (line breaks shown as " / ").
  returned: always
  type: list
  elements: str
exit_status:
  description: The exit status of addtarnvel-cli.
  returned: always
  type: int
diff:
  description:
    - The items of the shop, one line each, before and after the run (see the description);
      C(before_header) and C(after_header) name the shop database.
  returned: in diff mode, when addtarnvel-cli printed a summary
  type: dict
  sample: {"before": "record: absent\nbutton: absent\n...", "after": "record: added\nbutton: added (PanelIndex 5)\n...",
           "before_header": "/opt/Mailvoro/Mailvoro.mdb", "after_header": "/opt/Mailvoro/Mailvoro.mdb"}
"""

import json
import re

from ansible.module_utils.basic import AnsibleModule

QUESTION_ICON = 32


def one_line(text):
    return text.replace("\r\n", " / ").replace("\r", " / ").replace("\n", " / ")


def item_line(item):
    detail = [item["detail"]] if item.get("detail") else []
    detail += ["%s %s -> %s" % (c["column"], c["old"], c["new"]) for c in item.get("changes", [])]
    if item.get("rows", -1) >= 0:
        detail.append("%d rows" % item["rows"])
    return "%s: %s%s" % (item["item"], item["result"], " (%s)" % ", ".join(detail) if detail else "")


# What the shop held of an item before the run, by the item's result; an item
# whose result is not here did not change and reads the same on both sides.
HELD_BEFORE = {"added": "absent", "created": "absent", "replaced": "the shop's own",
               "removed": "present", "cleared": "present"}


def diff_lines(items):
    """The items as the shop held them before the run and as the run leaves them."""
    zones = next((i["result"] for i in items if i["item"] == "TarnVel_Zones.mdb"), None)
    before, after = [], []
    for item in items:
        name, result, line = item["item"], item["result"], item_line(item)
        if result == "extended":
            changes = item.get("changes", [])
            before.append("%s: present (%s)" % (name, ", ".join("%s %s" % (c["column"], c["old"]) for c in changes)))
            after.append("%s: extended (%s)" % (name, ", ".join("%s %s" % (c["column"], c["new"]) for c in changes)))
            continue
        if name == "chart" and result == "imported":
            # The chart is the zone table of the zones database beside the shop.
            held = HELD_BEFORE.get(zones)
        else:
            held = HELD_BEFORE.get(result)
        before.append("%s: %s" % (name, held) if held else line)
        after.append(line)
    return "".join(l + "\n" for l in before), "".join(l + "\n" for l in after)


def zip_problem(value):
    """Why value is no ZIP code of five digits, or None when it is one."""
    if isinstance(value, str) and re.fullmatch(r"[0-9]{5}", value):
        return None
    # A number, or the digits a template made of one, lost its leading zeros
    # (an unquoted 02134 is the octal number 1116) or was never text.
    if not isinstance(value, str) or re.fullmatch(r"[0-9]{1,4}", value):
        return ("origin_zip must be text of five digits, not %r; quote it in YAML (\"02134\"): "
                "an unquoted number loses its leading zeros" % (value,))
    return "origin_zip must be text of five digits, not %r" % (value,)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type="path", required=True),
            state=dict(type="str", default="present", choices=["present", "absent", "verified"]),
            origin_zip=dict(type="raw"),
            cli=dict(type="str", default="addtarnvel-cli"),
            program_folder=dict(type="path"),
        ),
        required_if=[("state", "present", ["origin_zip"])],
        supports_check_mode=True,
    )
    p = module.params
    if p["origin_zip"] is not None:
        problem = zip_problem(p["origin_zip"])
        if problem:
            module.fail_json(msg=problem)
    cli = p["cli"] if "/" in p["cli"] else module.get_bin_path(p["cli"], required=True)
    args = [cli, "--json", "--yes"]
    if p["program_folder"]:
        args += ["--program-folder", p["program_folder"]]
    zip_args = ["--zip", p["origin_zip"]] if p["origin_zip"] is not None else []
    args += {"present": zip_args, "absent": ["--remove"], "verified": ["--verify"] + zip_args}[p["state"]]
    if module.check_mode and p["state"] != "verified":
        args.append("--dry-run")
    args.append(p["path"])

    rc, out, err = module.run_command(args)
    events = []
    for line in out.splitlines():
        try:
            events.append(json.loads(line))
        except ValueError:
            pass
    summary = events[-1] if events and events[-1].get("event") == "summary" else None
    messages = ["%s: %s" % (e["title"], one_line(e["text"])) for e in events
                if e.get("event") == "message" and e.get("style", 0) & ~15 != QUESTION_ICON]
    items = summary["items"] if summary else []
    result = dict(changed=bool(summary and summary["changed"]), exit_status=rc, messages=messages,
                  service_items=items)
    if summary:
        result["summary"] = summary
        if module._diff:
            before, after = diff_lines(items)
            result["diff"] = dict(before=before, after=after, before_header=p["path"], after_header=p["path"])

    if rc == 0 and summary and summary["outcome"] == "succeeded":
        module.exit_json(**result)
    if rc == 3:
        reason = "the shop database %s names no file" % p["path"]
    elif p["state"] == "verified" and rc == 1:
        reason = "the service is not installed as an installation%s leaves it: %s" % (
            " for %s" % p["origin_zip"] if p["origin_zip"] is not None else "",
            "; ".join(item_line(i) for i in items if i["result"] != "ok"))
    else:
        reason = " | ".join(messages) or one_line(err.strip()) or "no summary line"
    module.fail_json(msg="addtarnvel-cli failed (exit %d): %s" % (rc, reason), stderr=err, **result)


if __name__ == "__main__":
    main()
