"""Staged releases, halts and a key rotation, published with kivo-publish and served by
nginx, to the agents built with this folder's throw-away keys (UpgradeAgentSigned with the
keys of slot1 and slot2; UpgradeAgentRotated, the build after a rotation, with following and
slot2).

The installations run build 1203; the normal release before is 1204 and 1205 is staged. The
cohort of an installation comes from its install.id, which a test may write to put it in
or out of a stage (the bucket is computed by the fixture as the agent computes it).
"""

import hashlib
import http.client
import json
import os
import shutil
import stat
import subprocess
import sys
import time
import unittest
import zipfile

import kivo_scenario as ks
import release_fixture as rf
from agent_scenarios import AgentInstallation, lines

sys.path.insert(0, os.path.join(rf.REPO, "tools", "publish"))
from kivopublish import keys, signed_page  # noqa: E402

KEY_DIR = os.environ.get("KIVO_TEST_KEY_DIR", "")
LOCALE = {"LANG": "en_US.UTF-8", "LC_ALL": "", "LC_MESSAGES": ""}
HALTED = "Refused http://version.kivo9.example/kivover/%s: release 1205 is halted"
EDGE_PAGE_SECONDS = 2  # the edge's 30 s page time, shortened for the test


def key(name, public=False):
    """The path of a throw-away key of this build folder (slot1, slot2, following)."""
    return os.path.join(KEY_DIR, name, "release-key.pub.pem" if public else "release-key.pem")


class SignedFleet:
    """Installations of build 1203 with a signed agent, against self.release."""

    @classmethod
    def setUpClass(cls):
        if not KEY_DIR:
            raise unittest.SkipTest("needs KIVO_TEST_KEY_DIR (the ctest entry rollout_scenarios)")

    def serve_releases(self, versions, promote_args):
        """Publishes each version (slot 1's key) and promotes it with promote_args[version]."""
        self.release = rf.ReleaseServer(key=key("slot1"), pubkey=key("slot1", public=True))
        self.addCleanup(self.release.cleanup)
        source = AgentInstallation(tree_extractor=True)
        try:
            for version in versions:
                source.write("package/Resource/version.ini", "[Version]\nupdate=%s\n" % version)
                self.release.publish(version, {"en": source.path("package")})
                self.release.tool("promote", *promote_args.get(version, []))
        finally:
            source.cleanup()
        self.release.start()

    def installation(self, inside=None, agent="UpgradeAgentSigned", share=5000,
                     tree_extractor=True):
        """A fresh installation; inside puts it in (True) or out of a stage of share basis
        points of the normal page's salt, None leaves it to make its own id; tree_extractor
        False gives it the real extractor of the build."""
        inst = AgentInstallation(tree_extractor=tree_extractor)
        self.addCleanup(inst.cleanup)
        for program in ("Kivo9Data/Resource/UnPack.exe", "Kivo9Data/update/Kivo9PostUpgrade.exe"):
            self.addCleanup(ks.wait_until_gone, inst.path(program))
        inst.install_program(agent, "Kivo9Data/UpgradeAgent" + ks._config.suffix)
        if inside is not None:
            inst.write("Kivo9Data/install.id",
                       rf.install_id_file(self.release.page_salt(), share, inside))
        return inst

    def agent_env(self, inst, proxy=None):
        env = dict(LOCALE, http_proxy=proxy or self.release.proxy_url, no_proxy="", NO_PROXY="")
        if not ks.is_windows():
            env["TMPDIR"] = inst.path("tmp")
        return env

    def run_agent(self, inst, *args, proxy=None):
        result = ks.run(inst.agent, args, cwd=inst.path("tmp"), env=self.agent_env(inst, proxy))
        self.assertEqual(result.returncode, 1, result.stderr)
        return result

    def fetched(self):
        """The releases the package requests so far named (the agent has waited for the
        extractor before it ends)."""
        return [r["v"] for r in self.release.stats_records() if r["status"] == 200]


class RolloutScenarios(SignedFleet, unittest.TestCase):
    def setUp(self):
        self.serve_releases(("1204", "1205"), {"1205": ["--share", "50%"]})

    def test_a_stage_takes_its_share_the_others_the_release_before(self):
        inside, outside = self.installation(inside=True), self.installation(inside=False)
        self.run_agent(inside, "silent")
        self.assertEqual(self.fetched(), ["1205"])
        self.run_agent(outside, "silent")
        self.assertEqual(self.fetched(), ["1205", "1204"])
        self.assertTrue(outside.exists("Kivo9Data/update/Kivo9.exe"), "the release before handed over")
        # A person's check is not staged; a fresh installation makes its own id once.
        person = self.installation()
        self.run_agent(person)
        self.assertEqual(self.fetched()[-1], "1205")
        self.assertFalse(person.exists("Kivo9Data/install.id"), "made at first need only")
        self.run_agent(person, "silent")
        first = person.read("Kivo9Data/install.id")
        self.run_agent(person, "silent")
        self.assertEqual(person.read("Kivo9Data/install.id"), first)
        # Each page request said the build and whether it was the day's first check (the
        # second page request of a run that fetched a package is the check before the
        # hand-over).
        said = [(r["chan"], r["b"], r["d"]) for r in self.release.stats_records("page")]
        self.assertEqual(said[-6:], [("testver", "1203", "1"), ("testver", "1203", "0"),
                                     ("ver", "1203", "0"), ("ver", "1203", "0"),
                                     ("ver", "1203", "0"), ("ver", "1203", "0")])

    def test_a_huge_install_id_is_replaced_by_a_new_one_and_costs_no_memory(self):
        inst = self.installation()
        with open(inst.path("Kivo9Data/install.id"), "wb") as f:
            f.truncate(1 << 30)  # sparse: a gigabyte that costs no disk
        result = ks.run_measured(inst.agent, ["silent"], cwd=inst.path("tmp"),
                                 env=self.agent_env(inst))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertLess(result.peak_kib, 256 * 1024, "read whole")
        self.assertRegex(inst.read("Kivo9Data/install.id"), rb"^kivo9-install-id 2\n[0-9a-f]{32}\nsum [0-9a-f]{64}\n$")
        self.assertEqual(len(self.fetched()), 1, "the run went on with its new id")

    def test_a_halt_stops_every_agent_and_a_person_too(self):
        self.release.tool("halt")
        inside, person = self.installation(inside=True), self.installation()
        self.run_agent(inside, "silent")
        self.assertEqual(self.fetched(), ["1204"])
        result = self.run_agent(person)
        self.assertIn(HALTED % "testver.htm", lines(result.stderr))
        self.assertFalse(person.exists("Kivo9Data/update"))
        self.assertEqual(self.fetched(), ["1204"])

    def test_a_halt_published_during_the_download_stops_the_hand_over(self):
        if ks.is_windows():
            self.skipTest("the extractor is wrapped in a shell script")
        inst = self.installation(inside=True)
        extractor = inst.path("Kivo9Data/Resource/UnPack.exe")
        os.rename(extractor, extractor + ".real")
        os.rename(extractor + ".tree", extractor + ".real.tree")
        with open(extractor, "w") as f:
            f.write("#!/bin/sh\n%s %s halt --out %s --key %s >/dev/null\nexec \"$0.real\" \"$@\"\n"
                    % (sys.executable, rf.TOOL, self.release.server_dir, self.release.key))
        os.chmod(extractor, stat.S_IRWXU)
        result = self.run_agent(inst, "silent")
        self.assertEqual(self.fetched(), ["1205"])
        self.assertIn(HALTED % "ver.htm", lines(result.stderr))
        self.assertFalse(inst.exists("Kivo9Data/update"), "nothing handed over")

    def test_through_an_edge_every_agent_obeys_a_halt_after_its_page_time(self):
        edge_conf = os.path.join(self.release.root, "edge")
        shutil.copytree(os.path.join(rf.REPO, "deploy", "nginx"), edge_conf)
        path = os.path.join(edge_conf, "kivo9-edge.conf")
        with open(path) as f:
            conf = f.read()
        self.assertIn("proxy_cache_valid 200 30s;", conf)
        with open(path, "w") as f:
            f.write(conf.replace("proxy_cache_valid 200 30s;",
                                 "proxy_cache_valid 200 %ds;" % EDGE_PAGE_SECONDS))
        port = rf.free_port()
        logs = os.path.join(self.release.root, "edge-logs")
        serve = os.path.join(edge_conf, "serve")
        subprocess.run(["bash", serve, "--background", "--edge", str(self.release.port),
                        str(port), logs], check=True, capture_output=True)
        self.addCleanup(subprocess.run, ["bash", serve, "--stop", logs], capture_output=True)
        edge = "http://127.0.0.1:%d/" % port
        agents = [self.installation(inside=True) for _ in range(3)]
        self.run_agent(agents[0], "silent", proxy=edge)  # the edge now holds the staged page
        self.release.tool("halt")
        halted = time.monotonic()
        self.run_agent(agents[1], "silent", proxy=edge)
        if time.monotonic() - halted < EDGE_PAGE_SECONDS:
            self.assertEqual(self.fetched(), ["1205", "1205"], "the kept page")
        # nginx keeps time in whole seconds: a page may stay up to a second past its time.
        time.sleep(max(0, halted + EDGE_PAGE_SECONDS + 1.2 - time.monotonic()))
        self.run_agent(agents[2], "silent", proxy=edge)
        self.assertEqual(self.fetched()[-1], "1204")
        self.assertEqual(len(self.release.stats_records()), 3,
                         "every statistics request reaches the origin")
        # Each page request is counted once: by the edge, which passes it on without b and d.
        with open(os.path.join(logs, "stats.log")) as f:
            at_edge = [json.loads(line) for line in f]
        self.assertEqual({(r["kind"], r["b"]) for r in at_edge}, {("page", "1203")})
        self.assertEqual({r["b"] for r in self.release.stats_records("page")}, {""})
        # A cut package goes on through the edge too: the rest while the tag holds, else whole.
        def ranged(tag):
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            connection.request("GET", "/d/1205/uen.jpg", headers={
                "Host": "download.kivo9.example", "Range": "bytes=100-", "If-Range": tag})
            answer = connection.getresponse()
            result = answer.status, answer.getheader("ETag"), len(answer.read())
            connection.close()
            return result
        size = os.path.getsize(os.path.join(self.release.server_dir, "d", "1205", "uen.jpg"))
        _, tag, _ = ranged('"none"')
        self.assertEqual(ranged(tag), (206, tag, size - 100))
        self.assertEqual(ranged('"other"'), (200, tag, size))


class SolidPackages(SignedFleet, unittest.TestCase):
    """The release's solid package, which signed agents take before the zip package of the
    same tree, unpacked by the installation's own extractor."""

    def setUp(self):
        self.serve_releases(("1204",), {})

    def takes(self):
        """Runs a fresh installation's agent; returns it and the package requests it made as
        (form, status, bytes)."""
        inst = self.installation(tree_extractor=False)
        before = len(self.release.stats_records())
        result = self.run_agent(inst, "silent")
        asked = [(r["form"], r["status"], r["bytes"]) for r in self.release.stats_records()[before:]]
        return inst, result, asked

    def test_the_solid_package_is_taken_and_the_zip_package_when_it_fails(self):
        folder = os.path.join(self.release.server_dir, "d", "1204")
        solid = os.path.getsize(os.path.join(folder, "uen.tzst"))
        with open(os.path.join(folder, "uen.tzst"), "rb") as f:
            published = f.read()
        handed_over = []
        inst, result, asked = self.takes()
        self.assertEqual(asked, [("solid", 200, solid)], result.stderr)
        handed_over.append(inst)
        # A solid package that is not the signed one is refused; the zip package is taken.
        with open(os.path.join(folder, "uen.tzst"), "r+b") as f:
            f.seek(solid // 2)
            byte = f.read(1)
            f.seek(solid // 2)
            f.write(bytes([byte[0] ^ 1]))
        inst, result, asked = self.takes()
        zip_size = os.path.getsize(os.path.join(folder, "uen.jpg"))
        self.assertEqual(asked, [("solid", 200, solid), ("", 200, zip_size)])
        self.assertRegex(result.stderr.decode(), r"Refused http://stats\.kivo9\.example/tg/kivopatch/en/"
                                        r"\?\S*&v=1204&from=1203&form=solid: ")
        handed_over.append(inst)
        # A solid package signed as it is but holding another tree than its file list (a
        # vendor's fault the publish tool would refuse): the extractor's tree is not taken,
        # and the zip package follows in the same run.
        with open(os.path.join(folder, "uen.tzst"), "wb") as f:
            f.write(self.lying_solid_package(published))
        inst, result, asked = self.takes()
        self.assertEqual([(form, status) for form, status, _ in asked],
                         [("solid", 200), ("", 200)], result.stderr)
        handed_over.append(inst)
        for inst in handed_over:
            self.assertEqual(inst.read("Kivo9Data/update/Kivo9.exe"),
                             inst.read("package/Kivo9.exe"))
            self.assertIn(b"update=1204", inst.read("Kivo9Data/update/Resource/version.ini"))
            self.assertTrue(inst.exists("Kivo9Data/update/Resource/files.lst"))


    def lying_solid_package(self, published):
        """The bytes of the published solid package with its browser no longer the file
        list's, and the normal pages re-signed with its size and hash."""
        tar = subprocess.run(["zstd", "-q", "-d", "-c"], input=published, capture_output=True,
                             check=True).stdout
        header = next(at for at in range(0, len(tar), 512) if tar[at:at + 10] == b"Kivo9.exe\0")
        data = header + 512  # the browser's first byte, flipped
        lying = tar[:data] + bytes([tar[data] ^ 1]) + tar[data + 1:]
        package = subprocess.run(["zstd", "-q", "-19", "-c"], input=lying, capture_output=True,
                                 check=True).stdout
        key = keys.load_private(self.release.key)
        for path in ("kivover/ver.htm", "d/ver.htm"):
            with open(os.path.join(self.release.server_dir, path), "rb") as f:
                signed, slot, _ = signed_page.split_page(f.read())
            block = signed_page.parse_block(signed)
            block.solid = [(name, len(package), hashlib.sha256(package).hexdigest())
                           for name, _, _ in block.solid]
            page = signed_page.render_page(block, slot, lambda data: keys.sign(key, data))
            with open(os.path.join(self.release.server_dir, path), "wb") as f:
                f.write(page)
        return package


class DeltaPackages(SignedFleet, unittest.TestCase):
    """Releases 1200 to 1204, each changing a few bytes of a large file; 1204 has delta
    packages from the three releases before it, which signed agents at those builds take and
    their installation's own extractor applies."""

    def setUp(self):
        self.release = rf.ReleaseServer(key=key("slot1"), pubkey=key("slot1", public=True))
        self.addCleanup(self.release.cleanup)
        source = AgentInstallation(tree_extractor=True)
        self.addCleanup(source.cleanup)
        large = bytearray(hashlib.shake_256(b"large").digest(1 << 20))
        for version in ("1200", "1201", "1202", "1203", "1204"):
            at = 1000 * int(version[-1])
            large[at:at + 4] = version.encode()
            source.write("package/Resource/large.bin", bytes(large))
            source.write("package/Resource/version.ini", "[Version]\nupdate=%s\n" % version)
            self.release.publish(version, {"en": source.path("package")}, deltas=3)
            self.release.tool("promote")
        self.release.start()
        self.folder = os.path.join(self.release.server_dir, "d", "1204")
        with open(os.path.join(self.folder, "uen.1203.delta"), "rb") as f:
            self.published = f.read()

    def at(self, version, change=None):
        """A fresh installation whose files are release version's, with change(inst) done."""
        inst = self.installation(tree_extractor=False)
        with zipfile.ZipFile(os.path.join(self.folder, "..", version, "uen.jpg")) as package:
            for name in package.namelist():
                inst.write("Kivo9Data/" + name, package.read(name))
        if change:
            change(inst)
        return inst

    def takes(self, inst):
        """Runs the agent; returns the package requests it made as (form, from, status) and
        whether the update directory holds release 1204's tree byte for byte."""
        before = len(self.release.stats_records())
        result = self.run_agent(inst, "silent")
        asked = [(r["form"], r["from"], r["status"]) for r in self.release.stats_records()[before:]]
        with zipfile.ZipFile(os.path.join(self.folder, "uen.jpg")) as package:
            # The post-upgrade program (the recorder) leaves its record beside it.
            made = [name for name in inst.files("Kivo9Data/update")
                    if not name.endswith("/") and not name.endswith(".record")]
            whole = sorted(made) == sorted(package.namelist()) and all(
                inst.read("Kivo9Data/update/" + name) == package.read(name)
                for name in package.namelist())
        return asked, whole, result.stderr.decode()

    def test_a_delta_is_taken_from_the_last_releases_and_the_full_package_otherwise(self):
        deltas = sorted(f for f in os.listdir(self.folder) if f.endswith(".delta"))
        self.assertEqual(deltas, ["uen.1201.delta", "uen.1202.delta", "uen.1203.delta"])
        self.assertLess(os.path.getsize(os.path.join(self.folder, "uen.1203.delta")) * 20,
                        os.path.getsize(os.path.join(self.folder, "uen.tzst")))
        for version, form in (("1203", "delta"), ("1201", "delta"), ("1200", "solid")):
            asked, whole, stderr = self.takes(self.at(version))
            self.assertEqual(asked, [(form, version, 200)], stderr)
            self.assertTrue(whole, version)
        # stats prices the two deltas at what the solid package would have sent.
        sent = json.loads(rf.run_tool("stats", self.release.stats_log, "--json", "--tree",
                                      self.release.server_dir).stdout)
        delta = [day["sent"]["delta"] for day in sent["days"].values()][0]
        solid = os.path.getsize(os.path.join(self.folder, "uen.tzst"))
        self.assertEqual((delta["packages"], delta["priced"], delta["full_bytes"]),
                         (2, 2, 2 * solid))
        page = os.path.join(self.release.root, "report.html")
        rf.run_tool("report", self.release.stats_log, "--out", page, "--tree",
                    self.release.server_dir)
        with open(page, encoding="utf-8") as f:
            self.assertIn("the 2 delta packages priced would have sent %.1f MB as full packages"
                          % (2 * solid / 1e6), f.read())

    def test_a_delta_that_makes_no_tree_of_the_release_is_followed_by_the_full_package(self):
        def changed_by_hand(inst):
            inst.write("Kivo9Data/Resource/large.bin", b"edited")
        cases = [("an installed file changed by hand", changed_by_hand, None),
                 ("a patch that does not apply", None, self.flipped_patch),
                 ("a delta cut short", None, lambda data, listed: (data[:len(data) // 2], listed)),
                 ("a delta that lies about its tree", None,
                  lambda data, listed: (data, "0" * 64))]
        published = self.published, self.page_list_hash()
        for what, change, resign in cases:
            with self.subTest(what):
                if resign:
                    self.resign_delta(resign)
                inst = self.at("1203", change)
                asked, whole, stderr = self.takes(inst)
                self.assertEqual(asked, [("delta", "1203", 200), ("solid", "1203", 200)], stderr)
                self.assertTrue(whole, stderr)
                # The installation never fetches that delta again.
                asked, whole, stderr = self.takes(inst)
                if resign:
                    self.resign_delta(lambda data, listed: published)
                self.assertEqual(asked, [("solid", "1203", 200)], stderr)
                self.assertTrue(whole, stderr)

    def page_list_hash(self):
        with open(os.path.join(self.release.server_dir, "d", "ver.htm"), "rb") as f:
            block = signed_page.parse_block(signed_page.split_page(f.read())[0])
        return [d for d in block.deltas if d[1] == "1203"][0][4]

    @staticmethod
    def flipped_patch(data, listed):
        """The delta with a byte of its patch of large.bin flipped."""
        tar = subprocess.run(["zstd", "-q", "-d", "-c"], input=data, capture_output=True,
                             check=True).stdout
        header = tar.index(b"Resource/large.bin\0")  # the entry's tar header
        at = header - header % 512 + 512 + 40
        tar = tar[:at] + bytes([tar[at] ^ 0x55]) + tar[at + 1:]
        return subprocess.run(["zstd", "-q", "-19", "-c"], input=tar, capture_output=True,
                              check=True).stdout, listed

    def resign_delta(self, change):
        """Writes change(delta bytes, file list hash) as the delta from 1203 and signs the
        pages with its size, hash and file list hash."""
        path = os.path.join(self.folder, "uen.1203.delta")
        with open(path, "rb") as f:
            data = f.read()
        pages = {}
        for page in ("kivover/ver.htm", "d/ver.htm"):
            with open(os.path.join(self.release.server_dir, page), "rb") as f:
                signed, slot, _ = signed_page.split_page(f.read())
            pages[page] = (signed_page.parse_block(signed), slot)
        listed = [d for d in pages["d/ver.htm"][0].deltas if d[1] == "1203"][0][4]
        data, listed = change(data, listed)
        signing = keys.load_private(self.release.key)
        for page, (block, slot) in pages.items():
            block.deltas = [d for d in block.deltas if d[1] != "1203"] + [
                ("en", "1203", len(data), hashlib.sha256(data).hexdigest(), listed)]
            with open(os.path.join(self.release.server_dir, page), "wb") as f:
                f.write(signed_page.render_page(block, slot, lambda b: keys.sign(signing, b)))
        with open(path, "wb") as f:
            f.write(data)


class KeyRotation(SignedFleet, unittest.TestCase):
    """The rotation the README walks through: agents built with the current key in slot 1
    and the next in slot 2 (UpgradeAgentSigned), and the build after it, with the next key
    kept in slot 2 and a following key in slot 1 (UpgradeAgentRotated)."""

    def setUp(self):
        self.serve_releases(("1204",), {})

    def takes(self, agent):
        """The release a fresh installation of build 1203 with agent fetches in a scheduled
        run, or None."""
        before = len(self.fetched())
        self.run_agent(self.installation(agent=agent), "silent")
        taken = self.fetched()[before:]
        return taken[0] if taken else None

    def publish_tool(self, *args, check=True):
        return rf.run_tool(args[0], "--out", self.release.server_dir, *args[1:], check=check)

    def test_every_agent_keeps_updating_and_the_old_key_ends_signing_nothing(self):
        old, rotated = "UpgradeAgentSigned", "UpgradeAgentRotated"
        self.assertEqual(self.takes(old), "1204")
        # 1. Record the next key, which every agent already carries in slot 2.
        self.publish_tool("rotate", "--key-slot", "2", "--pubkey", key("slot2", public=True))
        self.assertEqual(self.takes(old), "1204")
        # 2. Every page signed with it: the old key signs nothing served any more.
        self.publish_tool("resign", "--key-slot", "2", "--key", key("slot2"))
        self.assertEqual((self.takes(old), self.takes(rotated)), ("1204", "1204"))
        # 3. The following key in slot 1, where the old one was: the old key signs nothing.
        self.publish_tool("rotate", "--key-slot", "1", "--pubkey", key("following", public=True))
        self.assertEqual((self.takes(old), self.takes(rotated)), ("1204", "1204"))
        for command in (["resign"], ["promote"]):
            refused = self.publish_tool(*command, "--key", key("slot1"), check=False)
            self.assertEqual(refused.returncode, 1, refused.stderr)
        # 4. Releases go on with the next key; both builds of the agent take them.
        source = AgentInstallation(tree_extractor=True)
        self.addCleanup(source.cleanup)
        source.write("package/Resource/version.ini", "[Version]\nupdate=1205\n")
        self.publish_tool("release", "--version", "1205", "--key-slot", "2", "--key",
                          key("slot2"), "--tree", "en=" + source.path("package"))
        self.publish_tool("promote", "--key-slot", "2", "--key", key("slot2"))
        self.assertEqual((self.takes(old), self.takes(rotated)), ("1205", "1205"))
        # The tree holds to the keys the rotated agents are built with, and the next key
        # cannot be replaced while it signs the pages.
        self.publish_tool("verify", "--pubkey", key("following", public=True),
                          "--pubkey", key("slot2", public=True))
        replaced = self.publish_tool("rotate", "--key-slot", "2", "--pubkey",
                                     key("slot1", public=True), check=False)
        self.assertEqual(replaced.returncode, 1)
        self.assertIn("re-sign them with the other slot first", replaced.stderr)
        for line in self.publish_tool("status").stdout.splitlines():
            self.assertTrue(line.endswith("key slot 2"), line)


if __name__ == "__main__":
    ks.main()
