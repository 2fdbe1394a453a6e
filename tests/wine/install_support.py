"""What the installation tests need besides the harness (wineharness.py): suite packages
built at test time, the stand-in system tools (tar.exe, powershell.exe) in the test prefix,
the drivers that call the launcher's own RunHidden / UnpackPackage / CreateShortcuts, and
shortcut files read back with lnkinfo.

Stand-ins (tests/winetools/fake_tar.c, fake_powershell.c): each records its command line in
"<tool>-record.txt" beside itself and follows "<tool>-mode.txt" beside itself ("unpack", or
an exit code to return at once). "unpack" really extracts, with Debian's bsdtar.
"""

from __future__ import annotations

import json
import re
import shutil
import struct
import subprocess
import zipfile
import zlib
from dataclasses import dataclass
from pathlib import Path

import wineharness as wh

# The suite's places: shortcut name, place id, icon base name.
PLACES = [
    ("Orvix All In One", "", "suite"),
    ("Orvix Messaging", "messages", "chat"),
    ("Orvix Camera", "camera", "camera"),
    ("Orvix Contacts", "contacts", "contacts"),
    ("Orvix Email", "email", "email"),
    ("Orvix Friends In Common", "them", "friends"),
    ("Orvix Map", "map", "map"),
    ("Orvix Music", "music", "music"),
    ("Orvix Alarm and Reminders", "alarm", "alarm"),
    ("Orvix Storage Management", "storage", "storage"),
]

POWERSHELL_DIR = ("WindowsPowerShell", "v1.0")


# ---------------------------------------------------------------------------------------
# Suite packages


def _png(size: int, rgba: tuple[int, int, int, int]) -> bytes:
    """A square PNG of one colour."""
    rows = b"".join(b"\0" + bytes(rgba) * size for _ in range(size))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def make_icons(folder: Path) -> dict[str, Path]:
    """One .ico per icon base name (each its own colour), made with icotool."""
    folder.mkdir(parents=True, exist_ok=True)
    icons = {}
    for number, (_, _, base) in enumerate(PLACES):
        png = folder / f"{base}.png"
        png.write_bytes(_png(32, (40 + 20 * number, 90, 200 - 15 * number, 255)))
        icon = folder / f"{base}.ico"
        subprocess.run(["icotool", "-c", "-o", str(icon), str(png)], check=True, capture_output=True, timeout=30)
        icons[base] = icon
    return icons


def build_package(path: Path, icons: dict[str, Path] | None, *, with_suite: bool = True) -> Path:
    """A suite package as the launcher expects it: "Orvix All In One/Orvix.exe" (the
    stand-in suite) and "Orvix All In One/icons/<base>.ico"."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        if with_suite:
            archive.write(wh.wine_tool(wh.SUITE_EXE), f"{wh.PRODUCT_FOLDER}/{wh.SUITE_EXE}")
        for base, icon in (icons or {}).items():
            archive.write(icon, f"{wh.PRODUCT_FOLDER}/icons/{base}.ico")
    return path


def package_members(path: Path) -> dict[str, bytes]:
    with zipfile.ZipFile(path) as archive:
        return {name: archive.read(name) for name in archive.namelist() if not name.endswith("/")}


def unpacked_files(destination: Path) -> dict[str, bytes]:
    """Every file under `destination`, keyed like zip members ("a/b/c")."""
    return {str(p.relative_to(destination)): p.read_bytes() for p in sorted(destination.rglob("*")) if p.is_file()}


# ---------------------------------------------------------------------------------------
# The stand-in system tools


@dataclass
class StandIns:
    """tar.exe and powershell.exe stand-ins in the prefix's system folder."""
    system32: Path

    @property
    def tar(self) -> Path:
        return self.system32 / "tar.exe"

    @property
    def powershell(self) -> Path:
        return self.system32.joinpath(*POWERSHELL_DIR, "powershell.exe")

    def _folder(self, tool: str) -> Path:
        return (self.tar if tool == "tar" else self.powershell).parent

    def install(self) -> None:
        """Both stand-ins in place, in "unpack" mode, with no records."""
        shutil.copyfile(wh.wine_tool("tar.exe"), self.tar)
        self.powershell.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(wh.wine_tool("powershell.exe"), self.powershell)
        for tool in ("tar", "powershell"):
            (self._folder(tool) / f"{tool}-record.txt").unlink(missing_ok=True)
            (self._folder(tool) / f"{tool}-mode.txt").unlink(missing_ok=True)

    def remove_tar(self) -> None:
        self.tar.unlink(missing_ok=True)

    def set_mode(self, tool: str, mode: str | int) -> None:
        """"unpack", or the exit code the tool returns without doing anything."""
        (self._folder(tool) / f"{tool}-mode.txt").write_text(str(mode))

    def command_lines(self, tool: str) -> list[str]:
        record = self._folder(tool) / f"{tool}-record.txt"
        if not record.exists():
            return []
        return [json.loads(line)["command_line"] for line in record.read_text(encoding="utf-8").splitlines()
                if line.strip()]


def prefer_native_powershell(runner: wh.Wine) -> None:
    """Makes the prefix load powershell.exe from its file rather than Wine's own stub."""
    runner.run("reg", "add", r"HKCU\Software\Wine\DllOverrides", "/v", "powershell.exe", "/d", "native", "/f",
               timeout=60, check=True)


def import_registry(runner: wh.Wine, work: Path, key: str, values: dict[str, str]) -> None:
    """Sets REG_EXPAND_SZ values under an HKCU key in one `reg import`."""
    lines = ["Windows Registry Editor Version 5.00", "", f"[{key}]"]
    for name, value in values.items():
        data = (value + "\0").encode("utf-16-le")
        lines.append(f'"{name}"=hex(2):' + ",".join(f"{b:02x}" for b in data))
    reg_file = work / "values.reg"
    reg_file.write_bytes(("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-16-le"))
    runner.run("reg", "import", wh.unix_to_win(reg_file), timeout=60, check=True)


# ---------------------------------------------------------------------------------------
# Drivers of the launcher's own code


def run_driver(runner: wh.Wine, *args: str, timeout: float = 120) -> dict:
    """install_driver.exe or runhidden_driver.exe (first argument: the exe name); its JSON line."""
    result = runner.run(wh.wine_tool(args[0]), *args[1:], timeout=timeout)
    assert result.returncode == 0, f"{args} exited with {result.returncode}: {result.stderr[-2000:]}"
    lines = [line for line in result.stdout.splitlines() if line.strip()]
    assert len(lines) == 1, f"{args}: expected one JSON line, got {result.stdout!r} / {result.stderr[-2000:]!r}"
    return json.loads(lines[0])


# ---------------------------------------------------------------------------------------
# Shortcut files


_LNKINFO_FIELDS = {
    "Local path": "target",
    "Working directory": "working_directory",
    "Command line arguments": "arguments",
    "Icon location": "icon_location",
    "Icon index": "icon_index",
    "Description": "description",
}


def read_shortcut(path: Path) -> dict[str, str]:
    """The fields of a .lnk file as lnkinfo prints them: target, working_directory,
    arguments, icon_location, icon_index, description (absent ones are missing)."""
    result = subprocess.run(["lnkinfo", str(path)], capture_output=True, text=True, timeout=30)
    assert result.returncode == 0, f"lnkinfo {path}: {result.stderr}"
    fields = {}
    for line in result.stdout.splitlines():
        match = re.match(r"^\t([A-Za-z ]+?)\t+: ?(.*)$", line)
        if match and match.group(1) in _LNKINFO_FIELDS:
            fields.setdefault(_LNKINFO_FIELDS[match.group(1)], match.group(2))
    return fields
