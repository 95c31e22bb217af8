"""The whole cycle on the reference server: build 1204 published with the publish tool and
served by nginx. Until it is promoted the agent (without keys) gets not a byte of it, in
either mode; once promoted, the agent (console mode) downloads and unpacks it, the launcher
installs it, the agent then reports it current, and a silent run reads the normal page. The
statistics log holds the package requests, and `stats` counts them.

The package is unpacked by the installation's own extractor, UnPack.exe of the same build:
natively, or the Windows build under the emulator, reading the very archive the tool wrote.
"""

import hashlib
import os
import re
import unittest

import kivo_scenario as ks
import release_fixture as rf
from agent_scenarios import NEW_BROWSER, NEWER, PACKAGE_FILES, USED_TIMES, AgentInstallation
from agent_scenarios import lines, unix_path

# The agent's first package name under this locale is enus; en and the generic follow.
LOCALE = {"LANG": "en_US.UTF-8", "LC_ALL": "", "LC_MESSAGES": ""}
PACKAGE_NAMES = ("enus", "en", "-")


class ReleaseCycle(unittest.TestCase):
    def setUp(self):
        self.inst = AgentInstallation(tree_extractor=False)
        self.addCleanup(self.inst.cleanup)
        for program in ("Kivo9Data/Resource/UnPack.exe", "Kivo9Data/update/Kivo9PostUpgrade.exe",
                        "Kivo9Data/Kivo9.exe"):
            self.addCleanup(ks.wait_until_gone, self.inst.path(program))
        self.release = rf.ReleaseServer()
        self.addCleanup(self.release.cleanup)

    def run_agent(self, *args, errors=()):
        env = dict(LOCALE, http_proxy=self.release.proxy_url, no_proxy="", NO_PROXY="")
        if not ks.is_windows():
            env["TMPDIR"] = self.inst.path("tmp")
        result = ks.run(self.inst.agent, args, cwd=self.inst.path("tmp"), env=env)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(lines(result.stderr), list(errors))
        return lines(result.stdout)

    def expected(self, *numbers, version=None):
        texts = self.inst.messages()
        out = []
        for n in numbers:
            text = texts[str(n)] % version if n == 1 else texts[str(n)]
            out += text.split("\\n") if text else []
        return out

    def requested_pages(self):
        with open(self.release.access_log, encoding="utf-8") as f:
            return re.findall(r'"GET http://[^/]+(/\S*ver\.htm) ', f.read())

    def test_release_install_promote(self):
        trees = {name: self.inst.path("package") for name in PACKAGE_NAMES}
        self.release.publish(NEWER, trees, combine_filter=True)
        self.release.start()
        # The test page says 1204, but the package names serve the normal release: none yet.
        # The agent asks the normal page whether its package would be newer; without one
        # (2 of the 404s) it tries the package names as before.
        self.assertEqual(self.run_agent(errors=["Status Code of Download is 404"] * 8),
                         self.expected(2, 3, 8, 4, 7))
        self.assertEqual(self.run_agent("silent", errors=["Status Code of Download is 404"] * 2),
                         [])  # no normal page yet
        self.assertFalse(self.inst.exists("Kivo9Data/update"))

        self.release.tool("promote")
        self.assertEqual(self.run_agent(), self.expected(2, 3, 8, 6, 5, 7))
        records = ks.wait_for(lambda: ks.read_records(
            self.inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe.record")))
        self.assertEqual(len(records), 1, "the post-upgrade program was not started once")
        self.assertTrue(ks.wait_until_gone(self.inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe")))
        self.assert_published_package_arrived()
        os.remove(self.inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe.record"))

        self.assertEqual(ks.run(self.inst.launcher, cwd=self.inst.path("tmp")).returncode, 0)
        self.assertTrue(ks.wait_for(lambda: ks.read_records(
            self.inst.path("Kivo9Data/Kivo9.exe.record"))))
        self.assertTrue(ks.wait_until_gone(self.inst.path("Kivo9Data/Kivo9.exe")))
        self.assertTrue(self.inst.read("Kivo9Data/Kivo9.exe").endswith(NEW_BROWSER))
        self.assertRegex(self.inst.read("Kivo9Data/Resource/version.ini").decode(),
                         r"^\[Version\]\nupdate=%s\ncombineFilter=1\n" % NEWER)
        self.assertEqual(self.run_agent(), self.expected(2, 3, 1, 7, version=NEWER))

        self.assertEqual(self.run_agent("silent"), [])
        self.assertEqual(self.requested_pages(),
                         ["/kivover/testver.htm", "/kivover/ver.htm", "/d/ver.htm",  # no normal page
                          "/kivover/ver.htm", "/d/ver.htm",  # silent: still none
                          "/kivover/testver.htm", "/kivover/ver.htm",  # promoted: fetched
                          "/kivover/testver.htm",  # installed: current by the test page
                          "/kivover/ver.htm"])
        self.assert_statistics_logged()

    def assert_published_package_arrived(self):
        with open(os.path.join(self.release.server_dir, "d", "uenus.jpg"), "rb") as f:
            published = f.read()
        if self.inst.tree_extractor:
            record = ks.wait_for(lambda: ks.read_records(
                self.inst.path("Kivo9Data/Resource/UnPack.exe.record")))[0]
            archive = unix_path(record["args"][3])
            self.addCleanup(lambda: [os.remove(p) for p in (archive, archive[:-4])
                                     if os.path.exists(p)])
            with open(archive, "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).digest(),
                                 hashlib.sha256(published).digest())
        else:
            # The extractor unpacked the published archive: its file list came with it.
            with open(os.path.join(self.release.server_dir, "meta", NEWER, "enus.files.lst"),
                      "rb") as f:
                self.assertEqual(self.inst.read("Kivo9Data/update/Resource/files.lst"), f.read())
        for name, content in PACKAGE_FILES.items():
            if name != "Resource/version.ini":
                self.assertEqual(self.inst.read("Kivo9Data/update/" + name), content.encode(), name)

    def assert_statistics_logged(self):
        records = self.release.stats_records()
        self.assertEqual([(r["name"], r["status"], r["times"]) for r in records],
                         [("enus", 404, str(USED_TIMES)), ("en", 404, str(USED_TIMES)),
                          ("", 404, str(USED_TIMES)), ("enus", 200, str(USED_TIMES))])
        self.assertRegex(records[-1]["hardid"], r"^([0-9A-F]{12}|)$")
        day = records[-1]["time"][:10]
        table = rf.run_tool("stats", self.release.stats_log).stdout.splitlines()
        self.assertIn([day, "enus", "2", "1", "%d/%d" % ((USED_TIMES,) * 2)],
                      [line.split() for line in table])
        later = rf.run_tool("stats", self.release.stats_log, "--since", "2999-01-01").stdout
        self.assertEqual(len(later.splitlines()), 1)  # the header alone


if __name__ == "__main__":
    ks.main()
