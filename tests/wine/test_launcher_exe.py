"""The built launcher file, read with real tools: its import table (objdump), subsystem and
machine, version resource (pefile), icon group (wrestool, icotool) and the absence of any
other resource. Every launcher build present is checked: release and test."""

import struct
import subprocess

import pefile
import pytest

import wineharness as wh

LAUNCHERS = [p for p in (wh.RELEASE_LAUNCHER, wh.TEST_LAUNCHER) if p.is_file()]

# DLLs that Windows always loads from the system folder (the KnownDLLs), plus ntdll and
# kernelbase, which are loaded before any program code runs.
SYSTEM_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll", "gdi32.dll",
    "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "kernelbase.dll", "msctf.dll", "msvcrt.dll",
    "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
    "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}

VERSION_STRINGS = [
    ("CompanyName", "Orvix"),
    ("FileDescription", "Orvix Email"),
    ("FileVersion", "0.1.0.181"),
    ("ProductName", "Orvix"),
    ("ProductVersion", "0.1.0.181"),
    ("OriginalFilename", "Orvix-Email-Windows.exe"),
]

ICON_SIZES = [256, 64, 48, 32, 24, 16]
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
LANG_EN_US = 1033


def objdump(path):
    return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(path)], capture_output=True, text=True,
                          check=True).stdout


def static_imports(path):
    """DLL names of the import table proper (not the delay-load table)."""
    text = objdump(path)
    start = text.find("The Import Tables")
    assert start >= 0, "objdump shows no import table"
    end = text.find("\nThe ", start + 1)
    section = text[start:end if end > 0 else None]
    return [line.split("DLL Name:")[1].strip() for line in section.splitlines() if "DLL Name:" in line]


def wrestool(path, *args):
    return subprocess.run(["wrestool", *args, str(path)], capture_output=True, check=True).stdout


@pytest.fixture(params=LAUNCHERS or [None], ids=lambda p: p.parent.name if p else "none")
def exe(request):
    if request.param is None:
        pytest.fail("no launcher built: cmake --build --preset windows (or windows-test) first")
    return request.param


def test_imports_only_system_dlls_and_no_winhttp(exe):
    imports = [name.lower() for name in static_imports(exe)]
    assert imports, "the import table lists no DLL at all"
    assert sorted(set(imports) - SYSTEM_DLLS) == []
    assert "winhttp.dll" not in imports


def test_is_a_64_bit_gui_program(exe):
    assert "Subsystem\t\t00000002\t(Windows GUI)" in objdump(exe)
    assert pefile.PE(str(exe), fast_load=True).FILE_HEADER.Machine == 0x8664


def test_version_resource_holds_exactly_the_six_strings(exe):
    pe = pefile.PE(str(exe))
    blocks = {info.Key: info for info in pe.FileInfo[0]}
    tables = blocks[b"StringFileInfo"].StringTable
    assert [t.LangID for t in tables] == [b"040904e4"]
    strings = [(k.decode(), v.decode()) for k, v in tables[0].entries.items()]
    assert strings == VERSION_STRINGS
    assert [v.entry for v in blocks[b"VarFileInfo"].Var] == [{b"Translation": "0x0409 0x04e4"}]

    fixed = pe.VS_FIXEDFILEINFO[0]
    version = (0 << 16 | 1, 0 << 16 | 181)  # 0.1.0.181
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == version
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == version
    assert (fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType) == (0, 0, 0x40004, 1)


def test_resources_are_one_icon_group_and_the_version_block_only(exe):
    listing = wrestool(exe, "-l").decode().splitlines()
    entries = [dict(part.lstrip("-").split("=", 1) for part in line.split(" [")[0].split()) for line in listing]
    found = sorted((int(e["type"]), int(e["name"]), int(e["language"])) for e in entries)
    expected = sorted([(RT_ICON, n, LANG_EN_US) for n in range(1, 7)] +
                      [(RT_GROUP_ICON, 1, LANG_EN_US), (RT_VERSION, 1, LANG_EN_US)])
    assert found == expected, "no manifest and nothing else beside the icons and the version block"


def test_icon_group_holds_six_png_images_in_order(exe, work_dir):
    group = wrestool(exe, "-x", "--raw", f"--type={RT_GROUP_ICON}", "--name=1")
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    assert (reserved, kind, count) == (0, 1, 6)
    directory = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    assert [(e[0] or 256, e[1] or 256, e[5], e[7]) for e in directory] == [
        (size, size, 32, number) for number, size in enumerate(ICON_SIZES, start=1)]

    for number, size in enumerate(ICON_SIZES, start=1):
        image = wrestool(exe, "-x", "--raw", f"--type={RT_ICON}", f"--name={number}")
        assert image[:8] == b"\x89PNG\r\n\x1a\n", f"image {number} is not stored as PNG"
        width, height, depth, colour = struct.unpack(">IIBB", image[16:26])
        assert (width, height, depth, colour) == (size, size, 8, 6), f"image {number}: 32-bit RGBA PNG"

    ico = work_dir / "launcher.ico"
    ico.write_bytes(wrestool(exe, "-x", f"--type={RT_GROUP_ICON}", "--name=1"))
    listed = subprocess.run(["icotool", "-l", str(ico)], capture_output=True, text=True, check=True).stdout
    assert [line.split()[2:5] for line in listed.splitlines()] == [
        [f"--width={s}", f"--height={s}", "--bit-depth=32"] for s in ICON_SIZES]
