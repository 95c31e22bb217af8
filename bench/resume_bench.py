#!/usr/bin/env python3
"""Benchmark of a cut package download and of slow servers, with the signed agent; prints
figures, asserts nothing.

    python3 bench/resume_bench.py [--bin-dir build/linux/bin] [--megabytes 256]

Resume: release 1204 is published with the build folder's throw-away key and a package of
about 256 MB (an incompressible file in its tree), and served by nginx (deploy/nginx/serve).
For a cut at 10 %, 50 % and 90 % the signed agent's first run gets the package from the
scripted server, tagged as nginx tags it and broken off there; its next run goes to nginx,
whose statistics log tells the bytes it sent. Then the agent is killed at about half of a
download from nginx and run again: the bytes nginx sent for both runs against the package's
size show what a kill costs (what the agent had received but not yet written, and what was
on its way). A whole download from nginx is timed beside them.

Time bounds: one run each against a server that never answers its pages, one that drips a
page's head a byte a second, and a signed package (release 1205, about 1.3 MB) dripped at
about 1 KB/s, above the rate floor: the run's wall time against the page bound (30 s for each
of the two page URLs) and the package's deadline (PackageDeadline: 101 s for 1.3 MB).
"""

import argparse
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests"), os.path.join(HERE, "..", "tests", "server")]
import kivo_scenario as ks  # noqa: E402
import release_fixture as rf  # noqa: E402
from kivo_http_server import ScriptedServer  # noqa: E402

PAGES = ("version.kivo9.example/kivover/*", "version2.kivo9.example/d/*")
STATS = "stats.kivo9.example/tg/kivopatch/en/*"
MIB = 1 << 20


def installation():
    from agent_scenarios import AgentInstallation
    inst = AgentInstallation(tree_extractor=True)
    inst.install_program("UpgradeAgentSigned", "Kivo9Data/UpgradeAgent")
    return inst


def run_agent(inst, proxy, kill_when=None):
    """Wall seconds of one console run; kill_when(inst) true kills the agent at once."""
    env = dict(os.environ, http_proxy=proxy, no_proxy="", NO_PROXY="", TMPDIR=inst.path("tmp"),
               LANG="en_US.UTF-8", LC_ALL="")
    start = time.monotonic()
    agent = subprocess.Popen([inst.agent], cwd=inst.path("tmp"), env=env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    while kill_when is not None and agent.poll() is None:
        if kill_when(inst):
            agent.send_signal(signal.SIGKILL)
            break
        time.sleep(0.0005)
    agent.wait()
    return time.monotonic() - start


def kept(inst):
    path = inst.path("Kivo9Data/package.part")
    return os.path.getsize(path) if os.path.exists(path) else 0


def sent_since(release, count):
    """(status, bytes) of the package requests nginx logged after the first count."""
    return [(r["status"], r["bytes"]) for r in release.stats_records()[count:]]


def release_pages(release, version):
    pages = {}
    for key, path in zip(PAGES, ("kivover", "d")):
        with open(os.path.join(release.server_dir, path, "testver.htm"), "rb") as f:
            pages[key] = [{"body_hex": f.read().hex()}]
    package = os.path.join(release.server_dir, "d", version, "uen.jpg")
    return pages, package


def publish(release, version, megabytes):
    source = installation()
    with open(source.path("package/big.bin"), "wb") as f:
        for _ in range(int(megabytes * 4)):
            f.write(os.urandom(MIB // 4))
    release.publish(version, {"en": source.path("package")})
    source.cleanup()


def resume_figures(release, server, megabytes):
    publish(release, "1204", megabytes)
    pages, package = release_pages(release, "1204")
    size = os.path.getsize(package)
    release.start()
    tag = subprocess.run(["curl", "-sI", "-H", "Host: download.kivo9.example",
                          "http://127.0.0.1:%d/d/1204/uen.jpg" % release.port],
                         capture_output=True, text=True).stdout
    tag = [line.split(":", 1)[1].strip() for line in tag.splitlines()
           if line.lower().startswith("etag:")][0]
    print("package: %d bytes, nginx ETag %s" % (size, tag))

    inst = installation()
    whole = run_agent(inst, release.proxy_url)
    print("whole download from nginx: run %.2f s, sent %s" % (whole, sent_since(release, 0)))
    inst.cleanup()
    for share in (0.10, 0.50, 0.90):
        cut = int(size * share)
        routes = dict(pages)
        routes[STATS] = [{"status": 404}]
        routes["download.kivo9.example/d/1204/uen.jpg"] = [
            {"body_file": package, "headers": [["ETag", tag]], "truncate_to": cut}]
        server.set_script({"routes": routes})
        inst = installation()
        run_agent(inst, server.proxy_url)
        before = len(release.stats_records())
        held = kept(inst)
        seconds = run_agent(inst, release.proxy_url)
        sent = sent_since(release, before)
        bytes_after = sum(b for _, b in sent)
        print("cut at %2d %%: kept %d, next run %.2f s, nginx sent %s: the rest %d %s" %
              (share * 100, held, seconds, sent, size - held,
               "+ %d bytes" % (bytes_after - (size - held))))
        inst.cleanup()

    inst = installation()
    before = len(release.stats_records())
    run_agent(inst, release.proxy_url, kill_when=lambda i: kept(i) >= size // 2)
    held = kept(inst)
    run_agent(inst, release.proxy_url)
    sent = sent_since(release, before)
    total = sum(b for _, b in sent)
    print("killed at about 50 %%: kept %d, nginx sent %s in all: %d bytes (%.2f MiB) beyond "
          "the package" % (held, sent, total - size, (total - size) / MIB))
    inst.cleanup()
    release.stop()


def time_bounds(release, server):
    publish(release, "1205", 0.25)
    pages, package = release_pages(release, "1205")
    size = os.path.getsize(package)
    cases = [
        ("pages never answered", {key: [{"delay_ms": 600000}] for key in PAGES}),
        ("page heads dripped 1 byte/s",
         {key: [{"raw": "HTTP/1.0 200 OK\r\n" + "X: y\r\n" * 100 + "\r\n", "drip_ms": 1000}]
          for key in PAGES}),
    ]
    dripped = dict(pages)
    dripped[STATS] = [{"status": 404}]
    dripped["download.kivo9.example/d/1205/uen.jpg"] = [{"body_file": package, "drip_ms": 1}]
    cases.append(("package of %d bytes dripped ~1 KB/s" % size, dripped))
    for title, routes in cases:
        server.set_script({"routes": routes})
        inst = installation()
        seconds = run_agent(inst, server.proxy_url)
        print("%-40s run %6.1f s, kept %d bytes" % (title, seconds, kept(inst)))
        inst.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin-dir", default=os.path.join(HERE, "..", "build", "linux", "bin"))
    parser.add_argument("--megabytes", type=float, default=256)
    args = parser.parse_args()
    ks._config.bin_dir = os.path.realpath(args.bin_dir)
    key_dir = os.path.join(ks._config.bin_dir, "..", "test-release-keys")
    with rf.ReleaseServer(key=os.path.join(key_dir, "slot1", "release-key.pem"),
                          pubkey=os.path.join(key_dir, "slot1", "release-key.pub.pem")) as release:
        with ScriptedServer() as server:
            resume_figures(release, server, args.megabytes)
            time_bounds(release, server)


if __name__ == "__main__":
    main()
