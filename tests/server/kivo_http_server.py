#!/usr/bin/env python3
"""Scripted loopback HTTP server and proxy for the tests (python3 standard library only).

The server listens on 127.0.0.1 and answers every request from a script of routes. It also
acts as an HTTP proxy: a request in absolute form ("GET http://version.kivo9.example/x HTTP/1.0",
as a client sends it through `http_proxy`) is answered from the same script, keyed by the host
named in the URI, so production host names reach the loopback server unchanged.

Script (JSON file or Python dict):

    {"routes": {
        "version.kivo9.example/kivover/ver.htm": [RESPONSE, RESPONSE, ...],
        "*/pkg.rar": [RESPONSE]
    }}

A route key is the host name (lower case, without port) followed by the path with its query,
as the request names them; "*" instead of a host matches any host, and a key ending in "*"
matches every path that begins with the rest of it (a request whose query the test cannot
predict). Exact keys win over "*" hosts, and those over prefixes, the longest first. The responses of a route are served in order, one per request; the last one repeats. A
request without a route gets 404 "no route". Each RESPONSE is an object:

    status          any number (default 200)
    reason          reason phrase (default: the standard one, else "Status")
    headers         [[name, value], ...] sent exactly as spelled, in order
    body            UTF-8 text                     | exactly one of these, or none for an
    body_hex        bytes as hex ("00ff41")        | empty body
    body_size       generated body of that many bytes, body_fill repeated (default "0123456789")
    body_file       the bytes of that file, read as they are sent
    content_length  Content-Length to declare (default: the body's length, unless the headers
                    already hold one in any spelling); false sends none
    truncate_to     send only that many body bytes, then close (the declared length stays)
    drip_ms         send the body (or the raw text) one byte at a time, that many milliseconds apart
    delay_ms        stay silent that many milliseconds before answering
    bytes_per_second  pace the body to that rate, a block at a time (a link slower than loopback)
    ranges          true: answer "Range: bytes=N-" as a static file server does, with 206, the
                    bytes from N and "Content-Range", unless "If-Range" names another ETag
                    than the response's own "ETag" header (then the whole body, as 200)
    raw             text sent verbatim (latin-1) instead of a composed answer
    close           true: close the connection without any answer

Every answer ends by closing the connection (HTTP/1.0).

Request log: every request head (request line and headers, exactly the bytes received, ending
with the empty line) is appended to the log file, if one is given, before the answer is sent.
`parse_log()` splits a log into requests.

Use from Python (the test's own process):

    with ScriptedServer({"routes": {...}}) as server:
        server.url("/x")            # "http://127.0.0.1:PORT/x"
        server.proxy_url            # "http://127.0.0.1:PORT/" for http_proxy
        server.set_script({...})    # replace the routes; counters start again
        server.requests()           # [{"line": ..., "headers": [(name, value)], "raw": ...}]

Use from another program: run this file

    python3 kivo_http_server.py --script script.json --log requests.log --port-file port.txt

It writes its port to the port file once it listens, re-reads the script file whenever its
content changes (counters start again), and runs until it is terminated. A running server
also takes a new script by "POST /__kivo/script" with the JSON as body.

`run_with_server.py` beside this file starts a server around a command (the C++ tests).
A "connection refused" case needs no server: use `closed_port()`.
"""

import argparse
import hashlib
import http
import json
import os
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

MAX_HEAD = 64 * 1024
BLOCK = 1 << 20


def closed_port():
    """A loopback port that nobody listens on (bound once, then released)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def parse_log(data):
    """Splits raw log bytes into requests: dicts with line, headers [(name, value)], raw."""
    requests = []
    for head in data.split(b"\r\n\r\n"):
        if not head:
            continue
        lines = head.decode("latin-1").split("\r\n")
        headers = [tuple(part.strip() if i else part for i, part in enumerate(l.split(":", 1)))
                   for l in lines[1:] if ":" in l]
        requests.append({"line": lines[0], "headers": headers, "raw": head + b"\r\n\r\n"})
    return requests


def route_key(target, headers):
    """(host, path) of a request target, in origin or absolute form."""
    if target.startswith(("http://", "https://")):
        parts = urllib.parse.urlsplit(target)
        path = parts.path or "/"
        if parts.query:
            path += "?" + parts.query
        return (parts.hostname or "").lower(), path
    host = ""
    for name, value in headers:
        if name.lower() == "host":
            host = value
    return urllib.parse.urlsplit("//" + host).hostname or "", target


class Script:
    """Routes and how many times each has answered; thread-safe."""

    def __init__(self, script=None):
        self._lock = threading.Lock()
        self._digest = None
        self._routes = {}
        self._served = {}
        if script is not None:
            self.set(script)

    def set(self, script):
        with self._lock:
            self._routes = dict(script.get("routes", {}))
            self._served = {}

    def reload_if_changed(self, path):
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            return
        digest = hashlib.sha256(data).digest()
        if digest == self._digest:
            return
        try:
            script = json.loads(data.decode("utf-8"))
        except ValueError:
            return  # a half-written file: the next request looks again
        self._digest = digest
        self.set(script)

    def next_response(self, host, path):
        with self._lock:
            prefixes = sorted((k for k in self._routes
                               if k.endswith("*") and (host + path).startswith(k[:-1])),
                              key=len, reverse=True)
            for key in [host + path, "*" + path] + prefixes:
                answers = self._routes.get(key)
                if answers:
                    n = self._served.get(key, 0)
                    self._served[key] = n + 1
                    return answers[min(n, len(answers) - 1)]
        return {"status": 404, "body": "no route for %s%s\n" % (host, path)}


def body_source(response):
    """(length, iterator of byte blocks) of a response body."""
    if "body_file" in response:
        path = response["body_file"]

        def file_blocks():
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(BLOCK), b""):
                    yield block

        return os.path.getsize(path), file_blocks()
    if "body_size" in response:
        size = int(response["body_size"])
        fill = response.get("body_fill", "0123456789").encode("latin-1")
        block = (fill * (BLOCK // len(fill) + 1))[:BLOCK]

        def blocks():
            left = size
            while left > 0:
                yield block[:min(left, len(block))]
                left -= len(block)

        return size, blocks()
    if "body_hex" in response:
        data = bytes.fromhex(response["body_hex"])
    else:
        data = response.get("body", "").encode("utf-8")
    return len(data), iter([data] if data else [])


def ranged(response, request_headers):
    """The response as a range server answers the request: with "skip" bytes left out."""
    if not response.get("ranges"):
        return response
    asked = dict((n.lower(), v) for n, v in request_headers)
    own_tag = dict((n.lower(), v) for n, v in response.get("headers", [])).get("etag")
    wanted = asked.get("range", "")
    if not wanted.startswith("bytes=") or not wanted.endswith("-"):
        return response
    if "if-range" in asked and asked["if-range"] != own_tag:
        return response
    skip = int(wanted[len("bytes="):-1])
    length, _ = body_source(response)
    if skip >= length:
        return {"status": 416}
    return dict(response, status=206, skip=skip, headers=response.get("headers", []) + [
        ["Content-Range", "bytes %d-%d/%d" % (skip, length - 1, length)]])


def skipped(blocks, count):
    """The blocks without their first count bytes."""
    for block in blocks:
        if count >= len(block):
            count -= len(block)
            continue
        yield block[count:]
        count = 0


def compose_head(response, length):
    status = int(response.get("status", 200))
    reason = response.get("reason")
    if reason is None:
        try:
            reason = http.HTTPStatus(status).phrase
        except ValueError:
            reason = "Status"
    lines = ["HTTP/1.0 %d %s" % (status, reason)]
    headers = response.get("headers", [])
    lines += ["%s: %s" % (name, value) for name, value in headers]
    declared = response.get("content_length", length)
    has_length = any(name.lower() == "content-length" for name, _ in headers)
    if declared is not False and not has_length:
        lines.append("Content-Length: %d" % declared)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        head = self.read_head()
        if head is None:
            return
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        headers = [(l.split(":", 1)[0], l.split(":", 1)[1].strip()) for l in lines[1:] if ":" in l]
        target = parts[1] if len(parts) > 1 else "/"
        if target.startswith("/__kivo/"):
            self.control(target, headers)
            return
        self.server.log_request_head(head)
        host, path = route_key(target, headers)
        self.answer(ranged(self.server.next_response(host, path), headers))

    def read_head(self):
        head = b""
        while not head.endswith(b"\r\n\r\n") and len(head) < MAX_HEAD:
            line = self.rfile.readline(MAX_HEAD)
            if not line:
                return None
            head += line
            if head == b"\r\n":  # stray empty line before a request
                head = b""
        return head

    def answer(self, response):
        out = self.wfile
        if response.get("delay_ms"):
            time.sleep(response["delay_ms"] / 1000.0)
        if response.get("close"):
            return
        if "raw" in response:
            raw = response["raw"].encode("latin-1")
            if not response.get("drip_ms"):
                out.write(raw)
            for byte in raw if response.get("drip_ms") else b"":
                out.write(bytes([byte]))
                out.flush()
                time.sleep(response["drip_ms"] / 1000.0)
            return
        length, blocks = body_source(response)
        skip = response.get("skip", 0)
        if skip:
            blocks = skipped(blocks, skip)
            length -= skip
        out.write(compose_head(response, length))
        left = response.get("truncate_to", length)
        drip = response.get("drip_ms")
        rate = response.get("bytes_per_second")
        start, sent = time.monotonic(), 0
        for block in blocks:
            if left <= 0:
                break
            if rate:
                time.sleep(max(0.0, start + sent / rate - time.monotonic()))
                sent += min(left, len(block))
            if drip is None:
                out.write(block[:left])
            else:
                for byte in block[:left]:
                    out.write(bytes([byte]))
                    out.flush()
                    time.sleep(drip / 1000.0)
            left -= len(block)

    def control(self, target, headers):
        length = sum(int(v) for n, v in headers if n.lower() == "content-length")
        body = self.rfile.read(length) if length else b""
        if target == "/__kivo/script":
            self.server.script.set(json.loads(body.decode("utf-8")))
            self.answer({"status": 200, "body": "ok\n"})
        elif target == "/__kivo/log":
            self.answer({"status": 200, "body_hex": self.server.log_bytes().hex()})
        else:
            self.answer({"status": 404})


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, script, script_path=None, log_path=None, port=0):
        super().__init__(("127.0.0.1", port), Handler)
        self.script = script
        self.script_path = script_path
        self.log_path = log_path
        self._log = bytearray()
        self._log_lock = threading.Lock()

    def next_response(self, host, path):
        if self.script_path:
            self.script.reload_if_changed(self.script_path)
        return self.script.next_response(host, path)

    def log_request_head(self, head):
        with self._log_lock:
            self._log += head
            if self.log_path:
                with open(self.log_path, "ab") as f:
                    f.write(head)

    def log_bytes(self):
        with self._log_lock:
            return bytes(self._log)

    def handle_error(self, request, client_address):
        pass  # a client that hangs up early is part of the tests


class ScriptedServer:
    """A server on a thread of this process; a context manager."""

    def __init__(self, script=None, log_path=None, script_path=None):
        self._server = Server(Script(script or {}), script_path, log_path)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self._thread.start()

    def stop(self):
        self._server.shutdown()
        self._server.server_close()

    @property
    def port(self):
        return self._server.server_address[1]

    @property
    def proxy_url(self):
        return "http://127.0.0.1:%d/" % self.port

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def set_script(self, script):
        self._server.script.set(script)

    def requests(self):
        return parse_log(self._server.log_bytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", help="file that receives the port once listening")
    parser.add_argument("--script", help="JSON script file, re-read when it changes")
    parser.add_argument("--log", help="file that receives every request head")
    args = parser.parse_args()
    server = Server(Script(), args.script, args.log, args.port)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    if args.port_file:
        with open(args.port_file + ".part", "w") as f:
            f.write("%d\n" % server.server_address[1])
        os.replace(args.port_file + ".part", args.port_file)
    try:
        server.serve_forever()
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
