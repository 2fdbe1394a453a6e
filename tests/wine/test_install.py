"""Installation under Wine: the hidden process runner, unpacking through the system's tar.exe
with PowerShell's Expand-Archive as the fallback, the Start menu shortcuts, and the whole
first run from the question to the started suite.

tar.exe and powershell.exe are stand-ins (tests/winetools) that record their command line and
extract with Debian's bsdtar, the engine of the tar.exe that Windows ships. RunHidden,
UnpackPackage and CreateShortcuts are called through small drivers linked with the
launcher's own sources; the first-run tests drive the real launcher."""

from __future__ import annotations

import json
import shutil

import pytest

import install_support as ins
import wineharness as wh

CAPTION = "Orvix Email"
SUITE_WINDOW_CLASS = "OrvixSuiteStandIn"
UNPACK_FAILURE_TEXT = ("Could not unpack Orvix All In One.\n\n"
                       "You can download Orvix All In One from https://localhost instead.")
POWERSHELL_EXE = r"C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe"
TAR_EXE = r"C:\windows\system32\tar.exe"


def tar_command_line(package: str, destination: str) -> str:
    return f'"{TAR_EXE}" -xf "{package}" -C "{destination}"'


def powershell_command_line(package_literal: str, destination_literal: str) -> str:
    """The expected line, with the single-quoted literals given already escaped."""
    return (f'"{POWERSHELL_EXE}" -NoProfile -ExecutionPolicy Bypass -Command "Expand-Archive -Force '
            f"-LiteralPath '{package_literal}' -DestinationPath '{destination_literal}'\"")


# ---------------------------------------------------------------------------------------
# Fixtures


@pytest.fixture(scope="session")
def packages(wine_slot):
    """The test packages, built once per run from the stand-in suite and ten icons."""
    folder = wine_slot.root / "packages"
    shutil.rmtree(folder, ignore_errors=True)
    icons = ins.make_icons(folder / "icons")
    return {
        "icons": icons,
        "full": ins.build_package(folder / "full.zip", icons),
        "no_suite": ins.build_package(folder / "no-suite.zip", icons, with_suite=False),
    }


@pytest.fixture(scope="session")
def _native_powershell(wine_session, wine_slot):
    env, paths, _ = wine_session
    ins.prefer_native_powershell(wh.Wine(env, paths, wine_slot.root))


@pytest.fixture
def stand_ins(wine, wine_prefix, _native_powershell):
    """Both stand-ins installed in "unpack" mode with empty records (tar.exe stays installed
    after the test, so later launcher runs in this prefix can unpack too)."""
    tools = ins.StandIns(wine_prefix.system32)
    tools.install()
    yield tools
    tools.install()


def place_package(paths: wh.WinePaths, source) -> str:
    """Copies a package to the launcher's temporary package file; its Windows path."""
    shutil.copyfile(source, paths.package_file)
    return paths.win_path(paths.package_file)


def install_earlier_suite(paths: wh.WinePaths) -> bytes:
    """An earlier installation's suite executable (other bytes than the package's)."""
    paths.install_dir.mkdir(parents=True, exist_ok=True)
    earlier = b"MZ earlier installation"
    paths.suite_exe.write_bytes(earlier)
    return earlier


# ---------------------------------------------------------------------------------------
# RunHidden


@pytest.mark.parametrize("exit_code, run_ms", [
    pytest.param(0, 0, id="exit 0"),
    pytest.param(1, 0, id="exit 1"),
    pytest.param(0, 1300, id="over a second, exit 0"),
    pytest.param(7, 1300, id="over a second, exit 7"),
])
def test_run_hidden_reports_exit_code_and_keeps_messages_flowing(wine, work_dir, request, exit_code, run_ms):
    case = request.node.callspec.id
    record = work_dir / "startup.json"
    child = wh.unix_to_win(wh.wine_tool("child.exe"))
    command_line = f'"{child}" {exit_code} {run_ms} "{wh.unix_to_win(record)}"'

    outcome = ins.run_driver(wine, "runhidden_driver.exe", command_line)

    assert outcome["result"] is (exit_code == 0), f"{case}: {outcome}"
    assert outcome["unchanged"] is True, f"{case}: {outcome}"
    startup = json.loads(record.read_text())
    assert startup == {"uses_show_window": True, "show_window": 0}, f"{case}: child not started hidden: {startup}"
    if outcome["elapsed_ms"] < 100:
        assert outcome["dispatched"] == 0, f"{case}: messages drained before the first 100 ms wait ended: {outcome}"
    if run_ms:
        assert outcome["elapsed_ms"] >= run_ms, f"{case}: returned before the child ended: {outcome}"
        assert outcome["dispatched"] >= 8, f"{case}: too few messages dispatched while waiting: {outcome}"
        assert outcome["max_gap_ms"] <= 400, f"{case}: the queue went undrained too long: {outcome}"


def test_run_hidden_missing_program_fails_at_once(wine):
    outcome = ins.run_driver(wine, "runhidden_driver.exe", r'"C:\no such folder\missing.exe" 0')

    assert outcome["result"] is False, outcome
    assert outcome["unchanged"] is True, outcome
    assert outcome["dispatched"] == 0, f"a failed start must not wait or drain messages: {outcome}"
    assert outcome["elapsed_ms"] < 100, outcome


# ---------------------------------------------------------------------------------------
# UnpackPackage


def test_unpack_with_tar(wine, wine_prefix, stand_ins, packages):
    package = place_package(wine_prefix, packages["full"])

    outcome = ins.run_driver(wine, "install_driver.exe", "unpack", package)

    assert outcome["result"] is True, outcome
    destination = wine_prefix.win_path(wine_prefix.programs)
    assert outcome["destination"] == destination
    assert stand_ins.command_lines("tar") == [tar_command_line(package, destination)]
    assert stand_ins.command_lines("powershell") == [], "PowerShell ran after a successful tar run"
    assert ins.unpacked_files(wine_prefix.programs) == ins.package_members(packages["full"])


@pytest.mark.parametrize("case", ["tar missing", "tar fails"])
def test_unpack_falls_back_to_powershell(wine, wine_prefix, stand_ins, packages, case):
    if case == "tar missing":
        stand_ins.remove_tar()
    else:
        stand_ins.set_mode("tar", 1)
    package = place_package(wine_prefix, packages["full"])

    outcome = ins.run_driver(wine, "install_driver.exe", "unpack", package)

    assert outcome["result"] is True, f"{case}: {outcome}"
    destination = wine_prefix.win_path(wine_prefix.programs)
    expected_tar = [] if case == "tar missing" else [tar_command_line(package, destination)]
    assert stand_ins.command_lines("tar") == expected_tar, case
    assert stand_ins.command_lines("powershell") == [powershell_command_line(package, destination)], case
    assert ins.unpacked_files(wine_prefix.programs) == ins.package_members(packages["full"]), case


@pytest.mark.parametrize("case, package_name, tar_mode, powershell_mode, earlier, expected", [
    # tar succeeds, the archive has no Orvix.exe: false, and PowerShell is not tried.
    ("tar ok, no suite exe", "no_suite", "unpack", "unpack", False, False),
    # The final check only asks whether the file exists.
    ("tar ok, no suite exe, earlier installation", "no_suite", "unpack", "unpack", True, True),
    ("tar missing, PowerShell fails", "full", None, 1, False, False),
    ("both fail, earlier installation", "full", 1, 1, True, False),
])
def test_unpack_failure_rows(wine, wine_prefix, stand_ins, packages, case, package_name, tar_mode,
                             powershell_mode, earlier, expected):
    if tar_mode is None:
        stand_ins.remove_tar()
    else:
        stand_ins.set_mode("tar", tar_mode)
    stand_ins.set_mode("powershell", powershell_mode)
    earlier_bytes = install_earlier_suite(wine_prefix) if earlier else None
    package = place_package(wine_prefix, packages[package_name])

    outcome = ins.run_driver(wine, "install_driver.exe", "unpack", package)

    assert outcome["result"] is expected, f"{case}: {outcome}"
    tar_ran = tar_mode is not None
    assert len(stand_ins.command_lines("tar")) == (1 if tar_ran else 0), case
    powershell_expected = not tar_ran or tar_mode != "unpack"
    assert len(stand_ins.command_lines("powershell")) == (1 if powershell_expected else 0), case
    if earlier_bytes is not None:
        assert wine_prefix.suite_exe.read_bytes() == earlier_bytes, f"{case}: the earlier suite exe was replaced"
    else:
        assert not wine_prefix.suite_exe.exists(), case
    if tar_mode == "unpack":
        icons = wine_prefix.install_dir / "icons"
        assert sorted(p.name for p in icons.iterdir()) == sorted(f"{b}.ico" for _, _, b in ins.PLACES), case


@pytest.fixture
def apostrophe_profile(wine, wine_prefix, work_dir):
    """The local application data folder moved into a user profile named O'Brien (Wine takes
    it from the registry), so the user program files folder is
    C:\\users\\O'Brien\\AppData\\Local\\Programs. Restored afterwards."""
    key = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
    profile = wine_prefix.drive_c / "users" / "O'Brien"
    ins.import_registry(wine, work_dir, key, {"Local AppData": r"C:\users\O'Brien\AppData\Local"})
    try:
        yield profile
    finally:
        ins.import_registry(wine, work_dir, key, {"Local AppData": r"%USERPROFILE%\AppData\Local"})
        shutil.rmtree(profile, ignore_errors=True)


@pytest.mark.parametrize("route", ["tar", "powershell"])
def test_unpack_into_profile_with_apostrophe(wine, wine_prefix, stand_ins, packages, apostrophe_profile, route):
    if route == "powershell":
        stand_ins.remove_tar()
    package_dir = apostrophe_profile / "Temp" / "Zoë’s ‘files’"
    package_dir.mkdir(parents=True)
    shutil.copyfile(packages["full"], package_dir / wh.PACKAGE_FILE)
    package = wine_prefix.win_path(package_dir / wh.PACKAGE_FILE)
    destination = r"C:\users\O'Brien\AppData\Local\Programs"

    outcome = ins.run_driver(wine, "install_driver.exe", "unpack", package)

    assert outcome["destination"] == destination, outcome
    assert outcome["result"] is True, f"{route}: {outcome}"
    if route == "powershell":
        assert stand_ins.command_lines("powershell") == [powershell_command_line(
            r"C:\users\O''Brien\Temp\Zoë’’s ‘‘files’’" + "\\" + wh.PACKAGE_FILE,
            r"C:\users\O''Brien\AppData\Local\Programs")]
    else:
        assert stand_ins.command_lines("tar") == [tar_command_line(package, destination)]
    programs = apostrophe_profile / "AppData" / "Local" / "Programs"
    assert ins.unpacked_files(programs) == ins.package_members(packages["full"]), route


# ---------------------------------------------------------------------------------------
# CreateShortcuts


def expected_shortcut(paths: wh.WinePaths, name: str, place_id: str, icon_base: str, with_icons: bool) -> dict:
    install_dir = paths.win_path(paths.install_dir)
    suite_exe = install_dir + "\\" + wh.SUITE_EXE
    return {
        "target": suite_exe,
        "working_directory": install_dir,
        "arguments": f"--place {place_id}" if place_id else "",
        "icon_location": f"{install_dir}\\icons\\{icon_base}.ico" if with_icons else suite_exe,
        "icon_index": "0",
        "description": name,
    }


@pytest.mark.parametrize("with_icons", [True, False], ids=["with icons", "without icons, over earlier ones"])
def test_shortcuts(wine, wine_prefix, packages, with_icons):
    wh.install_fake_suite(wine_prefix)
    if with_icons:
        (wine_prefix.install_dir / "icons").mkdir()
        for base, icon in packages["icons"].items():
            shutil.copyfile(icon, wine_prefix.install_dir / "icons" / f"{base}.ico")
    else:
        # An earlier installation's folder: a stale shortcut is written again, others stay.
        wine_prefix.start_menu_folder.mkdir(parents=True)
        (wine_prefix.start_menu_folder / "Orvix Email.lnk").write_bytes(b"stale")
        (wine_prefix.start_menu_folder / "Notes.txt").write_text("kept")

    ins.run_driver(wine, "install_driver.exe", "shortcuts")

    expected_files = {f"{name}.lnk" for name, _, _ in ins.PLACES} | (set() if with_icons else {"Notes.txt"})
    assert {p.name for p in wine_prefix.start_menu_folder.iterdir()} == expected_files
    for name, place_id, icon_base in ins.PLACES:
        fields = ins.read_shortcut(wine_prefix.start_menu_folder / f"{name}.lnk")
        assert fields == expected_shortcut(wine_prefix, name, place_id, icon_base, with_icons), name


# ---------------------------------------------------------------------------------------
# The whole first run


STATUS_TEXTS = ["Downloading Orvix All In One\u2026", "Installing Orvix All In One\u2026",
                "Adding the Start menu shortcuts\u2026"]


def status_texts(events: list[dict]) -> list[str]:
    """The progress window's label texts in the order they were seen, repeats dropped; the
    download's percentage texts count as its step text."""
    texts = []
    for event in events:
        text = event.get("static")
        if text and text.startswith(STATUS_TEXTS[0]):
            text = STATUS_TEXTS[0]
        if event.get("class") == "OrvixLauncher" and text and (not texts or texts[-1] != text):
            texts.append(text)
    return texts


def answer_question_yes(probe) -> None:
    clicked = probe.click(CAPTION, "yes", timeout=20)
    assert clicked.get("found") and clicked.get("clicked"), f"question box not answered: {clicked}"


def test_first_run_from_yes_to_started_suite(wine, wine_prefix, launcher, https, probe, stand_ins, packages,
                                             screenshot):
    https.serve_file(packages["full"])
    watch = probe.watch(interval=0.02)
    run = wine.start(launcher, env={"ORVIX_SUITE_HEADLESS": None})

    answer_question_yes(probe)
    exit_code = run.wait(timeout=60)

    assert exit_code == 0
    # Each step's text stays up for a few hundred milliseconds here, far longer than the
    # watcher's 20 ms between looks.
    assert status_texts(watch.stop()) == STATUS_TEXTS
    assert not wine_prefix.package_file.exists(), "the temporary package file was left behind"
    records = wh.wait_for_suite_records(wine_prefix.install_dir)
    assert len(records) == 1, records
    assert records[0]["command_line"].endswith(" --place email"), records[0]
    assert records[0]["current_directory"].rstrip("\\").lower() == \
        wine_prefix.win_path(wine_prefix.install_dir).lower()
    suite = probe.find(cls=SUITE_WINDOW_CLASS, timeout=15)
    assert suite is not None and suite["static"] == "Opened on: email", suite
    screenshot("install-first-run-suite")
    assert probe.close(cls=SUITE_WINDOW_CLASS) is not None
    assert probe.wait_gone(cls=SUITE_WINDOW_CLASS, timeout=10)

    installed = ins.unpacked_files(wine_prefix.programs)
    installed.pop(f"{wh.PRODUCT_FOLDER}/{wh.SUITE_RECORD}")
    assert installed == ins.package_members(packages["full"])
    assert len(stand_ins.command_lines("tar")) == 1 and stand_ins.command_lines("powershell") == []
    assert sorted(p.name for p in wine_prefix.start_menu_folder.iterdir()) == \
        sorted(f"{name}.lnk" for name, _, _ in ins.PLACES)
    assert [r["status"] for r in https.requests()] == [200]


def test_first_run_with_unusable_package_ends_in_unpack_failure(wine, wine_prefix, launcher, https, probe,
                                                                stand_ins, screenshot):
    https.serve_bytes(b"this is not a zip archive\n" * 4000)
    watch = probe.watch(interval=0.02)
    run = wine.start(launcher)

    answer_question_yes(probe)
    box = probe.message_box(CAPTION, timeout=60)
    assert box is not None, "no unpacking failure box"
    assert status_texts(watch.stop()) == STATUS_TEXTS[:2]
    screenshot("install-unpack-failure")
    assert box["text"] == UNPACK_FAILURE_TEXT
    assert not wine_prefix.package_file.exists(), "the package file must be gone before the failure box"
    assert probe.click(CAPTION, "ok").get("closed"), "the failure box did not close"
    exit_code = run.wait(timeout=30)

    assert exit_code == 1
    assert len(stand_ins.command_lines("tar")) == 1, "tar.exe was not tried"
    assert len(stand_ins.command_lines("powershell")) == 1, "PowerShell was not tried after tar failed"
    assert not wine_prefix.suite_exe.exists()
    assert not wine_prefix.start_menu_folder.exists(), "shortcuts written after a failed unpacking"


def test_first_run_in_profile_with_apostrophe_through_powershell(wine, wine_prefix, launcher, https, probe, stand_ins,
                                                                 packages, apostrophe_profile):
    stand_ins.remove_tar()
    https.serve_file(packages["full"])
    run = wine.start(launcher)

    answer_question_yes(probe)
    exit_code = run.wait(timeout=60)

    assert exit_code == 0
    install_dir = apostrophe_profile / "AppData" / "Local" / "Programs" / wh.PRODUCT_FOLDER
    records = wh.wait_for_suite_records(install_dir)
    assert len(records) == 1 and records[0]["command_line"].endswith(" --place email"), records
    assert records[0]["current_directory"].rstrip("\\") == rf"C:\users\O'Brien\AppData\Local\Programs\{wh.PRODUCT_FOLDER}"
    assert stand_ins.command_lines("powershell") == [powershell_command_line(
        wine_prefix.win_path(wine_prefix.package_file), r"C:\users\O''Brien\AppData\Local\Programs")]
