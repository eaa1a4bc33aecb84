#!/usr/bin/python3
"""vsftpd on loopback for the tests (see tests/support/loopback_servers.h): anonymous logins over
TLS only, explicit or implicit, with vsftpd's default demand that every data connection resume
the control connection's TLS session. Its own log goes to --log. vsftpd runs once per connection
on this script's listener (its inetd mode), so the port listens before the test learns it; with
--max-per-ip it listens itself (its standalone mode), as only then does it count sessions."""

import argparse
import subprocess

import loopback

parser = argparse.ArgumentParser()
for option in ("--root", "--certificate", "--key"):
    parser.add_argument(option, required=True)
parser.add_argument("--tls", choices=["explicit", "implicit"], default="explicit")
for option in ("--max-per-ip", "--rate"):  # sessions from one address; bytes per second
    parser.add_argument(option, type=int, default=0)
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
if args.max_per_ip:
    port = loopback.free_port()
    settings.update({"listen": "YES", "listen_address": "127.0.0.1", "listen_port": port,
                     "background": "NO", "max_per_ip": args.max_per_ip})
with open(config, "w") as out:
    out.writelines("%s=%s\n" % item for item in settings.items())
if args.max_per_ip:
    loopback.serve_with(subprocess.Popen(["/usr/sbin/vsftpd", config], stdin=subprocess.DEVNULL),
                        port)
else:
    loopback.serve_each_connection_with(["/usr/sbin/vsftpd", config])
