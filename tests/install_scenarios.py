"""Scenarios of the launcher's journaled install: trees it must refuse untouched, targets it
must not write through, and a kill after every file operation of an install (Linux, with a
preloaded library that counts them) or at a sample of moments (under the emulator), each
followed by an uninterrupted start that must end in the old or the new tree, byte for byte.
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

import kivo_scenario as ks

OLD_BROWSER, NEW_BROWSER = b"\nold browser", b"\nnew browser"
USER_FILES = {"User/UserConfig.ini": b"[Settings]\nUsedTimes=3\n", "User/mine.txt": b"mine"}


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def fnv1a64(data):
    """The checksum of the install journal's end line."""
    value = 0xcbf29ce484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return value


def snapshot(root, leave_out=("Kivo9.exe.record", "install.log", "install.log.new")):
    """{relative path: content} of every file below root, directories as None."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames:
            found[os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")] = None
        for name in filenames:
            relative = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
            if relative in leave_out:
                continue
            path = os.path.join(dirpath, name)
            if os.path.islink(path):
                found[relative] = "link to " + os.readlink(path)
            elif not os.path.isfile(path):
                found[relative] = "special file"  # a pipe or socket: reading it would block
            else:
                found[relative] = read_bytes(path)
    return found


class InstallCase:
    """An installation with an old tree and a pending update, laid out by copying a template
    (a kill test lays out hundreds)."""

    def __init__(self, files=0, with_list=True, parent=None):
        self.inst = ks.Installation(prefix="kivo-install-", parent=parent)
        self.launcher = self.inst.install_program("Kivo9", "Kivo9" + ks._config.suffix)
        template = self.inst.mkdir("template")
        old, update = os.path.join(template, "old"), os.path.join(template, "update")
        shutil.copyfile(ks.built_program("recorder"), os.path.join(template, "recorder"))
        self.lay_out(old, update, files)
        if with_list:
            ks.write_file_list(update)
        self.template = template
        self.reset()
        self.old = snapshot(self.data())
        self.new = self.expected_new()

    def lay_out(self, old, update, files):
        def put(root, relative, content):
            path = os.path.join(root, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)

        browser = read_bytes(ks.built_program("recorder"))
        put(old, "Kivo9.exe", browser + OLD_BROWSER)
        put(update, "Kivo9.exe", browser + NEW_BROWSER)
        for relative, content in USER_FILES.items():
            put(old, relative, content)
        put(old, "Resource/version.ini", b"[Version]\nupdate=1\n")
        put(update, "Resource/version.ini", b"[Version]\nupdate=2\n")
        put(update, "Kivo9PostUpgrade.exe", b"post-upgrade")
        put(old, "Plugins/only-old.txt", b"stays")
        os.makedirs(os.path.join(update, "Plugins", "empty"))
        for i in range(files):
            relative = "lib/d%d/s%d/f%d.dat" % (i % 7, i % 3, i)
            if i % 3 == 0:  # changed
                put(old, relative, b"old %d" % i * (i % 5 + 1))
            if i % 3 != 2 or i % 2 == 0:  # new or changed; a third of the old ones stay
                put(update, relative, b"new %d" % i * (i % 4 + 1))
            else:
                put(old, relative, b"old only %d" % i)
        for root in (old, update):
            os.chmod(os.path.join(root, "Kivo9.exe"), 0o755)

    def data(self, relative=""):
        return self.inst.path("Kivo9Data" + ("/" + relative if relative else ""))

    def reset(self):
        shutil.rmtree(self.data(), ignore_errors=True)
        shutil.copytree(os.path.join(self.template, "old"), self.data(), symlinks=True)
        shutil.copytree(os.path.join(self.template, "update"), self.data("update"), symlinks=True)

    def expected_new(self):
        new = {k: v for k, v in self.old.items() if not k.startswith("update")}
        for relative, content in snapshot(os.path.join(self.template, "update")).items():
            new[relative] = content
        new.pop("Kivo9PostUpgrade.exe")
        return new

    def start(self, env=None, wait_for_browser=True):
        """Runs the launcher; with wait_for_browser, until the browser has written its record
        and ended. Returns the launcher's exit code and whether the browser was started."""
        record = self.data("Kivo9.exe.record")
        if os.path.exists(record):
            os.remove(record)
        result = ks.run(self.launcher, ["page.htm"], cwd=self.inst.root, env=env)
        started = None
        if wait_for_browser:
            started = bool(ks.wait_for(lambda: ks.read_records(record), timeout=20, interval=0.01))
            ks.wait_until_gone(self.data("Kivo9.exe"))
        return result.returncode, started

    def report(self):
        """What the last start wrote about the pending update ("" when nothing)."""
        path = self.data("install.log")
        return read_bytes(path).decode() if os.path.exists(path) else ""

    def state(self):
        """"old" or "new" when the data directory holds exactly that tree (a pending update
        left complete beside the old one), else a description of the mix."""
        now = snapshot(self.data())
        pending = {k[len("update/"):]: v for k, v in now.items() if k.startswith("update/")}
        rest = {k: v for k, v in now.items() if k != "update" and not k.startswith("update/")}
        if rest == self.new and "update" not in now:
            return "new"
        if rest == self.old_without_update() and pending == self.pending_tree():
            return "old"
        differing = sorted(set(rest.items()) ^ set(self.new.items()), key=str)[:3]
        return "mix: %s" % [k for k, _ in differing]

    def old_without_update(self):
        return {k: v for k, v in self.old.items() if k != "update" and not k.startswith("update/")}

    def pending_tree(self):
        return snapshot(os.path.join(self.template, "update"))


class InstallScenarios(unittest.TestCase):
    def case(self, **kwargs):
        case = InstallCase(**kwargs)
        self.addCleanup(case.inst.cleanup)
        return case

    def assert_refused(self, case, spoil, keep_pending=True):
        """spoil(case) changes the laid-out case; the install must then leave every file as
        it was and still start the (old) browser."""
        spoil(case)
        before = snapshot(case.data())
        self.assertEqual(case.start(), (0, True))
        self.assertEqual(snapshot(case.data()), before)
        self.assertRegex(case.report(), r"^(refused the update|the update waits): .+\n$")

    # ---- trees and targets the install refuses, before touching anything ----

    def test_unfit_trees_and_targets_are_refused_untouched(self):
        def fifo(c):
            os.mkfifo(c.data("update/lib/pipe"))

        def socket_file(c):
            s = socket.socket(socket.AF_UNIX)
            s.bind(c.data("update/lib/sock"))
            s.close()

        def link_in_tree(c):
            os.symlink("/etc/passwd", c.data("update/Resource/passwd"))

        def refused_name(c):
            os.makedirs(c.data("update/bad\\name"))

        def directory_for_file(c):
            os.remove(c.data("Resource/version.ini"))
            os.makedirs(c.data("Resource/version.ini"))

        def file_for_directory(c):
            shutil.rmtree(c.data("Plugins"))
            c.inst.write("Kivo9Data/Plugins", b"a file")

        def listed_size_differs(c):
            with open(c.data("update/lib/d0/s0/f0.dat"), "ab") as f:
                f.write(b"!")

        def listed_content_differs(c):
            path = c.data("update/lib/d0/s0/f0.dat")
            data = read_bytes(path)
            with open(path, "wb") as f:
                f.write(data[:-1] + (b"?" if data[-1:] != b"?" else b"!"))

        def listed_file_missing(c):
            os.remove(c.data("update/lib/d1/s1/f1.dat"))

        def bad_list_line(c):
            with open(c.data("update/Resource/files.lst"), "a") as f:
                f.write("zz 1 ../../outside\n")

        def no_new_browser(c):
            os.remove(c.data("update/Kivo9.exe"))
            ks.write_file_list(c.data("update"))

        def browser_not_executable(c):
            os.chmod(c.data("update/Kivo9.exe"), 0o644)

        def user_folder_in_tree(c):
            c.inst.write("Kivo9Data/update/User/UserConfig.ini", b"[Settings]\n")

        def work_name_in_tree(c):
            c.inst.write("Kivo9Data/update/install.journal", b"kivo9-install 1\nend\n")
            ks.write_file_list(c.data("update"))

        cases = [directory_for_file, file_for_directory, listed_size_differs,
                 listed_content_differs, listed_file_missing, bad_list_line, no_new_browser,
                 work_name_in_tree, user_folder_in_tree]
        if not ks.is_windows():  # entries the emulator would show as something else
            cases += [fifo, socket_file, link_in_tree, refused_name, browser_not_executable]
        case = self.case(files=12)
        for spoil in cases:
            with self.subTest(spoil.__name__):
                case.reset()
                self.assert_refused(case, spoil)

    def test_huge_files_in_place_of_small_ones_cost_no_memory(self):
        # Each a gigabyte (sparse: no disk): the start reads none of it whole and goes on.
        case = self.case(files=3)
        cases = [("install.journal", r"the journal cannot be read"),
                 ("install.log", r"^installed the update"),
                 ("update/Resource/files.lst", r"^refused the update: cannot read")]
        for name, said in cases:
            with self.subTest(name):
                case.reset()
                with open(case.data(name), "wb") as f:
                    f.truncate(1 << 30)
                record = case.data("Kivo9.exe.record")
                if os.path.exists(record):
                    os.remove(record)
                result = ks.run_measured(case.launcher, ["page.htm"], cwd=case.inst.root)
                self.assertEqual(result.returncode, 0)
                self.assertLess(result.peak_kib, 256 * 1024, "read whole")
                self.assertTrue(ks.wait_for(lambda: ks.read_records(record), timeout=20))
                ks.wait_until_gone(case.data("Kivo9.exe"))
                self.assertRegex(case.report(), said)
                self.assertLess(os.path.getsize(case.data("install.log")), 4096)

    def test_a_running_browser_stops_the_install_untouched(self):
        if ks.is_windows():
            self.skipTest("the running program is a native one")
        case = self.case(files=6)
        shutil.copy2("/bin/sleep", case.data("Kivo9.exe"))
        holder = subprocess.Popen([case.data("Kivo9.exe"), "60"])
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        before = snapshot(case.data())
        self.assertEqual(ks.run(case.launcher, ["1"], cwd=case.inst.root).returncode, 0)
        self.assertEqual(snapshot(case.data()), before)

    def test_without_the_crypto_library_a_listed_tree_stays_pending(self):
        # The Linux build loads libcrypto when it first hashes; here a private mount hides it.
        if ks.is_windows():
            self.skipTest("the Windows build links the system's CNG")
        found = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
        library = next((line.split()[-1] for line in found.splitlines()
                        if line.strip().startswith("libcrypto.so.3 ")), None)
        hide = "mount --bind /dev/null %s" % library
        probe = subprocess.run(["unshare", "--mount", "sh", "-c", hide], capture_output=True)
        if library is None or probe.returncode != 0:
            self.skipTest("needs libcrypto.so.3 and a private mount namespace (root)")
        case = self.case(files=6)
        for program in (case.launcher, case.data("Kivo9.exe")):  # the browser is a stand-in
            needed = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
            if "libcrypto" in needed:
                self.skipTest("%s loads libcrypto when it starts" % os.path.basename(program))
        before = snapshot(case.data())
        hidden = hide + " && exec \"$0\" page.htm"
        result = subprocess.run(["unshare", "--mount", "sh", "-c", hidden, case.launcher],
                                cwd=case.inst.root, capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        record = case.data("Kivo9.exe.record")
        self.assertTrue(ks.wait_for(lambda: ks.read_records(record), timeout=20, interval=0.01))
        ks.wait_until_gone(case.data("Kivo9.exe"))
        self.assertEqual(snapshot(case.data()), before)

    # ---- what the install never writes through ----

    def test_links_open_files_and_read_only_targets_are_replaced_not_written(self):
        # Beside them, a file the list does not name, which stays out of the installation.
        if ks.is_windows():
            self.skipTest("the links and the open file are native ones")
        case = self.case(files=12)
        outside = case.inst.write("outside.txt", b"outside")
        hard = case.inst.write("hard.txt", b"hard")
        os.remove(case.data("lib/d0/s0/f0.dat"))
        os.symlink(outside, case.data("lib/d0/s0/f0.dat"))
        os.remove(case.data("lib/d3/s0/f3.dat"))
        os.link(hard, case.data("lib/d3/s0/f3.dat"))
        os.chmod(case.data("Resource/version.ini"), 0o444)
        held = open(case.data("lib/d6/s0/f6.dat"), "rb")
        self.addCleanup(held.close)
        held_before = read_bytes(case.data("lib/d6/s0/f6.dat"))
        case.inst.write("Kivo9Data/update/not-listed.log", b"no part of the package")
        case.old = snapshot(case.data())
        self.assertEqual(case.start(), (0, True))
        self.assertEqual(case.state(), "new")
        self.assertEqual(case.inst.read("outside.txt"), b"outside")
        self.assertEqual(case.inst.read("hard.txt"), b"hard")
        self.assertEqual(held.read(), held_before)  # the old file itself was never written

    def test_a_tree_without_a_file_list_installs_whole_and_user_files_stay(self):
        case = self.case(files=30, with_list=False)
        self.assertEqual(case.start(), (0, True))
        self.assertEqual(case.state(), "new")
        for relative, content in USER_FILES.items():
            self.assertEqual(case.inst.read("Kivo9Data/" + relative), content)
        self.assertFalse(os.path.exists(case.data("install.journal")))
        self.assertFalse(os.path.exists(case.data("install.old")))

    def test_deep_tree_installs(self):
        case = self.case(files=0, with_list=False)
        # Under the emulator the paths must stay within the 260-character buffer.
        deep = "/".join("d%d" % i for i in range(30 if ks.is_windows() else 300))
        case.inst.write("Kivo9Data/update/" + deep + "/leaf.txt", b"leaf")
        case.old = snapshot(case.data())
        case.new = dict(case.new)
        case.new.update({k[len("update/"):]: v for k, v in case.old.items()
                         if k.startswith("update/d0")})
        self.assertEqual(case.start(), (0, True))
        self.assertEqual(case.state(), "new")

    def test_a_path_beyond_the_platform_buffer_is_never_taken_from_the_current_directory(self):
        case = self.case(files=3)
        deep_root = os.path.join(case.inst.root, *["long-directory-name"] * 14)
        deep_data = os.path.join(deep_root, "Kivo9Data")
        shutil.copytree(case.data(), deep_data, symlinks=True)
        launcher = os.path.join(deep_root, os.path.basename(case.launcher))
        shutil.copy2(case.launcher, launcher)
        before, before_here = snapshot(deep_data), snapshot(case.data())
        # Started from the short installation, which must stay as it is.
        self.assertEqual(ks.run(launcher, [], cwd=case.inst.root).returncode, 0)
        self.assertEqual(snapshot(case.data()), before_here)
        # Installed where the platform knows such a path, untouched where it does not.
        ks.wait_for(lambda: os.path.exists(os.path.join(deep_data, "Kivo9.exe.record")), 5)
        ks.wait_until_gone(os.path.join(deep_data, "Kivo9.exe"))
        self.assertIn(snapshot(deep_data), (before, case.new))

    # ---- what a crash, a disk or another program leaves behind ----

    def kill_env(self, case):
        shim = os.path.join(ks._config.bin_dir, "libkill_shim.so")
        if ks.is_windows() or not os.path.exists(shim):
            self.skipTest("needs the preloaded kill library (Linux build)")
        return {"LD_PRELOAD": shim, "KIVO_COUNT_FILE": case.inst.path("calls"),
                "ASAN_OPTIONS": "verify_asan_link_order=0:" + os.environ.get("ASAN_OPTIONS", "")}

    def stopped_states(self, case, env):
        """{state: kill point} for the first kill after the journal was written, after the
        browser was moved aside and after the commit."""
        case.reset()
        case.start(env)
        with open(env["KIVO_COUNT_FILE"]) as f:
            operations = int(f.read())
        found = {}
        for n in range(1, operations + 1):
            case.reset()
            case.start(dict(env, KIVO_KILL_AFTER=str(n), KIVO_COUNT_FILE=""),
                       wait_for_browser=False)
            journal = case.data("install.journal")
            if not os.path.exists(journal):
                continue
            text = read_bytes(journal)
            state = ("committed" if text.endswith(b"commit\n") else
                     "browser aside" if os.path.exists(case.data("install.old/Kivo9.exe")) else
                     "just written")
            found.setdefault(state, n)
        self.assertEqual(sorted(found), ["browser aside", "committed", "just written"])
        return found

    def assert_recovers(self, case, journal_bytes, label):
        """Writes journal_bytes as the journal; the next start, and if need be the one after,
        must start the browser and end old or new. Returns the number of starts it took."""
        with open(case.data("install.journal"), "wb") as f:
            f.write(journal_bytes)
        for starts in (1, 2):
            self.assertEqual(case.start(), (0, True), "%s: start %d" % (label, starts))
            if case.state() in ("old", "new"):
                return starts
        self.fail("%s: %s after two starts" % (label, case.state()))

    def test_a_journal_cut_at_any_byte_still_starts_the_browser_and_ends_old_or_new(self):
        case = self.case(files=4, parent="/dev/shm" if os.path.isdir("/dev/shm") else None)
        env = self.kill_env(case)
        stored = case.inst.path("stopped")
        figures = {}
        for state, point in sorted(self.stopped_states(case, env).items()):
            case.reset()
            case.start(dict(env, KIVO_KILL_AFTER=str(point), KIVO_COUNT_FILE=""),
                       wait_for_browser=False)
            shutil.rmtree(stored, ignore_errors=True)
            shutil.copytree(case.data(), stored, symlinks=True)
            journal = read_bytes(os.path.join(stored, "install.journal"))
            damaged = [journal[:cut] for cut in range(len(journal))]
            damaged += [journal.replace(b"new ", b"nwe ", 1), b"\0" * len(journal),
                        journal[:len(journal) // 2] + b"\xff" + journal[len(journal) // 2 + 1:]]
            starts = {}
            for i, content in enumerate(damaged):
                shutil.rmtree(case.data())
                shutil.copytree(stored, case.data(), symlinks=True)
                taken = self.assert_recovers(case, content, "%s, variant %d" % (state, i))
                outcome = "%d start(s), %s" % (taken, case.state())
                starts[outcome] = starts.get(outcome, 0) + 1
            figures["%s, %d bytes" % (state, len(journal))] = starts
        sys.stderr.write("\ndamaged journals: %s\n" % figures)

    def test_a_damaged_journal_of_a_half_done_install_ends_old_or_new_everywhere(self):
        # Laid out by hand where no kill library exists: the browser replaced, the old one
        # aside, the rest pending; the journal cut at sampled bytes.
        case = self.case(files=3)
        case.reset()
        os.makedirs(case.data("install.old"))
        os.rename(case.data("Kivo9.exe"), case.data("install.old/Kivo9.exe"))
        os.rename(case.data("update/Kivo9.exe"), case.data("Kivo9.exe"))
        body = "kivo9-install 2\nreplace Kivo9.exe\nnew Kivo9PostUpgrade.exe\n" \
               "replace Resource/version.ini\n"
        journal = (body + "end %016x\n" % fnv1a64(body.encode())).encode()
        stored = case.inst.path("stopped")
        shutil.copytree(case.data(), stored, symlinks=True)
        cuts = sorted({0, 1, 16, 17, len(journal) // 2, len(journal) - 2, len(journal) - 1})
        outcomes = {}
        for content in [journal[:cut] for cut in cuts] + [journal, b"\xff" * 40]:
            shutil.rmtree(case.data())
            shutil.copytree(stored, case.data(), symlinks=True)
            taken = self.assert_recovers(case, content, repr(content[-20:]))
            outcome = "%d start(s), %s" % (taken, case.state())
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
        sys.stderr.write("\nhalf-done install, damaged journal: %s\n" % outcomes)

    def test_crafted_journal_records_touch_nothing_outside_or_of_the_user(self):
        # Either separator, both journal forms; where links exist, one through a link inside
        # the data directory. Each leaves the user's files and everything outside as it was.
        outside = {"victim.txt": b"victim", "out/x.txt": b"outside x"}
        records = ["new ..\\victim.txt", "new ../victim.txt", "replace ..\\..\\victim.txt",
                   "replace User/mine.txt", "new User\\mine.txt", "new user/UserConfig.ini",
                   "new install.old/../../victim.txt", "replace C:\\victim.txt"]
        if not ks.is_windows():
            records.append("new Plugins/link/x.txt")
        case = self.case(files=3)
        kept = case.old, case.new
        for record in records:
            for header, end in (("kivo9-install 1", "end"), ("kivo9-install 2", "end 0")):
                with self.subTest(record=record, header=header):
                    case.reset()
                    for relative, content in outside.items():
                        case.inst.write(relative, content)
                    if not ks.is_windows():
                        os.symlink(case.inst.path("out"), case.data("Plugins/link"))
                    case.old = snapshot(case.data())
                    case.new = case.expected_new()
                    # A backup that would put other content over the user's file.
                    case.inst.write("Kivo9Data/install.old/User/mine.txt", b"not the user's")
                    text = "%s\n%s\n%s\n" % (header, record, end)
                    self.assert_recovers(case, text.encode(), record)
                    for relative, content in outside.items():
                        self.assertEqual(case.inst.read(relative), content, record)
                    for relative, content in USER_FILES.items():
                        self.assertEqual(case.inst.read("Kivo9Data/" + relative), content, record)
        case.old, case.new = kept

    def test_a_stale_backup_is_never_taken_for_the_install_s_own(self):
        # A backup left without a journal, another in place of a file, a leftover discard
        # folder: the install clears them first, and a rollback after a kill restores only
        # what this install moved aside.
        def stale_backup(c):
            c.inst.write("Kivo9Data/install.old/Kivo9.exe", b"stale browser")
            c.inst.write("Kivo9Data/install.old/Resource/version.ini", b"[Version]\nupdate=0\n")
            c.inst.write("Kivo9Data/install.old/only-stale.txt", b"no place of its own")

        def backup_is_a_file(c):
            c.inst.write("Kivo9Data/install.old", b"a file")

        def leftover_discard(c):
            c.inst.write("Kivo9Data/install.trash/Kivo9.exe", b"discarded")

        case = self.case(files=6)
        stale = ("install.old", "install.trash")
        for leave in (stale_backup, backup_is_a_file, leftover_discard):
            with self.subTest(leave.__name__):
                case.reset()
                leave(case)
                self.assertEqual(case.start(), (0, True))
                new = dict(case.new, **({"only-stale.txt": b"no place of its own"}
                                        if leave is stale_backup else {}))
                now = snapshot(case.data())
                self.assertEqual({k: v for k, v in now.items() if k != "update"}, new)
                self.assertFalse([k for k in now if k.split("/")[0] in stale])
        if ks.is_windows():
            return
        env = self.kill_env(case)
        point = self.stopped_states(case, env)["browser aside"]
        case.reset()
        stale_backup(case)
        os.remove(case.data("install.old/only-stale.txt"))  # what has a place stays out
        case.start(dict(env, KIVO_KILL_AFTER=str(point + 2), KIVO_COUNT_FILE=""),
                   wait_for_browser=False)
        self.assertTrue(os.path.exists(case.data("install.journal")))
        self.assertEqual(case.start(), (0, True))
        self.assertIn(case.state(), ("old", "new"))
        self.assertNotEqual(read_bytes(case.data("Kivo9.exe")), b"stale browser")

    # ---- a kill at every file operation ----

    def test_a_kill_after_any_file_operation_ends_old_or_new(self):
        shim = os.path.join(ks._config.bin_dir, "libkill_shim.so")
        if ks.is_windows() or not os.path.exists(shim):
            self.skipTest("needs the preloaded kill library (Linux build)")
        # In memory where there is such a file system: a kill is not a power cut, so the
        # flushes need not reach a disk, and hundreds of layouts go faster.
        case = self.case(files=240, parent="/dev/shm" if os.path.isdir("/dev/shm") else None)
        count_file = case.inst.path("calls")
        env = {"LD_PRELOAD": shim, "KIVO_COUNT_FILE": count_file,
               "ASAN_OPTIONS": "verify_asan_link_order=0:" + os.environ.get("ASAN_OPTIONS", "")}
        case.start(env)
        self.assertEqual(case.state(), "new")
        with open(count_file) as f:
            operations = int(f.read())
        self.assertGreater(operations, 240)
        outcomes = {}
        for n in range(1, operations + 1):
            case.reset()
            code, _ = case.start(dict(env, KIVO_KILL_AFTER=str(n), KIVO_COUNT_FILE=""),
                                 wait_for_browser=False)
            killed = code == -signal.SIGKILL
            code, started = case.start()
            outcome = ("killed, " if killed else "not killed, ") + case.state()
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
            self.assertTrue(started, "kill point %d: the browser was not started" % n)
            self.assertIn(case.state(), ("old", "new"), "kill point %d" % n)
            if sys.stderr.isatty():
                sys.stderr.write("\rkill point %d of %d" % (n, operations))
        sys.stderr.write("\n%d kill points: %s\n" % (operations, outcomes))
        self.assertEqual(outcomes.get("killed, new", 0) + outcomes.get("killed, old", 0),
                         operations)

    def test_a_kill_at_sampled_moments_ends_old_or_new(self):
        """Where no library can be preloaded (the Windows programs under the emulator), the
        launcher is killed at moments spread over the time an install takes."""
        if not ks.is_windows():
            self.skipTest("natively every file operation is covered by the preloaded kill")
        case = self.case(files=60)
        command = [ks._config.emulator, case.launcher]
        env = dict(os.environ, **ks.WINE_ENVIRONMENT)

        def run_until(delay):
            begin = time.monotonic()
            launcher = subprocess.Popen(command, cwd=case.inst.root, env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                launcher.wait(timeout=delay)
            except subprocess.TimeoutExpired:
                launcher.kill()
                launcher.wait()
                # The emulator can leave a browser whose start the killed launcher was in the
                # middle of waiting for good; it is ended here, not waited for.
                if not ks.wait_until_gone(case.data("Kivo9.exe"), timeout=20):
                    for pid in ks.running(case.data("Kivo9.exe")):
                        os.kill(pid, signal.SIGKILL)
            ks.wait_until_gone(case.data("Kivo9.exe"))
            return time.monotonic() - begin

        whole = run_until(120)
        self.assertEqual(case.state(), "new")
        samples = 8  # each costs two starts of the emulator
        outcomes = {}
        for k in range(1, samples + 1):
            case.reset()
            run_until(whole * k / (samples + 1))
            interrupted = os.path.exists(case.data("install.journal"))
            self.assertEqual(case.start(), (0, True))
            outcome = ("journal left, " if interrupted else "") + case.state()
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
            self.assertIn(case.state(), ("old", "new"), "sample %d" % k)
        sys.stderr.write("\n%d sampled kills: %s\n" % (samples, outcomes))


if __name__ == "__main__":
    ks.main()
