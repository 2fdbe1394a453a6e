"""Checks of the Wine test harness itself: the HTTPS server answers a Windows WinHTTP client
in every way the download tests rely on, the prefix trusts only the test authority, and
winprobe sees, reads and drives real windows."""

import json
import os
import time

import pytest

import wineharness as wh

BODY = os.urandom(700_000)
CUT_AT = 300_000


def fetch(wine, work_dir):
    """Runs httpget.exe against the download URL; returns (exit code, report, body)."""
    out = work_dir / "body.bin"
    out.unlink(missing_ok=True)
    result = wine.run(wh.wine_tool("httpget.exe"), "localhost", wh.DOWNLOAD_PATH, wh.unix_to_win(out), timeout=60)
    report = json.loads(result.stdout)
    return result.returncode, report, out.read_bytes() if out.exists() else None


def test_trusted_server_gives_the_package_to_winhttp(wine, https, work_dir):
    https.serve_bytes(BODY)
    code, report, body = fetch(wine, work_dir)
    assert (code, report["status"], report["content_length"], report["received"]) == (0, 200, len(BODY), len(BODY))
    assert body == BODY
    assert https.requests() == [{"method": "GET", "uri": wh.DOWNLOAD_PATH, "protocol": "HTTP/1.1", "status": 200,
                                 "body_bytes_sent": len(BODY), "user_agent": "OrvixHarness/1"}]


# (case, set-up, expected report fields, expected body or None when no file is written)
ANSWERS = [
    ("not found", lambda s: s.serve_status(404), {"stage": "done", "status": 404}, ...),
    ("empty body", lambda s: s.serve_empty(), {"stage": "done", "status": 200, "content_length": 0, "received": 0},
     b""),
    ("chunked", lambda s: s.serve_chunked(BODY),
     {"stage": "done", "status": 200, "content_length": None, "received": len(BODY)}, BODY),
    ("cut short", lambda s: s.serve_cut_short(BODY[:CUT_AT], len(BODY)),
     {"stage": "done", "status": 200, "content_length": len(BODY), "received": CUT_AT}, BODY[:CUT_AT]),
    ("no server", lambda s: None, {"stage": "send", "error": 12029, "received": 0}, None),
]


@pytest.mark.parametrize("case,set_up,expected,expected_body", ANSWERS, ids=[a[0] for a in ANSWERS])
def test_server_answers_as_chosen(wine, https, work_dir, case, set_up, expected, expected_body):
    set_up(https)
    _, report, body = fetch(wine, work_dir)
    assert {k: report[k] for k in expected} == expected, case
    if expected_body is not ...:
        assert body == expected_body, case


def test_untrusted_certificate_fails_as_a_certificate_error(wine, https, work_dir):
    # Wine reports 12157 (secure channel error) where Windows reports 12175.
    https.serve_bytes(BODY, trusted=False)
    code, report, _ = fetch(wine, work_dir)
    assert code == 1 and report["error"] in (12157, 12175), report
    assert https.requests() == [], "the TLS handshake must fail before any request"


def test_slow_answer_takes_the_set_time(wine, https, work_dir):
    https.serve_bytes(BODY, rate=350_000)
    started = time.monotonic()
    code, report, body = fetch(wine, work_dir)
    assert time.monotonic() - started >= 1.5, "700 kB at 350 kB/s cannot arrive in under 1.5 s"
    assert (code, report["received"], body == BODY) == (0, len(BODY), True)


def test_probe_reads_and_closes_the_stand_in_suite_window(wine, probe, screenshot, work_dir):
    suite = wh.install_fake_suite(wine.paths)
    running = wine.start(suite, "--place", "map", env={"ORVIX_SUITE_HEADLESS": None}, cwd=work_dir)
    window = probe.find(title="Orvix All In One", timeout=20)
    assert window is not None, "the stand-in suite window did not appear"
    assert (window["class"], window["static"], window["visible"]) == ("OrvixSuiteStandIn", "Opened on: map", True)
    assert (window["width"], window["height"]) == (420, 160)
    assert screenshot("harness-stand-in-suite").stat().st_size > 0

    assert probe.close(title="Orvix All In One")["posted"]
    assert running.wait(timeout=15) == 0
    assert not probe.exists(title="Orvix All In One")
    records = wh.read_suite_records(wine.paths.install_dir)
    assert len(records) == 1
    assert records[0]["command_line"].endswith('Orvix.exe" --place map') or \
        records[0]["command_line"].endswith("Orvix.exe --place map"), records[0]
    assert records[0]["current_directory"] == wh.unix_to_win(work_dir)


def test_headless_stand_in_suite_records_its_start_and_shows_nothing(wine, probe):
    suite = wh.install_fake_suite(wine.paths)
    watch = probe.watch()
    result = wine.run(suite, timeout=30, cwd=wine.paths.install_dir)
    events = watch.stop()
    assert result.returncode == 0
    assert events == []
    records = wh.read_suite_records(wine.paths.install_dir)
    assert [r["current_directory"] for r in records] == [wine.paths.win_path(wine.paths.install_dir)]
    assert "--place" not in records[0]["command_line"]


@pytest.mark.parametrize("answer,exit_code", [("yes", 6), ("no", 7)])
def test_probe_reads_and_answers_a_message_box(wine, probe, answer, exit_code):
    watch = probe.watch()
    box_program = wine.start(wh.wine_tool("msgbox.exe"), "Harness box", "First line\\n\\nThird line")
    box = probe.message_box("Harness box", timeout=20)
    assert box is not None, "the message box did not appear"
    assert box["text"] == "First line\n\nThird line"
    assert [(b["id"], b["text"].replace("&", "")) for b in box["buttons"]] == [(6, "Yes"), (7, "No")]

    assert probe.click("Harness box", answer) == {"found": True, "button": exit_code, "clicked": True,
                                                  "closed": True}
    assert box_program.wait(timeout=15) == exit_code
    events = watch.stop()
    assert [(e["event"], e["class"], e["title"]) for e in events if e["event"] != "changed"] == [
        ("shown", "#32770", "Harness box"), ("gone", "#32770", "Harness box")]


def test_close_request_ends_a_yes_no_box_without_yes(wine, probe):
    box_program = wine.start(wh.wine_tool("msgbox.exe"), "Harness box", "Close me")
    assert probe.message_box("Harness box", timeout=20) is not None
    assert probe.close(cls="#32770", title="Harness box")["posted"]
    assert box_program.wait(timeout=15) not in (6, 255)
    assert probe.wait_gone(title="Harness box", timeout=5)
