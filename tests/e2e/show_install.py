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
file alone instead of the folder. With --uninstall the installed setup program
then removes the product again ("/uninstall /quiet", the command the
product's uninstall entry names), and what is left of it on the machine is
listed: files and folders, shortcuts, registry keys and values, and the
deletions waiting for the restart; then once more after a restart of the
prefix. Exits 0 when the installation ended with exit code 0 and every
product file arrived intact (and, with --uninstall, the uninstall ended with
exit code 0), else 1.
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
MAIL_PROGRAMS = ("Qor_Mail.exe", "MailConf.exe")
PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
# Where an installation of the sample leaves something: its folders, and the
# registry keys of the product and of its [REGISTRY] section.
PLACES = [INSTALL_DIR, PROGRAMS + r"\Qor_Vex", PROGRAMS + r"\StartUp"]
TREES = [r"HKLM\Software\Qor", r"HKCU\Software\Qor",
         r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qor_Vex_98",
         r"HKCR\CLSID\{9F2B6C31-4E8A-11D0-8A1C-0B5D7E2F4A90}",
         r"HKCR\*\shellex\ContextMenuHandlers\Qor_Vex", r"HKCR\Folder\shellex\ContextMenuHandlers\Qor_Vex"]
VALUES = [(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved",
           "{9F2B6C31-4E8A-11D0-8A1C-0B5D7E2F4A90}"),
          (r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run", "MailScanner"),
          (r"HKLM\System\CurrentControlSet\Control\Session Manager", "PendingFileRenameOperations")]


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
    ap.add_argument("--uninstall", action="store_true",
                    help="then uninstall quietly with the installed setup program and list what is left")
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

        ok = result.exit_code == 0 and intact and not result.timed_out
        if opt.uninstall:
            ok &= uninstall(env, sample, ok_to_boxes, opt.timeout)
        return 0 if ok else 1
    finally:
        env.stop()


def uninstall(env: qorwine.WineEnv, sample: sp.Sample, ok_to_boxes: dict, timeout: float) -> bool:
    """Runs "/uninstall /quiet" with the installed setup program and prints
    what is left, before and after a restart. True when it ended with 0."""
    print("\nwhat the installation made:")
    show_left(env)
    program = INSTALL_DIR + "\\setup.exe"
    installed = env.host_path(program)
    if not installed.exists():
        # The setup program's own step brings it when the program has that
        # step; the uninstall entry names it there, so it is put there.
        installed.write_bytes((sample.source / "setup.exe").read_bytes())
        print(f"\n(the setup program was not in the install folder: copied to {program})")
    # The sample's mail scanner and its configuration program record their
    # starts beside themselves, in the folder that the uninstall empties;
    # stand-ins that record them in their current folder take their place.
    standin = (env.build / "standins" / "record_start_cwd.exe").read_bytes()
    for name in MAIL_PROGRAMS:
        env.host_path(f"{INSTALL_DIR}\\{name}").write_bytes(standin)
    print(f"\n({' and '.join(MAIL_PROGRAMS)} replaced by stand-ins that record their command lines)")
    print(f"\n== {program} /uninstall /quiet")
    result = env.run(program, "/uninstall /quiet", rules=[ok_to_boxes], timeout=timeout, wait_children=True)
    print(result.describe())
    for problem in result.problems():
        print(f"problem: {problem}")
    print(f"\nexit code: {result.exit_code}")
    for name in MAIL_PROGRAMS:
        log = env.host_path(f"{env.SCRATCH}\\{name}.log")
        started = log.read_bytes().decode("cp1250").splitlines()[0::2] if log.exists() else ["(not started)"]
        for line in started:
            print(f"{name} started as: {line}")
    print("\nwhat is left after the uninstall:")
    show_left(env)
    # A fresh Wine server boots the prefix: the deletions waiting for the
    # restart are done then.
    env.restart_server()
    env.run("C:\\kit\\setup.exe", "/calc C:\\nic", rules=[ok_to_boxes], timeout=timeout)
    print("\nwhat is left after a restart:")
    show_left(env)
    return result.exit_code == 0 and not result.timed_out


def show_left(env: qorwine.WineEnv) -> None:
    """Files and folders, keys and values of the product that are on the machine."""
    for place in PLACES:
        folder = env.host_path(place)
        if not folder.is_dir():
            print(f"  {place}: (no such folder)")
            continue
        entries = sorted(folder.iterdir(), key=lambda p: p.name.lower())
        print(f"  {place}: {len(entries)} entries")
        for p in entries:
            mark = "\\" if p.is_dir() else ""
            print(f"    {p.name}{mark}")
    for key in TREES:
        dump = env.reg_export(key)
        if dump is None:
            print(f"  {qorwine.full_key(key)}: (no such key)")
            continue
        for sub, values in dump.items():
            print(f"  {sub}")
            for name, value in sorted(values.items()):
                print(f"    {name or '(default)':<40} {shown(value)}")
    for key, name in VALUES:
        value = env.reg_value(key, name)
        print(f"  {qorwine.full_key(key)} {name}: {shown(value) if value is not None else '(no such value)'}")


if __name__ == "__main__":
    sys.exit(main())
