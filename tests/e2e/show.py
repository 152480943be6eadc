#!/usr/bin/env python3
"""Runs setup.exe once under Wine and the UI driver and prints what happened:
every window as the user saw it, what was clicked, the program's standard
output and its exit code.

    tests/e2e/show.py [--build DIR] [--put HOSTFILE=WINPATH]... [--rule RULE]...
                      [--answer-ok] [--timeout S] [--winver VERSION] [ARGUMENT TEXT]

--put copies a host file into the prefix first; --answer-ok presses OK on every
message box that has one (after the --rule rules). The prefix lives in
DIR/wine (default DIR: $QOR_WIN_BUILD or build/main-FLAVOUR, FLAVOUR as
tools/wine-env flavour says) and is reset first.
Exits with setup.exe's exit code (124 when it did not end in time).
"""

from __future__ import annotations

import argparse
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qorwine  # noqa: E402


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", type=Path)
    ap.add_argument("--put", action="append", default=[], metavar="HOSTFILE=WINPATH")
    ap.add_argument("--rule", action="append", default=[])
    ap.add_argument("--answer-ok", action="store_true")
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--winver", default=None)
    ap.add_argument("args", nargs="?", default="")
    opt = ap.parse_args()

    build = (opt.build or qorwine.default_build("main")).resolve()
    env = qorwine.WineEnv.start(build)
    try:
        env.reset()  # only when someone used the prefix before us
        setup = r"C:\qortest\setup.exe"
        target = env.host_path(setup)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(env.tool("setup.exe"), target)
        for placement in opt.put:
            host, _, win = placement.partition("=")
            data = Path(host).read_bytes()
            env.write_file(win, data)
            print(f"put {host} ({len(data)} bytes) at {win}")
        if opt.winver:
            env.set_windows_version("setup.exe", opt.winver)
        rules = list(opt.rule)
        if opt.answer_ok:
            rules.append(qorwine.rule("click:1", kind="messagebox", has=1, count="*"))
        result = env.run(setup, opt.args, rules=rules, timeout=opt.timeout)
        print(result.describe())
        for problem in result.problems():
            print(f"problem: {problem}")
        return 124 if result.timed_out else (result.exit_code or 0)
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
