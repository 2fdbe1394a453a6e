"""Fixtures of the Wine tests. Run the suite inside its own network namespace, as root:

    unshare -n sh -c 'ip link set lo up && /usr/bin/python3 -m pytest tests/wine'

Session fixtures (set up once per run, everything under build/wine-test/slot-N/):
    wine_prefix   WinePaths of the test prefix (created with wineboot once and then reused);
                  .programs, .install_dir, .suite_exe, .temp, .package_file,
                  .start_menu_programs, .start_menu_folder, .system32, .drive_c,
                  .win_to_unix("C:\\..."), .win_path(unix_path)
    display       the virtual screen (Xvfb + openbox); .name is ":N"
    certificates  {"trusted": ..., "untrusted": ...} authorities; the trusted one is in the
                  prefix's LocalMachine Root store
    launcher      build/windows-test/Orvix-Email-Windows.exe (download host "localhost")
Per-test fixtures:
    wine          runs Windows programs: wine.run(exe, *args, timeout=, env=) -> WineResult,
                  wine.start(exe, *args) -> Background (stopped by pid after the test).
                  The install folder, Start menu folder and temporary package file are
                  removed before each test. Runs get ORVIX_SUITE_HEADLESS=1 unless a test
                  passes env={"ORVIX_SUITE_HEADLESS": None}. Output goes to files
                  (Background.output(), .wait_for_output(text, timeout)). A Windows
                  process that a test leaves running is killed and fails the test.
    probe         winprobe.exe from Python: find, exists, wait_gone, close, message_box,
                  click, list_windows, watch
    https         the HTTPS server for https://localhost/downloads/Orvix-Windows.zip; no
                  server runs until the test picks an answer (serve_file, serve_bytes,
                  serve_empty, serve_status, serve_chunked, serve_cut_short; trusted=False
                  for the untrusted certificate); stopped after the test
    screenshot    screenshot("name") -> build/wine-test/screenshots/name.png
    work_dir      an empty folder for the test, under the slot
"""

from __future__ import annotations

import os
import re
import shutil
import signal

import pytest

import wineharness as wh

_timings: dict[str, float] = {}


@pytest.fixture(scope="session")
def wine_slot():
    slot = wh.take_slot()
    yield slot
    slot.release()


@pytest.fixture(scope="session")
def display(wine_slot):
    screen = wh.start_display(wh.base_environment(wine_slot.root))
    yield screen
    screen.stop()


@pytest.fixture(scope="session")
def wine_session(wine_slot, display):
    """(environment, paths) of a ready prefix with a persistent wineserver of our own."""
    env = wh.base_environment(wine_slot.root)
    paths, seconds = wh.prepare_prefix(wine_slot.root, env)
    if seconds:
        _timings["prefix creation (wineboot -i)"] = seconds
    env["DISPLAY"] = display.name
    server = wh.start_wineserver(env)
    yield env, paths, server
    wh.stop_wineserver(server, env)


@pytest.fixture(scope="session")
def wine_prefix(wine_session):
    return wine_session[1]


@pytest.fixture(scope="session")
def certificates(wine_slot, wine_session):
    env, paths, _ = wine_session
    authorities = {
        "trusted": wh.make_authority(wine_slot.root / "tls" / "trusted", "trusted"),
        "untrusted": wh.make_authority(wine_slot.root / "tls" / "untrusted", "untrusted"),
    }
    runner = wh.Wine(env, paths, wine_slot.root)
    runner.run(wh.wine_tool("addroot.exe"), wh.unix_to_win(authorities["trusted"].ca_cert), timeout=60, check=True)
    return authorities


@pytest.fixture(scope="session")
def _https_server(wine_slot, certificates):
    upstream = wh.start_upstream()
    server = wh.HttpsServer(wine_slot.root / "server", certificates["trusted"], certificates["untrusted"], upstream)
    yield server
    server.stop()
    upstream.shutdown()
    upstream.server_close()


@pytest.fixture
def https(_https_server):
    yield _https_server
    _https_server.stop()


@pytest.fixture(scope="session")
def launcher():
    if not wh.TEST_LAUNCHER.is_file():
        pytest.fail(f"{wh.TEST_LAUNCHER} is missing: cmake --preset windows-test && "
                    "cmake --build --preset windows-test")
    return wh.TEST_LAUNCHER


@pytest.fixture
def work_dir(wine_slot, request):
    name = re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.name)[:100]
    folder = wine_slot.root / "work" / name
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    return folder


@pytest.fixture
def wine(wine_session, work_dir):
    env, paths, server = wine_session
    wh.reset_product_state(paths)
    runner = wh.Wine(dict(env, ORVIX_SUITE_HEADLESS="1"), paths, work_dir)
    yield runner
    runner.stop_all()
    leftovers = wh.leftover_wine_processes(paths.prefix, keep={server.pid})
    for pid, _ in leftovers:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if leftovers:
        pytest.fail(f"the test left Windows processes running (killed now): {leftovers}")


@pytest.fixture
def probe(wine):
    return wh.Probe(wine)


@pytest.fixture
def screenshot(display):
    return lambda name: wh.take_screenshot(display, name)


def pytest_terminal_summary(terminalreporter):
    if "prefix creation (wineboot -i)" in _timings:
        terminalreporter.write_line(
            f"wine prefix created in {_timings['prefix creation (wineboot -i)']:.1f} s")
