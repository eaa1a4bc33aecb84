#!/usr/bin/python3
"""What mailing the report adds to a run, against loopback SMTP sinks: plain SMTP, STARTTLS with
a login, and implicit TLS with a login, each against the same run without any recipient.

Usage: bench/mail_cost.py --program <quillfen> [--rounds N]. Each time is the best of N runs of
a copy of the program with its own Config.ini, copying one small file from a local folder."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "tests", "servers")
LOGIN, PASSWORD = "bench@bench.invalid", "bench password"


def certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return cert, key


def sink(spool, security, cert, key):
    os.makedirs(spool, exist_ok=True)
    process = subprocess.Popen(
        ["/usr/bin/python3", os.path.join(SERVERS, "smtp_sink.py"), "--spool", spool,
         "--security", security, "--cert", cert, "--key", key, "--login", LOGIN,
         "--password", PASSWORD, "--lifetime", "600"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return process, int(process.stdout.readline().split()[1])


def best_run(program, rounds):
    best = None
    for _ in range(rounds):
        start = time.monotonic()
        code = subprocess.run([program], env=dict(os.environ, QUILLFEN_UI="console"),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        wall = time.monotonic() - start
        if code != 0:
            sys.exit("%s ended with exit code %d" % (program, code))
        best = wall if best is None else min(best, wall)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="quillfen-mail-bench-")
    try:
        cert, key = certificate(work)
        source = os.path.join(work, "source")
        os.makedirs(source)
        os.makedirs(os.path.join(work, "dest"))
        with open(os.path.join(source, "a.txt"), "w") as file:
            file.write("a" * 8192)
        cases = [("no recipient", None, ""), ("plain SMTP", "none", ""),
                 ("STARTTLS + login", "starttls", "MailSecurity=starttls"),
                 ("implicit TLS + login", "tls", "MailSecurity=tls")]
        times = {}
        for name, security, keys in cases:
            app = os.path.join(work, "app-%d" % len(times))
            os.makedirs(app)
            program = shutil.copy2(args.program, os.path.join(app, "quillfen"))
            settings = ["[Quillfen]", "NetworkPath=" + source,
                        "DestinationFolder=" + os.path.join(work, "dest"), "MailServer=127.0.0.1",
                        "MailFrom=bench@bench.invalid", "MailSubject=bench"]
            server = None
            if security:
                server, port = sink(os.path.join(work, "spool-" + security), security, cert, key)
                settings += ["MailPort=%d" % port, "MailTo=operator@bench.invalid", keys]
                if security != "none":
                    settings += ["MailUserName=" + LOGIN, "MailPassword=" + PASSWORD,
                                 "MailTrust=" + cert]
            with open(os.path.join(app, "Config.ini"), "w") as config:
                config.write("\n".join(settings) + "\n")
            try:
                times[name] = best_run(program, args.rounds)
            finally:
                if server:
                    server.kill()
                    server.wait()
        base = times["no recipient"]
        for name, _, _ in cases:
            extra = "" if name == "no recipient" else "  (+%.3f s)" % (times[name] - base)
            print("%-22s %.3f s%s" % (name, times[name], extra))
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
