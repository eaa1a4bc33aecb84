#!/usr/bin/python3
"""Loopback SFTP server for the tests, over asyncssh (see tests/support/loopback_servers.h).

Serves --root as the home folder of one user, who logs in with --password or, when
--client-key names a public key file, with that key only. No system account is involved."""

import argparse
import asyncio
import logging
import os

import asyncssh

import loopback

parser = argparse.ArgumentParser()
for option, default in [("--root", "."), ("--user", "backup"), ("--password", "secret"),
                        ("--host-key", None), ("--client-key", None)]:
    parser.add_argument(option, default=default)
for option in ("--stall", "--stall-mid-file"):  # see SftpServerOptions in loopback_servers.h
    parser.add_argument(option, action="store_true")
args = loopback.parse(parser)  # the log: one line per login and file read


class Server(asyncssh.SSHServer):
    def auth_completed(self):
        loopback.record(args, "login")

    def begin_auth(self, username):
        return True

    def password_auth_supported(self):
        return not args.client_key

    def validate_password(self, username, password):
        return username == args.user and password == args.password

    def public_key_auth_supported(self):
        return bool(args.client_key)


class Files(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=os.fsencode(args.root))

    async def listdir(self, path):
        await asyncio.sleep(3600 if args.stall else 0)
        return super().listdir(path)

    async def open(self, path, pflags, attrs):
        await asyncio.sleep(3600 if args.stall else 0)
        return super().open(path, pflags, attrs)

    async def read(self, file_obj, offset, size):
        if offset == 0:
            loopback.record(args, "read")  # a file's content fetched, as RETR does over FTP
        elif args.stall_mid_file:
            await asyncio.sleep(3600)
        return super().read(file_obj, offset, size)


async def serve():
    options = {}
    if args.client_key:
        options["authorized_client_keys"] = args.client_key
    server = await asyncssh.create_server(
        Server, "127.0.0.1", 0, server_host_keys=[args.host_key], sftp_factory=Files,
        allow_scp=False, **options)
    loopback.announce(server.sockets[0].getsockname()[1])
    await asyncio.Event().wait()


logging.basicConfig(level=logging.CRITICAL)
asyncio.run(serve())
