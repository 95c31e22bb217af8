"""Scenarios of UpgradeAgent and of the whole update cycle, on a temporary installation.

Each test lays out an installation: the launcher Kivo9 at the root and, in Kivo9Data/, the
agent, its settings and language file, an extractor as Resource/UnPack.exe and the recording
browser as Kivo9.exe. A scripted loopback server plays the version, statistics and download
servers under their real host names; the agent reaches it through http_proxy.

The extractor is the real one (Resource/UnPack.exe of the same build, natively or under the
emulator); the scenarios that decide when the unpacked tree's marker appears use tree_extractor,
which lays out the package's prepared tree instead of reading the archive.

The package request carries this machine's hardware identifier, so the exact request paths
are learned once from a silent run that finds no package (test_silent_no_package).
"""

import configparser
import io
import os
import stat
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import zipfile

import kivo_scenario as ks

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "server"))
from kivo_http_server import ScriptedServer, closed_port  # noqa: E402

PRIMARY, FALLBACK = "version.kivo9.example", "version2.kivo9.example"
STATS, DOWNLOAD = "stats.kivo9.example", "download.kivo9.example"
INSTALLED, NEWER = "1203", "1204"
USED_TIMES = 7
OLD_BROWSER, NEW_BROWSER = b"\nbrowser 1203", b"\nbrowser 1204"
STATUS_404 = "Status Code of Download is 404"

USER_FILTER = """[UrlFilter]
url1=beta
url2=gamma
url3=Beta
[UrlUnFilter]
url1=safe.example
[PopFilter]
pop1=pop-mine
[PopUnFilter]
pop1=pop-allowed
"""
USER_FILTER_FLY = "[FlyFilter]\nurl1=epsilon\nurl2=*\n[FlyUnFilter]\nurl1=fly-mine\n"
PACKAGE_FILES = {
    "Resource/version.ini": "[Version]\nupdate=%s\ncombineFilter=1\n" % NEWER,
    "Resource/2Filter.ini": "[UrlFilter]\nurl1=alpha\nurl2=beta\nurl3=alpha\n"
                            "[PopFilter]\npop1=pop-new\npop2=pop-mine\n",
    "Resource/FilterFly.ini": "[FlyFilter]\nurl1=*\nurl2=delta\n",
    "Resource/2FilterFly.ini": "[FlyUnFilter]\nurl1=*\n",
    "Plugins/readme.txt": "build %s\n" % NEWER,
}
# The user's lists after the merge with the package's lists above.
MERGED_LISTS = {
    ("Filter.ini", "UrlFilter", "url"): ["alpha", "beta", "gamma", "Beta"],
    ("Filter.ini", "UrlUnFilter", "url"): ["safe.example"],
    ("Filter.ini", "PopFilter", "pop"): ["pop-new", "pop-mine"],
    ("Filter.ini", "PopUnFilter", "pop"): ["pop-allowed"],
    ("FilterFly.ini", "FlyFilter", "url"): ["delta", "epsilon", "*"],
    ("FilterFly.ini", "FlyUnFilter", "url"): ["*", "fly-mine"],
}

server = None


def setUpModule():
    global server
    server = ScriptedServer()
    server.start()


def tearDownModule():
    server.stop()


def version_page(version):
    return {"body": "<html><p>Kivo9Version:%s:Kivo9VersionEnd</p></html>\n" % version}


def version_route(console, host=PRIMARY):
    page = "testver.htm" if console else "ver.htm"
    return host + ("/kivover/" if host == PRIMARY else "/d/") + page


def lines(data):
    """Output bytes as lines, whatever line ends the platform's runtime wrote."""
    text = data.decode("utf-8", "replace").replace("\r\n", "\n")
    return text.split("\n")[:-1] if text.endswith("\n") or not text else text.split("\n")


def host_and_path(request):
    """(host, path with query) of a logged proxy request."""
    parts = urllib.parse.urlsplit(request["line"].split(" ")[1])
    return parts.hostname, parts.path + ("?" + parts.query if parts.query else "")


def unix_path(windows_path):
    """Where a path that a Windows program reported lies on this machine, or None."""
    if windows_path[:3].upper() == "Z:\\":
        return windows_path[2:].replace("\\", "/")
    if windows_path[:3].upper() == "C:\\":
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        return os.path.join(prefix, "drive_c", *windows_path[3:].split("\\"))
    return None


class AgentInstallation(ks.Installation):
    """Kivo9 at the root, Kivo9Data/ with the agent, build 1203, and a package of build 1204
    prepared in package/ (outside the installation proper)."""

    def __init__(self, tree_extractor):
        super().__init__(prefix="kivo-agent-")
        suffix = ks._config.suffix
        self.launcher = self.install_program("Kivo9", "Kivo9" + suffix)
        self.agent = self.install_program("UpgradeAgent", "Kivo9Data/UpgradeAgent" + suffix)
        self.tree_extractor = tree_extractor
        self.extractor = self.install_program(
            "tree_extractor" if self.tree_extractor else "extractor",
            "Kivo9Data/Resource/UnPack.exe")
        self.install_program("recorder", "Kivo9Data/Kivo9.exe", OLD_BROWSER)
        self.write("Kivo9Data/Resource/version.ini", "[Version]\nupdate=%s\n" % INSTALLED)
        language = os.path.join(ks._config.bin_dir, "Language", "English.ini")
        with open(language, "rb") as f:
            self.write("Kivo9Data/Language/English.ini", f.read())
        self.write("Kivo9Data/User/UserConfig.ini",
                   "[Settings]\nLngFile=English.ini\nUsedTimes=%d\n" % USED_TIMES)
        self.write("Kivo9Data/User/Filter.ini", USER_FILTER)
        self.write("Kivo9Data/User/FilterFly.ini", USER_FILTER_FLY)
        self.mkdir("tmp")
        for name, content in PACKAGE_FILES.items():
            self.write("package/" + name, content)
        self.install_program("recorder", "package/Kivo9.exe", NEW_BROWSER)
        self.install_program("recorder", "package/Kivo9PostUpgrade.exe")
        self.set_marker(after_ms=0)

    def set_marker(self, after_ms=0, never=False):
        """When tree_extractor writes the marker: after_ms after the download, or never."""
        settings = "source=%s\nmarker_after_ms=%d\n" % (ks.program_path(self.path("package")),
                                                        after_ms)
        self.write("Kivo9Data/Resource/UnPack.exe.tree", settings + ("no_marker=1\n" * never))

    def package_archive(self):
        """The package as a zip of package/, executables marked as such."""
        data = io.BytesIO()
        with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as archive:
            for name in self.files("package"):
                if name.endswith("/"):
                    continue
                info = zipfile.ZipInfo(name)
                executable = os.access(self.path("package/" + name), os.X_OK)
                info.external_attr = (0o755 if executable else 0o644) << 16
                archive.writestr(info, self.read("package/" + name))
        return data.getvalue()

    def messages(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.read(self.path("Kivo9Data/Language/English.ini"), encoding="utf-8")
        return parser["UpgradeExe"]

    def filter_lists(self):
        """The user's six lists as {(file, section, prefix): [entries]}."""
        lists = {}
        for file, section, prefix in MERGED_LISTS:
            parser = configparser.ConfigParser(interpolation=None, strict=False)
            parser.read(self.path("Kivo9Data/User/" + file), encoding="utf-8")
            values = parser[section] if parser.has_section(section) else {}
            entries = []
            while values.get("%s%d" % (prefix, len(entries) + 1)):
                entries.append(values["%s%d" % (prefix, len(entries) + 1)])
            lists[(file, section, prefix)] = entries
        return lists


class AgentScenarios(unittest.TestCase):
    learned = None  # the silent no-package run: (result, requests, files left)

    def setUp(self):
        self.inst = self.make_installation()

    def make_installation(self, tree_extractor=False):
        inst = AgentInstallation(tree_extractor)
        self.addCleanup(inst.cleanup)
        # Programs that the agent and the launcher start run on after them.
        for program in ("Kivo9Data/Resource/UnPack.exe", "Kivo9Data/update/Kivo9PostUpgrade.exe",
                        "Kivo9Data/Kivo9.exe"):
            self.addCleanup(ks.wait_until_gone, inst.path(program))
        return inst

    # ---- running the agent ----

    def environment(self, inst):
        # Wine's WinINet knows no no_proxy: every request goes through the proxy anyway.
        environment = {"http_proxy": server.proxy_url, "no_proxy": "", "NO_PROXY": ""}
        if not ks.is_windows():
            # The agent's archives land in the installation. (The emulator takes its
            # temporary directory from its own settings, and would move its server there.)
            environment["TMPDIR"] = inst.path("tmp")
        return environment

    def serve(self, routes):
        server.set_script({"routes": routes})
        self.requests_before = len(server.requests())

    def requests(self):
        return [host_and_path(r) for r in server.requests()[self.requests_before:]]

    def run_agent(self, *args, inst=None, env=None):
        inst = inst or self.inst
        result = ks.run(inst.agent, args, cwd=inst.path("tmp"),
                        env=dict(self.environment(inst), **(env or {})))
        self.assertEqual(result.returncode, 1, result.stderr)
        return result

    def expected(self, *numbers, version=None):
        """The lines that the messages print, message 1 filled with version."""
        texts = self.inst.messages()
        out = []
        for n in numbers:
            if n == 1:
                out.append(texts["1"] % version)
            elif texts[str(n)]:
                out += texts[str(n)].split("\\n")
        return out

    def assert_messages(self, result, *numbers, version=None, stderr=()):
        self.assertEqual(lines(result.stdout), self.expected(*numbers, version=version))
        self.assertEqual(lines(result.stderr), list(stderr))

    def assert_silent(self, result, stderr=()):
        self.assertEqual(result.stdout, b"")
        self.assertEqual(lines(result.stderr), list(stderr))

    def assert_nothing_unpacked(self, inst=None):
        inst = inst or self.inst
        self.assertFalse(inst.exists("Kivo9Data/update"))
        self.assertFalse(inst.exists("Kivo9Data/Resource/UnPack.exe.record"))

    # ---- the package requests of this machine ----

    def learn_package_requests(self):
        """Runs the agent silently with a newer build and no package anywhere, once."""
        if AgentScenarios.learned is None:
            inst = self.make_installation()
            self.serve({version_route(False): [version_page(NEWER)]})
            result = self.run_agent("silent", inst=inst)
            AgentScenarios.learned = (result, self.requests(), inst.files())
        return AgentScenarios.learned

    def package_paths(self):
        """[(statistics path, download path)] for the three package names in their order."""
        requests = self.learn_package_requests()[1][1:]
        return [(requests[i][1], requests[i + 1][1]) for i in range(0, len(requests), 2)]

    def serve_package(self, console, from_statistics=True):
        package = {"body_hex": self.inst.package_archive().hex()}
        stats_path, download_path = self.package_paths()[0]
        route = STATS + stats_path if from_statistics else DOWNLOAD + download_path
        routes = {version_route(console): [version_page(NEWER)], route: [package]}
        if console:
            # A person's check without keys asks the normal page too: the package it gets.
            routes[version_route(False)] = [version_page(NEWER)]
        self.serve(routes)
        return package

    # ---- what the agent left ----

    def post_upgrade_records(self, inst=None):
        inst = inst or self.inst
        return ks.read_records(inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe.record"))

    def await_post_upgrade(self):
        records = ks.wait_for(self.post_upgrade_records)
        self.assertEqual(len(records), 1, "the post-upgrade program was not started once")
        self.assertEqual(records[0]["args"], [])
        self.assertTrue(ks.wait_until_gone(self.inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe")))

    def extractor_record(self):
        record_file = self.inst.path("Kivo9Data/Resource/UnPack.exe.record")
        records = ks.wait_for(lambda: ks.read_records(record_file))
        self.assertEqual(len(records), 1, "the extractor was not started once")
        if ks.is_windows() and len(records[0]["args"]) == 5:
            # The agent never removes its archive and the empty name it was made from; under
            # the emulator they lie in the emulated system's temporary directory.
            archive = unix_path(records[0]["args"][3])
            for leftover in (archive, archive and archive[:-len(".rar")]):
                if leftover:
                    self.addCleanup(lambda p=leftover: os.path.exists(p) and os.remove(p))
        return records[0]

    def assert_extractor_started(self, package):
        record = self.extractor_record()
        self.assertEqual(record["result"], "ok")
        separator = "\\" if ks.is_windows() else "/"
        # The extractor writes beside update/; the whole tree is renamed once it has ended.
        update_dir = (ks.program_path(self.inst.path("Kivo9Data")) + separator + "update.partial" +
                      separator)
        self.assertEqual(len(record["args"]), 5, record["args"])
        self.assertEqual(record["args"][:3], ["x", "-o+", "-y"])
        self.assertTrue(record["args"][3].endswith(".tmp.rar"), record["args"][3])
        self.assertEqual(record["args"][4], update_dir)
        self.assertEqual(record["archive_size"], len(package["body_hex"]) // 2)
        if ks.is_windows():
            # The destination keeps its trailing backslash inside the quotes.
            self.assertEqual(ks.command_line_tail(record["cmdline"]),
                             'x -o+ -y "%s" "%s"' % (record["args"][3], update_dir))

    # ---- the four outcomes, console and silent ----

    def test_console_up_to_date_with_stdin_left_open(self):
        self.serve({version_route(True): [version_page(INSTALLED)]})
        # Standard input is a pipe that stays open: not a console, so no key is awaited.
        command = ([ks._config.emulator] if ks._config.emulator else []) + [self.inst.agent]
        environment = dict(os.environ, **ks.WINE_ENVIRONMENT, **self.environment(self.inst))
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=out, stderr=err,
                                       cwd=self.inst.path("tmp"), env=environment)
            try:
                returncode = process.wait(timeout=120)
            finally:
                process.stdin.close()
                if process.poll() is None:
                    process.kill()
            out.seek(0)
            err.seek(0)
            result = ks.Result(returncode, out.read(), err.read())
        self.assertEqual(result.returncode, 1)
        self.assert_messages(result, 2, 3, 1, 7, version=INSTALLED)
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/testver.htm")])
        self.assert_nothing_unpacked()

    def test_console_waits_for_a_key_on_a_terminal(self):
        if ks.is_windows():
            self.skipTest("a terminal as standard input is a Linux matter")
        self.serve({version_route(True): [version_page(INSTALLED)]})
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        out_path = self.inst.path("tmp/out.txt")
        with open(out_path, "wb") as out:
            process = subprocess.Popen([self.inst.agent], stdin=slave, stdout=out,
                                       stderr=subprocess.DEVNULL, cwd=self.inst.path("tmp"),
                                       env=dict(os.environ, **self.environment(self.inst)))
        os.close(slave)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        goodbye = self.expected(7)[-1].encode()
        self.assertTrue(ks.wait_for(lambda: goodbye in self.inst.read("tmp/out.txt")))
        time.sleep(0.3)
        self.assertIsNone(process.poll(), "the agent did not wait for a key")
        os.write(master, b"\n")
        self.assertEqual(process.wait(timeout=60), 1)

    def test_silent_up_to_date_from_the_fallback_server(self):
        # The primary page holds no version; the fallback's is older than the installed one.
        self.inst.write("Kivo9Data/Resource/version.ini", "[Version]\nupdate=%s\n" % NEWER)
        self.serve({version_route(False): [{"body": "<html>no version today</html>"}],
                    version_route(False, FALLBACK): [version_page(INSTALLED)]})
        self.assert_silent(self.run_agent("silent"))
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/ver.htm"), (FALLBACK, "/d/ver.htm")])
        self.assert_nothing_unpacked()

    def test_console_without_keys_never_fetches_the_normal_release_it_has(self):
        # The test page names a newer build, but the package of an agent without keys is
        # the normal release's: only a newer normal page makes it fetch. A normal page that
        # says nothing changes nothing.
        cases = [("the normal release is installed", [version_page(INSTALLED)], False),
                 ("no normal page", [], True)]
        for name, normal_page, fetches in cases:
            with self.subTest(name):
                routes = {version_route(True): [version_page(NEWER)]}
                if normal_page:
                    routes[version_route(False)] = normal_page
                self.serve(routes)
                result = self.run_agent()
                pages = [r for r in self.requests() if r[0] in (PRIMARY, FALLBACK)]
                self.assertEqual(pages[:2], [(PRIMARY, "/kivover/testver.htm"),
                                             (PRIMARY, "/kivover/ver.htm")])
                self.assertEqual(any(host == STATS for host, _ in self.requests()), fetches)
                if not fetches:
                    self.assert_messages(result, 2, 3, 1, 7, version=INSTALLED)
                self.assert_nothing_unpacked()

    def test_console_check_failed(self):
        # Nobody listens where the proxy should be: neither version page can be fetched.
        result = self.run_agent(env={"http_proxy": "http://127.0.0.1:%d/" % closed_port()})
        out = lines(result.stdout)
        # The download client reports each failed fetch on standard output, as a number and
        # the system's text for it, between the banner and message 4.
        self.assertEqual(out[:2], self.expected(2, 3))
        self.assertEqual(out[-2:], self.expected(4, 7))
        codes = [line for line in out if line.startswith("Error Code: ")]
        self.assertEqual(len(codes), 2, out)
        self.assertRegex(codes[0], r"^Error Code: [1-9]\d*$")
        self.assertEqual(codes[0], codes[1])
        self.assertEqual(lines(result.stderr), [])
        self.assert_nothing_unpacked()

    def test_silent_check_failed(self):
        self.serve({version_route(False, FALLBACK): [{"body": "Kivo9Version: \n:Kivo9VersionEnd"}]})
        self.assert_silent(self.run_agent(""), stderr=[STATUS_404])
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/ver.htm"), (FALLBACK, "/d/ver.htm")])
        self.assert_nothing_unpacked()

    def test_silent_no_package(self):
        result, requests, files = self.learn_package_requests()
        self.assertEqual(result.returncode, 1)
        self.assert_silent(result, stderr=[STATUS_404] * 6)
        self.assertEqual(requests[0], (PRIMARY, "/kivover/ver.htm"))
        self.assertEqual([host for host, _ in requests[1:]], [STATS, DOWNLOAD] * 3)
        # Language and country, language, generic: each name asked of both servers.
        names = [re.fullmatch(r"/d/u(.*)\.jpg", download).group(1)
                 for _, download in self.package_paths()]
        self.assertEqual(names[2], "")
        self.assertTrue(names[0].startswith(names[1]) and len(names[0]) > len(names[1]), names)
        hardware_ids = set()
        for name, (stats, _) in zip(names, self.package_paths()):
            match = re.fullmatch(r"/tg/kivopatch/%s\?hardid=([0-9A-F]{12}|)&times=%d" %
                                 (re.escape(name + "/" if name else ""), USED_TIMES), stats)
            self.assertIsNotNone(match, stats)
            hardware_ids.add(match.group(1))
        self.assertEqual(len(hardware_ids), 1)
        self.assertNotIn("Kivo9Data/update/", files)
        if not ks.is_windows():
            # The package folder made for the download is gone with what it held.
            self.assertEqual([f for f in files if f.startswith("tmp/") and f != "tmp/"], [])

    def test_console_no_package_partner_gate_ignored(self):
        self.inst.write("Kivo9Data/Resource/Partner.ini", "[Settings]\nIsZezaZa=1\n")
        paths = self.package_paths()
        self.serve({version_route(True): [version_page(NEWER)],
                    version_route(False): [version_page(NEWER)]})
        result = self.run_agent()
        self.assert_messages(result, 2, 3, 8, 4, 7, stderr=[STATUS_404] * 6)
        expected = [(PRIMARY, "/kivover/testver.htm"), (PRIMARY, "/kivover/ver.htm")]
        for stats, download in paths:
            expected += [(STATS, stats), (DOWNLOAD, download)]
        self.assertEqual(self.requests(), expected)
        self.assert_nothing_unpacked()

    def test_silent_partner_gate_closed(self):
        self.inst.write("Kivo9Data/Resource/Partner.ini", "[Settings]\nIsZezaZa=-1\n")
        self.serve_package(console=False)
        self.assert_silent(self.run_agent("silent"))
        # The version page is asked for all the same; nothing else happens.
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/ver.htm")])
        self.assert_nothing_unpacked()
        self.assertEqual(self.inst.files("tmp"), [])

    def test_silent_package_downloaded_is_not_merged(self):
        package = self.serve_package(console=False, from_statistics=False)
        self.assert_silent(self.run_agent("silent"), stderr=[STATUS_404])
        stats, download = self.package_paths()[0]
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/ver.htm"), (STATS, stats),
                                           (DOWNLOAD, download)])
        self.await_post_upgrade()
        self.assertEqual(self.inst.read("Kivo9Data/update/Resource/version.ini"),
                         PACKAGE_FILES["Resource/version.ini"].encode())
        self.assertEqual(self.inst.read("Kivo9Data/User/Filter.ini"), USER_FILTER.encode())
        self.assertEqual(self.inst.read("Kivo9Data/User/FilterFly.ini"), USER_FILTER_FLY.encode())
        if self.inst.tree_extractor:
            self.assert_extractor_started(package)

    # ---- when the unpacked tree arrives ----

    def test_marker_after_the_second_test_is_merged_and_started(self):
        self.inst = self.make_installation(tree_extractor=True)
        # Written 2.5 s after the download: between the wait's second and third test (to
        # within half a second under the emulator, whose file times count whole seconds).
        self.inst.set_marker(after_ms=2500)
        package = self.serve_package(console=True)
        result = self.run_agent()
        self.assert_messages(result, 2, 3, 8, 6, 5, 7)
        self.assert_extractor_started(package)
        self.assertEqual(self.inst.filter_lists(), MERGED_LISTS)
        self.await_post_upgrade()

    def test_marker_that_never_appears(self):
        self.inst = self.make_installation(tree_extractor=True)
        self.inst.set_marker(never=True)
        package = self.serve_package(console=True)
        result = self.run_agent()
        self.assert_messages(result, 2, 3, 8, 6, 4, 7)
        self.assert_extractor_started(package)
        # The rest of the tree was there, the post-upgrade program too, but a tree without
        # the marker is no unpacked package: it is dropped, nothing is merged or started.
        self.assertFalse(self.inst.exists("Kivo9Data/update"))
        self.assertFalse(self.inst.exists("Kivo9Data/update.partial"))
        self.assertEqual(self.post_upgrade_records(), [])
        self.assertEqual(self.inst.read("Kivo9Data/User/Filter.ini"), USER_FILTER.encode())
        self.assertEqual(self.inst.read("Kivo9Data/User/FilterFly.ini"), USER_FILTER_FLY.encode())

    # ---- the hand-over of the unpacked tree ----

    def assert_not_handed_over(self):
        self.assertFalse(self.inst.exists("Kivo9Data/update"))
        self.assertFalse(self.inst.exists("Kivo9Data/update.partial"))
        self.assertEqual(self.post_upgrade_records(), [])
        self.assertEqual(self.inst.read("Kivo9Data/User/Filter.ini"), USER_FILTER.encode())

    def test_a_tree_that_does_not_match_its_list_is_not_handed_over(self):
        self.inst = self.make_installation(tree_extractor=True)
        ks.write_file_list(self.inst.path("package"))
        self.inst.write("package/Plugins/readme.txt", "changed after listing")
        self.serve_package(console=True)
        self.assert_messages(self.run_agent(), 2, 3, 8, 6, 4, 7)
        self.assert_not_handed_over()

    def test_a_tree_that_is_no_package_leaves_a_pending_update_as_it_was(self):
        # An extractor that unpacked nothing, a tree without the marker, one that names the
        # user's folder: each is dropped, and the update already pending stays byte for byte.
        def pending_update(inst):
            return {name: inst.read("Kivo9Data/update/" + name) if not name.endswith("/")
                    else None for name in inst.files("Kivo9Data/update")}

        for case in ("nothing unpacked", "no marker", "the user's folder"):
            with self.subTest(case):
                self.inst = self.make_installation(tree_extractor=True)
                self.inst.write("Kivo9Data/update/Kivo9.exe", b"pending browser")
                self.inst.write("Kivo9Data/update/Resource/version.ini", "[Version]\nupdate=1204\n")
                before = pending_update(self.inst)
                if case == "nothing unpacked":
                    shutil.rmtree(self.inst.path("package"))
                    self.inst.mkdir("package")
                if case == "the user's folder":
                    self.inst.write("package/User/UserConfig.ini", "[Settings]\nUsedTimes=0\n")
                else:
                    self.inst.set_marker(never=True)
                self.serve_package(console=True)
                self.assert_messages(self.run_agent(), 2, 3, 8, 6, 4, 7)
                self.assertEqual(pending_update(self.inst), before)
                self.assertFalse(self.inst.exists("Kivo9Data/update.partial"))
                self.assertEqual(self.post_upgrade_records(), [])

    def test_a_launcher_started_while_the_extractor_writes_installs_nothing(self):
        self.inst = self.make_installation(tree_extractor=True)
        ks.write_file_list(self.inst.path("package"))
        self.inst.set_marker(after_ms=2500)  # the rest of the tree is there long before
        package = self.serve_package(console=True)
        command = ([ks._config.emulator] if ks._config.emulator else []) + [self.inst.agent]
        env = dict(os.environ, **self.environment(self.inst), **ks.WINE_ENVIRONMENT)
        agent = subprocess.Popen(command, cwd=self.inst.path("tmp"), env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.addCleanup(agent.wait)
        self.assertTrue(ks.wait_for(lambda: self.inst.exists(
            "Kivo9Data/update.partial/Plugins/readme.txt")))
        self.assertEqual(ks.run(self.inst.launcher, [], cwd=self.inst.path("tmp")).returncode, 0)
        self.assertTrue(ks.wait_until_gone(self.inst.path("Kivo9Data/Kivo9.exe")))
        self.assertTrue(self.inst.read("Kivo9Data/Kivo9.exe").endswith(OLD_BROWSER))
        self.assertFalse(self.inst.exists("Kivo9Data/Plugins/readme.txt"))
        agent.wait(timeout=120)
        self.assert_extractor_started(package)
        self.await_post_upgrade()
        self.assertEqual(self.inst.files("Kivo9Data/update"),
                         sorted(self.inst.files("package") + ["Kivo9PostUpgrade.exe.record"]))

    def test_a_kill_during_the_hand_over_leaves_no_half_tree(self):
        shim = os.path.join(ks._config.bin_dir, "libkill_shim.so")
        if ks.is_windows() or not os.path.exists(shim):
            self.skipTest("needs the preloaded kill library (Linux build)")
        ks.write_file_list(self.inst.path("package"))
        self.inst.write("Kivo9Data/update.partial/stale.txt", "left by an earlier run")
        stale = self.inst.path("Kivo9Data/update.partial")
        count_file = self.inst.path("calls")
        self.serve_package(console=False)
        # A sanitizer build wants its runtime first; the preloaded library comes before it.
        preload = {"LD_PRELOAD": shim, "ASAN_OPTIONS": "verify_asan_link_order=0:" +
                   os.environ.get("ASAN_OPTIONS", "")}
        self.run_agent("silent", env=dict(preload, KIVO_COUNT_FILE=count_file))
        self.await_post_upgrade()
        self.assertFalse(os.path.exists(stale))
        with open(count_file) as f:
            operations = int(f.read())
        package = self.inst.files("package")
        outcomes = {}
        for n in range(1, operations + 1):
            shutil.rmtree(self.inst.path("Kivo9Data/update"), ignore_errors=True)
            self.inst.write("Kivo9Data/update.partial/stale.txt", "left by an earlier run")
            self.serve_package(console=False)
            result = ks.run(self.inst.agent, ["silent"], cwd=self.inst.path("tmp"),
                            env=dict(self.environment(self.inst), **preload,
                                     KIVO_KILL_AFTER=str(n)))
            self.assertTrue(ks.wait_until_gone(self.inst.extractor))
            self.assertTrue(ks.wait_until_gone(self.inst.path(
                "Kivo9Data/update/Kivo9PostUpgrade.exe")))
            left = self.inst.files("Kivo9Data/update")
            left = [name for name in left if name != "Kivo9PostUpgrade.exe.record"]
            outcome = "whole tree" if left == package else "no tree" if not left else "half"
            self.assertIn(outcome, ("whole tree", "no tree"), "kill point %d: %s" % (n, left))
            key = ("killed, " if result.returncode == -9 else "not killed, ") + outcome
            outcomes[key] = outcomes.get(key, 0) + 1
        sys.stderr.write("\n%d hand-over kill points: %s\n" % (operations, outcomes))

    def test_a_kill_at_sampled_moments_of_the_hand_over_leaves_no_half_tree(self):
        """Where no library can be preloaded (the Windows programs under the emulator), the
        agent is killed at moments spread over a silent run with the real extractor."""
        if not ks.is_windows():
            self.skipTest("natively every file operation is covered by the preloaded kill")
        ks.write_file_list(self.inst.path("package"))
        package = self.inst.files("package")
        command = [ks._config.emulator, self.inst.agent, "silent"]
        env = dict(os.environ, **self.environment(self.inst), **ks.WINE_ENVIRONMENT)
        hung = []  # the kill moments after which the extractor hung under the emulator

        def run_until(delay):
            shutil.rmtree(self.inst.path("Kivo9Data/update"), ignore_errors=True)
            self.serve_package(console=False)
            begin = time.monotonic()
            agent = subprocess.Popen(command, cwd=self.inst.path("tmp"), env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            try:
                agent.wait(timeout=delay)
            except subprocess.TimeoutExpired:
                agent.kill()
                agent.wait()
            # The emulator can leave a child whose parent was killed while starting it
            # waiting for the emulator's server for good: it is stopped here, and what it
            # left must still be a whole tree or none.
            if not ks.wait_until_gone(self.inst.extractor):
                for pid in ks.running(self.inst.extractor):
                    os.kill(pid, signal.SIGKILL)
                hung.append(delay)
            self.assertTrue(ks.wait_until_gone(self.inst.extractor))
            self.assertTrue(ks.wait_until_gone(self.inst.path(
                "Kivo9Data/update/Kivo9PostUpgrade.exe")))
            left = [n for n in self.inst.files("Kivo9Data/update")
                    if n != "Kivo9PostUpgrade.exe.record"]
            return time.monotonic() - begin, ("whole tree" if left == package else
                                              "no tree" if not left else "half: %s" % left)

        whole, outcome = run_until(120)
        self.assertEqual(outcome, "whole tree")
        samples = 6
        outcomes = {}
        for k in range(1, samples + 1):
            _, outcome = run_until(whole * k / (samples + 1))
            self.assertIn(outcome, ("whole tree", "no tree"), "sample %d" % k)
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
        sys.stderr.write("\n%d sampled hand-over kills: %s; extractor hung after %d\n"
                         % (samples, outcomes, len(hung)))

    def test_an_agent_killed_while_the_extractor_writes_leaves_no_update(self):
        self.inst = self.make_installation(tree_extractor=True)
        self.inst.set_marker(after_ms=2000)
        self.serve_package(console=True)
        command = ([ks._config.emulator] if ks._config.emulator else []) + [self.inst.agent]
        env = dict(os.environ, **self.environment(self.inst), **ks.WINE_ENVIRONMENT)
        agent = subprocess.Popen(command, cwd=self.inst.path("tmp"), env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.assertTrue(ks.wait_for(lambda: self.inst.exists(
            "Kivo9Data/update.partial/Plugins/readme.txt")))
        agent.kill()
        agent.wait()
        self.assertTrue(ks.wait_until_gone(self.inst.extractor))
        # The staging directory stays for the next run to remove; nothing else appears.
        self.assertTrue(self.inst.exists("Kivo9Data/update.partial/Resource/version.ini"))
        self.assertFalse(self.inst.exists("Kivo9Data/update"))
        self.assertEqual(self.post_upgrade_records(), [])

    def test_merge_of_a_list_that_becomes_shorter(self):
        # Stray lines make the user's first list shorter after the merge, and the next list
        # holds a line without "=": the merge goes on to the end and the program starts.
        user = USER_FILTER.replace("url3=Beta\n", "url3=Beta\n; old\nurl7=stray\nurl8=stray\n")
        user = user.replace("url1=safe.example\n", "url1=safe.example\nstray line\n")
        self.inst.write("Kivo9Data/User/Filter.ini", user)
        self.serve_package(console=True)
        self.assert_messages(self.run_agent(), 2, 3, 8, 6, 5, 7)
        self.await_post_upgrade()
        self.assertEqual(self.inst.filter_lists(), MERGED_LISTS)

    def test_named_pipes_in_place_of_the_language_file_and_a_filter_file(self):
        if ks.is_windows():
            self.skipTest("named pipes in a folder are a Linux matter")
        for name in ("Kivo9Data/Language/English.ini", "Kivo9Data/User/Filter.ini"):
            os.remove(self.inst.path(name))
            os.mkfifo(self.inst.path(name))
        self.serve_package(console=True)
        # No writer ever opens the pipes: the messages are their numbers, the merge leaves
        # the pipe and merges the other file, and the run ends.
        result = self.run_agent()
        self.assertEqual(lines(result.stdout), ["2", "3", "8", "6", "5", "7"])
        self.await_post_upgrade()
        pipe = os.stat(self.inst.path("Kivo9Data/User/Filter.ini"))
        self.assertTrue(stat.S_ISFIFO(pipe.st_mode))
        merged = configparser.ConfigParser(interpolation=None)
        merged.read(self.inst.path("Kivo9Data/User/FilterFly.ini"), encoding="utf-8")
        self.assertEqual(dict(merged["FlyFilter"]),
                         {"url1": "delta", "url2": "epsilon", "url3": "*"})

    # ---- the whole cycle ----

    def test_full_cycle(self):
        package = self.serve_package(console=True)
        result = self.run_agent()
        self.assert_messages(result, 2, 3, 8, 6, 5, 7)
        stats, _ = self.package_paths()[0]
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/testver.htm"),
                                           (PRIMARY, "/kivover/ver.htm"), (STATS, stats)])
        if self.inst.tree_extractor:
            self.assert_extractor_started(package)
        # The package lay in a folder of its own, gone once the extractor had ended.
        self.assertEqual(self.inst.files("tmp"), [])
        self.await_post_upgrade()
        self.assertEqual(self.inst.filter_lists(), MERGED_LISTS)
        os.remove(self.inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe.record"))

        # The launcher installs the tree and starts the new browser.
        self.assertEqual(ks.run(self.inst.launcher, ["https://example.org/"],
                                cwd=self.inst.path("tmp")).returncode, 0)
        browser = ks.wait_for(lambda: ks.read_records(self.inst.path("Kivo9Data/Kivo9.exe.record")))
        self.assertEqual([r["args"] for r in browser], [["https://example.org/"]])
        self.assertTrue(ks.wait_until_gone(self.inst.path("Kivo9Data/Kivo9.exe")))
        self.assertTrue(self.inst.read("Kivo9Data/Kivo9.exe").endswith(NEW_BROWSER))
        self.assertFalse(self.inst.exists("Kivo9Data/update"))
        self.assertFalse(self.inst.exists("Kivo9Data/Kivo9PostUpgrade.exe"))
        for name, content in PACKAGE_FILES.items():
            self.assertEqual(self.inst.read("Kivo9Data/" + name), content.encode(), name)

        # The next run finds the installed build current.
        self.serve({version_route(True): [version_page(NEWER)]})
        self.assert_messages(self.run_agent(), 2, 3, 1, 7, version=NEWER)
        self.assertEqual(self.requests(), [(PRIMARY, "/kivover/testver.htm")])


if __name__ == "__main__":
    ks.main()
