"""The whole story on one machine: a local HTTPS download host serves the stand-in suite's
package, the launcher runs under Wine, asks, downloads, installs and opens the suite; then an
offline launcher made with orvix-pack installs the same package without any server.

Runs inside its own network namespace (scripts/demo.sh), so the download host on
127.0.0.1:443 touches nothing outside. Uses the Wine test harness's machinery; everything
lives under build/demo/. When a display is reachable a person answers the question;
otherwise a virtual display is used and the demo answers Yes itself.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "wine"))

import install_support as support  # noqa: E402
import wineharness as wh  # noqa: E402

DEMO = wh.BUILD / "demo"
SHOTS = DEMO / "screenshots"
ORVIX_PACK = wh.BUILD / "host" / "orvix-pack"
CAPTION = "Orvix Email"
SUITE_TITLE = "Orvix All In One"


def say(text: str) -> None:
    print(f"demo: {text}", flush=True)


def user_display() -> str | None:
    """The person's own display, when there is one that answers."""
    name = os.environ.get("DISPLAY")
    if not name:
        return None
    reachable = subprocess.run(["xdpyinfo"], env=dict(os.environ), capture_output=True, timeout=10)
    return name if reachable.returncode == 0 else None


def screenshot(display: str, name: str) -> Path:
    SHOTS.mkdir(parents=True, exist_ok=True)
    path = SHOTS / f"{name}.png"
    subprocess.run(["import", "-window", "root", str(path)], env=dict(os.environ, DISPLAY=display),
                   check=True, capture_output=True, timeout=30)
    say(f"screenshot {path}")
    return path


def build_package(folder: Path) -> Path:
    """The stand-in suite and its ten icons, plus some filler so that the download lasts a
    moment on screen."""
    package = support.build_package(folder / "Orvix-Windows.zip", support.make_icons(folder / "icons"))
    with zipfile.ZipFile(package, "a") as archive:
        archive.writestr(f"{wh.PRODUCT_FOLDER}/data/filler.bin", os.urandom(3 * 1024 * 1024))
    subprocess.run([str(ORVIX_PACK), "--check", str(package)], check=True)
    return package


def run_launcher(wine: wh.Wine, probe: wh.Probe, launcher: Path, display: str, person: bool,
                 label: str, expect_question: bool) -> int:
    run = wine.start(launcher)
    if expect_question:
        if probe.message_box(CAPTION, timeout=60) is None:
            raise wh.HarnessError("the question did not appear")
        screenshot(display, f"{label}-1-question")
        if person:
            say("answer the question on your screen")
        else:
            probe.click(CAPTION, "yes")
    if probe.find(cls="OrvixLauncher", title=CAPTION, timeout=300 if person else 30) is not None:
        time.sleep(0.7)
        screenshot(display, f"{label}-2-progress")
    if probe.find(title=SUITE_TITLE, timeout=120) is None:
        raise wh.HarnessError("the suite did not open")
    time.sleep(0.5)
    screenshot(display, f"{label}-3-suite")
    code = run.wait(timeout=60)
    say(f"{label}: launcher exit code {code}")
    if person:
        say("close the suite window to go on")
        probe.wait_gone(title=SUITE_TITLE, timeout=600)
    else:
        probe.close(title=SUITE_TITLE)
        probe.wait_gone(title=SUITE_TITLE, timeout=30)
    return code


def main() -> int:
    if DEMO.exists():
        for stale in ("work", "screenshots", "server", "package"):
            shutil.rmtree(DEMO / stale, ignore_errors=True)
    DEMO.mkdir(parents=True, exist_ok=True)
    env = wh.base_environment(DEMO)
    display_name = user_display()
    person = display_name is not None
    virtual = None
    if not person:
        virtual = wh.start_display(env)
        display_name = virtual.name
    env["DISPLAY"] = display_name
    say(f"display {display_name} ({'yours' if person else 'virtual, the demo answers Yes'})")

    paths, seconds = wh.prepare_prefix(DEMO, env)
    if seconds:
        say(f"Wine prefix made in {seconds:.0f} s")
    server = wh.start_wineserver(env)
    upstream = wh.start_upstream()
    https = None
    wine = wh.Wine(env, paths, DEMO / "work")
    try:
        trusted = wh.make_authority(DEMO / "tls" / "trusted", "trusted")
        untrusted = wh.make_authority(DEMO / "tls" / "untrusted", "untrusted")
        wine.run(wh.wine_tool("addroot.exe"), wh.unix_to_win(trusted.ca_cert), timeout=60, check=True)
        # Wine has no tar.exe of its own: the stand-in runs Debian's bsdtar, the same engine.
        support.StandIns(paths.system32).install()
        package = build_package(DEMO / "package")
        https = wh.HttpsServer(DEMO / "server", trusted, untrusted, upstream)
        https.serve_file(package, rate=max(package.stat().st_size // 3, 65536))
        wh.reset_product_state(paths)
        probe = wh.Probe(wine)

        say("first run: ask, download from https://localhost, install, open the suite on Email")
        online = run_launcher(wine, probe, wh.TEST_LAUNCHER, display_name, person, "online", True)

        https.stop()
        offline = DEMO / "Orvix-Email-Windows-Offline.exe"
        subprocess.run([str(ORVIX_PACK), str(wh.TEST_LAUNCHER), str(package), str(offline)], check=True)
        wh.reset_product_state(paths)
        say(f"offline launcher {offline} ({offline.stat().st_size} bytes): installs with no server at all")
        offline_code = run_launcher(wine, probe, offline, display_name, person, "offline", False)

        shortcuts = sorted(p.name for p in paths.start_menu_folder.glob("*.lnk"))
        say(f"Start menu folder {paths.start_menu_folder}: {len(shortcuts)} shortcuts")
        say(f"screenshots in {SHOTS}")
        return 0 if online == 0 and offline_code == 0 and len(shortcuts) == 10 else 1
    finally:
        wine.stop_all()
        if https is not None:
            https.stop()
        upstream.shutdown()
        upstream.server_close()
        wh.stop_wineserver(server, env)
        if virtual is not None:
            virtual.stop()


if __name__ == "__main__":
    sys.exit(main())
