"""The sample Qor_Vex product: stand-in files, their stored forms and setup.dat.

Everything is made at build time into a folder outside git:

    <out>/installed/   the product files as they must arrive in the install folder
    <out>/source/      the installation set as a folder: setup.exe, the stored
                       files (SZDD-compressed by mscompress and renamed to the
                       "qor_vexw.ex_" form, readme.txt stored as is,
                       qor_vexw.hlp and qor_dos.txt as ZIP archives),
                       qorapps.dat and setup.dat

The file contents are deterministic (seeded by the file name), of varied
sizes and partly compressible, so every run of the generator makes the same
bytes. setup.exe is the cross-built program and qor_engn.dll the engine
stand-in of tests/standins when it has been built. The programs that an
installation starts (the monitor and the taskbar menu from the autostart
shortcuts, the mail scanner and its configuration program) are copies of
the recording stand-in record_start.exe of the same cross build, so that
every installation starts real programs, each of which appends its command
line and current folder to "<its path>.log".

Sizes and checksums in setup.dat come from the native tool filesum (the
installer's own FileChecksum), its checksum tail from scriptsum (the
installer's own ScriptChecksum); this module only puts the numbers in place.
The tests import this module to make variants of the set (a changed line, a
different product key) and to build the package form of a set.
"""

from __future__ import annotations

import random
import re
import shutil
import struct
import subprocess
import tempfile
import zipfile
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
TEMPLATE = HERE / "setup.dat.in"

# The installed programs that the setup program starts: copies of the
# recording stand-in (tests/standins/record_start.cpp).
RESIDENT_PROGRAMS = ("qor_mon.exe", "qor_menu.exe", "Qor_Mail.exe", "MailConf.exe")

# Where the recording stand-in lies in a cross build folder.
RECORDING_STANDIN = Path("standins") / "record_start.exe"

# Installed name -> size in bytes of the stand-in content. setup.exe, the
# resident programs and, when a built one is given, qor_engn.dll come from the
# build instead.
FILE_SIZES = {
    "qor_vexw.exe": 389_120,  # the main program: a few hundred KB
    "qor_unin.exe": 24_576,
    "qor_engn.dll": 151_552,
    "qor_shex.dll": 28_672,
    "readme.txt": 3_210,
    "qorbase.dat": 233_472,
    "qor_mcfg.exe": 36_864,
    "qor_mcfg.dll": 20_480,
    "qor_mail.hlp": 18_211,
    "qor_mail.cnt": 1_337,
    "qor_vexw.hlp": 77_777,
    "qor_dos.exe": 65_536,
    "qorbase.dos": 100_003,
    "qor_dos.txt": 1_024,
}

QORAPPS_SIZE = 2_345

# Files whose stored form is a ZIP archive holding the file as its one entry,
# deflated or stored, instead of an SZDD-compressed file.
ZIP_FORMS = {
    "qor_vexw.hlp": zipfile.ZIP_DEFLATED,
    "qor_dos.txt": zipfile.ZIP_STORED,
}

_WORDS = (
    b"Qor_Vex skaner monitor baza wirus plik katalog dysk program instalacja "
    b"aktualizacja poczta rejestr ustawienia system okno menu pomoc wersja "
    b"silnik sygnatura kwarantanna raport zadanie harmonogram"
).split()


def content(name: str, size: int) -> bytes:
    """Deterministic stand-in bytes for a product file: runs of random bytes
    between runs of words, so SZDD compresses it to roughly half."""
    rng = random.Random("qor-sample:" + name)
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.45:
            out += rng.randbytes(rng.randint(16, 400))
        else:
            out += b" ".join(rng.choice(_WORDS) for _ in range(rng.randint(4, 40))) + b"\r\n"
    return bytes(out[:size])


def write_big_file(path: Path, size: int, name: str = "big") -> None:
    """Writes `size` deterministic bytes quickly: one MiB of content() repeated,
    each repetition opened by its own index so no two MiB are alike."""
    block = bytearray(content(name, 1 << 20))
    with open(path, "wb") as f:
        index = 0
        left = size
        while left > 0:
            block[0:8] = struct.pack("<Q", index)
            n = min(left, len(block))
            f.write(block[:n])
            left -= n
            index += 1


def stored_name(installed: str) -> str:
    """The conventional name of a compressed file: the last character of the
    extension replaced by "_" ("qor_vexw.exe" -> "qor_vexw.ex_")."""
    base, dot, ext = installed.rpartition(".")
    if not dot:
        return installed + "_"
    return f"{base}.{ext[:-1]}_" if ext else installed + "_"


def compress(src: Path, dst: Path) -> None:
    """SZDD-compresses src into dst with mscompress (which writes "<name>_"
    beside its input), working in a scratch folder."""
    with tempfile.TemporaryDirectory(prefix="qor-szdd-") as tmp:
        work = Path(tmp) / src.name
        shutil.copyfile(src, work)
        subprocess.run(["mscompress", str(work)], check=True, stdout=subprocess.DEVNULL)
        shutil.move(str(work) + "_", dst)


def zip_file(src: Path, dst: Path, method: int) -> None:
    """A ZIP archive whose only entry is src under its own name. Its fixed
    date keeps the archive's bytes the same from run to run."""
    info = zipfile.ZipInfo(src.name, date_time=(2001, 1, 1, 1, 0, 0))
    info.compress_type = method
    with zipfile.ZipFile(dst, "w") as z:
        z.writestr(info, src.read_bytes(), compresslevel=6 if method == zipfile.ZIP_DEFLATED else None)


# ---------------------------------------------------------------- setup.dat

# One "[FILES]" line, after an optional conditional prefix.
_FILE_LINE = re.compile(
    r'^(?P<prefix>\?-?[^?\r\n]*\?)?"(?P<role>[^"\r\n]*)","(?P<name>[^"\r\n]*)",'
    r'(?P<size>-?\w+),(?P<sum>\w+),"(?P<cname>[^"\r\n]*)",(?P<csize>-?\w+),(?P<csum>\w+)'
    r'(?P<rest>.*)$'
)


@dataclass
class FileLine:
    role: str
    name: str
    size: str
    checksum: str
    cname: str
    csize: str
    csum: str
    rest: str = ""  # ',"Dysk 1"' and anything after it
    prefix: str = ""

    def text(self) -> str:
        return (f'{self.prefix}"{self.role}","{self.name}",{self.size},{self.checksum},'
                f'"{self.cname}",{self.csize},{self.csum}{self.rest}')

    @property
    def label(self) -> str:
        m = re.match(r'\s*,\s*"([^"]*)"', self.rest)
        return m.group(1) if m else ""


@dataclass
class Script:
    """setup.dat as lines (without line ends and without the checksum tail)."""
    lines: list[str]

    @classmethod
    def parse(cls, data: bytes) -> "Script":
        text = data.decode("cp1250")
        if re.search(r"Checksum[0-9A-Fa-f]{8}$", text):
            text = text[:-16]
        return cls(text.replace("\r\n", "\n").split("\n"))

    def section_range(self, name: str) -> tuple[int, int]:
        """Index of the first entry line of a section and of the line after its last."""
        header = f"[{name.upper()}]"
        for i, line in enumerate(self.lines):
            if line.upper().startswith(header):
                j = i + 1
                while j < len(self.lines) and not self.lines[j].startswith("["):
                    j += 1
                return i + 1, j
        raise KeyError(name)

    def file_lines(self) -> list[tuple[int, FileLine]]:
        start, end = self.section_range("FILES")
        out = []
        for i in range(start, end):
            m = _FILE_LINE.match(self.lines[i])
            if m:
                d = m.groupdict()
                d["prefix"] = d["prefix"] or ""
                d["checksum"] = d.pop("sum")
                out.append((i, FileLine(**d)))
        return out

    def file(self, installed: str) -> FileLine:
        for _, f in self.file_lines():
            if f.name.lower() == installed.lower():
                return f
        raise KeyError(installed)

    def set_file(self, installed: str, **fields) -> None:
        """Changes fields of the [FILES] line of one installed name."""
        for i, f in self.file_lines():
            if f.name.lower() == installed.lower():
                for k, v in fields.items():
                    setattr(f, k, v)
                self.lines[i] = f.text()
                return
        raise KeyError(installed)

    def remove_file(self, installed: str) -> None:
        for i, f in self.file_lines():
            if f.name.lower() == installed.lower():
                del self.lines[i]
                return
        raise KeyError(installed)

    def set_product(self, key: str, value: str) -> None:
        start, end = self.section_range("PRODUCT")
        for i in range(start, end):
            if self.lines[i].split("=", 1)[0].strip().lower() == key.lower():
                self.lines[i] = f"{key}={value}"
                return
        self.lines.insert(start, f"{key}={value}")

    def body(self) -> bytes:
        """The script bytes before the checksum tail, with CR LF line ends."""
        return "\r\n".join(self.lines).encode("cp1250")


@dataclass
class Tools:
    """The native helpers of one build: filesum and scriptsum."""
    native_build: Path

    @property
    def filesum(self) -> Path:
        return self.native_build / "tools" / "filesum"

    @property
    def scriptsum(self) -> Path:
        return self.native_build / "tools" / "scriptsum"

    def measure(self, paths: list[Path]) -> dict[Path, tuple[int, int]]:
        """Size and FileChecksum of each path, computed by filesum."""
        if not paths:
            return {}
        out = subprocess.run([str(self.filesum), *map(str, paths)], check=True, capture_output=True,
                             text=True).stdout
        result = {}
        for line, path in zip(out.splitlines(), paths):
            size, checksum, _ = line.split(" ", 2)
            result[path] = (int(size), int(checksum, 16))
        return result

    def seal(self, path: Path) -> None:
        """Gives the script file a fresh checksum tail."""
        subprocess.run([str(self.scriptsum), str(path)], check=True, stdout=subprocess.DEVNULL)

    def write_script(self, script: Script, path: Path) -> None:
        path.write_bytes(script.body() + b"Checksum00000000")
        self.seal(path)


def fill_sizes(script: Script, installed_dir: Path, source_dir: Path, tools: Tools) -> None:
    """Fills every [FILES] line whose files exist with their sizes and checksums."""
    lines = script.file_lines()
    wanted = []
    for _, f in lines:
        wanted.append(installed_dir / f.name)
        wanted.append(source_dir / f.cname)
    numbers = tools.measure([p for p in wanted if p.is_file()])
    for i, f in lines:
        inst = numbers.get(installed_dir / f.name)
        stored = numbers.get(source_dir / f.cname)
        if inst:
            f.size, f.checksum = str(inst[0]), f"0x{inst[1]:X}"
        if stored:
            f.csize, f.csum = str(stored[0]), f"0x{stored[1]:X}"
        script.lines[i] = f.text()


# ---------------------------------------------------------------- the set

@dataclass
class Sample:
    root: Path
    installed: Path = field(init=False)
    source: Path = field(init=False)

    def __post_init__(self):
        self.installed = self.root / "installed"
        self.source = self.root / "source"

    @property
    def script_path(self) -> Path:
        return self.source / "setup.dat"

    def script(self) -> Script:
        return Script.parse(self.script_path.read_bytes())


def make_sample(out: Path, setup_exe: Path, tools: Tools, engine_dll: Path | None = None,
                resident_exe: Path | None = None) -> Sample:
    """Makes the whole sample set in `out` (emptied first). The resident
    programs are copies of `resident_exe`, by default the recording stand-in
    of the cross build that setup_exe comes from."""
    resident_exe = resident_exe or setup_exe.parent / RECORDING_STANDIN
    if not resident_exe.is_file():
        raise FileNotFoundError(f"{resident_exe} is missing: build the stand-ins of the cross build "
                                "(ninja standins)")
    residents = {name.lower() for name in RESIDENT_PROGRAMS}
    sample = Sample(out)
    if out.exists():
        shutil.rmtree(out)
    sample.installed.mkdir(parents=True)
    sample.source.mkdir(parents=True)

    script = Script.parse(TEMPLATE.read_bytes())
    for _, f in script.file_lines():
        target = sample.installed / f.name
        if f.name.lower() == "setup.exe":
            shutil.copyfile(setup_exe, target)
        elif f.name.lower() == "qor_engn.dll" and engine_dll and engine_dll.is_file():
            shutil.copyfile(engine_dll, target)
        elif f.name.lower() in residents:
            shutil.copyfile(resident_exe, target)
        else:
            target.write_bytes(content(f.name, FILE_SIZES[f.name]))
        if f.cname.lower() == f.name.lower():
            shutil.copyfile(target, sample.source / f.cname)  # stored as is
        elif f.name in ZIP_FORMS:
            zip_file(target, sample.source / f.cname, ZIP_FORMS[f.name])
        else:
            compress(target, sample.source / f.cname)
    (sample.source / "qorapps.dat").write_bytes(content("qorapps.dat", QORAPPS_SIZE))

    fill_sizes(script, sample.installed, sample.source, tools)
    tools.write_script(script, sample.script_path)
    return sample


def copy_source(sample: Sample, dest: Path) -> Path:
    """A private copy of the folder source, for a test that changes it."""
    if dest.exists():
        shutil.rmtree(dest)
    shutil.copytree(sample.source, dest)
    return dest


# ---------------------------------------------------------------- package

INTERNET_HEADER = b"Qor_Vex Internet Package\r\n\x00"


def package_entries(source: Path, script: Script) -> list[tuple[str, bytes]]:
    """Entries of a package in builder order: every stored file of the table,
    then qorapps.dat and setup.dat (the file as it is, tail included)."""
    entries = []
    for _, f in script.file_lines():
        if f.cname:
            entries.append((f.cname, (source / f.cname).read_bytes()))
    entries.append(("qorapps.dat", (source / "qorapps.dat").read_bytes()))
    entries.append(("setup.dat", (source / "setup.dat").read_bytes()))
    return entries


def package_bytes(entries: list[tuple[str, bytes]], header: bool = False) -> bytes:
    """The package layout: [header] entry data, "LF" D directory, "LF" P.
    Directory entry: name, 0, u32 offset, u32 size; ended by an empty name."""
    data = bytearray(INTERNET_HEADER if header else b"")
    directory = bytearray()
    for name, blob in entries:
        directory += name.encode("cp1250") + b"\0" + struct.pack("<II", len(data), len(blob))
        data += blob
    directory += b"\0"
    position = len(data)
    data += b"LF" + struct.pack("<I", len(directory)) + directory
    data += b"LF" + struct.pack("<I", position)
    return bytes(data)


def write_package(source: Path, out: Path, header: bool = False) -> Path:
    """Writes the package form of a folder set (setup.exe first, at offset 0
    without the header), so the file itself is a setup program that carries
    its installation set."""
    script = Script.parse((source / "setup.dat").read_bytes())
    out.write_bytes(package_bytes(package_entries(source, script), header))
    return out


def main(argv: list[str] | None = None) -> int:
    import argparse

    p = argparse.ArgumentParser(description="Makes the sample Qor_Vex installation set.")
    p.add_argument("--native", required=True, type=Path, help="native build folder (tools/filesum, tools/scriptsum)")
    p.add_argument("--win", required=True, type=Path,
                   help="cross build folder (setup.exe, standins/record_start.exe, standins/full/qor_engn.dll)")
    p.add_argument("--out", required=True, type=Path, help="folder to make (emptied first)")
    p.add_argument("--package", type=Path, help="also write the package form of the set to this file")
    args = p.parse_args(argv)

    setup_exe = args.win / "setup.exe"
    if not setup_exe.is_file():
        p.error(f"{setup_exe} is missing: build the cross build first")
    tools = Tools(args.native)
    for tool in (tools.filesum, tools.scriptsum):
        if not tool.is_file():
            p.error(f"{tool} is missing: build the native build first")
    if not (args.win / RECORDING_STANDIN).is_file():
        p.error(f"{args.win / RECORDING_STANDIN} is missing: build the stand-ins of the cross build")
    engine = args.win / "standins" / "full" / "qor_engn.dll"
    sample = make_sample(args.out, setup_exe, tools, engine if engine.is_file() else None)
    print(f"sample set: {sample.source}")
    if args.package:
        write_package(sample.source, args.package)
        print(f"package: {args.package}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
