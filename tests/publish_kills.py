"""kivo-publish killed at every file operation of release, promote and resign, as a crash
or a SIGKILL would stop it: each page an agent may read still names packages that are
there with its bytes, what the server gives agents without keys is the old normal page
with its packages (each old or already new) or the new page with its own (packages switch
first, pages last), and a rerun finishes the command and leaves nothing temporary behind.

The tool runs under a small wrapper that counts its calls of the file operations below and
kills its own process with SIGKILL just before the chosen one."""

import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import unittest

import kivo_scenario as ks
import release_fixture as rf
from publish_tool import published, snapshot, write_tree

sys.path.insert(0, os.path.join(rf.REPO, "tools", "publish"))
from kivopublish import keys, signed_page  # noqa: E402

# Runs kivo-publish with the operations counted; KILL_AT=N kills before the Nth, COUNT_TO
# receives how many there were.
WRAPPER = r'''
import builtins, os, shutil, signal, sys
sys.path.insert(0, sys.argv[1])
calls = [0]
kill_at = int(os.environ.get("KILL_AT", "0"))

def counted(function):
    def call(*args, **kwargs):
        calls[0] += 1
        if calls[0] == kill_at:
            os.kill(os.getpid(), signal.SIGKILL)
        return function(*args, **kwargs)
    return call

for name in ("replace", "rename", "link", "remove", "unlink", "rmdir", "mkdir", "fsync",
             "chmod"):
    setattr(os, name, counted(getattr(os, name)))
shutil.copyfile = counted(shutil.copyfile)
real_open = builtins.open
def opened(file, mode="r", *args, **kwargs):
    return (counted(real_open) if any(c in mode for c in "wax+") else real_open)(
        file, mode, *args, **kwargs)
builtins.open = opened
from kivopublish import cli
code = cli.main(sys.argv[2:])
with real_open(os.environ["COUNT_TO"], "w") as f:
    f.write(str(calls[0]))
sys.exit(code)
'''

TREES = {"zh": {"Kivo9.exe": b"MZ zh", "Plugins/a.dll": b"a" * 3000}, "-": {"Kivo9.exe": b"MZ"}}


def unsigned(page):
    """The page without what a new signature changes."""
    return re.sub(rb"^(seq|exp|Kivo9Sig:k\d)[=:].*\n", b"", page, flags=re.M)


def read_or_none(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def served_normal(root):
    """(page, {file: bytes}) of the normal release as a server serves it: from d/ and
    kivover/ver.htm (kivo9-site.conf), or through a d/normal link an earlier version of the
    tool kept, for a name there, as the configuration of that time did."""
    linked = os.path.join(root, "d", "normal")
    page_path = os.path.join(linked, "ver.htm")
    if not os.path.exists(page_path):
        page_path = os.path.join(root, "kivover", "ver.htm")
    packages = {}
    for folder in (os.path.join(root, "d"), linked):
        for entry in os.listdir(folder) if os.path.isdir(folder) else []:
            if re.fullmatch(r"u[a-z0-9]*\.jpg", entry):
                with open(os.path.join(folder, entry), "rb") as f:
                    packages[entry] = f.read()
    with open(page_path, "rb") as f:
        return f.read(), packages


class PublishKills(unittest.TestCase):
    def setUp(self):
        self.release, self.trees = published(self, TREES)
        self.release.tool("promote")
        self.public = keys.load_public(self.release.pubkey)
        self.wrapper = os.path.join(self.release.root, "wrapper.py")
        with open(self.wrapper, "w") as f:
            f.write(WRAPPER)

    def run_counted(self, root, args, kill_at=0):
        count = os.path.join(self.release.root, "count")
        env = dict(os.environ, KILL_AT=str(kill_at), COUNT_TO=count)
        result = subprocess.run([sys.executable, self.wrapper,
                                 os.path.join(rf.REPO, "tools", "publish"), *args],
                                capture_output=True, text=True, env=env, cwd=root)
        if kill_at:
            return result, None
        with open(count) as f:
            return result, int(f.read())

    def assert_each_page_holds(self, root, pages_before, pages_after):
        """Every page copy is the old or the new one, and names packages that are there."""
        for relative in ("kivover/ver.htm", "d/ver.htm", "kivover/testver.htm", "d/testver.htm"):
            path = os.path.join(root, relative)
            page = read_or_none(path)
            if page == pages_before.get(relative):
                continue
            # A new page: the one the command makes, whatever its seq and time, signed.
            self.assertIsNotNone(page, relative)
            self.assertEqual(unsigned(page), unsigned(pages_after[relative]), relative)
            signed, _, signature = signed_page.split_page(page)
            self.assertTrue(keys.verify(self.public, signed, signature), relative)
            version = re.search(rb"^v=(\d+)$", page, re.M).group(1).decode()
            for name, size, digest in re.findall(rb"^pkg=(\S+) (\d+) ([0-9a-f]{64})$", page, re.M):
                package = os.path.join(root, "d", version,
                                       "u%s.jpg" % ("" if name == b"-" else name.decode()))
                with open(package, "rb") as f:
                    data = f.read()
                self.assertEqual((len(data), hashlib.sha256(data).hexdigest().encode()),
                                 (int(size), digest), package)

    def assert_normal_release_sound(self, root, normal_before, normal_after):
        """What the server serves agents without keys switches packages first, pages last:
        the old page with each of its packages whole, old or already new (or, for a name the
        new release drops, gone), or the new page with exactly its own packages."""
        def lines(page):
            return {"u%s.jpg" % ("" if name == b"-" else name.decode()): (int(size), digest)
                    for name, size, digest in
                    re.findall(rb"^pkg=(\S+) (\d+) ([0-9a-f]{64})$", page, re.M)}
        page, packages = served_normal(root)
        self.assertIn(unsigned(page), (unsigned(normal_before[0]), unsigned(normal_after[0])))
        old = unsigned(page) == unsigned(normal_before[0]) != unsigned(normal_after[0])
        served = {name: (len(data), hashlib.sha256(data).hexdigest().encode())
                  for name, data in packages.items()}
        new = lines(normal_after[0])
        if not old:
            self.assertEqual(served, new)
            return
        for name, line in lines(page).items():
            self.assertIn(served.get(name), (line, new.get(name)) if name in new else (line, None),
                          name)

    def kill_everywhere(self, args, with_an_old_link=False):
        server = self.release.server_dir
        base = os.path.join(self.release.root, "base")
        shutil.copytree(server, base, symlinks=True)
        if with_an_old_link:  # a tree an earlier version of the tool promoted: d/normal
            version = re.search(rb"^v=(\d+)$", read_or_none(
                os.path.join(base, "kivover", "ver.htm")), re.M).group(1).decode()
            shutil.copyfile(os.path.join(base, "kivover", "ver.htm"),
                            os.path.join(base, "d", version, "ver.htm"))
            os.symlink(version, os.path.join(base, "d", "normal"))
        done = os.path.join(self.release.root, "done")
        shutil.copytree(base, done, symlinks=True)
        result, count = self.run_counted(done, [args[0], "--out", done] + args[1:])
        self.assertEqual(result.returncode, 0, result.stderr)
        pages = lambda root: {k: v for k, v in snapshot(root).items()  # noqa: E731
                              if k.endswith(".htm")}
        before, after = pages(base), pages(done)
        normal_before, normal_after = served_normal(base), served_normal(done)
        self.assertGreater(count, 5)
        for point in range(1, count + 1):
            with self.subTest(command=args[0], killed_before_operation=point):
                work = os.path.join(self.release.root, "work")
                shutil.rmtree(work, ignore_errors=True)
                shutil.copytree(base, work, symlinks=True)
                killed, _ = self.run_counted(work, [args[0], "--out", work] + args[1:], point)
                self.assertEqual(killed.returncode, -signal.SIGKILL, killed.stderr)
                self.assert_each_page_holds(work, before, after)
                self.assert_normal_release_sound(work, normal_before, normal_after)
                rerun = rf.run_tool(args[0], "--out", work, *args[1:], check=False)
                self.assertEqual(rerun.returncode, 0, rerun.stderr)
                self.assertEqual(rf.run_tool("verify", "--out", work).returncode, 0)
                leftovers = [os.path.join(folder, name) for folder, dirs, files in os.walk(work)
                             for name in dirs + files if re.match(r"\..*\.part$|\.old\.", name)]
                self.assertEqual(leftovers, [])

    def test_release_killed_anywhere_leaves_the_old_release_or_the_new(self):
        write_tree(self.trees["zh"], {"Kivo9.exe": b"MZ zh 1205"})
        self.kill_everywhere(["release", "--version", "1205", "--key", self.release.key,
                              "--tree", "zh=" + self.trees["zh"], "--tree=-=" + self.trees["-"]])

    def test_resign_killed_anywhere_leaves_the_old_pages_or_the_new(self):
        self.kill_everywhere(["resign", "--key", self.release.key])

    def test_promote_killed_anywhere_switches_packages_first_and_pages_last(self):
        # 1205 drops the generic package: its old copy must not serve under the new page.
        write_tree(self.trees["zh"], {"Kivo9.exe": b"MZ zh 1205"})
        self.release.publish("1205", {"zh": self.trees["zh"]})
        for with_an_old_link in (False, True):
            with self.subTest(with_an_old_link=with_an_old_link):
                self.kill_everywhere(["promote", "--key", self.release.key], with_an_old_link)
                self.assertFalse(os.path.lexists(os.path.join(self.release.root, "done", "d",
                                                              "normal")))
                for folder in ("base", "done"):
                    shutil.rmtree(os.path.join(self.release.root, folder))


    def test_prune_killed_anywhere_leaves_every_served_file_served(self):
        for version in ("1205", "1206"):
            write_tree(self.trees["zh"], {"Kivo9.exe": b"MZ zh " + version.encode()})
            self.release.publish(version, {"zh": self.trees["zh"], "-": self.trees["-"]})
            self.release.tool("promote")
        self.kill_everywhere(["prune", "--keep", "1"])


if __name__ == "__main__":
    ks.main()
