#!/usr/bin/python3
"""Two Quillfen programs taking turns on the cases the write path decides, beside `cp -a`.

For each program: the whole run minus its fixed pauses, and the time its flush before pruning
took (`strace -T` of syncfs and fsync in a second run of its own, so that tracing costs the
timed run nothing). The cases: one file of 512 MiB from vsftpd and from pyftpdlib, and a local
copy of 2,000 files of 8 KiB and of the 512 MiB file, where `cp -a` followed by `sync -f` is
the peer. Each figure is the best of --rounds.

Usage: bench/write_path.py --before OLD/quillfen --after NEW/quillfen [--rounds 3]
"""

import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import (CONSOLE, OUT, PAUSES, USER, Quillfen, checked, fresh,  # noqa: E402
                   ftp_server, measure, smtp_sink, vsftpd_server, write_random_files)


def flush_seconds(quillfen, name, **settings):
    program = quillfen.install(name, fresh(os.path.join(OUT, "w-traced")), **settings)
    log = os.path.join(OUT, name + ".strace")
    subprocess.run(["strace", "-f", "--seccomp-bpf", "-e", "trace=syncfs,fsync", "-T", "-o", log,
                    program], env=CONSOLE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False)
    with open(log) as lines:
        return sum(float(found.group(1)) for found in
                   (re.search(r"(?:syncfs|fsync)\(.*<([0-9.]+)>$", line.strip()) for line in lines)
                   if found)


def turns(programs, rounds, settings, peer=None):
    """Best whole run and best flush of each program, and the peer's best time."""
    runs, flushes = {}, {}
    for _ in range(rounds):
        for label, quillfen in programs.items():
            os.sync()
            result = checked(label, quillfen.run("w-" + label, fresh(os.path.join(OUT, "w-dest")),
                                                 **settings))
            runs[label] = min(runs.get(label, 1e9), result.wall - PAUSES)
            os.sync()
            flushes[label] = min(flushes.get(label, 1e9),
                                 flush_seconds(quillfen, "w-traced-" + label, **settings))
        if peer:
            os.sync()
            runs["cp -a"] = min(runs.get("cp -a", 1e9), peer().wall)
    return runs, flushes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    data = os.path.join(OUT, "data")
    small, large = os.path.join(data, "small"), os.path.join(data, "large")
    if not os.path.isdir(small) or len(os.listdir(small)) != 2000:
        write_random_files(fresh(small), 2000, 8192)
    if not os.path.isdir(large) or os.path.getsize(os.path.join(large, "file00000.bin")) != 512 << 20:
        write_random_files(fresh(large), 1, 512 << 20)
    sink = smtp_sink()
    try:
        programs = {label: Quillfen(os.path.abspath(path), sink.port)
                    for label, path in (("before", args.before), ("after", args.after))}
        for kind in ("vsftpd", "pyftpdlib"):
            server = ftp_server(data) if kind == "pyftpdlib" else vsftpd_server(data)
            try:
                settings = dict(ftp_address="127.0.0.1:%d/large" % server.port,
                                user=USER if kind == "pyftpdlib" else "")
                print("FTP, 512 MiB, %s:" % kind, *turns(programs, args.rounds, settings),
                      flush=True)
            finally:
                server.stop()
        for source in (small, large):
            target = os.path.join(OUT, "w-peer")
            copy = lambda: measure(["cp", "-a", source + "/", fresh(target)], flushed=target)
            print("local, %s:" % os.path.basename(source),
                  *turns(programs, args.rounds, dict(network_path=source), copy), flush=True)
    finally:
        sink.stop()


if __name__ == "__main__":
    sys.exit(main())
