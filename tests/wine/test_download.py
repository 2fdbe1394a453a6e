"""The launcher's progress window and download, under Wine against nginx on loopback.

Each test runs the real launcher (download host "localhost"), answers its question with
Yes and follows the run to the box that ends it. What the launcher put on its status label
comes from Wine's relay trace (launcher_runs.py); the window itself is inspected from
inside the prefix with winprobe.

After a successful download the launcher goes on to unpack, which fails in this prefix (no
tar.exe, Wine's do-nothing PowerShell, and the served bytes are no ZIP anyway), and deletes
the temporary package file. The unpacking failure box is then the sign that the download
succeeded, and the downloaded bytes are read through a second name (a hard link) given to
the temporary package file before the run: the launcher opens that file with CREATE_ALWAYS,
which truncates and rewrites the same file, and its deletion removes only the first name.
"""

from __future__ import annotations

import os
import time

import pytest

import wineharness as wh
from launcher_runs import (CAPTION, DOWNLOAD_FAILED, RELAY_CALLS, RELAY_KEY, STATUS_DOWNLOADING, STATUS_INSTALLING,
                           UNPACK_FAILED, WINDOW_CLASS, LauncherRun, restore_registry_value, set_registry_value,
                           setup_runner)

WS_EX_TOPMOST = 0x8
WS_CAPTION_SYSMENU = 0xC80000
WS_MINIMIZEBOX_MAXIMIZEBOX_THICKFRAME = 0x20000 | 0x10000 | 0x40000

SCREEN = (1024, 768)  # the harness's virtual screen
READ_SIZE = 256 * 1024
# Each whole percent of this body is longer than one 256 KiB read, so every percentage from 0
# to 100 comes up, and there are more reads than percentages, so a repeated text would show.
LARGE_BODY = os.urandom(128 * READ_SIZE + 4099)
# Slow enough (about 2.8 s) for the window to be found, photographed and asked to close while
# the body is still arriving.
LARGE_RATE = 12_000_000
SMALL_BODY = os.urandom(700_000)
STALE = b"left by an earlier run\n" * 1000


@pytest.fixture(scope="module")
def relay_trace(wine_session, wine_slot):
    """The prefix's relay trace limited to the calls the tests read; restored afterwards."""
    runner = setup_runner(wine_session, wine_slot, "relay-setup")
    previous = set_registry_value(runner, RELAY_KEY, "RelayInclude", RELAY_CALLS)
    yield
    restore_registry_value(runner, RELAY_KEY, "RelayInclude", previous)


@pytest.fixture
def run_launcher(wine, probe, launcher, relay_trace):
    return lambda: LauncherRun.start(wine, probe, launcher)


def keep_second_name(package_file, work_dir, content: bytes):
    """Writes `content` to the temporary package file and links it under work_dir; returns
    the link, which keeps whatever the launcher writes after the launcher deletes the file."""
    package_file.write_bytes(content)
    link = work_dir / "package-second-name"
    os.link(package_file, link)
    return link


def percentages(texts: list[str]) -> list[int]:
    prefix = STATUS_DOWNLOADING + " "
    return [int(t[len(prefix):-1]) for t in texts if t.startswith(prefix) and t.endswith("%")]


def wait_for_label(probe, accept, timeout: float = 15) -> dict:
    """Polls the progress window until its label text satisfies `accept`; returns the window
    as winprobe saw it then. Fails when the window disappears or the time runs out."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        window = probe.find(cls=WINDOW_CLASS, timeout=2)
        assert window is not None, "the progress window went away during the download"
        if window["static"] is not None and accept(window["static"]):
            return window
    pytest.fail(f"the label never showed the awaited text; last: {window['static']!r}")


def test_download_with_length_shows_each_percentage_once_and_ignores_close(
        run_launcher, probe, https, wine_prefix, work_dir, screenshot):
    https.serve_bytes(LARGE_BODY, rate=LARGE_RATE)
    longer_than_body = STALE * (len(LARGE_BODY) // len(STALE) + 2)
    second_name = keep_second_name(wine_prefix.package_file, work_dir, longer_than_body)
    run = run_launcher()
    run.answer_yes()

    window = wait_for_label(probe, lambda text: text.endswith("%"))
    assert (window["class"], window["title"], window["width"], window["height"]) == (
        WINDOW_CLASS, CAPTION, 460, 140), window
    assert window["rect"][:2] == [(SCREEN[0] - 460) // 2, (SCREEN[1] - 140) // 2], window
    assert window["exstyle"] & WS_EX_TOPMOST, window
    assert window["style"] & WS_CAPTION_SYSMENU == WS_CAPTION_SYSMENU, window
    assert not window["style"] & WS_MINIMIZEBOX_MAXIMIZEBOX_THICKFRAME, window
    screenshot("download-progress-window")

    # A close request while the body arrives. The launcher handles it at its next status text at
    # the latest; the window must then live on until the flow itself destroys it.
    closed = probe.close(cls=WINDOW_CLASS)
    assert closed and closed["posted"], closed
    at_close = percentages([closed["static"]])
    assert at_close and at_close[0] < 100, f"the close request came after the download: {closed}"

    assert run.final_box()["text"] == UNPACK_FAILED
    trace = run.finish()
    assert run.exit_code == 1

    destroyed = trace.progress_destroyed()
    assert destroyed is not None and destroyed.result == 1, \
        "the progress window was already gone when the flow closed it: the close request was not ignored"
    texts = trace.label_texts()
    assert texts[0] == STATUS_DOWNLOADING, texts
    assert texts[1:102] == [f"{STATUS_DOWNLOADING} {p}%" for p in range(101)], texts
    assert texts[102:] == [STATUS_INSTALLING], texts
    assert window["static"] in texts and closed["static"] in texts, "the label showed a text never set"
    assert second_name.read_bytes() == LARGE_BODY
    assert not wine_prefix.package_file.exists(), "the flow deletes the package after unpacking"
    assert https.requests() == [{"method": "GET", "uri": wh.DOWNLOAD_PATH, "protocol": "HTTP/1.1", "status": 200,
                                 "body_bytes_sent": len(LARGE_BODY), "user_agent": "OrvixLauncher/1"}]


def test_download_without_length_shows_whole_mebibytes(run_launcher, https, wine_prefix, work_dir):
    body = SMALL_BODY * 5  # 3.3 MiB, chunked, no Content-Length
    https.serve_chunked(body)
    second_name = keep_second_name(wine_prefix.package_file, work_dir, STALE)
    run = run_launcher()
    run.answer_yes()
    assert run.final_box()["text"] == UNPACK_FAILED, "a chunked body that ends cleanly is a download"
    trace = run.finish()

    texts = trace.label_texts()
    assert texts == ([STATUS_DOWNLOADING] + [f"{STATUS_DOWNLOADING} {mib} MB" for mib in range(4)]
                     + [STATUS_INSTALLING]), texts
    assert second_name.read_bytes() == body
    assert run.exit_code == 1


# (case, the server's answer, what the temporary package file holds before, after)
FAILED_DOWNLOADS = [
    ("not found", lambda s: s.serve_status(404), STALE, STALE),
    ("empty body", lambda s: s.serve_empty(), STALE, b""),
    ("cut short", lambda s: s.serve_cut_short(SMALL_BODY[:300_000], len(SMALL_BODY)), STALE, SMALL_BODY[:300_000]),
    ("untrusted certificate", lambda s: s.serve_bytes(SMALL_BODY, trusted=False), STALE, STALE),
    ("no server", lambda s: s.stop(), STALE, STALE),
    ("no server, no earlier file", lambda s: s.stop(), None, None),
]


@pytest.mark.parametrize("case,answer,before,after", FAILED_DOWNLOADS, ids=[c[0] for c in FAILED_DOWNLOADS])
def test_failed_download_closes_the_window_then_shows_the_failure_box(
        run_launcher, probe, https, wine_prefix, case, answer, before, after, screenshot):
    answer(https)
    if before is not None:
        wine_prefix.package_file.write_bytes(before)
    run = run_launcher()
    run.answer_yes()
    box = run.final_box()
    if case == "not found":
        screenshot("download-failure-box")
    assert (box["caption"], box["text"], [b["text"] for b in box["buttons"]]) == (
        CAPTION, DOWNLOAD_FAILED, ["OK"]), case
    assert not run.window_at_box, f"{case}: the progress window still exists under the failure box"
    trace = run.finish()

    assert run.exit_code == 1, case
    boxes = trace.boxes()
    assert [b.texts for b in boxes[1:]] == [[DOWNLOAD_FAILED, CAPTION]], case
    assert boxes[1].args.endswith(",00000010"), f"{case}: error icon and OK only: {boxes[1].args}"
    destroyed = trace.progress_destroyed()
    assert destroyed is not None and destroyed.end < boxes[1].begin, \
        f"{case}: the progress window must be destroyed before the failure box is shown"
    assert trace.label_texts()[0] == STATUS_DOWNLOADING, case
    assert 100 not in percentages(trace.label_texts()), case
    if after is None:
        assert not wine_prefix.package_file.exists(), case
    else:
        assert wine_prefix.package_file.read_bytes() == after, case
