#!/usr/bin/env python3
"""Checks deploy/tesmora.yml: its scan task runs tesmora-run.cmd through
win_command, and its conditions map the batch file's exit codes as the README
says (0 clean: unchanged; 1 found: changed; 2 error: failed).

    deploy_playbook_check.py PLAYBOOK
"""

import sys

import jinja2
import yaml


def tasks(items):
    for task in items:
        yield task
        for key in ("block", "rescue", "always"):
            yield from tasks(task.get(key, []))


def main(path):
    with open(path) as f:
        plays = yaml.safe_load(f)
    problems = []
    scans = [t for play in plays for t in tasks(play["tasks"]) if "ansible.windows.win_command" in t]
    if len(scans) != 1:
        return ["%d win_command tasks, expected 1" % len(scans)]
    scan = scans[0]
    command = scan["ansible.windows.win_command"]
    variables = plays[0]["vars"]
    rendered = jinja2.Template(command).render(**variables)
    expected = 'cmd.exe /c "%s\\tesmora-run.cmd" "%s" ' % (variables["tesmora_dir"], variables["tesmora_out"])
    if rendered != expected:
        problems.append("the scan runs %r, expected %r" % (rendered, expected))
    register = scan.get("register")
    env = jinja2.Environment()
    for rc, changed, failed in ((0, False, False), (1, True, False), (2, False, True), (-2, False, True)):
        result = {register: {"rc": rc}}
        got = (env.compile_expression(str(scan["changed_when"]))(**result),
               env.compile_expression(str(scan["failed_when"]))(**result))
        if got != (changed, failed):
            problems.append("rc %d: changed %s, failed %s; expected %s, %s" % (rc, got[0], got[1], changed, failed))
    return problems


if __name__ == "__main__":
    found = main(sys.argv[1])
    for p in found:
        print(p)
    sys.exit(1 if found else 0)
