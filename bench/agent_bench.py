#!/usr/bin/env python3
"""Benchmark of an UpgradeAgent run that finds its build current; prints figures, asserts
nothing.

    python3 bench/agent_bench.py [--bin-dir build/linux/bin] [--runs 200]

The agent runs in a temporary installation against the scripted loopback server (through
http_proxy, as in the scenario tests), which answers the version page with the installed
build. Each run is one process, timed from its start to its exit (wall) and by the CPU time
the kernel accounts to it (user + sys, from wait4). Silent mode (one argument) and console
mode (messages printed, standard input not a console, so no key wait) are measured apart.
The recording program's run, a process that does next to nothing, is shown as the floor
that starting any program costs here. The page is a release published with the publish tool
and the build folder's throw-away key, so that the agent built with that key
(UpgradeAgentSigned, which checks the page's signature) runs beside the one without a key.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests"), os.path.join(HERE, "..", "tests", "server")]
import kivo_scenario as ks  # noqa: E402
from kivo_http_server import ScriptedServer  # noqa: E402

BUILD = "1203"


def signed_page(inst, key_dir):
    """The normal page of a release of BUILD signed with the slot-1 test key."""
    import release_fixture as rf
    inst.write("release-tree/readme.txt", "build %s\n" % BUILD)
    inst.write("release-tree/Kivo9.exe", b"MZ")  # the publish tool takes no tree without it
    with rf.ReleaseServer(key=os.path.join(key_dir, "slot1", "release-key.pem"),
                          pubkey=os.path.join(key_dir, "slot1", "release-key.pub.pem")) as release:
        release.publish(BUILD, {"-": inst.path("release-tree")})
        release.tool("promote")
        with open(os.path.join(release.server_dir, "kivover", "ver.htm"), encoding="ascii") as f:
            return f.read()


def make_installation(program="UpgradeAgent"):
    inst = ks.Installation(prefix="kivo-agent-bench-")
    agent = inst.install_program(program, "Kivo9Data/UpgradeAgent")
    inst.write("Kivo9Data/Resource/version.ini", "[Version]\nupdate=%s\n" % BUILD)
    with open(os.path.join(ks._config.bin_dir, "Language", "English.ini"), "rb") as f:
        inst.write("Kivo9Data/Language/English.ini", f.read())
    inst.write("Kivo9Data/User/UserConfig.ini", "[Settings]\nLngFile=English.ini\n")
    recorder = inst.install_program("recorder", "floor/recorder")
    return inst, agent, recorder


def timed_run(command, env):
    """(wall seconds, CPU seconds, exit code) of one run of command."""
    start = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime + usage.ru_stime, process.returncode


def measure(command, env, runs):
    for _ in range(3):  # warm the page cache and the server
        timed_run(command, env)
    samples = [timed_run(command, env) for _ in range(runs)]
    codes = {code for _, _, code in samples}
    return [wall for wall, _, _ in samples], [cpu for _, cpu, _ in samples], codes


def report(title, walls, cpus, codes):
    def ms(values, q):
        return 1000 * statistics.quantiles(values, n=10)[q] if q is not None else 0

    print("%-34s wall median %6.2f ms  p10 %6.2f  p90 %6.2f | cpu median %6.2f ms  p90 %6.2f"
          "  (exit codes %s)" % (title, 1000 * statistics.median(walls), ms(walls, 0),
                                 ms(walls, 8), 1000 * statistics.median(cpus), ms(cpus, 8),
                                 sorted(codes)), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin-dir", default=os.path.join(HERE, "..", "build", "linux", "bin"))
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    ks._config.bin_dir = os.path.realpath(args.bin_dir)
    inst, agent, recorder = make_installation()
    key_dir = os.path.join(ks._config.bin_dir, "..", "test-release-keys")
    signed = make_installation("UpgradeAgentSigned") if os.path.isdir(key_dir) else None
    page = {"body": signed_page(inst, key_dir) if signed else
            "<html>Kivo9Version:%s:Kivo9VersionEnd</html>\n" % BUILD}
    routes = {"version.kivo9.example/kivover/ver.htm": [page],
              "version.kivo9.example/kivover/testver.htm": [page]}
    try:
        with ScriptedServer({"routes": routes}) as server:
            env = dict(os.environ, http_proxy=server.proxy_url, no_proxy="", NO_PROXY="")
            print("UpgradeAgent from %s, %d runs each, build current" %
                  (ks._config.bin_dir, args.runs))
            report("start floor (recording program)", *measure([recorder], env, args.runs))
            report("agent, silent (one argument)", *measure([agent, "silent"], env, args.runs))
            report("agent, console (no key wait)", *measure([agent], env, args.runs))
            if signed:
                check = subprocess.run([signed[1], "silent"], env=env, capture_output=True)
                print("signed agent's own words on the page: %r" % check.stderr.decode())
                report("signed agent, silent", *measure([signed[1], "silent"], env, args.runs))
                # Interleaved again, so that a drift of the machine shows as a drift of both.
                report("agent, silent (again)", *measure([agent, "silent"], env, args.runs))
            requests = len(server.requests())
            print("version page requests served: %d" % requests)
    finally:
        inst.cleanup()
        if signed:
            signed[0].cleanup()


if __name__ == "__main__":
    main()
