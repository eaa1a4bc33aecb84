#!/usr/bin/python3
"""OpenSSH's sshd on loopback for the tests (see tests/support/loopback_servers.h), started as a
process of its own with its own configuration: the running user logs in with the key of
--client-key only, and SFTP is served by sshd itself. Its own log (every connection, key, login
and session) goes to --log. Never the system's ssh service."""

import argparse
import os
import socket
import subprocess
import time

import loopback

parser = argparse.ArgumentParser()
for option in ("--host-key", "--client-key"):
    parser.add_argument(option, required=True)
args = loopback.parse(parser)

with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
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
    server = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", config, "-p", str(port)],
                              stdin=subprocess.DEVNULL, stdout=log, stderr=log)
loopback.children.append(server)
deadline = time.monotonic() + 20
while server.poll() is None and time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
    except OSError:
        time.sleep(0.02)
        continue
    loopback.announce(port)  # only once it takes connections
    break
server.wait()
