#!/usr/bin/env python3
"""Runs a command while a scripted loopback HTTP server (kivo_http_server.py) answers.

    python3 run_with_server.py [--proxy] [--emulator PROGRAM] -- COMMAND [ARGS...]

The command runs in a new temporary directory, which holds the server's files:

    script.json    the routes; the command writes it, the server re-reads it when it changes
    requests.log   every request head the server received, appended as it arrives

and gets in its environment:

    KIVO_HTTP_PORT         the server's port on 127.0.0.1
    KIVO_HTTP_CLOSED_PORT  a loopback port where nobody listens
    KIVO_HTTP_SCRIPT       "script.json", relative to the working directory
    KIVO_HTTP_LOG          "requests.log", relative to the working directory

Relative names keep the files reachable from programs under Wine. With --proxy, `http_proxy`
points at the server and `no_proxy` exempts 127.0.0.1 and localhost, so host names such as
version.kivo9.example reach the server as proxy requests while loopback URLs go direct.
--emulator runs the command through that program (Wine for Windows test programs).
The exit code is the command's. The directory is removed afterwards.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivo_http_server  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--proxy", action="store_true")
    parser.add_argument("--emulator", default="")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    if args.emulator:
        command = [args.emulator] + command
    work = tempfile.mkdtemp(prefix="kivo-http-")
    try:
        script = os.path.join(work, "script.json")
        log = os.path.join(work, "requests.log")
        with kivo_http_server.ScriptedServer(script_path=script, log_path=log) as server:
            env = dict(os.environ)
            env.update({
                "KIVO_HTTP_PORT": str(server.port),
                "KIVO_HTTP_CLOSED_PORT": str(kivo_http_server.closed_port()),
                "KIVO_HTTP_SCRIPT": "script.json",
                "KIVO_HTTP_LOG": "requests.log",
            })
            if args.proxy:
                env["http_proxy"] = server.proxy_url
                env["no_proxy"] = "127.0.0.1,localhost"
            return subprocess.call(command, cwd=work, env=env)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
