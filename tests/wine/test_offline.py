"""Offline launchers under Wine: the test launcher with the suite package appended by orvix-pack.

An offline launcher installs from its own file at once: no question, no server, even over an
existing installation. When its temporary package file cannot be written (another process holds
it open without sharing) it behaves like a launcher without a package. A launcher signed after
packing still verifies and still installs offline.

The system folder's tar.exe is the unpacking stand-in behind a tap (tar_tap.exe) that keeps a
copy of the archive it is given, so the copied package can be compared with the original after
the launcher has deleted its temporary package file.
"""

from __future__ import annotations

import random
import shutil
import socket
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

import install_support as ins
import wineharness as wh

ORVIX_PACK = wh.BUILD / "host" / "orvix-pack"
CAPTION = "Orvix Email"
QUESTION_START = "Orvix Email is part of Orvix All In One, which is not installed on this PC yet."
MARKER_NAME = "offline-marker.txt"
TAP_COPY = "tar-tap-copy.zip"
TAPPED_NAME = "tar-tapped.exe"
TRAILER_MAGIC = b"ORVIXZIP"
SHORTCUT_NAMES = sorted(f"{name}.lnk" for name, _, _ in ins.PLACES)
# More than two copy buffers of 1 MiB, with an odd tail, so that the copy takes several chunks.
FILLER_SIZE = 2 * 1048576 + 524288 + 123
HOLD_SECONDS = 120


# ---------------------------------------------------------------------------------------
# Building the packages and launchers


def build_package(path: Path, marker: str) -> Path:
    """The installation tests' suite package ("Orvix All In One/Orvix.exe", the stand-in
    suite) with two more entries: a marker file that proves an unpacking took place, and
    incompressible filler stored as is, so that the copy takes several chunks."""
    ins.build_package(path, None)
    filler = random.Random(marker).randbytes(FILLER_SIZE)
    with zipfile.ZipFile(path, "a") as archive:
        archive.writestr(f"{wh.PRODUCT_FOLDER}/{MARKER_NAME}", marker, zipfile.ZIP_DEFLATED)
        archive.writestr(f"{wh.PRODUCT_FOLDER}/data/filler.bin", filler, zipfile.ZIP_STORED)
    return path


def pack_launcher(launcher: Path, package: Path, output: Path) -> Path:
    if not ORVIX_PACK.is_file():
        pytest.fail(f"{ORVIX_PACK} is missing: cmake --preset host && cmake --build --preset host")
    output.parent.mkdir(parents=True, exist_ok=True)
    result = subprocess.run([str(ORVIX_PACK), str(launcher), str(package), str(output)], capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, f"orvix-pack failed: {result.stderr}"
    return output


def _openssl(folder: Path, *args: str) -> None:
    result = subprocess.run(["openssl", *args], cwd=folder, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, f"openssl {' '.join(args[:2])} failed: {result.stderr[-1000:]}"


def make_code_signing_authority(folder: Path) -> tuple[Path, Path, Path]:
    """A test certificate authority and a code signing certificate issued by it:
    (authority certificate, signer certificate, signer key)."""
    folder.mkdir(parents=True, exist_ok=True)
    _openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
             "-days", "30", "-subj", "/O=Orvix tests/CN=Orvix Test Code Signing CA",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    _openssl(folder, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
             "-subj", "/O=Orvix tests/CN=Orvix Test Publisher")
    (folder / "signer.ext").write_text(
        "basicConstraints=CA:FALSE\n"
        "keyUsage=critical,digitalSignature\n"
        "extendedKeyUsage=codeSigning\n"
        "authorityKeyIdentifier=keyid,issuer\n"
        "subjectKeyIdentifier=hash\n")
    _openssl(folder, "x509", "-req", "-in", "signer.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
             "-set_serial", str(int(time.time() * 1000)), "-days", "30", "-sha256", "-extfile", "signer.ext",
             "-out", "signer.crt")
    return folder / "ca.crt", folder / "signer.crt", folder / "signer.key"


def certificate_table(path: Path) -> tuple[int, int]:
    """(file offset, size) of the PE certificate table (data directory 4)."""
    data = path.read_bytes()[:4096]
    pe = int.from_bytes(data[0x3C:0x40], "little")
    optional = pe + 24
    directories = optional + (112 if data[optional:optional + 2] == b"\x0b\x02" else 96)
    entry = directories + 4 * 8
    return int.from_bytes(data[entry:entry + 4], "little"), int.from_bytes(data[entry + 4:entry + 8], "little")


@pytest.fixture(scope="module")
def offline_files(wine_slot, launcher):
    """The test package and the offline launcher made from it, in the run's own slot folder."""
    folder = wine_slot.root / "offline"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    package = build_package(folder / "package.zip", marker="unpacked from the offline launcher")
    offline = pack_launcher(launcher, package, folder / "offline" / wh.LAUNCHER_NAME)
    return package, offline


@pytest.fixture(scope="module")
def tapped_tar(wine_prefix):
    """Puts tar_tap.exe in the system folder as tar.exe, with the tar.exe stand-in beside it
    as tar-tapped.exe, for this module; then puts back what was there."""
    system32 = wine_prefix.system32
    kept = {}
    for name in ("tar.exe", TAPPED_NAME, "tar-mode.txt", TAP_COPY):
        path = system32 / name
        kept[name] = path.read_bytes() if path.exists() else None
        path.unlink(missing_ok=True)
    shutil.copyfile(wh.wine_tool("tar.exe"), system32 / TAPPED_NAME)
    shutil.copyfile(wh.wine_tool("tar_tap.exe"), system32 / "tar.exe")
    yield system32 / TAP_COPY
    for name, content in kept.items():
        path = system32 / name
        path.unlink(missing_ok=True)
        if content is not None:
            path.write_bytes(content)


@pytest.fixture
def tap_copy(tapped_tar):
    """Where the tap leaves its copy of the archive; removed before the test."""
    tapped_tar.unlink(missing_ok=True)
    return tapped_tar


# ---------------------------------------------------------------------------------------
# Running and observing


def assert_no_server_listening() -> None:
    with socket.socket() as probe_socket:
        probe_socket.settimeout(1)
        assert probe_socket.connect_ex(("127.0.0.1", 443)) != 0, "something listens on 127.0.0.1:443"


def run_watched(wine, probe, program: Path, timeout: float = 30) -> tuple[wh.WineResult, list[dict]]:
    """Runs the program to its end while watching the windows; (result, window events)."""
    watch = probe.watch()
    try:
        result = wine.run(program, timeout=timeout)
    finally:
        events = watch.stop()
    return result, events


def shown_classes(events: list[dict]) -> list[str]:
    return [e.get("class") for e in events if e.get("event") == "shown"]


def assert_no_question(events: list[dict]) -> None:
    boxes = [e for e in events if e.get("event") == "shown" and e.get("class") == "#32770"]
    assert not boxes, f"a message box appeared: {boxes}"


def assert_started_on_email(paths: wh.WinePaths, count: int = 1) -> None:
    records = wh.wait_for_suite_records(paths.install_dir, count)
    assert len(records) == count, f"expected {count} start(s) of the suite, found {records}"
    assert records[-1]["command_line"].endswith(" --place email"), records[-1]
    assert records[-1]["current_directory"].rstrip("\\").lower() == paths.win_path(paths.install_dir).lower()


def assert_installed_offline(paths: wh.WinePaths, result: wh.WineResult, events: list[dict], marker: str) -> None:
    assert result.returncode == 0, f"exit code {result.returncode}: {result.stderr[-1000:]}"
    assert_no_question(events)
    assert "OrvixLauncher" in shown_classes(events), f"no progress window was shown: {events}"
    assert (paths.install_dir / MARKER_NAME).read_text() == marker
    assert sorted(p.name for p in paths.start_menu_folder.glob("*.lnk")) == SHORTCUT_NAMES
    assert not paths.package_file.exists(), "the temporary package file was left behind"
    assert_started_on_email(paths)


def hold_package_file(wine, paths: wh.WinePaths) -> wh.Background:
    """Starts hold_file.exe on the temporary package file and returns once it holds it."""
    holder = wine.start(wh.wine_tool("hold_file.exe"), paths.win_path(paths.package_file), HOLD_SECONDS)
    assert holder.wait_for_output("held", timeout=30), f"hold_file.exe did not take the file: {holder.output()}"
    return holder


# ---------------------------------------------------------------------------------------
# The tests


def test_offline_launcher_installs_without_server_or_question(wine, probe, wine_prefix, offline_files, tap_copy):
    package, offline = offline_files
    assert_no_server_listening()

    result, events = run_watched(wine, probe, offline)

    assert_installed_offline(wine_prefix, result, events, "unpacked from the offline launcher")
    assert tap_copy.read_bytes() == package.read_bytes(), "the copied package differs from the package"


def test_offline_launcher_installs_over_an_installed_suite(wine, probe, wine_prefix, offline_files, tap_copy):
    _, offline = offline_files
    wh.install_fake_suite(wine_prefix)
    assert not (wine_prefix.install_dir / MARKER_NAME).exists()

    result, events = run_watched(wine, probe, offline)

    assert_installed_offline(wine_prefix, result, events, "unpacked from the offline launcher")
    assert tap_copy.exists(), "tar.exe was not run"


def test_held_package_file_falls_back_to_the_question(wine, probe, wine_prefix, offline_files, tap_copy):
    _, offline = offline_files
    holder = hold_package_file(wine, wine_prefix)

    run = wine.start(offline)
    box = probe.message_box(CAPTION, timeout=20)
    assert box is not None, "the question did not appear"
    assert box["text"].startswith(QUESTION_START), box
    assert probe.click(CAPTION, "no").get("clicked"), "the No button could not be clicked"
    assert run.wait(timeout=30) == 0

    assert holder.running(), "hold_file.exe ended before the launcher did"
    holder.stop()
    assert not tap_copy.exists(), "tar.exe ran although the package could not be copied"
    assert not wine_prefix.install_dir.exists()
    assert not wine_prefix.start_menu_folder.exists()


def test_held_package_file_with_suite_installed_just_launches(wine, probe, wine_prefix, offline_files, tap_copy):
    _, offline = offline_files
    wh.install_fake_suite(wine_prefix)
    holder = hold_package_file(wine, wine_prefix)

    result, events = run_watched(wine, probe, offline)

    assert holder.running(), "hold_file.exe ended before the launcher did"
    holder.stop()
    assert result.returncode == 0, f"exit code {result.returncode}: {result.stderr[-1000:]}"
    assert shown_classes(events) == [], f"windows appeared: {events}"
    assert not tap_copy.exists(), "tar.exe ran although the package could not be copied"
    assert not (wine_prefix.install_dir / MARKER_NAME).exists(), "the package was unpacked"
    assert_started_on_email(wine_prefix)


def test_signed_offline_launcher_verifies_and_installs(wine, probe, wine_prefix, offline_files, tap_copy,
                                                       work_dir):
    package, offline = offline_files
    ca_cert, signer_cert, signer_key = make_code_signing_authority(work_dir / "signing")
    signed = work_dir / "signed" / wh.LAUNCHER_NAME
    signed.parent.mkdir()
    sign = subprocess.run(["osslsigncode", "sign", "-certs", str(signer_cert), "-key", str(signer_key),
                           "-n", CAPTION, "-h", "sha256", "-in", str(offline), "-out", str(signed)],
                          capture_output=True, text=True, timeout=60)
    assert sign.returncode == 0, f"osslsigncode sign failed: {sign.stdout}{sign.stderr}"

    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca_cert), "-in", str(signed)],
                            capture_output=True, text=True, timeout=60)
    assert verify.returncode == 0, f"osslsigncode verify failed: {verify.stdout}{verify.stderr}"

    # The signature now closes the file; the trailer stands right before it.
    data = signed.read_bytes()
    table_offset, table_size = certificate_table(signed)
    assert table_size > 0 and table_offset + table_size == len(data)
    assert data[-16:-8] != TRAILER_MAGIC
    assert data[table_offset - 16:table_offset - 8] == TRAILER_MAGIC

    result, events = run_watched(wine, probe, signed)

    assert_installed_offline(wine_prefix, result, events, "unpacked from the offline launcher")
    assert tap_copy.read_bytes() == package.read_bytes(), "the copied package differs from the package"
