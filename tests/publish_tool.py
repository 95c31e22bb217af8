"""The publish tool on its own: a release of two language trees and the generic one, checked
by `verify`, by openssl on the signed bytes and by the Linux extractor; faults that `verify`
must catch; trees it must refuse while the previous release stays served."""

import base64
import datetime
import collections
import fcntl
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

import kivo_scenario as ks
import release_fixture as rf

sys.path.insert(0, os.path.join(rf.REPO, "tools", "publish"))
from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature  # noqa: E402
from kivopublish import tree_scan  # noqa: E402

TREES = {
    "zhcn": {"Kivo9.exe": b"MZ zhcn build", "Resource/2Filter.ini": "[UrlFilter]\nurl1=a\n",
             "Plugins/\u8bf4\u660e.txt": "zh-CN notes\n"},
    "zh": {"Kivo9.exe": b"MZ zh build", "Resource/version.ini": "[Version]\nupdate=1\n[X]\nk=v\n"},
    "-": {"Kivo9.exe": b"MZ generic build", "empty.dat": b""},
}


def write_tree(root, files):
    for name, content in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)


def snapshot(root):
    """{relative path: bytes} of every file below root."""
    found = {}
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def signed_bytes(page):
    """The signed bytes and the raw signature, found as a verifier finds them."""
    start = page.index(b"Kivo9Signed:1\n")
    end = page.index(b"\nKivo9Sig:k", start) + 1
    signature = re.match(rb"Kivo9Sig:k1:([A-Za-z0-9+/=]+)\n:Kivo9SignedEnd\n", page[end:])
    return page[start:end], base64.b64decode(signature.group(1))


def published(test, trees):
    """A ReleaseServer (cleaned up with test) with trees ({name: {path: content}}) laid out
    in its folder and published as 1204; returns it and {name: tree folder}."""
    release = rf.ReleaseServer()
    test.addCleanup(release.cleanup)
    folders = {}
    for name, files in trees.items():
        folders[name] = os.path.join(release.root, "tree-" + name)
        write_tree(folders[name], files)
    release.publish("1204", folders)
    return release, folders


class PublishTool(unittest.TestCase):
    def setUp(self):
        self.release, self.trees = published(self, TREES)
        self.server = self.release.server_dir

    def path(self, relative):
        return os.path.join(self.server, relative)

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def test_release_holds_for_verify_openssl_and_the_extractor(self):
        self.assertEqual(self.release.tool("verify").returncode, 0)
        page = self.read("kivover/testver.htm")
        self.assertEqual(page, self.read("d/testver.htm"))
        self.assertFalse(os.path.exists(self.path("kivover/ver.htm")))
        data, raw = signed_bytes(page)
        self.assertIn(b"\nchan=testver\nv=1204\n", data)
        self.assertIn(b"Kivo9Version:1204:Kivo9VersionEnd", page[:page.index(data)])
        self.assert_openssl_verifies(data, raw)
        lines = re.findall(rb"^pkg=(\S+) (\d+) ([0-9a-f]{64})$", data, re.M)
        self.assertEqual([n.decode() for n, _, _ in lines], list(TREES))
        solid = re.findall(rb"^solid=(\S+) (\d+) ([0-9a-f]{64})$", data, re.M)
        self.assertEqual([n for n, _, _ in solid], [n for n, _, _ in lines])
        for kind, found in (("jpg", lines), ("tzst", solid)):
            for name, size, digest in found:
                served = "d/1204/u%s.%s" % ("" if name == b"-" else name.decode(), kind)
                with self.subTest(package=served):
                    package = self.read(served)
                    self.assertEqual((len(package), hashlib.sha256(package).hexdigest()),
                                     (int(size), digest.decode()))
                    self.assert_unpacks(name.decode(), package)
        # The names without a number serve the normal release, of which there is none yet.
        self.assertEqual([f for f in os.listdir(self.path("d")) if f.endswith(".jpg")], [])
        # The same trees give the same bytes again.
        before = snapshot(os.path.join(self.server, "d"))
        self.release.publish("1204", self.trees)
        after = snapshot(os.path.join(self.server, "d"))
        self.assertEqual({k: v for k, v in after.items() if k.endswith((".jpg", ".tzst"))},
                         {k: v for k, v in before.items() if k.endswith((".jpg", ".tzst"))})

    def assert_openssl_verifies(self, data, raw):
        work = tempfile.mkdtemp(dir=self.release.root)
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        for name, content in (("data", data), ("sig", der)):
            with open(os.path.join(work, name), "wb") as f:
                f.write(content)
        result = subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.release.pubkey,
                                 "-signature", "sig", "data"], cwd=work, capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def assert_unpacks(self, name, package):
        """The Linux extractor unpacks the package into the tree, its list and version file."""
        work = tempfile.mkdtemp(dir=self.release.root)
        archive, dest = os.path.join(work, "p.rar"), os.path.join(work, "out") + os.sep
        with open(archive, "wb") as f:
            f.write(package)
        result = subprocess.run([ks.built_program("extractor"), "x", "-o+", "-y", archive, dest],
                                capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        unpacked = snapshot(dest)
        version = unpacked.pop(os.path.join("Resource", "version.ini")).decode()
        self.assertRegex(version, r"^\[Version\]\nupdate=1204\n")
        file_list = unpacked.pop(os.path.join("Resource", "files.lst")).decode()
        self.assertEqual(unpacked, {os.path.join(*k.split("/")): v for k, v in
                                    snapshot_named(TREES[name]).items()
                                    if k != "Resource/version.ini"})
        listed = {line.split(" ", 2)[2]: line.split(" ")[:2] for line in file_list.splitlines()}
        self.assertEqual(set(listed), {k.replace(os.sep, "/") for k in unpacked} |
                         {"Resource/version.ini"})
        for rel, content in unpacked.items():
            self.assertEqual(listed[rel.replace(os.sep, "/")],
                             [hashlib.sha256(content).hexdigest(), str(len(content))])
        with open(self.path("meta/1204/%s.files.lst" % name), encoding="utf-8") as f:
            self.assertEqual(f.read(), file_list)

    def test_verify_catches_a_flipped_byte(self):
        package = self.read("d/1204/uzhcn.jpg")
        solid = self.read("d/1204/uzhcn.tzst")
        page = self.read("d/testver.htm")
        cases = [  # (file, offset of the byte to flip, what verify must name)
            ("d/1204/uzhcn.jpg", len(package) // 2, "d/1204/uzhcn.jpg"),
            ("d/1204/uzhcn.tzst", len(solid) // 2, "d/1204/uzhcn.tzst"),
            ("d/testver.htm", page.index(b"solid=zh ") + 40, "testver.htm"),
            ("kivover/testver.htm", page.index(b"1204:Kivo9VersionEnd"), "testver.htm"),
            ("d/testver.htm", page.index(b"pkg=zh ") + 40, "testver.htm"),
            ("d/testver.htm", page.index(b"Kivo9Sig:k1:") + 20, "testver.htm"),
        ]
        for relative, offset, named in cases:
            with self.subTest(file=relative, offset=offset):
                original = self.read(relative)
                flipped = bytearray(original)
                flipped[offset] ^= 0x01
                with open(self.path(relative), "wb") as f:
                    f.write(flipped)
                result = self.release.tool("verify", check=False)
                with open(self.path(relative), "wb") as f:
                    f.write(original)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertRegex(result.stdout, r"FAULT [^\n]*%s" % re.escape(named))
        self.assertEqual(self.release.tool("verify").returncode, 0)

    def test_promote_next_release_and_resign(self):
        self.release.tool("promote")
        promoted = self.read("d/ver.htm")
        self.assertIn(b"\nchan=ver\nv=1204\n", promoted)
        self.assertEqual(promoted, self.read("kivover/ver.htm"))
        self.assertEqual(self.read("d/uzh.jpg"), self.read("d/1204/uzh.jpg"))
        too_old = rf.run_tool("release", "--out", self.server, "--version", "1203", "--key",
                              self.release.key, "--tree", "zh=" + self.trees["zh"], check=False)
        self.assertEqual(too_old.returncode, 1)
        # 1205 drops the zh package: the normal release 1204 still serves it until 1205 is
        # promoted; then it is gone, and 1204's own copy stays.
        copy = os.path.join(self.release.root, "copy")
        shutil.copytree(self.server, copy, symlinks=True)
        self.release.publish("1205", {"zhcn": self.trees["zhcn"], "-": self.trees["-"]})
        self.assertEqual(self.read("d/uzh.jpg"), self.read("d/1204/uzh.jpg"))
        self.assertEqual(self.read("d/ver.htm"), promoted)
        self.assertEqual(self.release.tool("verify").returncode, 0)
        rf.run_tool("promote", "--out", self.server, "--key", self.release.key)
        self.assertFalse(os.path.exists(self.path("d/uzh.jpg")))
        self.assertTrue(os.path.exists(self.path("d/1204/uzh.jpg")))
        self.assertEqual(self.read("d/uzhcn.jpg"), self.read("d/1205/uzhcn.jpg"))
        os.remove(self.path("d/1205/uzhcn.jpg"))
        self.assertRegex(self.release.tool("verify", check=False).stdout,
                         r"FAULT d/1205/uzhcn.jpg: missing")
        shutil.rmtree(self.server)
        shutil.copytree(copy, self.server, symlinks=True)
        self.release.publish("1205", {"zhcn": self.trees["zhcn"], "-": self.trees["-"]})
        for page in ("kivover/ver.htm", "d/ver.htm"):
            os.remove(self.path(page))  # a tree with a test release only

        old = self.read("d/testver.htm")
        too_long = self.release.tool("resign", "--expires-days", "8", check=False)
        self.assertEqual((too_long.returncode, self.read("d/testver.htm")), (1, old))
        self.assertIn("want 1 to 7", too_long.stderr)
        self.release.tool("resign", "--expires-days", "1")
        new = self.read("d/testver.htm")
        fields = [re.compile(rb"^(seq|exp)=.*\n", re.M), re.compile(rb"^Kivo9Sig:.*\n", re.M)]
        strip = lambda page: fields[1].sub(b"", fields[0].sub(b"", page))  # noqa: E731
        self.assertEqual(strip(new), strip(old))
        seq = lambda page: int(re.search(rb"^seq=(\d+)$", page, re.M).group(1))  # noqa: E731
        self.assertGreater(seq(new), seq(old))
        self.assertIn("expires at", self.release.tool("verify").stdout)  # within a day

    def test_status_judges_each_page_by_the_copy_nginx_serves(self):
        self.release.tool("promote")
        self.assertEqual(self.release.tool("status").returncode, 0)
        for path, spoil, fault in (
                ("d/ver.htm", lambda page: page.replace(b"v=1204", b"v=1205"), "bad signature"),
                ("d/testver.htm", lambda page: None, "missing"),
                ("d/testver.htm", lambda page: page[:len(page) // 2], "")):
            with self.subTest(path=path, fault=fault):
                kept = self.read(path)
                spoiled = spoil(kept)
                if spoiled is None:
                    os.remove(self.path(path))
                else:
                    with open(self.path(path), "wb") as f:
                        f.write(spoiled)
                result = self.release.tool("status", check=False)
                self.assertEqual(result.returncode, 1, result.stdout)
                chan = "testver" if "testver" in path else "ver"
                self.assertRegex(result.stdout, r"(?m)^%s +BROKEN as served: %s: %s" % (
                    chan, re.escape(path), fault))
                self.assertEqual(self.release.tool("verify", check=False).returncode, 1)
                with open(self.path(path), "wb") as f:
                    f.write(kept)
        self.assertEqual(self.release.tool("status").returncode, 0)

    def test_list_names_every_release_and_what_serves_it(self):
        def listed():
            return {r["version"]: r for r in json.loads(self.release.tool("list", "--json").stdout)}
        self.assertEqual(listed()["1204"]["pages"], ["testver"])
        self.release.tool("promote")
        self.release.publish("1205", {"zh": self.trees["zh"], "-": self.trees["-"]})
        self.release.tool("promote", "--share", "5%")
        releases = listed()
        self.assertEqual(sorted(releases), ["1204", "1205"])
        self.assertEqual((releases["1205"]["pages"], releases["1205"]["share_basis_points"]),
                         (["ver", "testver"], 500))
        self.assertEqual((releases["1204"]["pages"], releases["1204"]["release_before_of"]),
                         ([], ["ver"]))
        self.assertEqual(releases["1205"]["packages"],
                         {n: os.path.getsize(self.path("d/1205/u%s.jpg" % n.strip("-")))
                          for n in ("zh", "-")})
        text = self.release.tool("list").stdout
        self.assertRegex(text, r"(?m)^1204 +published \d{4}-\d\d-\d\d  release before on ver  "
                               r"packages: - \d+ bytes, zh \d+ bytes, zhcn \d+ bytes$")
        self.assertRegex(text, r"(?m)^1205 +published \S+  ver 5%; testver  packages: ")

    def test_prune_removes_only_releases_nothing_serves(self):
        self.release.tool("promote")
        for version in ("1205", "1206", "1207"):
            write_tree(self.trees["zh"], {"Kivo9.exe": "MZ zh " + version})
            self.release.publish(version, {"zh": self.trees["zh"], "-": self.trees["-"]})
            if version != "1207":
                self.release.tool("promote")
        # 1207 is the test release, 1206 the release, 1205 the release before it: kept.
        self.assertEqual(self.release.tool("prune", "--keep", "1").stdout, "pruned 1204\n")
        self.assertFalse(os.path.exists(self.path("d/1204")) or os.path.exists(self.path("meta/1204")))
        self.assertEqual([r["version"] for r in json.loads(self.release.tool("list", "--json").stdout)],
                         ["1205", "1206", "1207"])
        self.assertEqual(self.release.tool("verify").returncode, 0)
        self.assertEqual(self.release.tool("prune", "--keep", "1").stdout, "nothing to prune\n")
        refused = self.release.tool("prune", "--keep", "0", check=False)
        self.assertEqual((refused.returncode, refused.stderr.strip()),
                         (1, "kivo-publish prune: --keep 0: keep at least the newest release"))

    def test_a_stage_grows_halts_and_hands_its_release_before_on(self):
        def status():
            return json.loads(self.release.tool("status", "--json").stdout)["ver"]

        def tool(*args):
            result = self.release.tool(*args, check=False)
            return result.returncode, (result.stdout + result.stderr).strip()
        self.release.tool("promote")
        for version in ("1205", "1206"):
            self.release.publish(version, self.trees)
            self.assertEqual(tool("promote", "--share", "5%"), (0, "\n".join([
                "release %s promoted to 5%%" % version,
                "outside the stage, signed agents take release 1204, the release before",
                "agents without keys take release %s now, whatever the share or a halt (they "
                "know neither)" % version])))
            if version == "1205":
                self.assertEqual(tool("rollout", "--share", "2%"), (1, "kivo-publish rollout: "
                                 "release 1205 is out to 5%; a stage only grows (halt stops it)"))
                for again in ([], ["--share", "2%"]):  # never to everyone, nor back, unasked
                    self.assertEqual(tool("promote", *again), (1, "kivo-publish promote: release "
                                     "1205 is out to 5% already; nothing changed (rollout "
                                     "--share N% widens or resumes it)"))
                    self.assertEqual(status()["share_basis_points"], 500)
                self.assertEqual(tool("rollout", "--share", "12.5%")[0], 0)
                self.assertEqual(tool("halt"), (0, "\n".join([
                    "release 1205 halted",
                    "signed agents with an older build take release 1204, the release before",
                    "agents without keys take release 1205 now, whatever the share or a halt "
                    "(they know neither)"])))
                self.assertEqual(tool("promote")[0], 1, "a halt is lifted only when asked")
                self.assertEqual(tool("halt"), (1, "kivo-publish halt: release 1205 is halted "
                                                   "already; nothing changed (rollout --share "
                                                   "N% resumes it, promote a newer release to "
                                                   "replace it)"))
        # 1206 is staged over 1204, the last release out to everyone, never the halted 1205.
        self.assertEqual({k: status()[k] for k in ("release", "share_basis_points", "halted",
                                                   "release_before", "key_slot")},
                         {"release": "1206", "share_basis_points": 500, "halted": False,
                          "release_before": "1204", "key_slot": 1})
        self.assertRegex(self.release.tool("status").stdout,
                         r"(?m)^ver +release 1206  share 5%  release before 1204  seq \d+  "
                         r"expires \S+Z  key slot 1$")
        salt = re.search(rb"^salt=(\w+)$", self.read("d/ver.htm"), re.M).group(1)
        self.assertEqual(tool("rollout", "--share", "100%")[0], 0)
        self.assertIn(b"\nshare=10000\nsalt=%s\n" % salt, self.read("d/ver.htm"), "same cohort")
        self.assertEqual(tool("rollout", "--share", "0%")[0], 1)
        self.assertEqual(self.release.tool("verify").returncode, 0)
        shutil.rmtree(self.path("d/1204"))
        self.assertRegex(self.release.tool("verify", check=False).stdout,
                         r"FAULT d/1204/uzh.jpg: missing")

    def test_stats_counts_a_fleet_exactly_and_skips_what_is_no_record(self):
        from kivopublish.fleet import stats
        def line(**fields):
            record = {"time": "2026-12-%02dT08:00:00+00:00" % fields.pop("day", 9),
                      "method": "GET", "status": 200}
            record.update(fields)
            return json.dumps(record).encode() + b"\n"
        fleet, expected = [], {}
        for day, builds in ((8, {1203: 40, 1204: 2}), (9, {1203: 30, 1204: 12, 1205: 3})):
            for build, machines in builds.items():
                for _ in range(machines):  # each checks twice; the first is its first of the day
                    fleet += [line(day=day, kind="page", b=str(build), d="1"),
                              line(day=day, kind="page", b=str(build), d="0")]
                expected[("2026-12-%02d" % day, str(build))] = machines
        fleet += [line(kind="package", name="zh", times="7", v="1205", **{"from": "1204"})] * 3
        fleet += [line(kind="package", name="zh", times="9", status=404)]
        # A download cut short, finished by its rest at the next run: one update. A piece
        # asked for by its range, though sent whole, finishes nothing.
        fleet += [line(kind="package", name="zh", times="8", v="1205", done="", **{"from": "1204"}),
                  line(kind="package", name="zh", times="9", v="1205", status=206, done="OK",
                       range="bytes 500-999/1000", **{"from": "1204"}),
                  line(kind="package", name="zh", times="1", v="1205", status=206, done="OK",
                       range="bytes 0-99/1000", **{"from": "1204"})]
        # Solid packages are counted apart with the bytes they cost, a cut one's too.
        fleet += [line(kind="package", name="en", v="1205", form="solid", bytes=700)] * 2
        fleet += [line(kind="package", name="en", v="1205", form="solid", bytes=300, done="")]
        hostile = {
            b"\xff\xfe{}\n": "not UTF-8",
            b"not json\n": "not JSON",
            b"[1, 2]\n": "not JSON",
            line(times="9" * 400): "number out of range",
            line(kind="page", b="-5", d="1"): "number out of range",
            line(method="HEAD", name="zh"): "HEAD request",
            line(time="yesterday"): "no time",
            b'{"time": "2026-12-09", "pad": "' + b"x" * stats.MAX_LINE + b'"}\n': "line too long",
        }
        log = os.path.join(self.release.root, "stats.log")
        with open(log, "wb") as f:
            f.write(b"".join(fleet) + b"".join(hostile))
        counts = stats.read_log(log)
        self.assertEqual({(d.isoformat(), str(b)): n for (d, b), n in counts.machines.items()},
                         expected)
        self.assertEqual(dict(counts.updates), {(datetime.date(2026, 12, 9), 1204, 1205): 4})
        self.assertEqual(counts.packages[(datetime.date(2026, 12, 9), "zh")], [7, 4, 7, 9])
        self.assertEqual(counts.sent[(datetime.date(2026, 12, 9), "solid")], [2, 1700])
        self.assertEqual(counts.sent[(datetime.date(2026, 12, 9), "zip")][0], 4)
        self.assertEqual(dict(counts.skipped), dict(collections.Counter(hostile.values())))
        text = rf.run_tool("stats", log).stdout
        self.assertIn("skipped: 1 not UTF-8, 2 not JSON, 2 number out of range, 1 HEAD request, "
                      "1 no time, 1 line too long", text)
        self.assertEqual(json.loads(rf.run_tool("stats", log, "--json").stdout)["days"]
                         ["2026-12-08"]["machines"], {"1203": 40, "1204": 2})
        self.assertEqual(json.loads(rf.run_tool("stats", log, "--json").stdout)["days"]
                         ["2026-12-09"]["sent"]["solid"], {"packages": 2, "bytes": 1700})

    def test_invented_names_and_builds_leave_stats_and_report_bounded(self):
        from kivopublish.fleet import stats
        log = os.path.join(self.release.root, "invented.log")
        invented = 50000
        with open(log, "w") as f:
            for day in range(1, 31):
                for n in range(invented):
                    f.write('{"time":"2026-11-%02dT08:00:00+00:00","kind":"package","name":"x%d",'
                            '"status":%d,"v":"%d","from":"%d"}\n'
                            % (day, n, 200 if n % 7 == 0 else 404, n, n + 1))
                    if n % 10 == 0:
                        f.write('{"time":"2026-11-%02dT08:00:00+00:00","kind":"page","b":"%d",'
                                '"d":"1"}\n' % (day, n))
        counts = stats.read_log(log)
        names = {name for _, name in counts.packages}
        self.assertEqual(len(names), stats.MAX_NAMES + 1)
        self.assertEqual(sum(requests for requests, _, _, _ in counts.packages.values()),
                         30 * invented, "every request still counted")
        self.assertEqual(sum(counts.machines.values()), 30 * invented // 10)
        builds = ({n for n in range(invented) if n % 10 == 0} |
                  {b for n in range(invented) if n % 7 == 0 for b in (n, n + 1)})
        self.assertEqual(counts.folded()[:2], [
            "package names beyond the first 64 summed as (other): %d" % (invented - 64),
            "builds beyond the first 24 summed as other: %d" % (len(builds) - 24)])
        for text in (stats.report(counts), stats.as_json(counts)):
            self.assertLess(len(text), 1024 * 1024)
        page = os.path.join(self.release.root, "invented.html")
        result = ks.run_measured(sys.executable, [rf.TOOL, "report", log, "--out", page], env={})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertLess(result.peak_kib, 64 * 1024)
        self.assertLess(os.path.getsize(page), 512 * 1024)

    def test_release_events_are_kept_bounded_and_read_strictly(self):
        from kivopublish import release_events
        events = os.path.join(self.server, "meta", "events.log")
        with open(events, "w") as f:  # hand-made: junk, a huge head, lines that are no event
            f.write("x" * (1 << 20) + "\n2026-11-04T09:00:00Z promote 1205 5%\n"
                    "2026-11-05T09:00:00Z promote 1205 5% extra\nnonsense\n"
                    "2026-11-06T09:00:00Z halt 1205 halted\n")
        self.assertEqual(release_events.read(self.server), [
            (datetime.date(2026, 11, 4), "promote 1205 5%"),
            (datetime.date(2026, 11, 6), "halt 1205 halted")])
        for _ in range(release_events.MAX_EVENTS + 5):
            release_events.record(self.server, "rollout", "1205", "50%")
        with open(events) as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), release_events.MAX_EVENTS)
        self.assertTrue(all(release_events.EVENT.fullmatch(line) for line in lines))
        self.assertNotIn("events.log", self.release.tool("list").stdout)

    @unittest.skipUnless(shutil.which("chromium"), "needs Debian's chromium")
    def test_the_report_draws_one_area_per_build_in_chromium(self):
        # Three days up to today, when the release was promoted to 5 % and rolled out to 50 %.
        self.release.tool("promote", "--share", "5%")
        self.release.tool("rollout", "--share", "50%")
        today = datetime.datetime.now(datetime.timezone.utc).date()
        log = os.path.join(self.release.root, "fleet.log")
        with open(log, "w") as f:
            for ago, builds in ((2, {1203: 90, 1204: 10}), (1, {1203: 50, 1204: 40, 1205: 10}),
                                (0, {1203: 20, 1204: 30, 1205: 50})):
                day = (today - datetime.timedelta(days=ago)).isoformat()
                for build, machines in builds.items():
                    f.write(('{"time":"%sT08:00:00+00:00","kind":"page","b":"%d",'
                             '"d":"1","status":200}\n' % (day, build)) * machines)
                f.write('{"time":"%sT09:00:00+00:00","kind":"package","name":"zh",'
                        '"status":200}\n' % day)
            # A machine that asks at every run for a name without a package counts once.
            for machine in ("a", "a", "a", "b"):
                f.write('{"time":"%sT10:00:00+00:00","kind":"package","name":"xx","status":404,'
                        '"hardid":"%s"}\n' % (today.isoformat(), machine))
        page = os.path.join(self.release.root, "report.html")
        rf.run_tool("report", log, "--out", page, "--tree", self.server)
        with open(page, encoding="utf-8") as f:
            html = f.read()
        self.assertNotRegex(html, r"(src|href)=\"?https?:", "opens without the network")
        # What Chromium lays out: each drawn shape's box, written into the page by a script
        # the test adds to its copy.
        probe = os.path.join(self.release.root, "probe.html")
        with open(probe, "w", encoding="utf-8") as f:
            f.write(html.replace("</body>", "<pre id=boxes></pre><script>document.getElementById("
                                 "'boxes').textContent=JSON.stringify([...document.querySelectorAll("
                                 "'.area,.bar,.tick,.event')].map(e=>{const b=e.getBBox();return"
                                 " [e.getAttribute('class'),e.dataset.build||e.dataset.package||"
                                 "e.dataset.event||e.textContent,b.width,b.height]}))"
                                 "</script></body>"))
        dom = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                              "--dump-dom", "file://" + probe], capture_output=True, text=True,
                             timeout=120).stdout
        boxes = json.loads(re.search(r'<pre id="boxes">(.*?)</pre>', dom).group(1))
        areas = {build: (width, height) for kind, build, width, height in boxes if kind == "area"}
        self.assertEqual(sorted(areas), ["1203", "1204", "1205"])
        for build, (width, height) in areas.items():
            self.assertGreater(width, 600, build)  # across the three days
            self.assertGreater(height, 10, build)
        self.assertEqual(len([b for b in boxes if b[0] == "bar" and b[1] == "zh"]), 3)
        # Each value axis says its scale, and Chromium lays the labels out.
        ticks = [(label, width > 0) for kind, label, width, _ in boxes if kind == "tick"]
        self.assertEqual(ticks, [("0%", True), ("50%", True), ("100%", True), ("0", True),
                                 ("1", True)])
        self.assertIn("run build 1205", html)
        # The release events stand on today in both pictures, drawn the height of the chart.
        events = [(label, height > 100) for kind, label, _, height in boxes if kind == "event"]
        self.assertEqual(events, [("promote 1204 5%", True), ("rollout 1204 50%", True)] * 2)
        self.assertIn("<td>%s</td><td>xx</td><td>4</td><td>2</td>" % today.isoformat(), html)

    def test_refused_trees_leave_the_release_served(self):
        outside = os.path.join(self.release.root, "outside.txt")
        write_tree(self.release.root, {"outside.txt": "secret"})
        cases = {
            "a link that leaves the tree": lambda d: os.symlink(outside, os.path.join(d, "x")),
            "a link to a folder outside": lambda d: os.symlink("/", os.path.join(d, "root")),
            "a device name": lambda d: write_tree(d, {"Plugins/aux.txt": "x"}),
            "a dot at the end": lambda d: write_tree(d, {"readme.": "x"}),
            "a reserved character": lambda d: write_tree(d, {"a:b.txt": "x"}),
            "names apart only by case": lambda d: write_tree(d, {"kivo9.EXE": "x"}),
            "no browser at the top": lambda d: os.remove(os.path.join(d, "Kivo9.exe")),
            "an empty tree": lambda d: [shutil.rmtree(d), os.makedirs(d)],
            "the launcher's journal": lambda d: write_tree(d, {"install.journal": "x"}),
            "the update folder": lambda d: write_tree(d, {"Update/Kivo9.exe": "x"}),
            "the user's folder": lambda d: write_tree(d, {"User/UserConfig.ini": "x"}),
        }
        before = snapshot(self.server)
        for number, (label, spoil) in enumerate(cases.items()):
            with self.subTest(label):
                bad = os.path.join(self.release.root, "bad-%d" % number)
                shutil.copytree(self.trees["zhcn"], bad)
                spoil(bad)
                result = rf.run_tool("release", "--out", self.server, "--version", "1205",
                                     "--key", self.release.key, "--tree", "zh=" + self.trees["zh"],
                                     "--tree", "zhcn=" + bad, check=False)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertTrue(result.stderr.startswith("kivo-publish release: "), result.stderr)
                self.assertEqual(snapshot(self.server), before)
        for name in ("a/../b", "/etc/x", "C:x", "..", "a//b"):
            self.assertIsNotNone(tree_scan.check_name(name), name)
        self.assertIsNone(tree_scan.check_name("Plugins/con9.d/a.txt"))

    def test_nothing_is_signed_with_a_wrong_key_or_over_a_tampered_tree(self):
        self.assertEqual(self.read("keys/slot1.pub.pem"), open(self.release.pubkey, "rb").read())
        other = os.path.join(self.release.root, "other")
        rf.run_tool("keygen", "--out", other)
        other_key, other_pub = (os.path.join(other, n) for n in ("release-key.pem",
                                                                 "release-key.pub.pem"))
        loose = os.path.join(self.release.root, "loose.pem")
        shutil.copyfile(self.release.key, loose)
        os.chmod(loose, 0o644)
        page = self.read("d/testver.htm")

        def resign(*args):
            return rf.run_tool("resign", "--out", self.server, *args, check=False)

        def tampered_line(root):
            for copy in ("d/testver.htm", "kivover/testver.htm"):
                path = os.path.join(root, copy)
                with open(path, "rb") as f:
                    text = f.read()
                with open(path, "wb") as f:
                    f.write(re.sub(rb"pkg=zh \d+", b"pkg=zh 1", text))
        refusals = [
            ("another key for slot 1", lambda: resign("--key", other_key),
             "not the recorded slot-1 key"),
            ("the slot-1 key as slot 2", lambda: resign("--key", self.release.key,
                                                        "--key-slot", "2"),
             "is the recorded slot-1 key"),
            ("a slot with no record", lambda: resign("--key", other_key, "--key-slot", "2"),
             "slot 2 has no recorded key"),
            ("a key file others may read", lambda: resign("--key", loose), "chmod 600"),
            ("rotating the slot-1 key into slot 2",
             lambda: rf.run_tool("rotate", "--out", self.server, "--key-slot", "2",
                                 "--pubkey", self.release.pubkey, check=False),
             "a slot-2 key must be another key"),
            ("replacing the slot-1 key while it signs the pages",
             lambda: rf.run_tool("rotate", "--out", self.server, "--key-slot", "1",
                                 "--pubkey", other_pub, check=False),
             "the recorded slot-1 key signs kivover/testver.htm, d/testver.htm; re-sign them"),
        ]
        for label, command, why in refusals:
            with self.subTest(label):
                result = command()
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(why, result.stderr)
                self.assertEqual(self.read("d/testver.htm"), page)
        # The next key, once recorded, signs as slot 2.
        rf.run_tool("rotate", "--out", self.server, "--key-slot", "2", "--pubkey", other_pub)
        self.assertEqual(resign("--key", other_key, "--key-slot", "2").returncode, 0)
        self.assertIn(b"\nKivo9Sig:k2:", self.read("d/testver.htm"))
        # What an attacker without a key wrote is never signed.
        tampers = {
            "a package replaced": lambda root: write_tree(root, {"d/1204/uzh.jpg": "evil"}),
            "a package line changed": tampered_line,
        }
        for label, tamper in tampers.items():
            with self.subTest(label):
                copy = os.path.join(self.release.root, "copy-" + label.replace(" ", "-"))
                shutil.copytree(self.server, copy, symlinks=True)
                tamper(copy)
                for command in ("resign", "promote"):
                    result = rf.run_tool(command, "--out", copy, "--key", self.release.key,
                                         check=False)
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn("nothing is signed", result.stderr)
                self.assertFalse(os.path.exists(os.path.join(copy, "d", "ver.htm")))

    def test_nginx_serves_only_what_the_programs_ask_for(self):
        self.release.start()
        self.addCleanup(self.release.stop)
        self.release.tool("promote")
        write_tree(self.server, {"release-key.pem": "left here by mistake", "d/uzh.jpg.part": "x"})
        opener = urllib.request.build_opener(urllib.request.ProxyHandler(
            {"http": self.release.proxy_url}))

        def status(url):
            try:
                with opener.open(url, timeout=10) as answer:
                    return answer.status, answer.headers.get("Cache-Control")
            except urllib.error.HTTPError as e:
                return e.code, None
        served = {
            "http://version.kivo9.example/kivover/testver.htm": (200, "no-cache"),
            "http://version2.kivo9.example/d/testver.htm": (200, "no-cache"),
            "http://download.kivo9.example/d/uzh.jpg": (200, "no-cache"),
            "http://download.kivo9.example/d/u.jpg": (200, "no-cache"),
            "http://download.kivo9.example/d/1204/uzh.jpg": (200, "public, max-age=31536000, immutable"),
            "http://stats.kivo9.example/tg/kivopatch/zh/?hardid=0&times=1&v=1204": (200, None),
            "http://stats.kivo9.example/tg/kivopatch/zh/?hardid=0&times=1&v=1203": (404, None),
            "http://stats.kivo9.example/tg/kivopatch/zh/?hardid=0&times=1&v=../d": (404, None),
            "http://download.kivo9.example/d/1204/uzh.jpg.part": (404, None),
            "http://stats.kivo9.example/tg/kivopatch/zh/?hardid=0&times=1": (200, None),
            "http://stats.kivo9.example/tg/kivopatch/xx/?hardid=0&times=1": (404, None),
            "http://download.kivo9.example/release-key.pem": (404, None),
            "http://download.kivo9.example/d/uzh.jpg.part": (404, None),
            "http://download.kivo9.example/meta/1204/SHA256SUMS": (404, None),
            "http://download.kivo9.example/d/": (404, None),
            "http://download.kivo9.example/": (404, None),
            "http://download.kivo9.example/d/1204/ver.htm": (404, None),
            "http://download.kivo9.example/d/normal/uzh.jpg": (404, None),
        }
        self.assertEqual({url: status(url) for url in served}, served)

        def body(url):
            with opener.open(url, timeout=10) as answer:
                return answer.read()
        # The normal release is served from plain files: the tree holds no link at all.
        links = [os.path.join(folder, name) for folder, dirs, files in os.walk(self.server)
                 for name in dirs + files if os.path.islink(os.path.join(folder, name))]
        self.assertEqual(links, [])
        for url in ("http://download.kivo9.example/d/uzh.jpg",
                    "http://stats.kivo9.example/tg/kivopatch/zh/?hardid=0&times=1"):
            self.assertEqual(body(url), self.read("d/1204/uzh.jpg"), url)
        self.assertEqual(body("http://version.kivo9.example/kivover/ver.htm"),
                         self.read("kivover/ver.htm"))
        # Whatever bytes a request holds, the statistics log stays UTF-8 JSON.
        with socket.create_connection(("127.0.0.1", self.release.port), timeout=10) as raw:
            raw.sendall(b"GET /tg/kivopatch/zh/?hardid=\xff%FF&times=9" + b"9" * 400 +
                        b"&v=1204&b=x HTTP/1.0\r\nHost: stats.kivo9.example\r\n\r\n")
            while raw.recv(65536):
                pass
        with open(self.release.stats_log, "rb") as f:
            last = json.loads(f.read().splitlines()[-1].decode())
        self.assertEqual((last["hardid"], last["times"], last["v"], last["b"]),
                         ("?", "?", "1204", "?"))

    @unittest.skipUnless(os.path.exists("/etc/nginx/sites-available/default"),
                         "needs Debian's nginx with its default site")
    def test_the_site_passes_nginx_t_beside_debians_default_site(self):
        site = os.path.join(rf.REPO, "deploy", "nginx")
        with open(os.path.join(site, "kivo9-site.conf")) as f:
            # Logs where this test may write; everything else as shipped.
            conf = f.read().replace("/var/log/nginx/", self.release.root + "/")
        with open(os.path.join(self.release.root, "site.conf"), "w") as f:
            f.write(conf)
        main = os.path.join(self.release.root, "nginx.conf")
        with open(main, "w") as f:
            f.write("events {}\nhttp {\n  include /etc/nginx/mime.types;\n"
                    "  include %s/kivo9-log.conf;\n  include /etc/nginx/sites-available/default;\n"
                    "  include %s/site.conf;\n}\n" % (site, self.release.root))
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        result = subprocess.run([nginx, "-t", "-p", self.release.root + "/", "-c", main,
                                 "-e", os.path.join(self.release.root, "error.log")],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_every_mistake_is_refused_saying_what_to_do_and_changes_nothing(self):
        root = self.release.root
        other_key, other_pub = rf.run_tool("keygen", "--out", os.path.join(root, "other")).stdout.split()
        no_browser = os.path.join(root, "no-browser")
        write_tree(no_browser, {"readme.txt": "no Kivo9.exe here"})
        rebuilt = os.path.join(root, "rebuilt")
        write_tree(rebuilt, {"Kivo9.exe": b"MZ other bytes, same number"})
        key = ["--key", self.release.key]
        staged = [["promote", *key, "--share", "5%"]]
        # (mistake, commands before it, the mistake, exit code, what the answer must say)
        mistakes = [
            ("rollout before any promote", [], ["rollout", *key, "--share", "5%"], 1,
             "promote one first"),
            ("halt before any promote", [], ["halt", *key], 1, "promote one first"),
            ("promote again over its own stage", staged, ["promote", *key], 1,
             r"rollout --share N% widens"),
            ("a stage that shrinks", staged, ["rollout", *key, "--share", "1%"], 1,
             "a stage only grows"),
            ("a second halt", staged + [["halt", *key]], ["halt", *key], 1,
             r"rollout --share N% resumes it"),
            ("a tree without Kivo9.exe", [], ["release", "--version", "1205", *key,
                                              "--tree", "zh=" + no_browser], 1, "no Kivo9.exe"),
            ("the same version twice, other bytes", [], ["release", "--version", "1204", *key,
                                                        "--tree", "zh=" + rebuilt], 1,
             "give this build a new version number"),
            ("a key the tree does not sign with", [], ["resign", "--key", other_key], 1,
             "use the key the agents are built with"),
            ("the public key as --key", [], ["resign", "--key", self.release.pubkey], 1,
             "takes the private release key"),
            ("replacing the key that signs the pages", [],
             ["rotate", "--key-slot", "1", "--pubkey", other_pub], 1,
             "re-sign them with the other slot first"),
            ("a tree the agents' key does not hold", [], ["verify", "--pubkey", other_pub], 1,
             "the tree signs with a key the agents do not hold"),
        ]
        for mistake, before, args, code, says in mistakes:
            with self.subTest(mistake):
                work = os.path.join(root, "work")
                shutil.rmtree(work, ignore_errors=True)
                shutil.copytree(self.server, work)
                for step in before:
                    rf.run_tool(step[0], "--out", work, *step[1:])
                kept = snapshot(work)
                result = rf.run_tool(args[0], "--out", work, *args[1:], check=False)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertRegex(result.stdout + result.stderr, re.escape(says))
                self.assertEqual(snapshot(work), kept)
        # A mistyped --out starts no second tree; two commands at once: the second waits for
        # nothing and says so.
        typo = os.path.join(root, "srv-typo")
        result = rf.run_tool("release", "--out", typo, "--version", "1205", *key,
                             "--tree", "zh=" + rebuilt, check=False)
        self.assertEqual((result.returncode, os.path.exists(typo)), (1, False))
        self.assertIn("give --new-tree to start one there", result.stderr)
        with open(os.path.join(self.server, ".kivo-publish.lock")) as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            result = self.release.tool("resign", check=False)
        self.assertEqual(result.returncode, 3)
        self.assertIn("run this once it has ended", result.stderr)

    def test_a_mistyped_tree_is_refused_and_a_new_one_must_be_asked_for(self):
        typo = self.server + "2"
        args = ["release", "--out", typo, "--version", "1205", "--key", self.release.key,
                "--tree", "zh=" + self.trees["zh"]]
        refused = rf.run_tool(*args, check=False)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("is no server tree (no meta/, d/ or kivover/ in it): check --out, or give "
                      "--new-tree to start one there", refused.stderr)
        self.assertFalse(os.path.exists(typo))
        self.assertEqual(rf.run_tool(*args, "--new-tree").returncode, 0)
        self.assertTrue(os.path.exists(os.path.join(typo, "d", "1205", "uzh.jpg")))

    def test_a_release_without_the_generic_package_is_warned_about(self):
        def release(version, *trees):
            return rf.run_tool("release", "--out", self.server, "--version", version, "--key",
                               self.release.key, *[a for t in trees for a in ("--tree", t)])
        warned = release("1205", "zh=" + self.trees["zh"]).stderr
        self.assertIn("warning: no generic package (--tree -=DIR): installations whose language "
                      "has no package of its own get none (packages: zh)", warned)
        self.assertEqual(release("1206", "zh=" + self.trees["zh"], "-=" + self.trees["-"]).stderr,
                         "")

    def test_a_version_keeps_its_packages(self):
        self.release.publish("1204", self.trees)  # the same trees again: a rerun
        write_tree(self.trees["zh"], {"Kivo9.exe": "MZ zh build, rebuilt"})
        before = snapshot(self.server)
        result = rf.run_tool("release", "--out", self.server, "--version", "1204", "--key",
                             self.release.key, "--tree", "zh=" + self.trees["zh"], check=False)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("published before with other packages", result.stderr)
        self.assertEqual(snapshot(self.server), before)

    def test_one_command_at_a_time_and_no_leftovers_after_a_kill(self):
        page = self.read("d/testver.htm")
        with open(os.path.join(self.server, ".kivo-publish.lock")) as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # another command is working
            for command in ("resign", "verify"):
                result = self.release.tool(command, check=False)
                self.assertEqual(result.returncode, 3, result.stderr)
                self.assertIn("another kivo-publish command is working", result.stderr)
            self.assertEqual(self.read("d/testver.htm"), page)
        # What a killed command leaves under temporary names goes with the next one.
        leftovers = {"d/.testver.htm.x1.part": "d/.testver.htm.x1.part",
                     "d/1204/.uzh.jpg.x2.part": "d/1204/.uzh.jpg.x2.part",
                     "meta/.1205.x3.part/SHA256SUMS": "meta/.1205.x3.part",
                     "meta/.old.x4/old/SHA256SUMS": "meta/.old.x4"}
        write_tree(self.server, {name: "left" for name in leftovers})
        self.release.tool("resign")
        for written, top in leftovers.items():
            self.assertFalse(os.path.exists(self.path(top)), written)
        self.assertEqual(rf.run_tool("verify", "--out", self.path("none"), check=False).stderr,
                         "kivo-publish verify: no such folder: %s (give the server tree, --out)\n"
                         % self.path("none"))

    def test_the_daily_resign_uploads_what_is_served_and_nothing_else(self):
        self.release.tool("promote")
        served = re.compile(r"(kivover|d)/(test)?ver\.htm|d/([0-9]+/)?u[a-z0-9]*\.jpg|"
                            r"d/[0-9]+/u[a-z0-9]*\.tzst")

        def files(root):
            return {os.path.relpath(os.path.join(folder, name), root): os.path.join(folder, name)
                    for folder, _, names in os.walk(root) for name in names}
        script = os.path.join(rf.REPO, "deploy", "resign", "kivo9-resign")
        uploaders = ["rsync"] + (["rclone"] if shutil.which("rclone") else [])
        for uploader in uploaders:
            with self.subTest(uploader=uploader):
                # The web server holds a package name since dropped and what an earlier
                # kivo-publish kept there: a d/normal link and a page in a release folder.
                dest = os.path.join(self.release.root, "web-" + uploader)
                write_tree(dest, {"d/ustale.jpg": "dropped by a promote",
                                  "d/1204/ver.htm": "an earlier tool's normal page"})
                if uploader == "rsync":  # an object store holds no links
                    os.symlink("1204", os.path.join(dest, "d", "normal"))
                result = subprocess.run(["bash", script, self.server, self.release.key, dest],
                                        capture_output=True, text=True,
                                        env=dict(os.environ, KIVO9_UPLOADER=uploader))
                self.assertEqual(result.returncode, 0, result.stderr)
                want = {k: v for k, v in files(self.server).items() if served.fullmatch(k)}
                self.assertEqual(sorted(files(dest)), sorted(want))
                self.assertFalse(os.path.lexists(os.path.join(dest, "d", "normal")))
                for name in want:
                    with open(os.path.join(dest, name), "rb") as f:
                        self.assertEqual(f.read(), self.read(name), name)
        busy = os.path.join(self.server, ".kivo-publish.lock")
        with open(busy) as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            result = subprocess.run(["bash", script, self.server, self.release.key, dest],
                                    capture_output=True, text=True)
        self.assertEqual(result.returncode, 3, result.stderr)

    def test_verify_believes_the_pages_the_agent_believes_and_no_other(self):
        from cryptography.hazmat.primitives import serialization
        from kivopublish import verifying
        rows, slot_keys = [], {}
        with open(os.path.join(rf.REPO, "agent", "trust", "signed_pages.txt")) as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                if line.startswith("key"):
                    pem = "-----BEGIN PUBLIC KEY-----\n%s\n-----END PUBLIC KEY-----\n" % fields[1]
                    slot_keys[int(line[3])] = serialization.load_pem_public_key(pem.encode())
                elif not line.startswith("#"):
                    rows.append(fields)
        now = datetime.datetime(2099, 1, 30, tzinfo=datetime.timezone.utc)
        for name, why, block in rows:
            with self.subTest(name=name):
                page = ("<html>Kivo9Version:1204:Kivo9VersionEnd\n<!--\n%s\n-->\n</html>\n"
                        % block.replace("\\n", "\n")).encode()
                report = verifying.Report()
                believed = verifying.check_copy("testver.htm", "testver", page, slot_keys, now,
                                                 report)
                self.assertEqual(believed is not None, why == "ok", report.faults)
        self.assertGreater(len(rows), 10)

    def test_signed_fields_are_read_by_the_rules_the_agent_holds(self):
        from kivopublish import signed_page
        from kivopublish.errors import PublishError
        with open(os.path.join(rf.REPO, "agent", "trust", "signed_fields.txt")) as f:
            rows = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
        for name, why, block in rows:
            with self.subTest(name=name):
                try:
                    signed_page.parse_block(block.replace("\\n", "\n").encode())
                    said = "ok"
                except PublishError as e:
                    said = str(e)
                self.assertEqual(said == "ok", why == "ok", said)
                if why.startswith("prev "):  # the same words where the rule is new to both
                    self.assertEqual(said, why)
        self.assertGreater(len(rows), 4)

    def test_verify_holds_the_tree_to_the_keys_the_agents_have(self):
        other = os.path.join(self.release.root, "agents-keys")
        rf.run_tool("keygen", "--out", other)
        agents = os.path.join(other, "release-key.pub.pem")

        def verify(*keys):
            args = [a for key in keys for a in ("--pubkey", key)]
            return rf.run_tool("verify", "--out", self.server, *args, check=False)
        self.assertEqual(verify(self.release.pubkey).returncode, 0)
        self.assertEqual(verify().returncode, 0, "the recorded key by default")
        # A tree signed with another key than the agents': every page fails, and the record.
        result = verify(agents)
        self.assertEqual(result.returncode, 1)
        self.assertIn("FAULT keys/slot1.pub.pem: not the given key", result.stdout)
        self.assertIn("FAULT kivover/testver.htm: bad signature", result.stdout)

    def test_verify_refuses_page_forms_the_agents_refuse(self):
        from kivopublish import key_record, verifying
        page = self.read("d/testver.htm")
        slot_keys = key_record.recorded(self.server)
        signature = re.search(rb"\nKivo9Sig:k1:(\S+)\n", page).group(1)
        self.assertTrue(signature.endswith(b"=="))
        # The last character before the padding carries 4 bits that must be zero; another
        # character with the same data bits decodes to the same signature elsewhere.
        alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
        twin = alphabet[alphabet.index(signature[-3:-2]) ^ 1:][:1]
        spoiled = {
            "padding bits set": page.replace(signature, signature[:-3] + twin + b"=="),
            "longer than 64 KiB": page + b"<!--" + b"x" * 65536 + b"-->\n",
        }
        for label, copy in dict(spoiled, published=page).items():
            with self.subTest(label):
                report = verifying.Report()
                block = verifying.check_copy("d/testver.htm", "testver", copy, slot_keys, None,
                                             report)
                self.assertEqual(block is None, label != "published", report.faults)

    def test_paths_as_the_table_shared_with_the_launcher_says(self):
        with open(os.path.join(rf.REPO, "tree", "update_paths.txt"), encoding="utf-8") as f:
            rows = [line.rstrip("\n").split("\t", 1) for line in f if not line.startswith("#")]
        for verdict, name in rows:
            with self.subTest(name=name):
                self.assertEqual(tree_scan.launcher_refusal(name) is None, verdict == "ok")
        self.assertGreater(len(rows), 15)

    def test_names_as_the_table_shared_with_the_extractor_says(self):
        table = os.path.join(rf.REPO, "extractor", "windows_names.txt")
        with open(table, encoding="utf-8") as f:
            rows = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]

        def unescaped(escaped):
            return re.sub(r"\\(\\|x([0-9a-f]{2}))",
                          lambda m: chr(int(m.group(2), 16)) if m.group(2) else "\\", escaped)
        for verdict, *names in rows:
            names = [unescaped(n) for n in names]
            with self.subTest(names=names):
                if verdict in ("twins", "apart"):
                    self.assertEqual(tree_scan.name_key(names[0]) == tree_scan.name_key(names[1]),
                                     verdict == "twins")
                else:
                    self.assertEqual(tree_scan.check_name(names[0]) is None, verdict == "ok")
        self.assertGreater(len(rows), 40)


def snapshot_named(files):
    return {name: (c.encode() if isinstance(c, str) else c) for name, c in files.items()}


if __name__ == "__main__":
    ks.main()
