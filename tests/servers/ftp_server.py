#!/usr/bin/python3
"""Loopback FTP server for the tests, over pyftpdlib (see tests/support/ftp_server.h)."""

import argparse
import errno
import io
import logging
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

import loopback


class FailingFile(io.FileIO):
    """Delivers its first `left` bytes, then fails like a broken disk."""
    left = 0

    def read(self, size=-1):
        if self.left <= 0:
            raise OSError(errno.EIO, os.strerror(errno.EIO))
        data = super().read(min(size, self.left) if size >= 0 else self.left)
        self.left -= len(data)
        return data


def make_handler(args):
    def record(event):
        with open(args.stats or os.devnull, "a") as out:
            out.write(event + "\n")

    class FailingFS(AbstractedFS):
        def open(self, filename, mode):
            if args.fail_file and os.path.basename(filename) == args.fail_file:
                broken = FailingFile(filename, "r")
                broken.left = args.fail_after
                return broken
            return super().open(filename, mode)

    hidden = ("MLSD", "MLST") if args.no_mlsd else ()

    class Trickle(ThrottledDTPHandler):
        write_limit = args.bytes_per_second

    class Handler(FTPHandler):
        abstracted_fs = FailingFS
        auth_failed_timeout = 0.05  # instead of 3 s before refusing a wrong password
        # sendfile() would bypass the failing file and the throttle
        use_sendfile = not args.fail_file and not args.bytes_per_second
        dtp_handler = Trickle if args.bytes_per_second else FTPHandler.dtp_handler
        proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in hidden}

        def on_connect(self):
            record("connect")

        def on_login(self, username):
            record("login")

    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user(args.user, args.password, args.root, perm="elr")
    return Handler


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
    parser.add_argument("--bytes-per-second", type=int, default=0, help="downloads trickle")
    parser.add_argument("--lifetime", type=float, default=300.0)
    args = parser.parse_args()
    loopback.end_with_input_or_after(args.lifetime)
    if args.silent:
        loopback.serve_silently()
    logging.basicConfig(level=logging.CRITICAL)
    server = FTPServer(("127.0.0.1", 0), make_handler(args))
    loopback.announce(server.socket.getsockname()[1])
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
