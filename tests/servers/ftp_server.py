#!/usr/bin/python3
"""Loopback FTP server for the tests, over pyftpdlib (see tests/support/ftp_server.h)."""

import argparse
import errno
import io
import logging
import os

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

import loopback

parser = argparse.ArgumentParser()
for option, default in [("--root", "."), ("--user", "backup"), ("--password", "secret"),
                        ("--fail-file", None), ("--short-file", None),
                        ("--endless-file", None)]:
    parser.add_argument(option, default=default)
# What each option does: FtpServerOptions in tests/support/ftp_server.h.
for option in ("--bytes-per-second", "--max-cons-per-ip", "--max-logins"):
    parser.add_argument(option, type=int, default=0)
for option in ("--no-mlsd", "--silent"):
    parser.add_argument(option, action="store_true")
parser.add_argument("--tls", default="none", choices=["none", "explicit", "implicit"])
parser.add_argument("--certificate")  # PEM files, for --tls
parser.add_argument("--key")
args = loopback.parse(parser)  # the log: one line per connection, login and command


class FailingFile(io.FileIO):
    """Delivers its first 64 KiB, then fails like a broken disk."""
    def read(self, size=-1):
        if self.tell() >= 65536:
            raise OSError(errno.EIO, os.strerror(errno.EIO))
        return super().read(min(65536 - self.tell(), size if size >= 0 else 65536))


class ShortFile(io.FileIO):
    """Ends after half of its content, and the transfer is reported complete: a server that lies."""
    def read(self, size=-1):
        half = os.fstat(self.fileno()).st_size // 2
        return super().read(max(0, min(half - self.tell(), size if size >= 0 else half)))


class EndlessFile(io.FileIO):
    """Goes on past its end without ever stopping: a server gone wrong."""
    def read(self, size=-1):
        return super().read(size) or b"\0" * 65536


class FailingFS(AbstractedFS):
    def open(self, filename, mode):
        kind = {args.fail_file: FailingFile, args.short_file: ShortFile,
                args.endless_file: EndlessFile}.get(os.path.basename(filename))
        return kind(filename, "r") if kind else super().open(filename, mode)


class HandshakeFirstDTP(TLS_DTPHandler):
    """Reads the TLS handshake a client starts as soon as the data connection stands, before it
    sends LIST or RETR (curl does; pyftpdlib waits for the command: its issue 604)."""
    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        if self._ssl_accepting:
            self._ssl_want_read = True
            self.modify_ioloop_events(self.ioloop.READ)


class TlsBase(TLS_FTPHandler):
    certfile = args.certificate
    keyfile = args.key
    tls_control_required = True
    tls_data_required = True
    dtp_handler = HandshakeFirstDTP

    def handle(self):
        if args.tls == "implicit":
            self.secure_connection(self.ssl_context)
        super().handle()


Base = TlsBase if args.tls != "none" else FTPHandler


class Handler(Base):
    abstracted_fs = FailingFS
    auth_failed_timeout = 0.05  # instead of 3 s before refusing a wrong password
    use_sendfile = not (args.fail_file or args.short_file or args.endless_file
                        or args.bytes_per_second)  # sendfile bypasses them
    if args.bytes_per_second:
        dtp_handler = type("Trickle", (ThrottledDTPHandler,), {"write_limit": args.bytes_per_second})
    proto_cmds = {k: v for k, v in Base.proto_cmds.items()
                  if not (args.no_mlsd and k in ("MLSD", "MLST"))}

    def on_connect(self):
        loopback.record(args, "connect")

    sessions = set()  # the connections logged in now

    def on_login(self, username):
        loopback.record(args, "login")
        Handler.sessions.add(self)

    def on_disconnect(self):
        Handler.sessions.discard(self)

    def pre_process_command(self, line, cmd, arg):
        loopback.record(args, "> " + cmd)
        if cmd == "RETR":
            loopback.record(args, "retr " + arg)
        super().pre_process_command(line, cmd, arg)


class LimitedAuthorizer(DummyAuthorizer):
    """Refuses a login while --max-logins sessions are logged in, as a server that counts users
    rather than addresses does."""
    def validate_authentication(self, username, password, handler):
        if args.max_logins and len(Handler.sessions) >= args.max_logins:
            raise AuthenticationFailed("too many connections")
        super().validate_authentication(username, password, handler)


Handler.authorizer = LimitedAuthorizer()
Handler.authorizer.add_user(args.user, args.password, args.root, perm="elr")
if args.silent:
    loopback.serve_silently()
logging.basicConfig(level=logging.CRITICAL)
server = FTPServer(("127.0.0.1", 0), Handler)
server.max_cons_per_ip = args.max_cons_per_ip
loopback.announce(server.socket.getsockname()[1])
server.serve_forever(timeout=0.5)
