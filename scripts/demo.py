#!/usr/bin/env python3
"""One whole update cycle on a temporary installation, against a local server.

The installation holds build 1203. The local server plays the vendor's version, statistics
and download servers (reached through http_proxy, so the agent uses its real host names) and
serves build 1204 as a zip package. The agent runs in console mode: it finds the newer
build, downloads and unpacks the package, merges the user's filter lists and starts the
package's post-upgrade program. Then the launcher installs the unpacked tree and starts the
browser, and a second agent run finds the build current.

    python3 scripts/demo.py BIN_DIR
"""

import io
import os
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests"), os.path.join(HERE, "..", "tests", "server")]

import kivo_scenario  # noqa: E402
from kivo_http_server import ScriptedServer  # noqa: E402

OLD_BUILD, NEW_BUILD = "1203", "1204"


def version_ini(build, combine=False):
    text = "[Version]\nupdate=%s\n" % build
    return text + ("combineFilter=1\n" if combine else "")


def make_package(bin_dir):
    """The update package: build 1204's tree, rooted like Kivo9Data/."""
    recorder = open(os.path.join(bin_dir, "recorder"), "rb").read()
    files = {
        "Resource/version.ini": version_ini(NEW_BUILD, combine=True),
        "Resource/2Filter.ini": "[UrlFilter]\nurl1=ads.example.com\nurl2=tracker.example.net\n",
        "Resource/FilterFly.ini": "[FlyFilter]\nurl1=*\nurl2=popups.example.org\n",
        "Kivo9.exe": recorder + b"build " + NEW_BUILD.encode(),
        "Kivo9PostUpgrade.exe": recorder,
    }
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as package:
        for name, content in files.items():
            info = zipfile.ZipInfo(name)
            info.external_attr = 0o755 << 16
            package.writestr(info, content)
    return data.getvalue()


def make_installation(bin_dir):
    kivo_scenario._config.bin_dir = bin_dir
    root = kivo_scenario.Installation(prefix="kivo9-demo-")
    root.install_program("Kivo9", "Kivo9")
    root.install_program("UpgradeAgent", "Kivo9Data/UpgradeAgent")
    root.install_program("extractor", "Kivo9Data/Resource/UnPack.exe")
    root.install_program("recorder", "Kivo9Data/Kivo9.exe")
    root.write("Kivo9Data/Resource/version.ini", version_ini(OLD_BUILD))
    root.write("Kivo9Data/Language/English.ini",
               open(os.path.join(bin_dir, "Language", "English.ini"), "rb").read())
    root.write("Kivo9Data/User/UserConfig.ini", "[Settings]\nLngFile=English.ini\nUsedTimes=7\n")
    root.write("Kivo9Data/User/Filter.ini",
               "[UrlFilter]\nurl1=tracker.example.net\nurl2=my-own-block.example\n")
    root.write("Kivo9Data/User/FilterFly.ini", "[FlyFilter]\nurl1=mine.example\n")
    return root


def show(title, text=""):
    print("\n== " + title, flush=True)
    if text:
        print(text.rstrip("\n"), flush=True)


def run_agent(root, proxy):
    env = {"http_proxy": proxy, "no_proxy": "", "LANG": "en_US.UTF-8", "LC_ALL": "",
           "LC_MESSAGES": ""}
    result = kivo_scenario.run(root.path("Kivo9Data/UpgradeAgent"), env=env, stdin=b"\n")
    sys.stdout.write(result.stdout.decode("utf-8", "replace"))
    sys.stdout.write(result.stderr.decode("utf-8", "replace"))
    print("(exit code %d)" % result.returncode, flush=True)


def main():
    bin_dir = os.path.realpath(sys.argv[1])
    package = make_package(bin_dir)
    root = make_installation(bin_dir)
    routes = {
        "version.kivo9.example/kivover/testver.htm":
            [{"body": "<html>Kivo9Version:%s:Kivo9VersionEnd</html>" % NEW_BUILD}],
        # The statistics server answers the package request (its query carries this
        # machine's hardware identifier and the use counter) with the package itself.
        "stats.kivo9.example/tg/kivopatch/enus/?hardid=*": [{"body_hex": package.hex()}],
    }
    with ScriptedServer({"routes": routes}) as server:
        show("Installation with build %s in %s" % (OLD_BUILD, root.root),
             "\n".join(root.files()))
        show("UpgradeAgent (console mode)")
        run_agent(root, server.proxy_url)
        kivo_scenario.wait_for(
            lambda: root.exists("Kivo9Data/update/Kivo9PostUpgrade.exe.record"))
        show("Requests the server received",
             "\n".join(r["line"] for r in server.requests()))
        show("Unpacked, waiting for the launcher: Kivo9Data/update/",
             "\n".join(root.files("Kivo9Data/update")))
        show("Merged user filter list Kivo9Data/User/Filter.ini",
             root.read("Kivo9Data/User/Filter.ini").decode("utf-8"))

        show("Kivo9 (the launcher) with the command line: https://example.org/")
        kivo_scenario.run(root.path("Kivo9"), ["https://example.org/"])
        record = root.path("Kivo9Data/Kivo9.exe.record")
        kivo_scenario.wait_for(lambda: kivo_scenario.read_records(record))
        for start in kivo_scenario.read_records(record):
            print("browser started in %s with arguments %s" % (start["cwd"], start["args"]))
        show("Installed Kivo9Data/Resource/version.ini",
             root.read("Kivo9Data/Resource/version.ini").decode("utf-8"))
        print("update/ still there: %s" % root.exists("Kivo9Data/update"))

        show("UpgradeAgent again (console mode)")
        run_agent(root, server.proxy_url)
    show("Everything is in " + root.root,
         "launcher:     Kivo9\nagent:        Kivo9Data/UpgradeAgent\n"
         "browser runs: Kivo9Data/Kivo9.exe.record\n"
         "post-upgrade: Kivo9Data/Kivo9PostUpgrade.exe.record (written in update/, installed "
         "with the tree)")


if __name__ == "__main__":
    main()
