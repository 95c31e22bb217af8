"""The README's publishing block, run literally as a new release engineer would, line by line
in one shell's order, against the agent built with this folder's throw-away key
(UpgradeAgentSigned): every command ends with 0 and does what its comment says.

What differs from a release engineer's machine: /srv/kivo9, /tmp/kivo9-log, port 8080 and
the rclone remote kivo9-store:kivo9 become folders and a free port of the test, ~ its own
home, and build/zh-CN, build/zh and build/generic a package tree. The keygen line is left
out: the agents under test carry the build folder's key, which the test puts where keygen
would (keygen never overwrites a key)."""

import os
import re
import shutil
import subprocess
import unittest

import kivo_scenario as ks
import release_fixture as rf
from agent_scenarios import AgentInstallation
from rollout_scenarios import SignedFleet, key

BLOCK_AFTER = "A release engineer shipping build 1204:"


def readme_commands():
    """The shell lines of the README's publishing block, continuations joined, comment
    lines left out."""
    with open(os.path.join(rf.REPO, "README.md"), encoding="utf-8") as f:
        text = f.read()
    start = text.index("```sh\n", text.index(BLOCK_AFTER)) + len("```sh\n")
    commands, pending = [], ""
    for line in text[start:text.index("```\n", start)].splitlines():
        if not pending and line.lstrip().startswith("#"):
            continue
        if line.rstrip().endswith("\\"):
            pending += line.rstrip()[:-1]
            continue
        commands.append(pending + line)
        pending = ""
    return commands


class ReadmeBlock(SignedFleet, unittest.TestCase):
    def setUp(self):
        if not shutil.which("rclone"):
            self.skipTest("needs rclone (Debian's rclone), which the block uploads with")
        self.release = rf.ReleaseServer(key=key("slot1"), pubkey=key("slot1", public=True))
        self.addCleanup(self.release.cleanup)
        root = self.release.root
        self.release.port = rf.free_port()
        self.store = os.path.join(root, "store")
        self.places = {"/srv/kivo9": self.release.server_dir, "/tmp/kivo9-log": self.release.log_dir,
                       "kivo9-store:kivo9": self.store, " 8080 ": " %d " % self.release.port}
        shutil.rmtree(self.release.server_dir)  # the block's release starts the tree
        self.home, self.work = os.path.join(root, "home"), os.path.join(root, "work")
        os.makedirs(os.path.join(self.home, "kivo9-keys"))
        for public in (False, True):
            shutil.copy(key("slot1", public), os.path.join(self.home, "kivo9-keys"))
        os.chmod(os.path.join(self.home, "kivo9-keys", "release-key.pem"), 0o600)
        source = AgentInstallation(tree_extractor=True)
        self.addCleanup(source.cleanup)
        for tree in ("zh-CN", "zh", "generic"):
            shutil.copytree(source.path("package"), os.path.join(self.work, "build", tree))
        for folder in ("tools", "deploy"):
            os.symlink(os.path.join(rf.REPO, folder), os.path.join(self.work, folder))
        self.addCleanup(lambda: subprocess.run(
            ["bash", os.path.join(rf.REPO, "deploy", "nginx", "serve"), "--stop",
             self.release.log_dir], capture_output=True))

    def run_line(self, assignments, command):
        script = "set -euo pipefail\n" + "".join(a + "\n" for a in assignments) + command
        for written, here in self.places.items():
            script = script.replace(written, here)
        result = subprocess.run(["bash", "-c", script], cwd=self.work, capture_output=True,
                                text=True, env=dict(os.environ, HOME=self.home),
                                stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, "%s\n%s%s" % (command, result.stdout,
                                                            result.stderr))
        return result.stdout

    def takes(self, inside, share):
        """The release a fresh installation in or out of a stage fetches in a scheduled run,
        or None."""
        before = len(self.fetched())
        self.run_agent(self.installation(inside=inside, share=share), "silent")
        return (self.fetched()[before:] or [None])[0]

    def served_by_store(self, page):
        with open(os.path.join(self.store, page), "rb") as a, \
                open(os.path.join(self.release.server_dir, page), "rb") as b:
            return a.read() == b.read()

    def test_the_publishing_block_does_what_each_comment_says(self):
        commands = readme_commands()
        assignments = [c for c in commands if re.match(r"^[A-Z]+=", c)]
        done = []
        for command in commands:
            if command in assignments or " keygen " in command:
                continue
            out = self.run_line(assignments, command)
            done.append(command.split()[1] if command.startswith("$P ") else command.split()[0])
            if "serve --background" in command:
                # Look at it: a person's check takes the test release before anyone else.
                person = self.installation()
                self.run_agent(person)
                self.assertEqual(self.fetched(), ["1204"])
            elif command.startswith("$U"):
                self.assertTrue(self.served_by_store("kivover/testver.htm"))
            elif " promote " in command:
                self.assertTrue(self.served_by_store("kivover/ver.htm"))
                self.assertEqual(self.takes(inside=True, share=500), "1204")
                self.assertIsNone(self.takes(inside=False, share=500))
            elif " rollout " in command:
                self.assertTrue(self.served_by_store("d/ver.htm"))
                self.assertIn("share 50%", self.run_line(assignments, "$P status --out /srv/kivo9"))
            elif " halt " in command:
                self.assertTrue(self.served_by_store("d/ver.htm"))
                self.assertIsNone(self.takes(inside=True, share=500))
            elif " stats " in command:
                self.assertRegex(out, r"(?m)^\d{4}-\d\d-\d\d +1203 +\d+$")
        self.assertEqual(done, ["release", "verify", "deploy/nginx/serve", "$U", "promote",
                                "rollout", "halt", "status", "list", "prune", "resign", "stats",
                                "deploy/nginx/serve"])


if __name__ == "__main__":
    ks.main()
