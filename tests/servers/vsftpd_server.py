#!/usr/bin/python3
"""vsftpd on loopback for the tests (see tests/support/loopback_servers.h): anonymous logins over
TLS only, explicit or implicit, with vsftpd's default demand that every data connection resume
the control connection's TLS session. Its own log goes to --log."""

import argparse
import socket
import subprocess
import time

import loopback

parser = argparse.ArgumentParser()
for option in ("--root", "--certificate", "--key"):
    parser.add_argument(option, required=True)
parser.add_argument("--tls", choices=["explicit", "implicit"], default="explicit")
args = loopback.parse(parser)

with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
settings = {
    "listen": "YES", "listen_address": "127.0.0.1", "listen_port": port, "background": "NO",
    "run_as_launching_user": "YES", "seccomp_sandbox": "NO", "anonymous_enable": "YES",
    "no_anon_password": "YES", "local_enable": "NO", "write_enable": "NO", "anon_root": args.root,
    "ssl_enable": "YES", "allow_anon_ssl": "YES", "force_anon_logins_ssl": "YES",
    "force_anon_data_ssl": "YES", "require_ssl_reuse": "YES",
    "implicit_ssl": "YES" if args.tls == "implicit" else "NO", "rsa_cert_file": args.certificate,
    "rsa_private_key_file": args.key, "pasv_address": "127.0.0.1", "xferlog_enable": "YES",
    "dual_log_enable": "YES", "vsftpd_log_file": args.log, "xferlog_file": args.log + ".xfer"}
config = args.log + ".conf"
with open(config, "w") as out:
    out.writelines("%s=%s\n" % item for item in settings.items())
server = subprocess.Popen(["/usr/sbin/vsftpd", config])
loopback.children.append(server)
while server.poll() is None:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        break
    except OSError:
        time.sleep(0.02)
loopback.announce(port)
server.wait()
