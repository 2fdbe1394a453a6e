"""The machinery behind the Wine tests' fixtures (tests/wine/conftest.py).

Everything lives under build/wine-test/: a Wine prefix with its own HOME, a virtual display
(Xvfb with openbox), a test certificate authority trusted by that prefix only, an nginx HTTPS
server on 127.0.0.1:443 (run inside the suite's own network namespace), and small Windows
programs from build/windows-test/winetools/ that probe and drive windows from inside the
prefix. Every process started here is stopped again by its pid.

Concurrent runs (several developers sharing one working tree) each take their own slot,
build/wine-test/slot-N, guarded by a lock file; a slot's prefix is kept and reused by the
next run that takes it.
"""

from __future__ import annotations

import fcntl
import json
import os
import select
import shutil
import signal
import socket
import socketserver
import subprocess
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / "build"
TEST_ROOT = BUILD / "wine-test"
SCREENSHOTS = TEST_ROOT / "screenshots"
WINDOWS_TEST_BUILD = BUILD / "windows-test"
WINETOOLS = WINDOWS_TEST_BUILD / "winetools"
LAUNCHER_NAME = "Orvix-Email-Windows.exe"
TEST_LAUNCHER = WINDOWS_TEST_BUILD / LAUNCHER_NAME
RELEASE_LAUNCHER = BUILD / "windows" / LAUNCHER_NAME

DOWNLOAD_PATH = "/downloads/Orvix-Windows.zip"
PRODUCT_FOLDER = "Orvix All In One"
SUITE_EXE = "Orvix.exe"
SUITE_RECORD = "orvix-suite-record.txt"
PACKAGE_FILE = "Orvix-Windows.zip"
START_MENU_FOLDER = "Orvix"

DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
PREFIX_READY_MARK = ".orvix-prefix-ready"
MAX_SLOTS = 8


class HarnessError(RuntimeError):
    """A part of the test environment could not be set up."""


def wine_tool(name: str) -> Path:
    """Path of a test program built from tests/winetools (e.g. "winprobe.exe")."""
    path = WINETOOLS / name
    if not path.is_file():
        raise HarnessError(
            f"{path} is missing: build the Windows test programs first "
            "(cmake --preset windows-test && cmake --build --preset windows-test)")
    return path


def unix_to_win(path: Path | str) -> str:
    """A Unix path as Wine sees it through drive Z: (Z:\\ is /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def stop_process(process: subprocess.Popen, grace: float = 5.0) -> None:
    """Stops one process we started, by its pid: SIGTERM, then SIGKILL after `grace` s."""
    if process.poll() is None:
        try:
            process.terminate()
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=grace)
        except ProcessLookupError:
            pass


# ---------------------------------------------------------------------------------------
# The slot: one lock-guarded folder per concurrent run


@dataclass
class Slot:
    root: Path
    lock_fd: int

    def release(self) -> None:
        os.close(self.lock_fd)


def take_slot() -> Slot:
    """Locks the first free build/wine-test/slot-N for this run (held until release)."""
    TEST_ROOT.mkdir(parents=True, exist_ok=True)
    for number in range(MAX_SLOTS):
        fd = os.open(TEST_ROOT / f"slot-{number}.lock", os.O_RDWR | os.O_CREAT, 0o644)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            os.close(fd)
            continue
        root = TEST_ROOT / f"slot-{number}"
        root.mkdir(exist_ok=True)
        return Slot(root, fd)
    raise HarnessError(f"all {MAX_SLOTS} slots under {TEST_ROOT} are in use by other test runs")


# ---------------------------------------------------------------------------------------
# The Wine prefix


@dataclass
class WinePaths:
    """Unix places of the prefix's folders (derived once, no winepath calls)."""
    prefix: Path
    drive_c: Path
    user_name: str
    profile: Path  # C:\users\<user>
    local_app_data: Path  # ...\AppData\Local
    programs: Path  # ...\AppData\Local\Programs (the user program files folder)
    install_dir: Path  # ...\Programs\Orvix All In One
    suite_exe: Path  # ...\Orvix All In One\Orvix.exe
    temp: Path  # C:\users\<user>\Temp (GetTempPathW)
    package_file: Path  # ...\Temp\Orvix-Windows.zip
    start_menu_programs: Path  # ...\AppData\Roaming\Microsoft\Windows\Start Menu\Programs
    start_menu_folder: Path  # ...\Start Menu\Programs\Orvix
    system32: Path  # C:\windows\system32

    def win_to_unix(self, windows_path: str) -> Path:
        """Maps "C:\\..." or "Z:\\..." to its Unix place. Existing components are matched
        without regard to case, as Windows would."""
        drive, _, rest = windows_path.partition(":")
        parts = [p for p in rest.replace("/", "\\").split("\\") if p]
        if drive.upper() == "C":
            path = self.drive_c
        elif drive.upper() == "Z":
            path = Path("/")
        else:
            raise ValueError(f"no mapping for drive {drive!r} in {windows_path!r}")
        for part in parts:
            exact = path / part
            if not exact.exists() and path.is_dir():
                match = next((c for c in path.iterdir() if c.name.lower() == part.lower()), None)
                exact = match if match is not None else exact
            path = exact
        return path

    def win_path(self, unix_path: Path) -> str:
        """The Windows name of a Unix path: C:\\... inside drive_c, Z:\\... elsewhere."""
        resolved = Path(unix_path).resolve()
        try:
            relative = resolved.relative_to(self.drive_c.resolve())
        except ValueError:
            return unix_to_win(resolved)
        return "C:\\" + str(relative).replace("/", "\\") if str(relative) != "." else "C:\\"


def derive_paths(prefix: Path) -> WinePaths:
    drive_c = prefix / "drive_c"
    users = [p for p in (drive_c / "users").iterdir() if p.is_dir() and p.name != "Public"]
    if len(users) != 1:
        raise HarnessError(f"expected one user profile in {drive_c / 'users'}, found {[p.name for p in users]}")
    profile = users[0]
    local = profile / "AppData" / "Local"
    programs = local / "Programs"
    start_menu = profile / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"
    temp = profile / "Temp"
    return WinePaths(
        prefix=prefix, drive_c=drive_c, user_name=profile.name, profile=profile, local_app_data=local,
        programs=programs, install_dir=programs / PRODUCT_FOLDER,
        suite_exe=programs / PRODUCT_FOLDER / SUITE_EXE, temp=temp, package_file=temp / PACKAGE_FILE,
        start_menu_programs=start_menu, start_menu_folder=start_menu / START_MENU_FOLDER,
        system32=drive_c / "windows" / "system32")


def base_environment(slot_root: Path) -> dict:
    """Environment for every Wine process: prefix and HOME inside the slot, no debug
    output, no Mono/Gecko prompts, no desktop menu entries."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("WINE", "XDG_", "DISPLAY", "ORVIX_"))}
    home = slot_root / "home"
    env.update({
        "WINEPREFIX": str(slot_root / "prefix"),
        "WINEARCH": "win64",
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": DLL_OVERRIDES,
        "HOME": str(home),
        "XDG_CONFIG_HOME": str(home / ".config"),
        "XDG_DATA_HOME": str(home / ".local" / "share"),
        "XDG_CACHE_HOME": str(home / ".cache"),
        "LANG": "C.UTF-8",
        "LC_ALL": "C.UTF-8",
    })
    home.mkdir(parents=True, exist_ok=True)
    return env


def wine_version() -> str:
    return subprocess.run(["wine", "--version"], capture_output=True, text=True, check=True).stdout.strip()


def prepare_prefix(slot_root: Path, env: dict) -> tuple[WinePaths, float]:
    """Creates the slot's prefix with `wineboot -i` (then waits for its wineserver to
    end), or reuses one that an earlier run finished. Returns the paths and the seconds
    spent creating (0 when reused)."""
    prefix = slot_root / "prefix"
    mark = prefix / PREFIX_READY_MARK
    version = wine_version()
    if mark.is_file() and mark.read_text() == version:
        return derive_paths(prefix), 0.0
    if prefix.exists():
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=30)
        shutil.rmtree(prefix)
    started = time.monotonic()
    boot_env = dict(env)
    boot_env.pop("DISPLAY", None)
    # Wine's services inherit the standard handles, so they go to a file, not a pipe.
    log = slot_root / "wineboot.log"
    with open(log, "wb") as output:
        result = subprocess.run(["wineboot", "-i"], env=boot_env, stdin=subprocess.DEVNULL, stdout=output,
                                stderr=output, timeout=300)
        if result.returncode == 0:
            result = subprocess.run(["wineserver", "-w"], env=boot_env, stdout=output, stderr=output, timeout=300)
    if result.returncode != 0:
        raise HarnessError(f"wineboot -i failed ({result.returncode}): {log.read_text(errors='replace')[-2000:]}")
    paths = derive_paths(prefix)
    for folder in (paths.programs, paths.temp, paths.start_menu_programs):
        folder.mkdir(parents=True, exist_ok=True)
    mark.write_text(version)
    return paths, time.monotonic() - started


def start_wineserver(env: dict) -> subprocess.Popen:
    """A persistent wineserver for the prefix, in the foreground so that we own its pid;
    it spares each Wine program the server start. A server still running for the prefix
    can only be left from an earlier run of this slot that was killed (the slot is ours
    now), so it is ended first."""
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=30)
    server = subprocess.Popen(["wineserver", "-f", "-p"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(0.2)
    if server.poll() is not None:
        raise HarnessError("wineserver did not start (is another one running for this prefix?)")
    return server


def stop_wineserver(server: subprocess.Popen, env: dict) -> None:
    """Ends every Windows process of the prefix (`wineserver -k` addresses this prefix's
    server only), then the server we started."""
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=30)
    stop_process(server)


def leftover_wine_processes(prefix: Path, keep: set[int]) -> list[tuple[int, str]]:
    """Processes of this prefix that a test started and left running: every Wine process
    whose environment names our WINEPREFIX, except Wine's own services (C:\\windows\\...)
    and the pids in `keep`."""
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) in keep or int(entry.name) == os.getpid():
            continue
        try:
            if "wine" not in os.readlink(entry / "exe"):
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            continue
        if wanted not in environ or not cmdline:
            continue
        if cmdline.lower().startswith("c:\\windows\\") or "wineserver" in cmdline.split(" ")[0]:
            continue
        found.append((int(entry.name), cmdline))
    return found


# ---------------------------------------------------------------------------------------
# The display


@dataclass
class Display:
    number: int
    xvfb: subprocess.Popen
    window_manager: subprocess.Popen

    @property
    def name(self) -> str:
        return f":{self.number}"

    def stop(self) -> None:
        stop_process(self.window_manager)
        stop_process(self.xvfb)


def start_display(env: dict, width: int = 1024, height: int = 768) -> Display:
    """Xvfb on a free display number (it reports the number through -displayfd) with
    openbox on it; returns once the window manager has taken the screen."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp",
         "-noreset"],
        pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    os.close(write_end)
    text = b""
    deadline = time.monotonic() + 20
    try:
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                stop_process(xvfb)
                raise HarnessError("Xvfb did not report a display number")
            text += chunk
    finally:
        os.close(read_end)
    number = int(text.strip())
    display_env = dict(env, DISPLAY=f":{number}")
    window_manager = subprocess.Popen(["openbox", "--sm-disable"], env=display_env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
    display = Display(number, xvfb, window_manager)
    while time.monotonic() < deadline:
        if subprocess.run(["wmctrl", "-m"], env=display_env, capture_output=True).returncode == 0:
            return display
        if window_manager.poll() is not None:
            break
        time.sleep(0.05)
    display.stop()
    raise HarnessError("openbox did not start on the virtual display")


def take_screenshot(display: Display, name: str) -> Path:
    """Saves the whole virtual screen as build/wine-test/screenshots/NAME.png."""
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    path = SCREENSHOTS / (name if name.endswith(".png") else name + ".png")
    subprocess.run(["import", "-display", display.name, "-window", "root", str(path)], check=True, timeout=30,
                   capture_output=True)
    return path


# ---------------------------------------------------------------------------------------
# Certificates


@dataclass
class CertificateAuthority:
    name: str
    ca_cert: Path
    server_cert: Path
    server_key: Path


def _openssl(*args: str, cwd: Path) -> None:
    result = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise HarnessError(f"openssl {' '.join(args[:2])} failed: {result.stderr[-1000:]}")


def make_authority(folder: Path, name: str) -> CertificateAuthority:
    """A certificate authority and a server certificate for localhost and 127.0.0.1 signed
    by it, made with openssl in `folder`; reused while the certificates stay valid for a
    day more. The authority's name carries a time stamp, so a regenerated one never
    shares its subject with one that an older run trusted."""
    folder.mkdir(parents=True, exist_ok=True)
    authority = CertificateAuthority(name, folder / "ca.crt", folder / "server.crt", folder / "server.key")
    if all(p.is_file() for p in (authority.ca_cert, authority.server_cert, authority.server_key)):
        valid = subprocess.run(["openssl", "x509", "-checkend", "86400", "-noout", "-in", str(authority.server_cert)],
                               capture_output=True)
        if valid.returncode == 0:
            return authority
    stamp = time.strftime("%Y%m%d%H%M%S")
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "3650",
             "-subj", f"/O=Orvix tests/CN=Orvix Test CA {name} {stamp}",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
             "-subj", "/O=Orvix tests/CN=localhost", cwd=folder)
    (folder / "server.ext").write_text(
        "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
        "basicConstraints=CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\n"
        "extendedKeyUsage=serverAuth\n"
        "authorityKeyIdentifier=keyid,issuer\n"
        "subjectKeyIdentifier=hash\n")
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-set_serial",
             str(int(time.time() * 1000)), "-days", "825", "-sha256", "-extfile", "server.ext",
             "-out", "server.crt", cwd=folder)
    return authority


# ---------------------------------------------------------------------------------------
# The loopback upstream behind nginx, for answers nginx cannot give from a file


@dataclass
class UpstreamPlan:
    kind: str = "chunked"  # "chunked" or "cut-short"
    body: bytes = b""
    announced: int = 0  # Content-Length sent by "cut-short"
    chunk_size: int = 65536
    delay: float = 0.0  # pause after each chunk


class _UpstreamHandler(socketserver.BaseRequestHandler):
    def handle(self) -> None:
        plan: UpstreamPlan = self.server.plan  # type: ignore[attr-defined]
        self.request.settimeout(10)
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk:
                return
            data += chunk
        try:
            if plan.kind == "chunked":
                self._send_chunked(plan)
            else:
                self._send_cut_short(plan)
        except OSError:
            pass

    def _send_chunked(self, plan: UpstreamPlan) -> None:
        self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"
                             b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
        for start in range(0, len(plan.body), plan.chunk_size):
            piece = plan.body[start:start + plan.chunk_size]
            self.request.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            time.sleep(plan.delay)
        self.request.sendall(b"0\r\n\r\n")

    def _send_cut_short(self, plan: UpstreamPlan) -> None:
        self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n" % plan.announced)
        for start in range(0, len(plan.body), plan.chunk_size):
            self.request.sendall(plan.body[start:start + plan.chunk_size])
            time.sleep(plan.delay)
        self.request.shutdown(socket.SHUT_RDWR)


class _Upstream(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def start_upstream() -> _Upstream:
    upstream = _Upstream(("127.0.0.1", 0), _UpstreamHandler)
    upstream.plan = UpstreamPlan()  # type: ignore[attr-defined]
    threading.Thread(target=upstream.serve_forever, daemon=True).start()
    return upstream


# ---------------------------------------------------------------------------------------
# The HTTPS server


NGINX_CONFIG = """\
daemon off;
master_process off;
pid {folder}/nginx.pid;
error_log {folder}/error.log info;
events {{ worker_connections 64; }}
http {{
    log_format orvix escape=json '{{"method":"$request_method","uri":"$request_uri","protocol":"$server_protocol",'
        '"status":$status,"body_bytes_sent":$body_bytes_sent,"user_agent":"$http_user_agent"}}';
    access_log {folder}/access.log orvix;
    client_body_temp_path {folder}/tmp/body;
    proxy_temp_path {folder}/tmp/proxy;
    fastcgi_temp_path {folder}/tmp/fastcgi;
    uwsgi_temp_path {folder}/tmp/uwsgi;
    scgi_temp_path {folder}/tmp/scgi;
    default_type application/octet-stream;
    types {{ application/zip zip; }}
    sendfile on;
    server {{
        listen 127.0.0.1:443 ssl;
        server_name localhost;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        root {folder}/docroot;
        location = {download_path} {{
{answer}
        }}
        location / {{ return 404; }}
    }}
}}
"""


class HttpsServer:
    """nginx on 127.0.0.1:443 from a config file of our own, restarted for every answer.

    serve_file / serve_bytes: 200 with Content-Length (`rate` in bytes per second slows
    the body down, nginx limit_rate); serve_empty: 200 with an empty body; serve_status:
    any status with nginx's own body; serve_chunked: 200, chunked, no Content-Length;
    serve_cut_short: Content-Length announces more than is sent, then the connection
    closes. `trusted=False` uses a server certificate from an authority the prefix does not
    trust. stop(): no server at all. The last two go through a loopback upstream in this
    process (nginx proxy_pass, unbuffered)."""

    def __init__(self, folder: Path, trusted: CertificateAuthority, untrusted: CertificateAuthority,
                 upstream: _Upstream):
        self.folder = folder
        self.trusted = trusted
        self.untrusted = untrusted
        self.upstream = upstream
        self.process: subprocess.Popen | None = None
        for sub in ("docroot/downloads", "tmp"):
            (folder / sub).mkdir(parents=True, exist_ok=True)

    @property
    def package_path(self) -> Path:
        return self.folder / "docroot" / "downloads" / PACKAGE_FILE

    # -- answers

    def serve_file(self, source: Path, *, rate: int | None = None, trusted: bool = True) -> None:
        self.package_path.unlink(missing_ok=True)
        self.package_path.symlink_to(Path(source).resolve())
        self._start(self._static_answer(rate), trusted)

    def serve_bytes(self, body: bytes, *, rate: int | None = None, trusted: bool = True) -> None:
        self.package_path.unlink(missing_ok=True)
        self.package_path.write_bytes(body)
        self._start(self._static_answer(rate), trusted)

    def serve_empty(self, *, trusted: bool = True) -> None:
        self.serve_bytes(b"", trusted=trusted)

    def serve_status(self, status: int, *, trusted: bool = True) -> None:
        self._start(f"            return {int(status)};", trusted)

    def serve_chunked(self, body: bytes, *, chunk_size: int = 65536, delay: float = 0.0,
                      trusted: bool = True) -> None:
        self.upstream.plan = UpstreamPlan("chunked", body, 0, chunk_size, delay)
        self._start(self._proxy_answer(), trusted)

    def serve_cut_short(self, body: bytes, announced: int, *, chunk_size: int = 65536, delay: float = 0.0,
                        trusted: bool = True) -> None:
        if announced <= len(body):
            raise ValueError("a cut-short answer must announce more bytes than it sends")
        self.upstream.plan = UpstreamPlan("cut-short", body, announced, chunk_size, delay)
        self._start(self._proxy_answer(), trusted)

    def requests(self) -> list[dict]:
        """The access log of the current server as a list of dicts (method, uri,
        protocol, status, body_bytes_sent, user_agent)."""
        log = self.folder / "access.log"
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text().splitlines() if line.strip()]

    # -- life cycle

    def stop(self) -> None:
        if self.process is not None:
            stop_process(self.process)
            self.process = None

    def _static_answer(self, rate: int | None) -> str:
        lines = ["            types { } default_type application/zip;"]
        if rate:
            lines.append(f"            limit_rate {int(rate)};")
        return "\n".join(lines)

    def _proxy_answer(self) -> str:
        port = self.upstream.server_address[1]
        return "\n".join([
            f"            proxy_pass http://127.0.0.1:{port};",
            "            proxy_http_version 1.1;",
            "            proxy_buffering off;",
            "            proxy_read_timeout 30s;",
        ])

    def _start(self, answer: str, trusted: bool) -> None:
        self.stop()
        authority = self.trusted if trusted else self.untrusted
        config = self.folder / "nginx.conf"
        config.write_text(NGINX_CONFIG.format(folder=self.folder, cert=authority.server_cert,
                                              key=authority.server_key, download_path=DOWNLOAD_PATH,
                                              answer=answer))
        for log in ("access.log", "error.log"):
            (self.folder / log).unlink(missing_ok=True)
        self.process = subprocess.Popen(
            ["nginx", "-p", str(self.folder), "-c", str(config), "-e", str(self.folder / "error.log")],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                error = self.process.stderr.read().decode(errors="replace") if self.process.stderr else ""
                log = (self.folder / "error.log")
                error += log.read_text(errors="replace") if log.exists() else ""
                self.process = None
                raise HarnessError(f"nginx exited at start (port 443 taken? not root? run inside "
                                   f"`unshare -n`): {error[-1500:]}")
            try:
                with socket.create_connection(("127.0.0.1", 443), timeout=0.5):
                    return
            except OSError:
                time.sleep(0.03)
        self.stop()
        raise HarnessError("nginx did not accept connections on 127.0.0.1:443")


# ---------------------------------------------------------------------------------------
# Running Windows programs


@dataclass
class WineResult:
    returncode: int
    stdout: str
    stderr: str
    seconds: float


@dataclass
class Background:
    """A Windows program started in the background; stop() ends it by pid."""
    process: subprocess.Popen
    args: list
    stdout_path: Path
    stderr_path: Path
    started: float = field(default_factory=time.monotonic)

    @property
    def pid(self) -> int:
        return self.process.pid

    def running(self) -> bool:
        return self.process.poll() is None

    def wait(self, timeout: float) -> int:
        """The exit code; raises subprocess.TimeoutExpired if still running after `timeout`."""
        return self.process.wait(timeout=timeout)

    def output(self) -> tuple[str, str]:
        """What the program has written to stdout and stderr so far."""
        return (self.stdout_path.read_text(errors="replace"), self.stderr_path.read_text(errors="replace"))

    def wait_for_output(self, text: str, timeout: float) -> bool:
        """Waits until the program's stdout contains `text`; False if it ends or the
        time runs out first."""
        deadline = time.monotonic() + timeout
        while text not in self.stdout_path.read_text(errors="replace"):
            if not self.running() or time.monotonic() >= deadline:
                return text in self.stdout_path.read_text(errors="replace")
            time.sleep(0.02)
        return True

    def stop(self) -> None:
        stop_process(self.process)


class Wine:
    """Runs Windows programs in the prefix and on the display of this test run.

    Output goes to files, never to pipes: a Wine program may start Wine's own services,
    which inherit its standard handles and outlive it (the wineserver is persistent), so
    a pipe would never reach its end."""

    def __init__(self, env: dict, paths: WinePaths, work: Path):
        self.env = env
        self.paths = paths
        self.work = work
        self.started: list[Background] = []
        self._outputs = work / ".wine-output"
        self._count = 0

    def environment(self, extra: dict | None = None) -> dict:
        env = dict(self.env)
        for key, value in (extra or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = str(value)
        return env

    def _spawn(self, program: Path | str, args, env: dict | None, cwd: Path | None):
        self._outputs.mkdir(parents=True, exist_ok=True)
        self._count += 1
        name = f"{self._count:03d}-{Path(str(program).replace(chr(92), '/')).stem}"
        out_path, err_path = self._outputs / f"{name}.out", self._outputs / f"{name}.err"
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen(["wine", str(program), *[str(a) for a in args]],
                                       env=self.environment(env), cwd=cwd or self.work,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        return process, out_path, err_path

    def run(self, program: Path | str, *args, timeout: float = 60, env: dict | None = None,
            cwd: Path | None = None, check: bool = False) -> WineResult:
        """Runs a program to its end and returns its exit code and output. On time-out the
        program is killed (by pid) and subprocess.TimeoutExpired is raised."""
        started = time.monotonic()
        process, out_path, err_path = self._spawn(program, args, env, cwd)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            stop_process(process, grace=2)
            raise
        result = WineResult(process.returncode, out_path.read_text(errors="replace"),
                            err_path.read_text(errors="replace"), time.monotonic() - started)
        if check and result.returncode != 0:
            raise HarnessError(f"{program} {args} exited with {result.returncode}: {result.stderr[-1000:]}")
        return result

    def start(self, program: Path | str, *args, env: dict | None = None, cwd: Path | None = None) -> Background:
        """Starts a program in the background; the `wine` fixture stops it (by pid) at the
        end of the test if it is still running."""
        process, out_path, err_path = self._spawn(program, args, env, cwd)
        background = Background(process, list(args), out_path, err_path)
        self.started.append(background)
        return background

    def stop_all(self) -> None:
        for background in self.started:
            background.stop()
        self.started.clear()


def reset_product_state(paths: WinePaths) -> None:
    """Removes what a launcher run may leave in the prefix: the install folder, the Start
    menu folder and the temporary package file."""
    for folder in (paths.install_dir, paths.start_menu_folder):
        if folder.exists():
            shutil.rmtree(folder)
    paths.package_file.unlink(missing_ok=True)
    for folder in (paths.programs, paths.temp, paths.start_menu_programs):
        folder.mkdir(parents=True, exist_ok=True)


def install_fake_suite(paths: WinePaths) -> Path:
    """Puts the stand-in suite at <Programs>\\Orvix All In One\\Orvix.exe; returns its path."""
    paths.install_dir.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(wine_tool(SUITE_EXE), paths.suite_exe)
    return paths.suite_exe


def read_suite_records(folder: Path) -> list[dict]:
    """The JSON lines the stand-in suite appended in `folder` (one per start)."""
    record = folder / SUITE_RECORD
    if not record.exists():
        return []
    return [json.loads(line) for line in record.read_text(encoding="utf-8").splitlines() if line.strip()]


def wait_for_suite_records(folder: Path, count: int = 1, timeout: float = 15) -> list[dict]:
    """Waits until the stand-in suite has recorded at least `count` starts (it is started
    through the shell, so it may write its record after the launcher has exited)."""
    deadline = time.monotonic() + timeout
    while True:
        records = read_suite_records(folder)
        if len(records) >= count or time.monotonic() >= deadline:
            return records
        time.sleep(0.05)


# ---------------------------------------------------------------------------------------
# winprobe: windows seen from inside the prefix


class Probe:
    """Python face of winprobe.exe (tests/winetools/winprobe.c). Times are seconds.
    Windows are matched by exact class and/or title among the visible top-level windows,
    hidden ones too with include_hidden=True."""

    def __init__(self, wine: Wine):
        self.wine = wine
        self.exe = wine_tool("winprobe.exe")

    def _call(self, *args, timeout: float = 0) -> tuple[int, list[dict]]:
        result = self.wine.run(self.exe, *args, timeout=timeout + 30)
        if result.returncode == 2:
            raise HarnessError(f"winprobe usage error: {result.stdout} {result.stderr}")
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines() if line.strip()]

    @staticmethod
    def _match(cls: str | None, title: str | None, include_hidden: bool) -> list:
        args = []
        if cls is not None:
            args += ["--class", cls]
        if title is not None:
            args += ["--title", title]
        if include_hidden:
            args.append("--all")
        return args

    def list_windows(self, include_hidden: bool = False) -> list[dict]:
        return self._call("list", *(["--all"] if include_hidden else []))[1]

    def find(self, cls: str | None = None, title: str | None = None, timeout: float = 10,
             include_hidden: bool = False) -> dict | None:
        """Waits for a top-level window by class and/or title; None after the time-out."""
        code, lines = self._call("find", *self._match(cls, title, include_hidden), "--timeout", int(timeout * 1000),
                                 timeout=timeout)
        return lines[0] if code == 0 else None

    def exists(self, cls: str | None = None, title: str | None = None, include_hidden: bool = False) -> bool:
        return self._call("exists", *self._match(cls, title, include_hidden))[0] == 0

    def wait_gone(self, cls: str | None = None, title: str | None = None, timeout: float = 10,
                  include_hidden: bool = False) -> bool:
        code, _ = self._call("gone", *self._match(cls, title, include_hidden), "--timeout", int(timeout * 1000),
                             timeout=timeout)
        return code == 0

    def close(self, cls: str | None = None, title: str | None = None, timeout: float = 10,
              include_hidden: bool = False) -> dict | None:
        """Posts WM_CLOSE to the first matching window; the window as it was, or None."""
        code, lines = self._call("close", *self._match(cls, title, include_hidden), "--timeout", int(timeout * 1000),
                                 timeout=timeout)
        return lines[0] if code == 0 else None

    def message_box(self, caption: str, timeout: float = 10) -> dict | None:
        """Waits for a message box by caption: {"caption","text","buttons":[{"id","text"}],...}."""
        code, lines = self._call("msgbox", "--caption", caption, "--timeout", int(timeout * 1000), timeout=timeout)
        return lines[0] if code == 0 else None

    def click(self, caption: str, button: str, timeout: float = 10) -> dict:
        """Clicks a message box button ("yes", "no", "ok", "cancel" or an id);
        returns {"found","clicked","closed",...}."""
        _, lines = self._call("click", "--caption", caption, "--button", button, "--timeout",
                              int(timeout * 1000), timeout=timeout * 2)
        return lines[0] if lines else {"found": False}

    def watch(self, interval: float = 0.02, include_hidden: bool = False) -> "Watch":
        """Starts watching the top-level windows; returns once the first look is done."""
        args = ["watch", "--interval", int(interval * 1000)] + (["--all"] if include_hidden else [])
        return Watch(self.wine.start(self.exe, *args))


class Watch:
    """A running `winprobe watch`. stop() ends it and returns its events in order."""

    def __init__(self, background: Background, timeout: float = 30):
        self.background = background
        self.initial: list[dict] = []  # windows that were already there at the start
        self.events: list[dict] = []
        deadline = time.monotonic() + timeout
        while True:
            lines = self._lines()
            ready = next((i for i, e in enumerate(lines) if e.get("event") == "ready"), None)
            if ready is not None:
                self.initial = lines[:ready]
                self._skip = ready + 1
                return
            if time.monotonic() > deadline or not background.running():
                background.stop()
                raise HarnessError("winprobe watch did not start")
            time.sleep(0.05)

    def _lines(self) -> list[dict]:
        text = self.background.stdout_path.read_text(errors="replace")
        complete = text[:text.rfind("\n") + 1]
        return [json.loads(line) for line in complete.splitlines() if line.strip()]

    def current(self) -> list[dict]:
        """The events so far, while the watcher goes on."""
        return self._lines()[self._skip:]

    def stop(self) -> list[dict]:
        """Ends the watcher (by pid) and returns the events seen since it became ready."""
        self.background.stop()
        self.events = self.current()
        return self.events
