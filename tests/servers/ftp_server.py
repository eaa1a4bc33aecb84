#!/usr/bin/python3
"""Loopback FTP server for the tests, over pyftpdlib.

Prints "PORT <n>" on its first line once it listens on 127.0.0.1, then serves until its
standard input closes or its lifetime runs out, whichever comes first, so that a test that
dies never leaves it behind.
"""

import argparse
import errno
import os
import socket
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def exit_when_stdin_closes():
    def watch():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def exit_after(seconds):
    timer = threading.Timer(seconds, lambda: os._exit(0))
    timer.daemon = True
    timer.start()


def announce(port):
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()


class FailingFile:
    """A file that delivers its first `limit` bytes and then fails like a broken disk."""

    def __init__(self, real, limit):
        self._real = real
        self._left = limit
        self.name = real.name

    @property
    def closed(self):
        return self._real.closed

    def read(self, size=-1):
        if self._left <= 0:
            raise OSError(errno.EIO, os.strerror(errno.EIO))
        data = self._real.read(min(size, self._left) if size >= 0 else self._left)
        self._left -= len(data)
        return data

    def close(self):
        self._real.close()


def make_handler(args):
    class Stats:
        lock = threading.Lock()

        @staticmethod
        def record(event):
            if not args.stats:
                return
            with Stats.lock, open(args.stats, "a") as out:
                out.write(event + "\n")

    class FailingFS(AbstractedFS):
        def open(self, filename, mode):
            real = super().open(filename, mode)
            if args.fail_file and os.path.basename(filename) == args.fail_file:
                return FailingFile(real, args.fail_after)
            return real

    class Handler(FTPHandler):
        abstracted_fs = FailingFS
        # pyftpdlib delays the answer to a wrong password by 3 s; tests need no such brake.
        auth_failed_timeout = 0.05
        # Sending through sendfile() would bypass the failing file object.
        use_sendfile = not args.fail_file
        proto_cmds = FTPHandler.proto_cmds.copy()
        if args.no_mlsd:
            del proto_cmds["MLSD"]
            del proto_cmds["MLST"]

        def on_connect(self):
            Stats.record("connect")

        def on_login(self, username):
            Stats.record("login")

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")
    Handler.authorizer = authorizer
    Handler.passive_ports = None
    return Handler


def serve_silently():
    """Accepts connections and never says a word: the server that hangs a client."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    announce(listener.getsockname()[1])
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    parser.add_argument("--user", default="backup")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--stats", help="file that gets one line per connection and login")
    parser.add_argument("--no-mlsd", action="store_true", help="offer LIST only")
    parser.add_argument("--fail-file", help="name of a file whose download breaks off")
    parser.add_argument("--fail-after", type=int, default=65536)
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--lifetime", type=float, default=300.0)
    args = parser.parse_args()

    exit_when_stdin_closes()
    exit_after(args.lifetime)

    if args.silent:
        serve_silently()
        return

    import logging
    logging.basicConfig(level=logging.CRITICAL)
    server = FTPServer(("127.0.0.1", 0), make_handler(args))
    server.max_cons = 64
    announce(server.socket.getsockname()[1])
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
