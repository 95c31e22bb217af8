"""The agent that trusts only signed releases, against a release made by the publish tool.

UpgradeAgentSigned is the agent built with the two throw-away release keys of this build
folder (KIVO_TEST_KEY_DIR, made when the build was configured). Release 1204 is published
with the slot-1 key for the package names "en" and "-" (so "enus", the first name of this
locale, has no signed line and is skipped). The scripted server serves the release's files,
as they are or spoiled one way or another; each case runs the signed agent and, where the
unsigned agent's behaviour is defined for the same answers, the agent without a key too.
The whole cycle served by nginx is at the end.
"""

import base64
import hashlib
import http.client
import os
import re
import sys
import unittest

import kivo_scenario as ks
import release_fixture as rf
from agent_scenarios import NEW_BROWSER, NEWER, AgentInstallation, lines

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "server"))
from kivo_http_server import ScriptedServer  # noqa: E402

KEY_DIR = os.environ.get("KIVO_TEST_KEY_DIR", "")
LOCALE = {"LANG": "en_US.UTF-8", "LC_ALL": "", "LC_MESSAGES": ""}
PRIMARY = "http://version.kivo9.example"
FALLBACK = "http://version2.kivo9.example"
TEST_PAGE, NORMAL_PAGE = "/kivover/testver.htm", "/kivover/ver.htm"
STATS_EN = "stats.kivo9.example/tg/kivopatch/en/?hardid=*"
DOWNLOAD_EN = "download.kivo9.example/d/1204/uen.jpg"  # the release's own package
UNSIGNED_DOWNLOAD_EN = "download.kivo9.example/d/uen.jpg"
SKIPPED_ENUS = 'Refused package "enus": the signed release has none'
STATUS_404 = "Status Code of Download is 404"

# Outcomes of a run: the package reached the extractor, the version check failed, or the
# check found 1204 but no package was accepted.
INSTALLED, CHECK_REFUSED, PACKAGE_REFUSED = "installed", "check refused", "package refused"

server = None
release = None


def setUpModule():
    global server, release
    if not KEY_DIR:
        raise unittest.SkipTest("needs KIVO_TEST_KEY_DIR (the ctest entry signed_scenarios)")
    server = ScriptedServer()
    server.start()
    release = rf.ReleaseServer(key=os.path.join(KEY_DIR, "slot1", "release-key.pem"),
                               pubkey=os.path.join(KEY_DIR, "slot1", "release-key.pub.pem"))
    source = AgentInstallation(tree_extractor=True)
    try:
        # The zip packages' road: the solid one's is rollout_scenarios' SolidPackages.
        release.publish(NEWER, {"en": source.path("package"), "-": source.path("package")},
                        combine_filter=True, solid=False)
    finally:
        source.cleanup()


def tearDownModule():
    if server is not None:
        server.stop()
    if release is not None:
        release.cleanup()


def released(relative):
    with open(os.path.join(release.server_dir, *relative.split("/")), "rb") as f:
        return f.read()


def flip_bit(data, offset):
    spoiled = bytearray(data)
    spoiled[offset] ^= 0x01
    return bytes(spoiled)


def answer(data):
    return [{"body_hex": data.hex()}]


def routes(page=None, fallback=None, stats=None, download=None, page_path=TEST_PAGE):
    """The release's own answers, with any of them replaced."""
    fallback_path = page_path.replace("/kivover/", "/d/")
    chan = page_path.rsplit("/", 1)[1]
    return {
        # A signed agent adds its build and first check of the day: ?b=1203&d=1.
        "version.kivo9.example" + page_path + "*": page or answer(released("kivover/" + chan)),
        "version2.kivo9.example" + fallback_path + "*": fallback or answer(released("d/" + chan)),
        STATS_EN: stats or answer(released("d/1204/uen.jpg")),
        DOWNLOAD_EN: download or answer(released("d/1204/uen.jpg")),
        UNSIGNED_DOWNLOAD_EN: download or answer(released("d/1204/uen.jpg")),
    }


def spoiled_page(spoil):
    """Both test pages, spoiled alike."""
    page = answer(spoil(released("kivover/testver.htm")))
    return {"page": page, "fallback": page}


def refused_pages(why, page_path=TEST_PAGE):
    """The lines of a primary and a fallback page refused for the same reason."""
    return ["Refused %s%s: %s" % (PRIMARY, page_path, why),
            "Refused %s%s: %s" % (FALLBACK, page_path.replace("/kivover/", "/d/"), why)]


def package_refused(first, second):
    """The lines of the package requests for "en" refused for these reasons (the statistics
    request carries this machine's identifier, so that line is a pattern), then of the
    generic package, which the scripted server does not have."""
    stats = r"Refused http://stats\.kivo9\.example/tg/kivopatch/en/\?hardid=\w*&times=\d+&v=1204&from=1203: "
    return [SKIPPED_ENUS, re.compile(stats + re.escape(first)),
            "Refused http://%s: %s" % (DOWNLOAD_EN, second)] + [STATUS_404] * 2


def block_offset(page, text):
    return page.index(b"Kivo9Signed:1") + page[page.index(b"Kivo9Signed:1"):].index(text)


def signature_bit(page):
    """The page with one bit of its signature flipped where the base64 text stays valid, so
    that what is refused is the signature, not its spelling."""
    start = block_offset(page, b"Kivo9Sig:k1:") + len(b"Kivo9Sig:k1:")
    at = next(i for i in range(start, len(page))
              if chr(page[i] ^ 1) in "BCDEFGHIJKLMNOPQRSTUVWXYbcdefghijklmnopqrstuvwxy0123456789")
    return flip_bit(page, at)


def unsigned_page(page):
    return page[:page.index(b"<!--")] + b"\n"


def resigned(slot, change=lambda signed: signed):
    """A spoiler that signs the page's block anew with the build's key of slot, after change
    (a function of the signed bytes) has had its way with it."""
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature
    with open(os.path.join(KEY_DIR, "slot%d" % slot, "release-key.pem"), "rb") as f:
        key = serialization.load_pem_private_key(f.read(), password=None)

    def spoil(page):
        start, end = page.index(b"Kivo9Signed:1"), page.index(b"Kivo9Sig:")
        signed = change(page[start:end])
        r, s = decode_dss_signature(key.sign(signed, ec.ECDSA(hashes.SHA256())))
        signature = base64.b64encode(r.to_bytes(32, "big") + s.to_bytes(32, "big"))
        tail = page[page.index(b"\n:Kivo9SignedEnd", end):]
        return page[:start] + signed + b"Kivo9Sig:k%d:" % slot + signature + tail
    return spoil


def expired(signed):
    return re.sub(rb"exp=[^\n]*", b"exp=2020-01-01T00:00:00Z", signed)


def with_marker(version):
    return lambda page: page.replace(b"Kivo9Version:1204:", b"Kivo9Version:%s:" % version)


def other_key_page():
    with rf.ReleaseServer() as other:
        source = AgentInstallation(tree_extractor=True)
        try:
            other.publish(NEWER, {"en": source.path("package")}, combine_filter=True)
        finally:
            source.cleanup()
        with open(os.path.join(other.server_dir, "kivover", "testver.htm"), "rb") as f:
            return f.read()


def cases():
    """(name, route changes, signed outcome, signed error lines, unsigned outcome or None)."""
    page = released("kivover/testver.htm")
    package = released("d/1204/uen.jpg")
    size = len(package)
    other = other_key_page()
    long_page = {"body_size": 100 * 1024 * 1024, "body_fill": page.decode("ascii")}
    return [
        ("release as published", {}, INSTALLED, [SKIPPED_ENUS], INSTALLED),
        ("no signed block", spoiled_page(unsigned_page), CHECK_REFUSED,
         refused_pages("no signed block"), INSTALLED),
        ("signed by another key", {"page": answer(other), "fallback": answer(other)},
         CHECK_REFUSED, refused_pages("bad signature"), INSTALLED),
        ("one bit of the block", spoiled_page(lambda p: flip_bit(p, block_offset(p, b"seq="))),
         CHECK_REFUSED, refused_pages("bad signature"), INSTALLED),
        ("one bit of the signature", spoiled_page(signature_bit),
         CHECK_REFUSED, refused_pages("bad signature"), INSTALLED),
        ("signed with the next key (slot 2)", spoiled_page(resigned(2)), INSTALLED,
         [SKIPPED_ENUS], INSTALLED),
        ("expired", spoiled_page(resigned(1, expired)), CHECK_REFUSED, refused_pages("expired"),
         INSTALLED),
        ("marker differs from v", spoiled_page(with_marker(b"1205")), CHECK_REFUSED,
         refused_pages("version mismatch: signed 1204, marker 1205"), INSTALLED),
        ("spoiled primary, whole fallback", {"page": answer(unsigned_page(page))}, INSTALLED,
         ["Refused %s%s: no signed block" % (PRIMARY, TEST_PAGE), SKIPPED_ENUS], INSTALLED),
        ("page of 100 MB", {"page": [long_page], "fallback": [long_page]}, CHECK_REFUSED,
         refused_pages("the page is longer than 65536 bytes"), INSTALLED),
        ("one bit of the package", {"stats": answer(flip_bit(package, size // 2)),
                                    "download": answer(flip_bit(package, size // 3))},
         PACKAGE_REFUSED, package_refused("SHA-256 differs from the signed one",
                                          "SHA-256 differs from the signed one"), INSTALLED),
        ("one byte short, one byte long", {"stats": answer(package[:-1]),
                                           "download": answer(package + b"x")},
         PACKAGE_REFUSED, package_refused("%d bytes, not the signed %d bytes" % (size - 1, size),
                                          "longer than the signed %d bytes" % size), INSTALLED),
        ("endless package body",
         {"stats": [{"body_size": 10 ** 12, "content_length": False}],
          "download": [{"body_size": 10 ** 12, "content_length": False}]},
         PACKAGE_REFUSED, package_refused("longer than the signed %d bytes" % size,
                                          "longer than the signed %d bytes" % size), None),
        ("statistics server answers another file", {"stats": answer(other)}, INSTALLED,
         package_refused("%d bytes, not the signed %d bytes" % (len(other), size), "")[:2],
         INSTALLED),
    ]


class SignedAgentScenarios(unittest.TestCase):
    def make_installation(self, signed, tree_extractor=True):
        inst = AgentInstallation(tree_extractor)
        self.addCleanup(inst.cleanup)
        for program in ("Kivo9Data/Resource/UnPack.exe", "Kivo9Data/update/Kivo9PostUpgrade.exe",
                        "Kivo9Data/Kivo9.exe"):
            self.addCleanup(ks.wait_until_gone, inst.path(program))
        if signed:
            inst.install_program("UpgradeAgentSigned", "Kivo9Data/UpgradeAgent" + ks._config.suffix)
        return inst

    def agent_env(self, inst, proxy=None):
        env = dict(LOCALE, http_proxy=proxy or server.proxy_url, no_proxy="", NO_PROXY="")
        if not ks.is_windows():
            env["TMPDIR"] = inst.path("tmp")
        return env

    def run_agent(self, inst, *args, proxy=None):
        result = ks.run(inst.agent, args, cwd=inst.path("tmp"), env=self.agent_env(inst, proxy))
        self.assertEqual(result.returncode, 1, result.stderr)
        return result

    def expected(self, inst, *numbers, version=None):
        texts = inst.messages()
        out = []
        for n in numbers:
            text = texts[str(n)] % version if n == 1 else texts[str(n)]
            out += text.split("\\n") if text else []
        return out

    def assert_outcome(self, inst, result, outcome):
        messages = {INSTALLED: (2, 3, 8, 6, 5, 7), CHECK_REFUSED: (2, 3, 4, 7),
                    PACKAGE_REFUSED: (2, 3, 8, 4, 7)}[outcome]
        self.assertEqual(lines(result.stdout), self.expected(inst, *messages))
        records = ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record"))
        if outcome == INSTALLED:
            records = ks.wait_for(
                lambda: ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record")))
            self.assertEqual(len(records), 1)
        else:
            self.assertEqual(records, [])
            self.assertFalse(inst.exists("Kivo9Data/update"))
            if not ks.is_windows():
                self.assertFalse([f for f in inst.files("tmp") if f.endswith(".rar")],
                                 "a refused package is removed")
        return records

    def test_each_answer_is_trusted_or_refused_and_the_next_url_or_name_tried(self):
        for name, changes, outcome, errors, unsigned in cases():
            with self.subTest(name):
                server.set_script({"routes": routes(**changes)})
                inst = self.make_installation(signed=True)
                result = self.run_agent(inst)
                self.assert_outcome(inst, result, outcome)
                got = lines(result.stderr)
                self.assertEqual(len(got), len(errors), got)
                for line, expected in zip(got, errors):
                    if isinstance(expected, re.Pattern):
                        self.assertRegex(line, expected)
                    else:
                        self.assertEqual(line, expected)
                if outcome == INSTALLED:
                    record = ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record"))[0]
                    self.assertEqual(record["archive_size"], len(released("d/1204/uen.jpg")))
            if unsigned is not None:
                with self.subTest(name + ", agent without a key"):
                    inst = self.make_installation(signed=False)
                    self.assert_outcome(inst, self.run_agent(inst), unsigned)

    def test_a_test_page_served_as_the_normal_page_is_refused(self):
        test_page = answer(released("kivover/testver.htm"))
        server.set_script({"routes": routes(page=test_page, fallback=test_page,
                                            page_path=NORMAL_PAGE)})
        inst = self.make_installation(signed=True)
        result = self.run_agent(inst, "silent")
        self.assertEqual(result.stdout, b"")
        self.assertEqual(lines(result.stderr),
                         refused_pages("wrong channel testver (expected ver)", NORMAL_PAGE))
        self.assertFalse(inst.exists("Kivo9Data/update"))

    def test_a_page_older_than_one_believed_is_refused_across_runs(self):
        seq = int(re.search(rb"^seq=(\d+)$", released("kivover/testver.htm"), re.M).group(1))

        def with_seq(number, extra=b""):
            return resigned(1, lambda signed: re.sub(rb"seq=\d+", b"seq=%d" % number, signed) + extra)
        first = self.make_installation(signed=True)
        server.set_script({"routes": routes(**spoiled_page(with_seq(seq + 10)))})
        self.assert_outcome(first, self.run_agent(first), INSTALLED)
        with open(first.path("Kivo9Data/release.seen"), "rb") as f:
            record = f.read()
        damaged = flip_bit(record, len(record) // 2)
        cases = [
            ("the page as published", record, with_seq(seq), CHECK_REFUSED,
             "older than a page already believed (seq %d below %d)" % (seq, seq + 10)),
            ("the same seq with other bytes", record, with_seq(seq + 10, b"note=x\n"),
             CHECK_REFUSED, "seq %d was believed before with other contents" % (seq + 10)),
            ("a damaged record reads as none", damaged, with_seq(seq), INSTALLED, None),
            ("no record: the build's floor", None, with_seq(1000), CHECK_REFUSED,
             "older than this build (seq 1000 below 1577836800)"),
        ]
        for name, kept, spoil, outcome, why in cases:
            with self.subTest(name):
                inst = self.make_installation(signed=True)
                if kept is not None:
                    with open(inst.path("Kivo9Data/release.seen"), "wb") as f:
                        f.write(kept)
                server.set_script({"routes": routes(**spoiled_page(spoil))})
                result = self.run_agent(inst)
                self.assert_outcome(inst, result, outcome)
                self.assertEqual(lines(result.stderr),
                                 refused_pages(why) if why else [SKIPPED_ENUS])

    def test_the_normal_channel_gets_no_byte_of_a_test_release(self):
        with rf.ReleaseServer(key=release.key, pubkey=release.pubkey) as own:
            source = AgentInstallation(tree_extractor=True)
            try:
                own.publish(NEWER, {"en": source.path("package")}, solid=False)
                own.tool("promote")
                own.publish("1205", {"en": source.path("package")}, solid=False)
            finally:
                source.cleanup()
            own.start()
            self.addCleanup(own.stop)
            for signed in (True, False):
                with self.subTest(signed=signed):
                    inst = self.make_installation(signed=signed)
                    self.run_agent(inst, "silent", proxy=own.proxy_url)
                    self.assertEqual(len(ks.wait_for(lambda: ks.read_records(
                        inst.path("Kivo9Data/Resource/UnPack.exe.record")))), 1)
            with open(os.path.join(own.server_dir, "d", NEWER, "uen.jpg"), "rb") as f:
                size = len(f.read())
            # The signed agent asks for 1204 by its number; the unsigned one for enus (none),
            # then en, which the normal release serves: 1204's bytes both times.
            records = own.stats_records()
            self.assertEqual([(r["name"], r["v"], r["status"]) for r in records],
                             [("en", NEWER, 200), ("enus", "", 404), ("en", "", 200)])
            self.assertEqual([r["bytes"] for r in records if r["status"] == 200], [size] * 2)

    def test_a_cut_package_goes_on_where_it_stopped_at_the_next_run_served_by_nginx(self):
        release.start()
        self.addCleanup(release.stop)
        package = released("d/1204/uen.jpg")
        head = http.client.HTTPConnection("127.0.0.1", release.port, timeout=10)
        head.request("HEAD", "/d/1204/uen.jpg", headers={"Host": "download.kivo9.example"})
        tag = head.getresponse().getheader("ETag")
        head.close()
        cut = len(package) // 2
        # The first run's download breaks off halfway, from a server that tags it as nginx does.
        server.set_script({"routes": routes(stats=[{"status": 404}], download=[
            {"body_hex": package.hex(), "headers": [["ETag", tag]], "truncate_to": cut}])})
        inst = self.make_installation(signed=True)
        self.assert_outcome(inst, self.run_agent(inst), PACKAGE_REFUSED)
        self.assertEqual(inst.read("Kivo9Data/package.part"), package[:cut])
        result = self.run_agent(inst, proxy=release.proxy_url)
        record = self.assert_outcome(inst, result, INSTALLED)[0]
        self.assertEqual(record["archive_size"], len(package))
        sent = [(r["status"], r["bytes"], r["range"]) for r in release.stats_records()]
        self.assertEqual(sent, [(206, len(package) - cut, "bytes %d-%d/%d" % (
            cut, len(package) - 1, len(package)))], "only the rest, once")
        self.assertFalse(inst.exists("Kivo9Data/package.part"))
        self.assertFalse(inst.exists("Kivo9Data/package.part.info"))

    def test_two_runs_at_once_hand_the_extractor_only_the_signed_package(self):
        package = os.path.join(release.server_dir, "d", "1204", "uen.jpg")
        with open(package, "rb") as f:
            size, signed = os.path.getsize(package), hashlib.sha256(f.read()).hexdigest()
        hostile = os.path.join(self.make_installation(signed=False).path("tmp"), "hostile.jpg")
        with open(package, "rb") as f, open(hostile, "wb") as out:
            out.write(bytes(b ^ 0x5A for b in f.read()))  # the same size and tag, other bytes

        def served(body, **extra):
            return dict(body_file=body, headers=[["ETag", '"same-tag"']], ranges=True, **extra)

        # The first package answer takes about two seconds; the second run starts at once, or
        # once the first has recorded what its kept bytes belong to (before the first byte),
        # and its range answer is the package or other bytes.
        pace = max(1, size // 2)
        rounds = [(when, kind) for when in ("at once", "during the download")
                  for kind in ("honest", "hostile")]
        for when, kind in rounds:
            with self.subTest(second_run=when, range_answer=kind):
                inst = self.make_installation(signed=True)
                server.set_script({"routes": routes(stats=[{"status": 404}], download=[
                    served(package, bytes_per_second=pace),
                    served(package if kind == "honest" else hostile)])})
                first = ks.start(inst.agent, cwd=inst.path("tmp"), env=self.agent_env(inst))
                if when != "at once":
                    self.assertTrue(ks.wait_for(lambda: inst.exists("Kivo9Data/package.part.info")))
                second = ks.start(inst.agent, cwd=inst.path("tmp"), env=self.agent_env(inst))
                results = [first.finish(), second.finish()]
                self.assertEqual([r.returncode for r in results], [1, 1])
                records = ks.wait_for(lambda: ks.read_records(
                    inst.path("Kivo9Data/Resource/UnPack.exe.record")))
                self.assertEqual([r["archive_sha256"] for r in records], [signed])
                waited = [r for r in results if lines(r.stderr) == [
                    "Refused this run: another run of the agent is updating this installation"]]
                self.assertEqual(len(waited), 1, [r.stderr for r in results])
                self.assertEqual(lines(waited[0].stdout), self.expected(inst, 2, 3, 4, 7))

    def test_a_network_that_cuts_every_answer_still_delivers_the_package(self):
        folder = os.path.join(release.server_dir, "d", "1204")
        size = os.path.getsize(os.path.join(folder, "uen.jpg"))
        with open(os.path.join(folder, "uen.jpg"), "rb") as f:
            signed = hashlib.sha256(f.read()).hexdigest()

        def served(file, cut):
            answer = dict(body_file=os.path.join(folder, file), ranges=True,
                          headers=[["ETag", '"%s-tag"' % file]])
            return [dict(answer, truncate_to=cut)] if cut else [answer]

        def script(cut):
            # The language package, then the generic one, which the release has as well.
            return {"routes": dict(routes(stats=served("uen.jpg", cut),
                                          download=served("uen.jpg", cut)), **{
                "stats.kivo9.example/tg/kivopatch/?hardid=*": served("u.jpg", cut),
                "download.kivo9.example/d/1204/u.jpg": served("u.jpg", cut)})}

        def package_requests(since):
            return [r for r in server.requests()[since:]
                    if "uen.jpg" in r["line"] or "/en/" in r["line"]]

        # Every answer of the first run breaks off after 3/8 of the package: the second run
        # asks only for what the first did not get. Then every answer of every run breaks
        # off after a quarter: the package still arrives, over a few runs.
        for cut, runs in ((size * 3 // 8, 2), (size // 4, 5)):
            with self.subTest(cut=cut):
                inst = self.make_installation(signed=True)
                for n in range(runs):
                    server.set_script(script(cut if n == 0 or runs > 2 else None))
                    since = len(server.requests())
                    self.run_agent(inst)
                    if n == 1 and runs == 2:
                        ranges = [dict(r["headers"]).get("Range") for r in package_requests(since)]
                        self.assertEqual(ranges, ["bytes=%d-" % (cut * 2)], "only the rest")
                    if ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record")):
                        break
                records = ks.wait_for(lambda: ks.read_records(
                    inst.path("Kivo9Data/Resource/UnPack.exe.record")))
                self.assertEqual([r["archive_sha256"] for r in records], [signed])
                self.assertLessEqual(n + 1, runs)

    def test_huge_files_in_place_of_small_ones_read_as_missing_and_cost_no_memory(self):
        server.set_script({"routes": routes()})
        inst = self.make_installation(signed=True)
        state = ["install.id", "check.day", "release.seen", "package.part.info"]
        inst.write("Kivo9Data/package.part", b"kept")  # the record is read only beside bytes
        for name in ["Kivo9Data/" + n for n in state] + ["Kivo9Data/Language/English.ini"]:
            with open(inst.path(name), "wb") as f:
                f.truncate(1 << 30)  # sparse: a gigabyte that costs no disk
        result = ks.run_measured(inst.agent, cwd=inst.path("tmp"), env=self.agent_env(inst))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertLess(result.peak_kib, 256 * 1024, "read whole")
        # Without a language file the messages are their numbers; the update goes on.
        self.assertEqual(lines(result.stdout), ["2", "3", "8", "6", "5", "7"])
        records = ks.wait_for(lambda: ks.read_records(inst.path("Kivo9Data/Resource/UnPack.exe.record")))
        self.assertEqual(len(records), 1)
        for name in ("check.day", "release.seen"):  # written anew (the id only for a stage)
            self.assertLess(os.path.getsize(inst.path("Kivo9Data/" + name)), 4096, name)

    def test_signed_release_served_by_nginx_installs_and_is_then_current(self):
        release.start()
        self.addCleanup(release.stop)
        # The Linux extractor unpacks the published archive itself; the Windows stand-in
        # lays out the same tree.
        inst = self.make_installation(signed=True, tree_extractor=False)
        result = self.run_agent(inst, proxy=release.proxy_url)
        self.assertEqual(lines(result.stdout), self.expected(inst, 2, 3, 8, 6, 5, 7))
        self.assertEqual(lines(result.stderr), [SKIPPED_ENUS])
        self.assertTrue(ks.wait_for(lambda: inst.exists("Kivo9Data/update/Kivo9PostUpgrade.exe.record")))
        self.assertTrue(ks.wait_until_gone(inst.path("Kivo9Data/update/Kivo9PostUpgrade.exe")))
        self.assertEqual(ks.run(inst.launcher, [], cwd=inst.path("tmp")).returncode, 0)
        self.assertTrue(ks.wait_for(lambda: inst.read("Kivo9Data/Kivo9.exe").endswith(NEW_BROWSER)))
        self.assertTrue(ks.wait_until_gone(inst.path("Kivo9Data/Kivo9.exe")))
        # Bytes kept from a release once cut short are of no use to an installation that is
        # up to date: the next check removes them.
        inst.write("Kivo9Data/package.part", b"half of 1203")
        inst.write("Kivo9Data/package.part.info", b"kivo9-kept-package 1\n")
        result = self.run_agent(inst, proxy=release.proxy_url)
        self.assertEqual(lines(result.stdout), self.expected(inst, 2, 3, 1, 7, version=NEWER))
        self.assertFalse(inst.exists("Kivo9Data/package.part"))
        self.assertFalse(inst.exists("Kivo9Data/package.part.info"))
        self.assertEqual(lines(result.stderr), [])


if __name__ == "__main__":
    ks.main()
