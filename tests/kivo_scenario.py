"""Helpers for scenario tests that start the built programs in a temporary installation.

A scenario test module calls kivo_scenario.main() instead of unittest.main(). Its command
line carries where the programs are and how to start them:

    python3 some_scenarios.py --bin-dir DIR [--emulator PATH] [--suffix .exe] [unittest args]

With --emulator (the Wine loader for the Windows programs) every program is started through
it; paths that a program reports are then Windows paths, which program_path() predicts.
Programs are started with their output going to files, never pipes: a program that starts a
detached child (as the launcher does) must not keep the test waiting for the child.
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

_config = argparse.Namespace(bin_dir=None, emulator=None, suffix="")

WINE_ENVIRONMENT = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def main():
    """Reads the helper's own options, then runs the unittest tests of the calling module."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--suffix", default="")
    options, rest = parser.parse_known_args()
    _config.bin_dir = os.path.realpath(options.bin_dir)
    _config.emulator = options.emulator or None
    _config.suffix = options.suffix
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest)


def is_windows():
    """True when the programs under test are Windows programs."""
    return _config.suffix.lower() == ".exe"


def built_program(name):
    """Path of a built program by its target name ("Kivo9", "recorder", ...)."""
    return os.path.join(_config.bin_dir, name + _config.suffix)


def program_path(path):
    """The path as the started programs see it: unchanged natively, on drive Z: under Wine."""
    path = os.path.realpath(path) if os.path.exists(path) else path
    if _config.emulator is None:
        return path
    return "Z:" + path.replace("/", "\\")


class Result:
    """Exit code, output and error output of a finished program, as bytes."""

    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr


def _command(program, args, env):
    command = [program] + list(args)
    environment = dict(os.environ)
    if _config.emulator is not None:
        command = [_config.emulator] + command
        environment.update(WINE_ENVIRONMENT)
    environment.update(env or {})
    return command, environment


def run(program, args=(), cwd=None, env=None, timeout=120, stdin=b""):
    """Starts program (a path) with args and waits for it; returns a Result."""
    command, environment = _command(program, args, env)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        completed = subprocess.run(command, cwd=cwd, env=environment, input=stdin,
                                   stdout=out, stderr=err, timeout=timeout, check=False)
        out.seek(0)
        err.seek(0)
        return Result(completed.returncode, out.read(), err.read())


def run_measured(program, args=(), cwd=None, env=None, timeout=120):
    """As run(), with no input; the Result's peak_kib is the most memory (resident KiB) the
    program held at once."""
    command, environment = _command(program, args, env)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, cwd=cwd, env=environment, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        timer = threading.Timer(timeout, process.kill)
        timer.start()
        try:
            _, status, usage = os.wait4(process.pid, 0)
        finally:
            timer.cancel()
        process.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
        out.seek(0)
        err.seek(0)
        result = Result(process.returncode, out.read(), err.read())
        result.peak_kib = usage.ru_maxrss
        return result


class Started:
    """A program started by start(), running beside the test until finish()."""

    def __init__(self, program, args, cwd, env):
        command, environment = _command(program, args, env)
        self._out, self._err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        self._process = subprocess.Popen(command, cwd=cwd, env=environment,
                                         stdin=subprocess.DEVNULL, stdout=self._out,
                                         stderr=self._err)

    def finish(self, timeout=120):
        """Waits for the program to end; returns its Result."""
        try:
            returncode = self._process.wait(timeout)
        finally:
            if self._process.returncode is None:
                self._process.kill()
                self._process.wait()
        self._out.seek(0)
        self._err.seek(0)
        result = Result(returncode, self._out.read(), self._err.read())
        self._out.close()
        self._err.close()
        return result


def start(program, args=(), cwd=None, env=None):
    """Starts program (a path) with args without waiting for it; returns a Started."""
    return Started(program, args, cwd, env)


def wait_for(condition, timeout=60.0, interval=0.05):
    """Polls condition() until it is true or timeout seconds have passed; returns the last
    value. The time-out is a safety net for slow emulators, not a measure of speed."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def running(program):
    """The ids of the processes started from the program file (a path), natively or under
    the emulator, judged from the command lines in /proc."""
    names = {os.path.realpath(program).encode(), program_path(program).encode()}
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                arguments = f.read().split(b"\0")
        except OSError:
            continue
        if any(argument in names for argument in arguments):
            found.append(int(pid))
    return found


def is_running(program):
    """True while a process started from the program file (a path) exists."""
    return bool(running(program))


def wait_until_gone(program, timeout=60.0):
    """Waits until no process runs the program file; True when none is left."""
    return wait_for(lambda: not is_running(program), timeout)


class Installation:
    """A temporary directory tree to install programs and files into; removed by cleanup()."""

    def __init__(self, prefix="kivo-", parent=None):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix=prefix, dir=parent))

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, relative=""):
        return os.path.join(self.root, *relative.split("/")) if relative else self.root

    def mkdir(self, relative):
        os.makedirs(self.path(relative), exist_ok=True)
        return self.path(relative)

    def write(self, relative, content=b""):
        if isinstance(content, str):
            content = content.encode("utf-8")
        target = self.path(relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(content)
        return target

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def exists(self, relative):
        return os.path.lexists(self.path(relative))

    def install_program(self, name, relative, extra=b""):
        """Copies the built program name to relative, executable; extra bytes appended to
        the copy let a test tell copies of one program apart while they still run."""
        target = self.path(relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built_program(name), target)
        if extra:
            with open(target, "ab") as f:
                f.write(extra)
        os.chmod(target, 0o755)
        return target

    def files(self, relative=""):
        """Every file and directory below relative, as sorted relative paths with '/';
        directories end with '/'."""
        base = self.path(relative)
        found = []
        for dirpath, dirnames, filenames in os.walk(base):
            rel = os.path.relpath(dirpath, base).replace(os.sep, "/")
            prefix = "" if rel == "." else rel + "/"
            found += [prefix + d + "/" for d in dirnames] + [prefix + f for f in filenames]
        return sorted(found)


def write_file_list(root):
    """Writes root/Resource/files.lst for every file below root, as the publisher does."""
    lines = []
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            if relative == "Resource/files.lst":
                continue
            with open(path, "rb") as f:
                data = f.read()
            lines.append("%s %d %s\n" % (hashlib.sha256(data).hexdigest(), len(data), relative))
    os.makedirs(os.path.join(root, "Resource"), exist_ok=True)
    with open(os.path.join(root, "Resource", "files.lst"), "w", encoding="utf-8") as f:
        f.writelines(sorted(lines))


def read_records(record_file):
    """The starts that the recorder wrote into record_file: a list of dicts with "cmdline",
    "cwd" and "args" (a list), in the order of the starts. A record still being written is
    left out."""
    try:
        with open(record_file, "rb") as f:
            lines = f.read().decode("utf-8").split("\n")
    except FileNotFoundError:
        return []
    records, current = [], None
    for line in lines:
        if line == "record":
            current = {"args": []}
        elif line == "end" and current is not None:
            records.append(current)
            current = None
        elif current is not None and " " in line:
            key, value = line.split(" ", 1)
            if key == "arg":
                current["args"].append(json.loads(value))
            else:
                current[key] = json.loads(value)
    return records


def command_line_tail(command_line):
    """The command line without the program name and the blanks after it (Windows rules)."""
    if command_line.startswith('"'):
        end = command_line.find('"', 1)
        i = len(command_line) if end < 0 else end + 1
    else:
        i = 0
        while i < len(command_line) and ord(command_line[i]) > 32:
            i += 1
    while i < len(command_line) and ord(command_line[i]) <= 32:
        i += 1
    return command_line[i:]
