"""A published release served by nginx, for tests that need the real reference server.

    with ReleaseServer() as release:           # a throw-away key pair in a temporary folder
        release.publish("1204", {"enus": tree_dir, "-": generic_dir})
        port = release.start()                 # deploy/nginx/serve on a free 127.0.0.1 port
        ... http_proxy=release.proxy_url ...   # the programs reach it under their host names
        release.stats_records()                # the JSON statistics log, parsed
    # leaving the block stops nginx and removes the folder

Attributes: root (the temporary folder), server_dir, log_dir, key and pubkey (PEM paths),
port and proxy_url once started; stats_log, access_log and error_log are paths in log_dir.
The publish tool runs under the Python that runs the test (sys.executable), which must have
the `cryptography` package (Debian: python3-cryptography).
"""

import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(REPO, "tools", "publish", "kivo-publish")
SERVE = os.path.join(REPO, "deploy", "nginx", "serve")


def run_tool(*args, check=True):
    """Runs kivo-publish with args; returns the CompletedProcess (text output). With check,
    a non-zero exit code raises AssertionError carrying the tool's error output."""
    result = subprocess.run([sys.executable, TOOL] + [str(a) for a in args], capture_output=True,
                            text=True, stdin=subprocess.DEVNULL, check=False)
    if check and result.returncode != 0:
        raise AssertionError("kivo-publish %s failed:\n%s%s" % (args[0], result.stdout,
                                                                result.stderr))
    return result


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def bucket(salt, install_id):
    """The stage bucket of an installation, as a signed agent computes it: the first 8 bytes
    of SHA-256 over the page's salt and the install id, as a number, modulo 10,000."""
    digest = hashlib.sha256(salt.encode() + install_id).digest()
    return int.from_bytes(digest[:8], "big") % 10000


def install_id_file(salt, share, inside):
    """The text of a Kivo9Data/install.id whose bucket for salt lies below share (basis
    points; inside) or not, to put an installation in or out of a stage."""
    for n in range(1 << 20):
        candidate = n.to_bytes(16, "big")
        if (bucket(salt, candidate) < share) == inside:
            return "kivo9-install-id 1\n%s\n" % candidate.hex()
    raise AssertionError("no such id")


class ReleaseServer:
    """A key pair, a server tree and its nginx, all inside one temporary folder."""

    def __init__(self, key=None, pubkey=None):
        """key and pubkey: a key pair to publish with (PEM paths); a new one when not given."""
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="kivo-release-"))
        self.server_dir = os.path.join(self.root, "server")
        self.log_dir = os.path.join(self.root, "log")
        os.makedirs(self.server_dir)
        if key is None:
            key, pubkey = run_tool("keygen", "--out", os.path.join(self.root, "key")).stdout.split()
        self.key, self.pubkey = key, pubkey
        self.stats_log = os.path.join(self.log_dir, "stats.log")
        self.access_log = os.path.join(self.log_dir, "access.log")
        self.error_log = os.path.join(self.log_dir, "error.log")
        self.port, self.process = None, None

    def publish(self, version, trees, combine_filter=False, solid=True, deltas=0):
        """Publishes {package name: tree folder} as the test release (with solid packages
        unless solid is False, and delta packages from the deltas releases before); returns
        the output."""
        args = ["release", "--out", self.server_dir, "--version", version, "--key", self.key]
        if not os.path.isdir(os.path.join(self.server_dir, "meta")):
            args.append("--new-tree")  # the first release starts the tree
        for name, folder in trees.items():
            args += ["--tree", "%s=%s" % (name, folder)]
        return run_tool(*args + ["--combine-filter"] * combine_filter +
                        ["--no-solid"] * (not solid) + ["--deltas", str(deltas)]).stdout

    def tool(self, command, *args, check=True):
        """Runs a subcommand on this tree with the matching key (--pubkey for verify)."""
        key = {"verify": ["--pubkey", self.pubkey], "status": [], "list": [], "prune": []}.get(
            command, ["--key", self.key])
        return run_tool(command, "--out", self.server_dir, *key, *args, check=check)

    def page_salt(self):
        """The salt of the normal page this tree serves."""
        with open(os.path.join(self.server_dir, "kivover", "ver.htm")) as f:
            return [line[5:] for line in f.read().splitlines() if line.startswith("salt=")][0]

    @property
    def proxy_url(self):
        return "http://127.0.0.1:%d/" % self.port

    def start(self, attempts=3):
        """Starts nginx in the foreground of a child process; returns the port once it
        accepts connections. A port taken in between is retried with another one."""
        for _ in range(attempts):
            self.port = free_port()
            os.makedirs(self.log_dir, exist_ok=True)
            with open(os.path.join(self.log_dir, "serve.out"), "wb") as out:
                self.process = subprocess.Popen(
                    ["bash", SERVE, self.server_dir, str(self.port), self.log_dir],
                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
            if self._wait_until_listening():
                return self.port
        raise AssertionError("nginx did not start:\n" + self._read(self.error_log) +
                             self._read(os.path.join(self.log_dir, "serve.out")))

    def _wait_until_listening(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        self.stop()
        return False

    def stop(self):
        """Stops nginx (SIGTERM to its master) and waits for it; nothing when not started."""
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def stats_records(self, kind="package"):
        """The statistics log's records of kind ("package" or "page" requests, None for
        both) as a list of dicts, in the order of the requests."""
        records = [json.loads(line) for line in self._read(self.stats_log).splitlines()]
        return [r for r in records if kind is None or r.get("kind", "package") == kind]

    @staticmethod
    def _read(path):
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()
        return False
