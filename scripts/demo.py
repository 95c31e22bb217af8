#!/usr/bin/env python3
"""One whole update cycle on temporary installations, against the reference server, as a
vendor ships it: agents built with a release key, a release staged to a share and halted.

The installations hold build 1203 and an agent built with the build folder's throw-away
release key pair (UpgradeAgentSigned; the private half never leaves that folder). Build 1204
is published with the publish tool (tools/publish/kivo-publish, with that private key: a
package for enus and the generic one, the signed test pages) and served by nginx
(deploy/nginx/serve), which the agents reach through http_proxy under their real host names.

1. Looking at it: a person's check (console mode) reads the test page, so it finds 1204
   before anyone else gets it, downloads and unpacks the package, merges the user's filter
   lists and starts the package's post-upgrade program; the launcher installs the tree and
   starts the browser, and a second check finds the build current.
2. promote --share 5%: a machine inside the stage takes 1204 in its scheduled (silent) run,
   one outside keeps 1203 (there is no release before).
3. halt: a machine inside the stage takes nothing any more. An installation whose agent has
   no keys (UpgradeAgent, as older installations have) takes 1204 all the same: it knows
   neither shares nor halts.
4. The statistics log is summed up and drawn as the report.

Each step is checked; a step that fails ends the demo with exit code 1, naming it.

    python3 scripts/demo.py BIN_DIR KEY_DIR [--emulator WINE] [--remove]

KEY_DIR holds slot1/release-key.pem and slot1/release-key.pub.pem, the pair UpgradeAgentSigned
in BIN_DIR was built with. With --emulator, BIN_DIR holds the Windows programs (.exe), which
run under that emulator: the product target updating itself, its own UnPack.exe reading the
published package. With --remove (the test of the demo), everything it made is removed at the
end instead of kept to look at.
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


def make_installation(bin_dir, machine, agent="UpgradeAgentSigned", install_id=None):
    """An installation of build 1203 with the given agent program; install_id, the text of
    Kivo9Data/install.id, puts it in or out of a stage (else it makes its own at first need)."""
    kivo_scenario._config.bin_dir = bin_dir
    root = kivo_scenario.Installation(prefix="kivo9-demo-%s-" % machine)
    root.install_program("Kivo9", exe("Kivo9"))
    root.install_program(agent, exe("Kivo9Data/UpgradeAgent"))
    if install_id is not None:
        root.write("Kivo9Data/install.id", install_id)
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
    show("Publishing build %s into %s as the test release" % (NEW_BUILD, release.server_dir))
    server, key = release.server_dir, release.key
    publish_tool("release", "--out", server, "--version", NEW_BUILD, "--key", key,
                 "--tree", "enus=" + tree, "--tree", "-=" + tree, "--combine-filter", "--new-tree")
    publish_tool("verify", "--out", server, "--pubkey", release.pubkey)


def update_cycle(root, proxy):
    show("UpgradeAgent (console mode: a person's check, which reads the test page)")
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


def scheduled_run(release, root, machine):
    """A silent run of root's agent, as the scheduler starts it; True when it handed the new
    build over."""
    show("A scheduled (silent) run on the machine %s" % machine)
    silent = run_agent(root, release.proxy_url, "silent")
    expect(silent.stdout == b"", "the silent run printed something")
    took = root.exists("Kivo9Data/update/Kivo9.exe")
    print("%s: %s" % (machine, "took build %s (Kivo9Data/update/ waits for the launcher)"
                      % NEW_BUILD if took else "keeps build %s, nothing handed over" % OLD_BUILD))
    return took


def staged_and_halted(bin_dir, release, made):
    """promote --share 5%, a machine in the stage and one outside; halt, a machine in the
    stage and one whose agent has no keys. Returns the machines by name (also put in made)."""
    server, key = release.server_dir, release.key
    show("Promoting the test release to 5 % of the machines")
    publish_tool("promote", "--out", server, "--key", key, "--share", "5%")
    salt = release.page_salt()
    machines = {name: make_installation(
        bin_dir, name, install_id=release_fixture.install_id_file(salt, 500, inside))
        for name, inside in (("inside", True), ("outside", False), ("inside-later", True))}
    machines["without-keys"] = make_installation(bin_dir, "without-keys", agent="UpgradeAgent")
    made.extend(machines.values())
    print("install ids (Kivo9Data/install.id) chosen for the page's salt: the machines "
          "'inside' and 'inside-later' fall in the 5 %, 'outside' does not")
    expect(scheduled_run(release, machines["inside"], "inside"),
           "a machine inside the 5 % did not take the staged release")
    expect(not scheduled_run(release, machines["outside"], "outside"),
           "a machine outside the 5 % took the staged release")
    show("Halting the release")
    publish_tool("halt", "--out", server, "--key", key)
    publish_tool("status", "--out", server)
    expect(not scheduled_run(release, machines["inside-later"], "inside-later"),
           "a machine inside the stage took the halted release")
    expect(scheduled_run(release, machines["without-keys"], "without-keys"),
           "an agent without keys did not take the normal release")
    return machines


def cycle():
    args = sys.argv[1:]
    remove = "--remove" in args
    if remove:
        args.remove("--remove")
    bin_dir, key_dir = os.path.realpath(args[0]), os.path.realpath(args[1])
    if args[2:3] == ["--emulator"]:
        kivo_scenario._config.emulator = args[3]
        kivo_scenario._config.suffix = ".exe"
    made = []
    try:
        shown = publish_and_update(bin_dir, key_dir, made)
    finally:
        if remove:
            for folder in made:
                folder.cleanup()
    if not remove:
        show("Everything is in place", shown)


def publish_and_update(bin_dir, key_dir, made):
    """The cycle; made collects what it creates (each with cleanup()); returns where it is."""
    root = make_installation(bin_dir, "person")
    made.append(root)
    release = release_fixture.ReleaseServer(
        key=os.path.join(key_dir, "slot1", "release-key.pem"),
        pubkey=os.path.join(key_dir, "slot1", "release-key.pub.pem"))
    made.append(release)
    tree = make_build_tree(bin_dir, os.path.join(release.root, "build-%s" % NEW_BUILD))
    show("Installation with build %s in %s" % (OLD_BUILD, root.root), "\n".join(root.files()))
    publish(release, tree)
    try:
        release.start()
        show("nginx serves %s on 127.0.0.1:%d (logs in %s)" % (release.server_dir, release.port,
                                                                release.log_dir))
        update_cycle(root, release.proxy_url)
        machines = staged_and_halted(bin_dir, release, made)
    finally:
        release.stop()
    show("Requests for the package, from the statistics log " + release.stats_log)
    publish_tool("stats", release.stats_log)
    report = os.path.join(release.log_dir, "report.html")
    show("The report of the statistics log, to open in a browser")
    publish_tool("report", release.stats_log, "--out", report, "--tree", release.server_dir)
    return ("server tree:   %s\nserver logs:   %s (stats.log, access.log, error.log)\n"
            "report:        %s (open it in a browser)\n"
            "release key:   %s (the build folder's throw-away key)\ninstallations: %s\n"
            "  launcher Kivo9, agent Kivo9Data/UpgradeAgent, browser runs in "
            "Kivo9Data/Kivo9.exe.record\nserve it again: deploy/nginx/serve %s PORT %s"
            % (release.server_dir, release.log_dir, report, release.key,
            "\n  ".join([root.root] + [m.root for m in machines.values()]),
            release.server_dir, release.log_dir))


if __name__ == "__main__":
    main()
