#!/usr/bin/python3
"""OpenSSH's sshd on loopback for the tests (see tests/support/loopback_servers.h), started as a
process of its own with its own configuration: the running user logs in with the key of
--client-key only, and SFTP is served by sshd itself. Its own log (every connection, key, login
and session) goes to --log. Never the system's ssh service."""

import argparse
import os
import subprocess

import loopback

parser = argparse.ArgumentParser()
for option in ("--host-key", "--client-key"):
    parser.add_argument(option, required=True)
args = loopback.parse(parser)

port = loopback.free_port()
settings = [
    ("ListenAddress", "127.0.0.1"), ("HostKey", args.host_key),
    ("AuthorizedKeysFile", args.client_key), ("StrictModes", "no"), ("UsePAM", "no"),
    ("PermitRootLogin", "prohibit-password"), ("PasswordAuthentication", "no"),
    ("KbdInteractiveAuthentication", "no"), ("PidFile", "none"), ("LogLevel", "VERBOSE"),
    ("Subsystem", "sftp internal-sftp")]
config = args.log + ".conf"
with open(config, "w") as out:
    out.writelines("%s %s\n" % item for item in settings)
# Started by root, sshd wants its privilege separation folder, which the system's service
# makes only when it starts.
if os.geteuid() == 0:
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
with open(args.log, "a") as log:
    loopback.serve_with(subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", config, "-p",
                                          str(port)], stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=log), port)
