#!/usr/bin/env python3
"""Installs the sample product quietly under Wine from its folder and prints
what happened: the run's transcript and exit code, the files in the install
folder with their sizes (checked byte for byte against the sample), the
program group and autostart shortcuts in the Start menu, the programs the
installation started, and the installation and shortcut records from the
registry.

    tests/e2e/show_install.py --build CROSS_BUILD --sample SAMPLE_DIR [ARGUMENT TEXT]

SAMPLE_DIR is what sample/make-sample made (its source/ folder is copied to
C:\\kit in the prefix, whose program C:\\kit\\setup.exe then runs with
"/quiet" and the argument text). The prefix lives in CROSS_BUILD/wine and is
reset first. With --package the program first builds the one-file installer
C:\\pkg\\setup.exe from C:\\kit ("/pack"), and the installation runs from that
file alone instead of the folder. Exits 0 when the installation ended with exit code 0 and every
product file arrived intact, else 1.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qorwine  # noqa: E402

sys.path.insert(0, str(qorwine.REPO / "sample"))
import sample_product as sp  # noqa: E402

INSTALL_DIR = "C:\\Program Files\\Qor_Vex"
KEYS = [r"HKLM\Software\Qor\Qor_Vex\Setup", r"HKLM\Software\Qor\Qor_Vex\Setup\ProgmanEntries",
        r"HKCU\Software\Qor\Qor_Vex\Options"]
PROGRAMS = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"


def shown(value: qorwine.RegValue) -> str:
    v = value.value
    if isinstance(v, bytes):
        v = v.hex(" ")
    elif isinstance(v, int):
        v = f"{v} (0x{v:X})"
    return f"{value.type:<10} {v}"


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", type=Path)
    ap.add_argument("--sample", required=True, type=Path)
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--package", action="store_true", help="build a package with /pack and install from it")
    ap.add_argument("args", nargs="?", default="")
    opt = ap.parse_args()

    sample = sp.Sample(opt.sample.resolve())
    env = qorwine.WineEnv.start((opt.build or qorwine.default_build("main")).resolve())
    try:
        env.reset()
        kit = env.host_path("C:\\kit")
        sp.copy_source(sample, kit)
        print(f"the sample set is at C:\\kit ({len(list(kit.iterdir()))} files)")
        ok_to_boxes = qorwine.rule("click:1", kind="messagebox", has=1, count="*")
        program = "C:\\kit\\setup.exe"
        if opt.package:
            env.host_path("C:\\pkg").mkdir(parents=True, exist_ok=True)
            program = "C:\\pkg\\setup.exe"
            packed = env.run("C:\\kit\\setup.exe", f'/pack"C:\\kit","{program}"', rules=[ok_to_boxes],
                             timeout=opt.timeout)
            print(packed.describe())
            package = env.host_path(program)
            if packed.exit_code != 0 or not package.is_file():
                print(f"\n/pack failed with exit code {packed.exit_code}")
                return 1
            print(f"\n/pack exit code 0: {program} holds the whole set ({package.stat().st_size} bytes)\n")
        result = env.run(program, ("/quiet " + opt.args).strip(), rules=[ok_to_boxes],
                         timeout=opt.timeout)
        print(result.describe())
        for problem in result.problems():
            print(f"problem: {problem}")
        print(f"\nexit code: {result.exit_code}")

        folder = env.host_path(INSTALL_DIR)
        names = [f.name for _, f in sample.script().file_lines()]
        print(f"\nfiles in {INSTALL_DIR}:")
        intact = True
        listed = {p.name.lower(): p for p in folder.iterdir()} if folder.is_dir() else {}
        for name in names:
            got = listed.pop(name.lower(), None)
            expected = (sample.installed / name).read_bytes()
            if got is None:
                if name.lower() == "setup.exe":
                    # The setup program's own step brings it, not the copy
                    # of the product files.
                    state = "not there (left to the setup program's own step)"
                else:
                    state = "MISSING"
                    intact = False
                print(f"  {'':>10}  {name:<14} {state}")
                continue
            same = got.read_bytes() == expected
            intact &= same
            print(f"  {got.stat().st_size:>10}  {got.name:<14} {'ok' if same else 'DIFFERS from the sample'}")
        for name, p in sorted(listed.items()):
            print(f"  {p.stat().st_size:>10}  {p.name:<14} (not in the file table)")

        for key in KEYS:
            dump = env.reg_export(key)
            values = dump.key(key) if dump else None
            print(f"\n{qorwine.full_key(key)}:")
            if values is None:
                print("  (no such key)")
            for name, value in sorted((values or {}).items()):
                print(f"  {name or '(default)':<20} {shown(value)}")
        programs = env.host_path(PROGRAMS)
        print(f"\nshortcuts in {PROGRAMS}:")
        for p in sorted(programs.rglob("*")) if programs.is_dir() else []:
            if p.is_file():
                print("  " + str(p.relative_to(programs)).replace("/", "\\"))
        # The resident stand-ins record each start in "<program>.log" (the
        # registry read above gave them time to).
        print("\nprograms started by the installation (their stand-ins' records):")
        for log in sorted(folder.glob("*.log")) if folder.is_dir() else []:
            lines = log.read_text("cp1250", errors="replace").splitlines()
            for command, cwd in zip(lines[0::2], lines[1::2]):
                print(f"  {command}   (in {cwd})")

        return 0 if result.exit_code == 0 and intact and not result.timed_out else 1
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
