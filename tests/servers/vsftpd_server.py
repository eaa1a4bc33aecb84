#!/usr/bin/python3
"""vsftpd on loopback for the tests (see tests/support/loopback_servers.h): anonymous logins over
TLS only, explicit or implicit, with vsftpd's default demand that every data connection resume
the control connection's TLS session. Its own log goes to --log. vsftpd runs once per connection
on this script's listener (its inetd mode), so the port listens before the test learns it; with
--max-per-ip it listens itself (its standalone mode), as only then does it count sessions."""

import argparse
import socket
import subprocess
import time

import loopback

parser = argparse.ArgumentParser()
for option in ("--root", "--certificate", "--key"):
    parser.add_argument(option, required=True)
parser.add_argument("--tls", choices=["explicit", "implicit"], default="explicit")
parser.add_argument("--max-per-ip", type=int, default=0,
                    help="more sessions at once from one address are refused with 421; vsftpd "
                         "counts them only when it listens itself (its standalone mode)")
parser.add_argument("--rate", type=int, default=0, help="bytes per second of each download")
args = loopback.parse(parser)

settings = {
    "listen": "NO", "listen_ipv6": "NO", "run_as_launching_user": "YES", "seccomp_sandbox": "NO",
    "anonymous_enable": "YES", "no_anon_password": "YES", "local_enable": "NO",
    "write_enable": "NO", "anon_root": args.root,
    "ssl_enable": "YES", "allow_anon_ssl": "YES", "force_anon_logins_ssl": "YES",
    "force_anon_data_ssl": "YES", "require_ssl_reuse": "YES",
    "implicit_ssl": "YES" if args.tls == "implicit" else "NO", "rsa_cert_file": args.certificate,
    "rsa_private_key_file": args.key, "pasv_address": "127.0.0.1", "xferlog_enable": "YES",
    "dual_log_enable": "YES", "vsftpd_log_file": args.log, "xferlog_file": args.log + ".xfer",
    "anon_max_rate": args.rate}
config = args.log + ".conf"


def write_config():
    with open(config, "w") as out:
        out.writelines("%s=%s\n" % item for item in settings.items())


def listening(port):
    """Whether a socket listens on `port` of loopback, seen without connecting to it: a probe
    connection would count against the limit until vsftpd noticed it closed."""
    wanted = ":%04X" % port
    with open("/proc/net/tcp") as table:
        return any(fields[1].endswith(wanted) and fields[3] == "0A"
                   for fields in (line.split() for line in table.readlines()[1:]))


if args.max_per_ip:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    settings.update({"listen": "YES", "listen_address": "127.0.0.1", "listen_port": port,
                     "background": "NO", "max_per_ip": args.max_per_ip})
    write_config()
    server = subprocess.Popen(["/usr/sbin/vsftpd", config], stdin=subprocess.DEVNULL)
    loopback.children.append(server)
    deadline = time.monotonic() + 20
    while server.poll() is None and time.monotonic() < deadline and not listening(port):
        time.sleep(0.02)
    if listening(port):
        loopback.announce(port)
    server.wait()
else:
    write_config()
    loopback.serve_each_connection_with(["/usr/sbin/vsftpd", config])
