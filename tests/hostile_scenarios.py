"""The agent where its own machine is against it: no usable temporary directory, an
installation path longer than the platform's buffer. Each run ends as a failed package step
(message 4) with no program started and no package left anywhere, or, where the platform has
no such limit, works as usual. Also: the download progress that only a terminal shows.
"""

import os
import pty
import subprocess
import unittest

import agent_scenarios as scenarios
import kivo_scenario as ks
from agent_scenarios import NEWER, AgentInstallation, lines, version_page
from agent_scenarios import setUpModule, tearDownModule  # noqa: F401 (the loopback server)

LOCALE = {"LANG": "en_US.UTF-8", "LC_ALL": "", "LC_MESSAGES": ""}
# A directory name that makes the agent's own path longer than 260 characters.
DEEP = "/".join(["installed-for-a-very-patient-user"] * 8)

class HostileScenarios(unittest.TestCase):
    def make_installation(self, inst):
        self.addCleanup(inst.cleanup)
        for program in ("Kivo9Data/Resource/UnPack.exe", "Kivo9Data/update/Kivo9PostUpgrade.exe"):
            self.addCleanup(ks.wait_until_gone, inst.path(program))
        return inst

    def serve_release(self, inst):
        package = {"body_hex": inst.package_archive().hex()}
        scenarios.server.set_script({"routes": {"version.kivo9.example/kivover/testver.htm":
                                      [version_page(NEWER)],
                                      "stats.kivo9.example/tg/kivopatch/enus/*": [package]}})

    def run_agent(self, inst, cwd, env=()):
        environment = dict(LOCALE, http_proxy=scenarios.server.proxy_url, no_proxy="", NO_PROXY="")
        environment.update(env)
        result = ks.run(inst.agent, [], cwd=cwd, env=environment)
        self.assertEqual(result.returncode, 1, result.stderr)
        return result

    def expected(self, inst, *numbers):
        texts = inst.messages()
        return [line for n in numbers for line in texts[str(n)].split("\\n") if texts[str(n)]]

    def assert_nothing_started(self, inst, result, stray_dir):
        self.assertEqual(lines(result.stdout), self.expected(inst, 2, 3, 8, 4, 7))
        self.assertEqual(ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record")), [])
        self.assertFalse(inst.exists("Kivo9Data/update"))
        self.assertEqual(os.listdir(stray_dir), [], "nothing lands in the current directory")

    def test_no_usable_temporary_directory(self):
        if ks.is_windows():
            self.skipTest("the emulator keeps its own temporary directory")
        inst = self.make_installation(AgentInstallation(tree_extractor=True))
        self.serve_release(inst)
        cwd = inst.mkdir("cwd")
        inst.write("a-file")
        for temp in (inst.path("missing"), inst.path("a-file")):
            with self.subTest(temp):
                result = self.run_agent(inst, cwd, {"TMPDIR": temp})
                self.assert_nothing_started(inst, result, cwd)

    def test_installation_path_beyond_the_platform_buffer(self):
        inst = AgentInstallation(tree_extractor=True)
        # The same installation moved below a deep directory.
        deep = os.path.join(inst.root, *DEEP.split("/"))
        os.makedirs(deep)
        for name in os.listdir(inst.root):
            if name != DEEP.split("/")[0]:
                os.rename(inst.path(name), os.path.join(deep, name))
        inst.root = deep
        suffix = ks._config.suffix
        inst.agent = inst.path("Kivo9Data/UpgradeAgent" + suffix)
        inst.launcher = inst.path("Kivo9" + suffix)
        inst.set_marker(after_ms=0)
        self.make_installation(inst)
        self.assertGreater(len(ks.program_path(inst.agent)), 260)
        self.serve_release(inst)
        cwd = inst.mkdir("cwd")
        # An extractor in the current directory is never the one to start.
        inst.install_program("tree_extractor", "cwd/Resource/UnPack.exe")
        env = {} if ks.is_windows() else {"TMPDIR": inst.path("tmp")}
        result = self.run_agent(inst, cwd, env)
        self.assertEqual(ks.read_records(inst.path("cwd/Resource/UnPack.exe.record")), [])
        if ks.is_windows():
            # The platform cannot name the agent's own path, so the agent finds neither its
            # settings nor its messages; it must not start or place anything either.
            self.assertEqual(ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record")),
                             [])
            self.assertFalse(inst.exists("Kivo9Data/update"))
            self.assertEqual(sorted(os.listdir(cwd)), ["Resource"])
        else:
            self.assertEqual(lines(result.stdout), self.expected(inst, 2, 3, 8, 6, 5, 7))
            records = ks.wait_for(
                lambda: ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record")))
            self.assertEqual(len(records), 1)

    def test_download_progress_shows_on_a_terminal_only(self):
        if ks.is_windows():
            self.skipTest("a terminal as standard output is a Linux matter")
        inst = self.make_installation(AgentInstallation(tree_extractor=True))
        self.serve_release(inst)
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        environment = dict(os.environ, **LOCALE, http_proxy=scenarios.server.proxy_url, no_proxy="",
                           TMPDIR=inst.path("tmp"))
        process = subprocess.Popen([inst.agent], stdin=subprocess.DEVNULL, stdout=slave,
                                   stderr=subprocess.DEVNULL, cwd=inst.path("tmp"),
                                   env=environment)
        os.close(slave)
        shown = b""
        while True:  # read until the agent has closed its side
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        self.assertEqual(process.wait(timeout=60), 1)
        size = len(inst.package_archive()) / (1024 * 1024)
        self.assertRegex(shown, rb"\r%.1f MB of %.1f MB" % (size, size))
        # Without a terminal, the same run prints the messages alone.
        result = self.run_agent(inst, inst.path("tmp"), {"TMPDIR": inst.path("tmp")})
        self.assertEqual(lines(result.stdout), self.expected(inst, 2, 3, 8, 6, 5, 7))

    def test_another_user_who_plants_names_in_the_temporary_folder_gets_nothing(self):
        # Another local user takes every name the package could have had in a temporary
        # folder all may write, links some of them to a file only root may write, and keeps
        # trying to write into whatever folder the agent makes there: the update arrives from
        # the package the agent checked, nothing planted is run, followed or overwritten, and
        # the agent leaves nothing behind.
        if ks.is_windows() or os.geteuid() != 0:
            self.skipTest("needs root, to act as a second user (Linux)")
        import pwd
        import shutil
        import tempfile
        try:
            pwd.getpwnam("nobody")
        except KeyError:
            self.skipTest("no user nobody")
        inst = self.make_installation(AgentInstallation(tree_extractor=False))
        self.serve_release(inst)
        shared = tempfile.mkdtemp(prefix="kivo-shared-tmp-")
        self.addCleanup(shutil.rmtree, shared, True)
        os.chmod(shared, 0o1777)
        victim = inst.write("victim.txt", b"only root writes this")
        plant = ("import os, sys\n"
                 "d, victim = sys.argv[1], sys.argv[2]\n"
                 "for n in range(1, 0x10000):\n"
                 "    base = os.path.join(d, '~GF%X.tmp' % n)\n"
                 "    open(base, 'w').close()\n"
                 "    if n % 16 == 0: os.symlink(victim, base + '.rar')\n")
        subprocess.run(["python3", "-c", plant, shared, victim], user="nobody", check=True)
        before = sorted(os.listdir(shared))
        intrude = ("import glob, os, sys, time\n"
                   "d, stop = sys.argv[1], sys.argv[2]\n"
                   "while not os.path.exists(stop):\n"
                   "    for f in glob.glob(os.path.join(d, 'kivo9-package-*')):\n"
                   "        try:\n"
                   "            open(os.path.join(f, 'planted'), 'w').close(); print('wrote', f)\n"
                   "        except OSError: pass\n"
                   "    time.sleep(0.001)\n")
        stop = os.path.join(shared, "stop-intruder")
        intruder = subprocess.Popen(["python3", "-c", intrude, shared, stop], user="nobody",
                                    stdout=subprocess.PIPE, text=True)
        result = self.run_agent(inst, inst.path("tmp"), {"TMPDIR": shared})
        open(stop, "w").close()
        wrote, _ = intruder.communicate(timeout=30)
        os.remove(stop)
        self.assertEqual(lines(result.stdout), self.expected(inst, 2, 3, 8, 6, 5, 7))
        self.assertEqual(wrote, "")
        self.assertTrue(inst.exists("Kivo9Data/update/Kivo9.exe"))
        self.assertEqual(inst.read("victim.txt"), b"only root writes this")
        self.assertEqual(sorted(os.listdir(shared)), before)


if __name__ == "__main__":
    ks.main()
