"""A winhttp.dll planted beside the launcher (a Downloads folder, typically) is never loaded.

The launcher imports statically only DLLs that Windows always takes from the system folder,
and it loads WinHTTP itself from the system folder after restricting the DLL search to it.

Wine by default prefers its own builtin winhttp.dll over any other copy, so a planted DLL
would never be loaded and the Wine check could not fail. The module therefore sets the
prefix's DllOverrides value winhttp=native,builtin, under which Wine searches as Windows
does, the program's own folder first (and restores the value afterwards). A small program
that imports WinHTTP statically, placed beside the same planted DLL, proves that the
planted copy is then loaded when a program does not protect itself.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess

import pytest

import wineharness as wh
from launcher_runs import UNPACK_FAILED, LauncherRun, restore_registry_value, set_registry_value, setup_runner

# DLLs that Windows always loads from the system folder (its known DLLs), whatever the
# program's folder holds.
SYSTEM_FOLDER_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "gdi32.dll", "gdiplus.dll", "imagehlp.dll",
    "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll",
    "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}
OVERRIDES_KEY = r"HKCU\Software\Wine\DllOverrides"
MARKER = "fake_winhttp.loaded"
BODY = os.urandom(600_000)


def static_imports(exe) -> set[str]:
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                          check=True, timeout=60).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}


@pytest.mark.parametrize("exe", [wh.TEST_LAUNCHER, wh.RELEASE_LAUNCHER], ids=["windows-test", "windows"])
def test_static_imports_are_system_folder_dlls_only(exe):
    if not exe.is_file():
        pytest.skip(f"{exe} is not built")
    imports = static_imports(exe)
    assert "kernel32.dll" in imports, imports  # the dump was read at all
    assert "winhttp.dll" not in imports, f"{exe.name} imports WinHTTP statically"
    assert imports <= SYSTEM_FOLDER_DLLS, f"{exe.name} imports {sorted(imports - SYSTEM_FOLDER_DLLS)}"


@pytest.fixture(scope="module")
def native_winhttp_first(wine_session, wine_slot):
    runner = setup_runner(wine_session, wine_slot, "dll-overrides-setup")
    previous = set_registry_value(runner, OVERRIDES_KEY, "winhttp", "native,builtin")
    yield
    restore_registry_value(runner, OVERRIDES_KEY, "winhttp", previous)


@pytest.fixture
def planted_folder(work_dir):
    """A folder holding the planted winhttp.dll, as a Downloads folder might."""
    folder = work_dir / "Downloads"
    folder.mkdir()
    shutil.copyfile(wh.wine_tool("fake_winhttp.dll"), folder / "winhttp.dll")
    return folder


def test_program_importing_winhttp_loads_the_planted_dll(native_winhttp_first, wine, planted_folder):
    program = shutil.copy(wh.wine_tool("static_winhttp.exe"), planted_folder)
    result = wine.run(program, cwd=planted_folder, timeout=60)
    assert result.returncode == 0, result
    marker = planted_folder / MARKER
    assert marker.exists(), f"the negative control did not load the planted DLL: {result.stdout}"
    assert "static_winhttp.exe" in marker.read_text()


def test_launcher_downloads_without_loading_the_planted_dll(native_winhttp_first, wine, probe, https, launcher,
                                                             wine_prefix, planted_folder, work_dir):
    https.serve_bytes(BODY)
    program = shutil.copy(launcher, planted_folder)
    wine_prefix.package_file.write_bytes(b"")
    second_name = work_dir / "package-second-name"  # survives the launcher's deletion of the file
    os.link(wine_prefix.package_file, second_name)

    run = LauncherRun.start(wine, probe, program, cwd=planted_folder, traced=False)
    run.answer_yes()
    box = run.final_box()
    run.finish()

    assert run.exit_code == 1
    assert not (planted_folder / MARKER).exists(), (planted_folder / MARKER).read_text()
    assert box["text"] == UNPACK_FAILED, "the download through the system's WinHTTP must succeed"
    assert second_name.read_bytes() == BODY
