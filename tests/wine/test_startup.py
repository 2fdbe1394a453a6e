"""The launcher's start under Wine: with the suite installed it starts the suite on the
Email place and leaves at once without a window; without it, it asks, and No (or closing
the question) ends the run with nothing else happening."""

import pytest

import wineharness as wh

CAPTION = "Orvix Email"
QUESTION = ("Orvix Email is part of Orvix All In One, which is not installed on this PC yet.\n\n"
            "Download and install it now (about 40 MB)? It goes in your own Programs folder, "
            "with a Start menu shortcut for each of its places.")
WS_EX_TOPMOST = 0x8


def split_command_line(command_line):
    """(program, rest) of a Windows command line: the program is quoted or ends at a blank."""
    if command_line.startswith('"'):
        program, _, rest = command_line[1:].partition('"')
    else:
        program, _, rest = command_line.partition(" ")
    return program, rest.strip()


LAUNCHER_ARGUMENTS = [
    ("no arguments", []),
    ("another place", ["--place", "map"]),
    ("switches", ["/S", "--help", "-x"]),
    ("a path with blanks", ["C:\\Program Files\\Other App\\Orvix.exe"]),
]


@pytest.mark.parametrize("case,arguments", LAUNCHER_ARGUMENTS, ids=[c for c, _ in LAUNCHER_ARGUMENTS])
def test_installed_suite_is_started_on_the_email_place(launcher, wine, probe, https, case, arguments):
    paths = wine.paths
    wh.install_fake_suite(paths)
    https.serve_bytes(b"not to be fetched")
    watch = probe.watch()
    result = wine.run(launcher, *arguments, timeout=60)
    records = wh.wait_for_suite_records(paths.install_dir)
    events = watch.stop()

    assert result.returncode == 0, case
    assert len(records) == 1, f"{case}: the suite was started {len(records)} times"
    program, parameters = split_command_line(records[0]["command_line"])
    assert program.lower() == paths.win_path(paths.suite_exe).lower(), (case, records[0])
    assert parameters == "--place email", (case, records[0])
    assert records[0]["current_directory"].lower() == paths.win_path(paths.install_dir).lower(), (case, records[0])
    assert events == [], f"{case}: no window may appear"
    assert https.requests() == [], f"{case}: nothing is downloaded"


def answer_no(probe):
    assert probe.click(CAPTION, "no")["closed"]


def close_box(probe):
    assert probe.close(cls="#32770", title=CAPTION)["posted"]


@pytest.mark.parametrize("answer", [answer_no, close_box], ids=["No", "closed"])
def test_question_without_yes_ends_the_run(launcher, wine, probe, https, answer):
    paths = wine.paths
    https.serve_bytes(b"not to be fetched")
    watch = probe.watch()
    running = wine.start(launcher)
    box = probe.message_box(CAPTION, timeout=30)
    assert box is not None, "the question box did not appear"
    assert (box["caption"], box["text"]) == (CAPTION, QUESTION)
    assert [(b["id"], b["text"].replace("&", "")) for b in box["buttons"]] == [(6, "Yes"), (7, "No")]
    assert not box["exstyle"] & WS_EX_TOPMOST

    answer(probe)
    assert running.wait(timeout=20) == 0
    events = watch.stop()
    shown = [(e["class"], e["title"]) for e in events if e["event"] == "shown"]
    assert shown == [("#32770", CAPTION)], "no window but the question may appear"
    assert not probe.exists(title=CAPTION)
    assert https.requests() == []
    assert not paths.install_dir.exists() and not paths.package_file.exists()
    assert not paths.start_menu_folder.exists()
