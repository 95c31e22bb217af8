#!/usr/bin/env python3
"""One whole update cycle on a temporary installation, against the reference server.

The installation holds build 1203. Build 1204 is published with the publish tool
(tools/publish/kivo-publish: a throw-away key, a package for enus and the generic one, the
signed test pages) and promoted to the release (the agent here has no keys, and such agents
get the normal release's packages only), served by nginx (deploy/nginx/serve), which the
agent reaches through http_proxy under its real host names. The agent runs in console mode:
it finds the newer build, downloads and unpacks the package, merges the user's filter lists
and starts the package's post-upgrade program. Then the launcher installs the unpacked tree
and starts the browser, and a second agent run finds the build current. A silent run reads
the normal page, and the statistics log is summed up. Each step is checked; a step that
fails ends the demo with exit code 1, naming it.

    python3 scripts/demo.py BIN_DIR [--emulator WINE]

With --emulator, BIN_DIR holds the Windows programs (.exe), which run under that emulator:
the product target updating itself, its own UnPack.exe reading the published package.
"""

import os
import shlex
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests")]

import kivo_scenario  # noqa: E402
import release_fixture  # noqa: E402

OLD_BUILD, NEW_BUILD = "1203", "1204"


def make_build_tree(bin_dir, folder):
    """Build 1204's tree, rooted like Kivo9Data/ (the publish tool sets its version file)."""
    with open(os.path.join(bin_dir, exe("recorder")), "rb") as f:
        recorder = f.read()
    files = {
        "Resource/2Filter.ini": b"[UrlFilter]\nurl1=ads.example.com\nurl2=tracker.example.net\n",
        "Resource/FilterFly.ini": b"[FlyFilter]\nurl1=*\nurl2=popups.example.org\n",
        "Kivo9.exe": recorder + b"build " + NEW_BUILD.encode(),
        "Kivo9PostUpgrade.exe": recorder,
    }
    for name, content in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        if name.endswith(".exe"):
            os.chmod(path, 0o755)
    return folder


def make_installation(bin_dir):
    kivo_scenario._config.bin_dir = bin_dir
    root = kivo_scenario.Installation(prefix="kivo9-demo-")
    root.install_program("Kivo9", exe("Kivo9"))
    root.install_program("UpgradeAgent", exe("Kivo9Data/UpgradeAgent"))
    root.install_program("extractor", "Kivo9Data/Resource/UnPack.exe")
    root.install_program("recorder", "Kivo9Data/Kivo9.exe")
    root.write("Kivo9Data/Resource/version.ini", "[Version]\nupdate=%s\n" % OLD_BUILD)
    with open(os.path.join(bin_dir, "Language", "English.ini"), "rb") as f:
        root.write("Kivo9Data/Language/English.ini", f.read())
    root.write("Kivo9Data/User/UserConfig.ini", "[Settings]\nLngFile=English.ini\nUsedTimes=7\n")
    root.write("Kivo9Data/User/Filter.ini",
               "[UrlFilter]\nurl1=tracker.example.net\nurl2=my-own-block.example\n")
    root.write("Kivo9Data/User/FilterFly.ini", "[FlyFilter]\nurl1=mine.example\n")
    return root


class StepFailed(Exception):
    """A step of the cycle did not do what it shows."""


def expect(holds, step):
    if not holds:
        raise StepFailed(step)


def show(title, text=""):
    print("\n== " + title, flush=True)
    if text:
        print(text.rstrip("\n"), flush=True)


def publish_tool(*args):
    """Runs kivo-publish, showing its command line and output."""
    print("$ kivo-publish " + " ".join(shlex.quote(str(a)) for a in args), flush=True)
    result = release_fixture.run_tool(*args, check=False)
    sys.stdout.write(result.stdout)
    sys.stdout.write(result.stderr)
    expect(result.returncode == 0, "kivo-publish %s ended with exit code %d"
           % (args[0], result.returncode))


def run_agent(root, proxy, *args):
    env = {"http_proxy": proxy, "no_proxy": "", "LANG": "en_US.UTF-8", "LC_ALL": "",
           "LC_MESSAGES": ""}
    result = kivo_scenario.run(root.path(exe("Kivo9Data/UpgradeAgent")), args, env=env,
                               stdin=b"\n")
    sys.stdout.write(result.stdout.decode("utf-8", "replace"))
    sys.stdout.write(result.stderr.decode("utf-8", "replace"))
    ordinary = ": the agent's ordinary end, whatever the outcome" if result.returncode == 1 else ""
    print("(exit code %d%s)" % (result.returncode, ordinary), flush=True)
    expect(result.returncode == 1, "the agent ended with exit code %d" % result.returncode)
    return result


def publish(release, tree):
    show("Publishing build %s into %s" % (NEW_BUILD, release.server_dir))
    server, key = release.server_dir, release.key
    publish_tool("release", "--out", server, "--version", NEW_BUILD, "--key", key,
                 "--tree", "enus=" + tree, "--tree", "-=" + tree, "--combine-filter", "--new-tree")
    publish_tool("verify", "--out", server, "--pubkey", release.pubkey)


def update_cycle(root, proxy):
    show("UpgradeAgent (console mode)")
    run_agent(root, proxy)
    expect(kivo_scenario.wait_for(
        lambda: root.exists("Kivo9Data/update/Kivo9PostUpgrade.exe.record")),
        "the agent did not hand build %s over (no unpacked tree in Kivo9Data/update/)" % NEW_BUILD)
    show("Unpacked, waiting for the launcher: Kivo9Data/update/",
         "\n".join(root.files("Kivo9Data/update")))
    show("Merged user filter list Kivo9Data/User/Filter.ini",
         root.read("Kivo9Data/User/Filter.ini").decode("utf-8"))

    show("Kivo9 (the launcher) with the command line: https://example.org/")
    kivo_scenario.run(root.path(exe("Kivo9")), ["https://example.org/"])
    record = root.path("Kivo9Data/Kivo9.exe.record")
    expect(kivo_scenario.wait_for(lambda: kivo_scenario.read_records(record)),
           "the launcher did not start the browser")
    for start in kivo_scenario.read_records(record):
        print("browser started in %s with arguments %s" % (start["cwd"], start["args"]))
    show("Installed Kivo9Data/Resource/version.ini",
         root.read("Kivo9Data/Resource/version.ini").decode("utf-8"))
    expect(("update=%s" % NEW_BUILD) in root.read("Kivo9Data/Resource/version.ini").decode(),
           "the launcher did not install build %s" % NEW_BUILD)
    print("update/ still there: %s" % root.exists("Kivo9Data/update"))
    show("UpgradeAgent again (console mode)")
    again = run_agent(root, proxy)
    expect(NEW_BUILD.encode() in again.stdout and not root.exists("Kivo9Data/update"),
           "the agent did not report build %s as current" % NEW_BUILD)


def exe(name):
    """name with the programs' suffix (".exe" for the Windows build)."""
    return name + kivo_scenario._config.suffix


def main():
    try:
        cycle()
    except StepFailed as failed:
        show("FAILED: %s" % failed)
        sys.exit(1)


def cycle():
    bin_dir = os.path.realpath(sys.argv[1])
    if sys.argv[2:3] == ["--emulator"]:
        kivo_scenario._config.emulator = sys.argv[3]
        kivo_scenario._config.suffix = ".exe"
    root = make_installation(bin_dir)
    release = release_fixture.ReleaseServer()
    tree = make_build_tree(bin_dir, os.path.join(release.root, "build-%s" % NEW_BUILD))
    show("Installation with build %s in %s" % (OLD_BUILD, root.root), "\n".join(root.files()))
    publish(release, tree)
    try:
        release.start()
        show("nginx serves %s on 127.0.0.1:%d (logs in %s)" % (release.server_dir, release.port,
                                                                release.log_dir))
        # Agents without keys get the normal release's packages only, whichever page they
        # read: the test release is promoted before they can have it.
        show("Promoting the test release to the release")
        publish_tool("promote", "--out", release.server_dir, "--key", release.key)
        update_cycle(root, release.proxy_url)
        show("A silent run (it reads the normal page)")
        silent = run_agent(root, release.proxy_url, "silent")
        expect(silent.stdout == b"", "the silent run printed something")
    finally:
        release.stop()
    show("Requests for the package, from the statistics log " + release.stats_log)
    publish_tool("stats", release.stats_log)
    report = os.path.join(release.log_dir, "report.html")
    show("The report of the statistics log, to open in a browser")
    publish_tool("report", release.stats_log, "--out", report)
    show("Everything is in place",
         "server tree:  %s\nserver logs:  %s (stats.log, access.log, error.log)\n"
         "report:       %s (open it in a browser)\n"
         "release key:  %s (throw-away)\ninstallation: %s\n"
         "  launcher Kivo9, agent Kivo9Data/UpgradeAgent, browser runs in "
         "Kivo9Data/Kivo9.exe.record\nserve it again: deploy/nginx/serve %s PORT %s"
         % (release.server_dir, release.log_dir, report, release.key, root.root,
            release.server_dir, release.log_dir))


if __name__ == "__main__":
    main()
