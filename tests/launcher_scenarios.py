"""Scenarios of the launcher Kivo9: a temporary installation with the recording program as
the browser, with and without a pending update in Kivo9Data/update."""

import os
import unittest

import kivo_scenario as ks

OLD_BROWSER = b"\nold browser"
NEW_BROWSER = b"\nnew browser"
PAGE = "C:\\my files\\page one.htm"  # needs quotes on the command line


class LauncherScenarios(unittest.TestCase):
    def setUp(self):
        self.inst = ks.Installation()
        self.addCleanup(self.inst.cleanup)
        self.launcher = self.inst.install_program("Kivo9", "Kivo9" + ks._config.suffix)
        self.inst.install_program("recorder", "Kivo9Data/Kivo9.exe", OLD_BROWSER)
        self.records_seen = 0

    # ---- helpers ----

    def start(self, *args):
        """Runs the launcher to its end and returns the browser's record of this start."""
        result = ks.run(self.launcher, args, cwd=self.inst.root)
        self.assertEqual(result.returncode, 0, result.stderr)
        record_file = self.inst.path("Kivo9Data/Kivo9.exe.record")
        expected = self.records_seen + 1
        records = ks.wait_for(lambda: len(ks.read_records(record_file)) >= expected and
                              ks.read_records(record_file))
        self.assertTrue(records, "the browser was not started")
        self.assertEqual(len(records), expected, "the browser was started more than once")
        self.records_seen = expected
        # A browser still running would hold its file and spoil the next install.
        self.assertTrue(ks.wait_until_gone(self.inst.path("Kivo9Data/Kivo9.exe")))
        record = records[-1]
        self.assertEqual(record["cwd"].rstrip("\\/"),
                         ks.program_path(self.inst.path("Kivo9Data")))
        return record

    def make_update(self, with_browser=True):
        if with_browser:
            self.inst.install_program("recorder", "Kivo9Data/update/Kivo9.exe", NEW_BROWSER)
        self.inst.write("Kivo9Data/update/Kivo9PostUpgrade.exe", b"post-upgrade")
        self.inst.write("Kivo9Data/update/Resource/version.ini", "[Version]\nVer=9.1\n")
        self.inst.write("Kivo9Data/update/Resource/a.txt", "new a")
        self.inst.mkdir("Kivo9Data/update/Plugins/empty")

    def report(self):
        """What the last start wrote about the pending update, or None."""
        path = "Kivo9Data/install.log"
        return self.inst.read(path).decode() if self.inst.exists(path) else None

    def assert_old_browser_kept(self):
        self.assertTrue(self.inst.read("Kivo9Data/Kivo9.exe").endswith(OLD_BROWSER))

    # ---- no pending update ----

    def test_no_pending_update_touches_nothing(self):
        self.inst.write("Kivo9Data/Resource/a.txt", "old a")
        before = self.inst.files()
        record = self.start(PAGE, "-x", "plain")
        self.assertEqual(record["args"], [PAGE, "-x", "plain"])
        self.assertEqual(ks.command_line_tail(record["cmdline"]), f'"{PAGE}" -x plain')
        self.assertEqual(self.inst.files(), sorted(before + ["Kivo9Data/Kivo9.exe.record"]))
        self.assertIsNone(self.report())
        self.assert_old_browser_kept()

    # ---- the install step ----

    def test_pending_update_is_installed_and_removed(self):
        self.inst.write("Kivo9Data/Resource/a.txt", "old a, longer than the new one")
        self.inst.write("Kivo9Data/Resource/mine.txt", "kept")
        self.make_update()
        record = self.start(PAGE)
        # The browser is started with the tail unchanged, quotes included.
        self.assertEqual(ks.command_line_tail(record["cmdline"]), f'"{PAGE}"')
        self.assertEqual(record["args"], [PAGE])
        self.assertTrue(self.inst.read("Kivo9Data/Kivo9.exe").endswith(NEW_BROWSER))
        self.assertEqual(self.inst.read("Kivo9Data/Resource/a.txt"), b"new a")
        self.assertEqual(self.inst.read("Kivo9Data/Resource/mine.txt"), b"kept")
        self.assertTrue(self.inst.exists("Kivo9Data/Resource/version.ini"))
        self.assertTrue(os.path.isdir(self.inst.path("Kivo9Data/Plugins/empty")))
        self.assertFalse(self.inst.exists("Kivo9Data/update"))
        self.assertFalse(self.inst.exists("Kivo9Data/Kivo9PostUpgrade.exe"))
        self.assertEqual(self.report(), "installed the update\n")

    def test_update_without_browser_installs_nothing(self):
        self.make_update(with_browser=False)
        before = self.inst.files()
        record = self.start(PAGE)
        self.assertEqual(record["args"], [PAGE])
        self.assertEqual(self.inst.files(), sorted(before + ["Kivo9Data/Kivo9.exe.record",
                                                            "Kivo9Data/install.log"]))
        self.assertEqual(self.report(), "refused the update: the update holds no Kivo9.exe\n")
        self.assert_old_browser_kept()

    def test_a_file_named_update_counts_but_installs_nothing(self):
        self.inst.write("Kivo9Data/update", b"not a directory")
        record = self.start("page.htm")
        self.assertEqual(record["args"], ["page.htm"])
        self.assertEqual(self.inst.read("Kivo9Data/update"), b"not a directory")
        self.assert_old_browser_kept()

    def test_failed_tree_copy_is_retried_at_the_next_start(self):
        self.make_update()
        # A directory where the update has a file: that copy fails, whoever runs the test.
        self.inst.mkdir("Kivo9Data/Resource/a.txt")
        before = self.inst.files()
        self.start("page.htm")
        # Refused before anything was touched: the old installation and the whole update.
        self.assertEqual(self.inst.files(), sorted(before + ["Kivo9Data/Kivo9.exe.record",
                                                            "Kivo9Data/install.log"]))
        self.assertRegex(self.report(), r"^refused the update: a directory or special file "
                                        r"stands where the update has a file: Resource.a\.txt\n$")
        self.assertFalse(self.inst.exists("Kivo9Data/Kivo9PostUpgrade.exe"))
        self.assert_old_browser_kept()

        os.rmdir(self.inst.path("Kivo9Data/Resource/a.txt"))
        self.start("page.htm")
        self.assertFalse(self.inst.exists("Kivo9Data/update"))
        self.assertFalse(self.inst.exists("Kivo9Data/Kivo9PostUpgrade.exe"))
        self.assertEqual(self.inst.read("Kivo9Data/Resource/a.txt"), b"new a")

    # ---- the parameters ----

    def test_switches_alone_are_not_passed_on(self):
        self.assertEqual(self.start("-a", "/b")["args"], [])
        self.assertEqual(self.start()["args"], [])

    def test_wait_switch_starts_without_parameters(self):
        # The pause itself (3 s here) is measured by the benchmark, not asserted.
        self.assertEqual(self.start("-wkivo", "3")["args"], [])
        self.assertEqual(self.start("3", "-wkivo ")["args"], [])

    def test_wait_switch_with_zero_or_no_number(self):
        self.assertEqual(self.start("-wkivo", "0")["args"], [])
        self.assertEqual(self.start("-wkivo", "page.htm")["args"], [])
        self.assertEqual(self.start("-wkivo ")["args"], [])

    def test_switch_letters_without_their_blank_are_passed_on(self):
        record = self.start("3", "-wkivo")
        self.assertEqual(record["args"], ["3", "-wkivo"])
        self.assertEqual(ks.command_line_tail(record["cmdline"]), "3 -wkivo")


if __name__ == "__main__":
    ks.main()
