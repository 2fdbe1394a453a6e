"""Running the launcher on its download course under Wine, and reading back what it did.

The launcher runs with Wine's relay trace limited to four user32 calls (the RelayInclude
value under HKCU\\Software\\Wine\\Debug, RELAY_KEY): every window it
creates, every text it puts on its status label, every window it destroys and every box it
shows is written, in order, to its stderr. This records each label rewrite, repeats
included, which polling the label from outside cannot, and it changes nothing in what the
launcher does.

Used by test_download.py and test_dll_planting.py.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path

import wineharness as wh

CAPTION = "Orvix Email"
WINDOW_CLASS = "OrvixLauncher"
STATUS_DOWNLOADING = "Downloading Orvix All In One\u2026"
STATUS_INSTALLING = "Installing Orvix All In One\u2026"
DOWNLOAD_FAILED = ("Could not download Orvix All In One. Check the internet connection and try again."
                   "\n\nYou can download Orvix All In One from https://localhost instead.")
UNPACK_FAILED = "Could not unpack Orvix All In One.\n\nYou can download Orvix All In One from https://localhost instead."

RELAY_KEY = r"HKCU\Software\Wine\Debug"
RELAY_CALLS = "user32.CreateWindowExW;user32.SetWindowTextW;user32.DestroyWindow;user32.MessageBoxW"
RELAY_ENV = {"WINEDEBUG": "-all,+relay"}


# ---------------------------------------------------------------------------------------
# Prefix settings for a test module


def set_registry_value(runner: wh.Wine, key: str, name: str, value: str) -> str | None:
    """Sets a REG_SZ value in the prefix's registry; returns the value it replaced (None
    when there was none), for restore_registry_value."""
    query = runner.run("reg", "query", key, "/v", name, timeout=30)
    found = re.search(rf"^\s*{re.escape(name)}\s+REG_SZ\s*(.*)$", query.stdout, re.MULTILINE)
    previous = found.group(1).strip() if query.returncode == 0 and found else None
    runner.run("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f", timeout=30, check=True)
    return previous


def restore_registry_value(runner: wh.Wine, key: str, name: str, previous: str | None) -> None:
    if previous is None:
        runner.run("reg", "delete", key, "/v", name, "/f", timeout=30, check=True)
    else:
        runner.run("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", previous, "/f", timeout=30, check=True)


def setup_runner(wine_session, wine_slot, name: str) -> wh.Wine:
    """A Wine runner for a module fixture's own set-up (outside any test's work folder)."""
    env, paths, _ = wine_session
    runner = wh.Wine(env, paths, wine_slot.root / "work" / name)
    runner.work.mkdir(parents=True, exist_ok=True)
    return runner


# ---------------------------------------------------------------------------------------
# The relay trace


_CALL = re.compile(r"^([0-9a-f]+):Call user32\.(\w+)\((.*)\) ret=[0-9a-f]+$")
_RET = re.compile(r"^([0-9a-f]+):Ret  user32\.(\w+)\(\) retval=([0-9a-f]+) ret=[0-9a-f]+$")
_WIDE_TEXT = re.compile(r'L"((?:[^"\\]|\\.)*)"')
_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def decode_wine_text(quoted: str) -> str:
    """Undoes Wine's debugstr_w escaping: \\n \\r \\t \\" \\\\ and \\XXXX (four hex digits)
    for every other character outside printable ASCII."""
    out, i = [], 0
    while i < len(quoted):
        if quoted[i] == "\\" and i + 1 < len(quoted):
            if quoted[i + 1] in _ESCAPES:
                out.append(_ESCAPES[quoted[i + 1]])
                i += 2
                continue
            out.append(chr(int(quoted[i + 1:i + 5], 16)))
            i += 5
            continue
        out.append(quoted[i])
        i += 1
    return "".join(out)


@dataclass
class RelayCall:
    """One traced call: where it began and ended in the trace (line numbers), its
    arguments as Wine printed them, its wide-string arguments decoded, its result."""
    function: str
    thread: str
    args: str
    texts: list[str]
    begin: int
    end: int | None = None
    result: int | None = None

    @property
    def first_arg(self) -> int:
        return int(self.args.split(",", 1)[0].split(" ", 1)[0], 16)


def parse_relay(stderr: str) -> list[RelayCall]:
    """The traced user32 calls in the order they began. A call that never returned (the
    process was stopped inside it) keeps end None."""
    calls: list[RelayCall] = []
    open_calls: dict[str, list[RelayCall]] = {}
    for number, line in enumerate(stderr.splitlines()):
        if match := _CALL.match(line):
            thread, function, args = match.groups()
            call = RelayCall(function, thread, args, [decode_wine_text(t) for t in _WIDE_TEXT.findall(args)],
                             number)
            calls.append(call)
            open_calls.setdefault(thread, []).append(call)
        elif match := _RET.match(line):
            thread, function, result = match.groups()
            stack = open_calls.get(thread, [])
            if stack and stack[-1].function == function:
                call = stack.pop()
                call.end, call.result = number, int(result, 16)
    return calls


@dataclass
class LauncherTrace:
    """What the relay trace of one launcher run shows."""
    calls: list[RelayCall]
    progress_window: int | None = None
    status_label: int | None = None

    def __post_init__(self) -> None:
        created = [c for c in self.calls if c.function == "CreateWindowExW" and c.result]
        for index, call in enumerate(created):
            if WINDOW_CLASS in call.texts and self.progress_window is None:
                self.progress_window = call.result
                label = next((c for c in created[index + 1:] if c.texts and c.texts[0].upper() == "STATIC"), None)
                self.status_label = label.result if label else None

    def label_texts(self) -> list[str]:
        """Every text put on the status label, in order, repeats included."""
        return [c.texts[0] for c in self.calls
                if c.function == "SetWindowTextW" and self.status_label is not None
                and c.first_arg == self.status_label and c.texts]

    def boxes(self) -> list[RelayCall]:
        return [c for c in self.calls if c.function == "MessageBoxW"]

    def progress_destroyed(self) -> RelayCall | None:
        return next((c for c in self.calls if c.function == "DestroyWindow" and self.progress_window is not None
                     and c.first_arg == self.progress_window), None)


# ---------------------------------------------------------------------------------------
# One launcher run: answer the question, follow the run to its last box


@dataclass
class LauncherRun:
    """A launcher started in the background. Call answer_yes(), then final_box(), then
    finish()."""
    wine: wh.Wine
    probe: wh.Probe
    process: wh.Background
    box: dict | None = None
    window_at_box: bool | None = None
    exit_code: int | None = None
    trace: LauncherTrace | None = None

    @classmethod
    def start(cls, wine: wh.Wine, probe: wh.Probe, launcher: Path, *, cwd: Path | None = None,
              traced: bool = True) -> "LauncherRun":
        """traced=True needs the prefix's RelayInclude set to RELAY_CALLS (else Wine traces
        every call); with traced=False the trace read by finish() is empty."""
        return cls(wine, probe, wine.start(launcher, env=RELAY_ENV if traced else None, cwd=cwd))

    def answer_yes(self, timeout: float = 20) -> None:
        answer = self.probe.click(CAPTION, "yes", timeout=timeout)
        assert answer.get("closed"), f"the question box was not answered: {answer}"

    def final_box(self, timeout: float = 30) -> dict:
        """Waits for the box that ends the run; notes whether the progress window still
        existed when the box was there."""
        self.box = self.probe.message_box(CAPTION, timeout=timeout)
        assert self.box is not None, "no box appeared at the end of the run"
        self.window_at_box = self.probe.exists(cls=WINDOW_CLASS, include_hidden=True)
        return self.box

    def finish(self, timeout: float = 20) -> LauncherTrace:
        """Dismisses the final box, waits for the launcher to end, reads its trace."""
        clicked = self.probe.click(CAPTION, "ok", timeout=timeout)
        assert clicked.get("closed"), f"the final box did not close: {clicked}"
        self.exit_code = self.process.wait(timeout=timeout)
        self.trace = LauncherTrace(parse_relay(self.process.output()[1]))
        return self.trace
