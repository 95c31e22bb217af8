"""The extractor (Resource/UnPack.exe) on zip packages, natively or, for the Windows build,
under the emulator: what the publish tool writes unpacks byte for byte, and a table of hostile
archives ends with the documented exit code, a line saying why, and nothing outside the
destination or under a refused or failed entry's name.
"""

import io
import os
import shutil
import stat
import struct
import unittest
import zipfile
import zlib

import kivo_scenario as ks

EXIT_DONE, EXIT_UNREADABLE, EXIT_ENTRIES_FAILED = 0, 2, 3


def make_zip(entries, zip64_end=False, **kwargs):
    """A zip of (name, bytes) or (ZipInfo, bytes) pairs, the way the publish tool writes one.
    With zip64_end, the end of the archive is written in its Zip64 form."""
    data = io.BytesIO()
    limit = zipfile.ZIP_FILECOUNT_LIMIT
    if zip64_end:
        zipfile.ZIP_FILECOUNT_LIMIT = 1
    try:
        with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED, **kwargs) as archive:
            for name, content in entries:
                archive.writestr(name, content)
    finally:
        zipfile.ZIP_FILECOUNT_LIMIT = limit
    return bytearray(data.getvalue())


def info(name, mode=0o100644, method=zipfile.ZIP_DEFLATED):
    entry = zipfile.ZipInfo(name, (2026, 12, 1, 0, 0, 0))
    entry.create_system = 3
    entry.external_attr = mode << 16
    entry.compress_type = method
    return entry


def directory_offset(archive, name):
    """Where the central directory header of the entry called name starts."""
    encoded = name.encode("utf-8")
    at = archive.find(b"PK\x01\x02")
    while at >= 0:
        length = struct.unpack_from("<H", archive, at + 28)[0]
        if archive[at + 46:at + 46 + length] == encoded:
            return at
        at = archive.find(b"PK\x01\x02", at + 1)
    raise KeyError(name)


def patched(archive, name, offset, fmt, value):
    """The archive with one field of name's central directory header changed."""
    archive = bytearray(archive)
    struct.pack_into(fmt, archive, directory_offset(archive, name) + offset, value)
    return archive


GOOD = [("Resource/version.ini", b"[Version]\nupdate=1204\n"), ("Kivo9.exe", b"MZ" * 5000)]


class ExtractorScenarios(unittest.TestCase):
    def setUp(self):
        self.inst = ks.Installation(prefix="kivo-unpack-")
        self.addCleanup(self.inst.cleanup)
        self.extractor = self.inst.install_program("extractor", "Resource/UnPack.exe")

    def unpack(self, archive, name="package.rar", prepare=None):
        """Runs the extractor on the archive's bytes, after prepare(destination) when given;
        returns (exit code, standard error)."""
        self.inst.write(name, bytes(archive))
        shutil.rmtree(self.inst.path("update.partial"), ignore_errors=True)
        if prepare is not None:
            prepare(self.inst.path("update.partial"))
        dest = ks.program_path(self.inst.path("update.partial"))
        separator = "\\" if ks.is_windows() else "/"
        parameters = ["x", "-o+", "-y", ks.program_path(self.inst.path(name)), dest + separator]
        # The agent hands the parameters over as one text, each path in double quotes.
        result = ks.run(self.extractor, parameters, cwd=self.inst.root)
        return result.returncode, result.stderr.decode("utf-8", "replace")

    def unpacked(self):
        base = self.inst.path("update.partial")
        found = {}
        for dirpath, _, filenames in os.walk(base):
            for name in filenames:
                path = os.path.join(dirpath, name)
                found[os.path.relpath(path, base).replace(os.sep, "/")] = self.inst.read(
                    os.path.relpath(path, self.inst.root))
        return found

    def test_what_the_publish_tool_writes_unpacks_byte_for_byte(self):
        deep = "/".join(["long-directory-name-%02d" % i for i in range(12)]) + "/leaf.txt"
        entries = [(info("Kivo9.exe", 0o100755), b"MZ browser" * 3000),
                   (info("Resource/stored.bin", method=zipfile.ZIP_STORED), bytes(range(256)) * 40),
                   (info("Resource/empty.txt"), b""),
                   (info("Plugins/\u00e9t\u00e9/\u6587\u4ef6.txt"), "UTF-8 name".encode()),
                   (info(deep), b"beyond 260 characters under Windows"),
                   (info("Resource/version.ini"), b"[Version]\nupdate=1204\n")]
        for label, archive in (("plain", make_zip(entries)),
                               ("Zip64", make_zip(entries, zip64_end=True))):
            with self.subTest(label):
                code, errors = self.unpack(archive)
                self.assertEqual(code, EXIT_DONE, errors)
                expected = {i.filename: content for i, content in entries}
                self.assertEqual(self.unpacked(), expected)
                if not ks.is_windows():
                    mode = os.stat(self.inst.path("update.partial/Kivo9.exe")).st_mode
                    self.assertTrue(mode & stat.S_IXUSR)
        # Zip64 fields on an entry, and a legacy name in code page 437 (0x82 is "e" acute).
        data = io.BytesIO()
        with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as archive:
            with archive.open("forced.bin", "w", force_zip64=True) as sink:
                sink.write(b"z" * 1000)
            archive.writestr("cafX.txt", b"legacy")
        code, errors = self.unpack(data.getvalue().replace(b"cafX.txt", b"caf\x82.txt"))
        self.assertEqual(code, EXIT_DONE, errors)
        self.assertEqual(self.unpacked(), {"forced.bin": b"z" * 1000, "caf\u00e9.txt": b"legacy"})

    def test_a_link_in_the_destination_is_replaced_never_written_through(self):
        if ks.is_windows():
            # Wine shows a Linux link to a Windows program as the file or folder it points
            # at (deleting it deletes that), and makes no link a Windows program could see.
            self.skipTest("the emulator has no links a Windows program can see")
        outside = self.inst.mkdir("outside")
        os.mkdir(os.path.join(outside, "Resource"))
        self.inst.write("outside/secret", b"keep me")
        self.inst.write("outside/browser", b"keep me too")

        def plant(dest):
            os.mkdir(dest)
            os.symlink(os.path.join(outside, "secret"), os.path.join(dest, "~unpack.partial"))
            os.symlink(os.path.join(outside, "browser"), os.path.join(dest, "Kivo9.exe"))
            os.symlink(os.path.join(outside, "Resource"), os.path.join(dest, "Resource"))
        code, errors = self.unpack(make_zip(GOOD), prepare=plant)
        self.assertEqual(code, EXIT_ENTRIES_FAILED, errors)  # Resource/ is a link: refused
        self.assertEqual(self.inst.read("outside/secret"), b"keep me")
        self.assertEqual(self.inst.read("outside/browser"), b"keep me too")
        self.assertEqual(os.listdir(os.path.join(outside, "Resource")), [])
        self.assertFalse(os.path.islink(self.inst.path("update.partial/Kivo9.exe")))
        self.assertEqual(self.inst.read("update.partial/Kivo9.exe"), dict(GOOD)["Kivo9.exe"])
        self.assertFalse(os.path.lexists(self.inst.path("update.partial/~unpack.partial")))

    def test_hostile_archives_are_refused_with_a_reason(self):
        bomb = make_zip([("zeros.bin", b"\0" * (100 << 20))] + GOOD)
        bad_crc = make_zip(GOOD + [("wrong-crc.txt", b"some bytes")])
        bad_crc = patched(bad_crc, "wrong-crc.txt", 16, "<I", 0x12345678)
        small = patched(make_zip(GOOD + [("bigger.txt", b"x" * 5000)]), "bigger.txt", 24, "<I", 100)
        encrypted = patched(make_zip(GOOD + [("secret.txt", b"s")]), "secret.txt", 8, "<H", 1)
        link = make_zip(GOOD + [(info("link", 0o120777), b"/etc/passwd")])
        bzip2 = make_zip(GOOD + [(info("other.txt", method=zipfile.ZIP_BZIP2), b"b" * 100)])
        whole = make_zip(GOOD)
        cut = whole[:len(whole) // 2]
        garbled = whole.replace(b"PK\x01\x02", b"PK\x01\x03", 1)
        names = ["../up.txt", "/abs.txt", "C:/drive.txt", "a\\b.txt", "CON", "nul.txt",
                 "com1.log", "COM\u00b9", "lpt\u00b3.txt", "dot.", "blank ", "stream.txt:s",
                 "wild*.txt"]
        twins = [("Twin.txt", "twin.txt"), ("\u00c4rger.txt", "\u00e4rger.txt"),
                 ("\u03a3\u039f\u03a6\u0399\u0391", "\u03c3\u03bf\u03c6\u03b9\u03b1")]
        refused_names = make_zip(GOOD + [(n, b"refused") for n in names] +
                                 [(name, data) for pair in twins
                                  for name, data in zip(pair, (b"first", b"second"))])
        cases = [  # label, archive, exit code, text the reason holds, names that must not exist
            ("zip bomb", bomb, EXIT_UNREADABLE, "times its size", ["zeros.bin", "Kivo9.exe"]),
            ("cut archive", cut, EXIT_UNREADABLE, "", ["Kivo9.exe"]),
            ("damaged directory", garbled, EXIT_UNREADABLE, "central directory", ["Kivo9.exe"]),
            ("not an archive", b"<html>404</html>", EXIT_UNREADABLE, "", []),
            ("wrong CRC", bad_crc, EXIT_ENTRIES_FAILED, "CRC-32", ["wrong-crc.txt"]),
            ("size under the truth", small, EXIT_ENTRIES_FAILED, "more than", ["bigger.txt"]),
            ("encrypted", encrypted, EXIT_ENTRIES_FAILED, "encrypted", ["secret.txt"]),
            ("a link", link, EXIT_ENTRIES_FAILED, "not a regular file", ["link"]),
            ("another method", bzip2, EXIT_ENTRIES_FAILED, "method 12", ["other.txt"]),
            ("names Windows refuses", refused_names, EXIT_ENTRIES_FAILED, "Windows",
             [n for n in names if "/" not in n and ":" not in n] + ["../up.txt"]),
        ]
        for label, archive, code, reason, absent in cases:
            with self.subTest(label):
                got, errors = self.unpack(archive)
                self.assertEqual(got, code, errors)
                self.assertIn(reason, errors)
                self.assertTrue(errors.startswith("extractor: "), errors)
                left = self.unpacked()
                for name in absent:
                    self.assertNotIn(name, left)
                    self.assertFalse(os.path.exists(self.inst.path(name)))
                self.assertFalse([n for n in left if "unpack.partial" in n])
                if code == EXIT_ENTRIES_FAILED:  # the rest is unpacked
                    self.assertEqual(left["Kivo9.exe"], dict(GOOD)["Kivo9.exe"])
                if label == "names Windows refuses":
                    for first, second in twins:  # the second is the same file on Windows
                        self.assertEqual(left[first], b"first")
                        self.assertNotIn(second, left)
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(self.inst.root), "up.txt")))


if __name__ == "__main__":
    ks.main()
