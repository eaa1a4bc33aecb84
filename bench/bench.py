#!/usr/bin/python3
"""Quillfen side by side with lftp, curl, cp and rsync on the same data, in one run.

Every Quillfen time is the wall time of a whole run minus its fixed 5.5 s of pauses (2 s at the
start, 0.5 s per stage, 1 s at the end), so it still contains the inventory, the pruning and the
mail of the run. Peak memory is the maximum resident set of the measured process itself.
"""

import argparse
import datetime
import os
import platform
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "out")
PAUSES = 5.5
USER, PASSWORD = "bench", "bench"
CURL_LIMIT = 120  # seconds; curl's passive mode is known to crawl or stall against pyftpdlib
PEER_LIMIT = 600  # seconds; a peer that takes longer is taken as stuck
CONSOLE = dict(os.environ, QUILLFEN_UI="console")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Server:
    """A child server that ends with this object, and by itself when the benchmark dies."""

    def __init__(self, arguments, announces_port, port=None):
        self.process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.port = port
        if announces_port:
            first = self.process.stdout.readline().split()
            if first[:1] != ["PORT"]:
                raise RuntimeError("server did not start: %s" % arguments)
            self.port = int(first[1])
        else:
            wait_for_port(port)

    def stop(self):
        self.process.terminate()  # `timeout` passes it on to the server it runs
        self.process.wait(timeout=10)


def wait_for_port(port):
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("nothing listens on port %d" % port)


def ftp_server(root, silent=False):
    arguments = ["/usr/bin/python3", os.path.join(HERE, "..", "tests", "servers", "ftp_server.py"),
                 "--root", root, "--user", USER, "--password", PASSWORD, "--lifetime", "3600"]
    return Server(arguments + (["--silent"] if silent else []), announces_port=True)


def ftps_server(root, certificate, key):
    """pyftpdlib demanding explicit TLS (AUTH TLS, PROT P) for the login and every transfer."""
    arguments = ["/usr/bin/python3", os.path.join(HERE, "..", "tests", "servers", "ftp_server.py"),
                 "--root", root, "--user", USER, "--password", PASSWORD, "--lifetime", "3600",
                 "--tls", "explicit", "--certificate", certificate, "--key", key]
    return Server(arguments, announces_port=True)


def sftp_server(root, host_key):
    """asyncssh serving `root` as the user's home folder."""
    arguments = ["/usr/bin/python3", "-W", "ignore",
                 os.path.join(HERE, "..", "tests", "servers", "sftp_server.py"), "--root", root,
                 "--user", USER, "--password", PASSWORD, "--host-key", host_key,
                 "--lifetime", "3600"]
    return Server(arguments, announces_port=True)


def make_keys():
    """A self-signed certificate for FTPS and an ed25519 host key for SFTP, with its fingerprint."""
    certificate, key = os.path.join(OUT, "cert.pem"), os.path.join(OUT, "key.pem")
    host_key = os.path.join(OUT, "host_key")
    for path in (host_key, host_key + ".pub"):
        if os.path.exists(path):
            os.remove(path)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", key, "-out",
                    certificate], check=True, capture_output=True)
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", host_key], check=True)
    fingerprint = subprocess.run(["ssh-keygen", "-l", "-f", host_key + ".pub"], check=True,
                                 capture_output=True, text=True).stdout.split()[1]
    return certificate, key, host_key, fingerprint



def vsftpd_server(root):
    """vsftpd serving `root` to anonymous users (its package's "ftp" account), LIST only."""
    port = free_port()
    config = os.path.join(OUT, "vsftpd.conf")
    with open(config, "w") as file:
        file.write("\n".join([
            "listen=YES", "listen_address=127.0.0.1", "listen_port=%d" % port, "background=NO",
            "anonymous_enable=YES", "no_anon_password=YES", "anon_root=" + root,
            "local_enable=NO", "write_enable=NO", "seccomp_sandbox=NO", "use_localtime=NO",
            "secure_chroot_dir=/var/run/vsftpd/empty", "xferlog_enable=NO",
            "max_per_ip=0", "max_clients=0"]) + "\n")
    return Server(["timeout", "3600", "vsftpd", config], announces_port=False, port=port)


def smtp_sink():
    port = free_port()
    arguments = ["timeout", "3600", "/usr/bin/python3", "-m", "aiosmtpd", "-n", "-s", "0",
                 "-l", "127.0.0.1:%d" % port, "-c", "aiosmtpd.handlers.Sink"]
    return Server(arguments, announces_port=False, port=port)


class Measured:
    def __init__(self, wall, peak_kib, code):
        self.wall, self.peak_kib, self.code = wall, peak_kib, code


def measure(arguments, env=None, log=None, timeout=None, flushed=None):
    """Wall time, and peak RSS of one process as GNU time reads it.

    The process is started by GNU time rather than forked from this Python: a fork's maximum
    resident set would count the copied Python image as well. With `flushed`, the time ends
    only once that folder's file system has written everything to disk (`sync -f`), as a
    backup's does: Quillfen flushes by itself.
    """
    usage = os.path.join(OUT, "usage.txt")
    command = ["/usr/bin/time", "-o", usage, "-f", "%M", *arguments]
    started = time.monotonic()
    with open(log or os.devnull, "wb") as output:
        # A session of its own, so that a time-out ends the measured process and not just time.
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=output, start_new_session=True)
        try:
            code = process.wait(timeout=timeout)
            if flushed:
                subprocess.run(["sync", "-f", flushed], check=True)
            wall = time.monotonic() - started
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return None
    with open(usage) as file:
        peak = file.read().split()[-1]
    return Measured(wall, int(peak), code)


def checked(name, result):
    if result is None:
        raise RuntimeError("%s did not finish in time" % name)
    if result.code != 0:
        raise RuntimeError("%s ended with exit code %d" % (name, result.code))
    return result


def write_random_files(folder, count, size):
    os.makedirs(folder, exist_ok=True)
    for index in range(count):
        with open(os.path.join(folder, "file%05d.bin" % index), "wb") as file:
            remaining = size
            while remaining:
                chunk = min(remaining, 1 << 20)
                file.write(os.urandom(chunk))
                remaining -= chunk


def write_empty_files(folder, count):
    os.makedirs(folder, exist_ok=True)
    for index in range(count):
        open(os.path.join(folder, "f%06d" % index), "wb").close()


def same_tree(left, right):
    names = sorted(os.listdir(left))
    if names != sorted(os.listdir(right)):
        return False
    return all(os.path.getsize(os.path.join(left, name)) == os.path.getsize(os.path.join(right, name))
               for name in names)


class Quillfen:
    """A copy of the program in its own folder with its own Config.ini, as a user installs it."""

    def __init__(self, program, smtp_port):
        self.program, self.smtp_port = program, smtp_port
        self.today = datetime.date.today().strftime("%Y%m%d")

    def install(self, name, destination, ftp_address="", network_path="", days=30, user=USER,
                trust="", extra_keys=()):
        app = os.path.join(OUT, "app-" + name)
        shutil.rmtree(app, ignore_errors=True)
        os.makedirs(app)
        os.makedirs(destination, exist_ok=True)
        shutil.copy2(self.program, os.path.join(app, "quillfen"))
        settings = ["[Quillfen]", "FtpIPAddress=" + ftp_address, "FtpUserName=" + user,
                    "FtpPassword=" + PASSWORD, "NetworkPath=" + network_path,
                    "DestinationFolder=" + destination, "DaysTillExpiration=%d" % days,
                    "MailServer=127.0.0.1", "MailPort=%d" % self.smtp_port,
                    "MailFrom=bench@bench.invalid", "MailTo=operator@bench.invalid",
                    "MailSubject=Quillfen benchmark", *extra_keys] + (
                        ["FtpTrust=" + trust] if trust else [])
        with open(os.path.join(app, "Config.ini"), "w") as config:
            config.write("\n".join(settings) + "\n")
        return os.path.join(app, "quillfen")

    def run(self, name, destination, **settings):
        program = self.install(name, destination, **settings)
        return measure([program], env=CONSOLE, log=os.path.join(OUT, name + ".log"))

    def fetched(self, destination):
        return os.path.join(destination, self.today)


def lftp_mirror(login, port, remote, local, parallel=1):
    """lftp's mirror, one connection, or `parallel` transfers at once (`mirror --parallel`)."""
    limits = ("set net:connection-limit 1; set mirror:parallel-transfer-count 1; "
              if parallel == 1 else "")
    script = ("%sset ftp:passive-mode on; mirror --parallel=%d %s %s; quit"
              % (limits, parallel, remote, local))
    return measure(["lftp", "-u", "%s,%s" % login, "-p", str(port), "-e", script,
                    "127.0.0.1"], flushed=local, timeout=PEER_LIMIT)


def wget_mirror(login, port, remote, local):
    os.makedirs(local, exist_ok=True)
    return measure(["wget", "-q", "-m", "-nH", "--cut-dirs=1", "-P", local,
                    "--user=" + login[0], "--password=" + login[1],
                    "ftp://127.0.0.1:%d/%s/" % (port, remote)], flushed=local, timeout=PEER_LIMIT)


def rclone_copy(login, port, remote, local, transfers=1):
    """rclone's copy with one transfer and one checker, or with its defaults (`transfers`
    None: 4 transfers, 8 checkers)."""
    obscured = subprocess.run(["rclone", "obscure", login[1]], capture_output=True, text=True,
                              check=True).stdout.strip()
    # With one transfer rclone keeps a second connection for listing (limiting it to one
    # connection deadlocks it).
    streams = ["--transfers", str(transfers), "--checkers", "1"] if transfers else []
    return measure(["rclone", "copy", *streams, "--ftp-host", "127.0.0.1", "--ftp-port",
                    str(port), "--ftp-user", login[0], "--ftp-pass", obscured, ":ftp:" + remote,
                    local], flushed=local, timeout=PEER_LIMIT)


def limit_rows(login, port, remote, names):
    """What the machine allows: the data (or, for many files, the listing alone) read from the
    server into /dev/null, and the same bytes written to the disk by dd with fdatasync."""
    url = "ftp://127.0.0.1:%d/%s/" % (port, remote)
    credentials = ["-u", "%s:%s" % login]
    if len(names) > 1:
        return [(LISTING, lambda: measure(["curl", "-sS", *credentials, "-o", os.devnull, url],
                                          timeout=CURL_LIMIT))]
    size = os.path.getsize(os.path.join(OUT, "data", remote, names[0]))
    target = os.path.join(OUT, "dd.bin")
    return [(NETWORK, lambda: measure(["curl", "-sS", *credentials, "-o", os.devnull,
                                       url + names[0]], timeout=CURL_LIMIT)),
            (DISK, lambda: measure(["dd", "if=/dev/zero", "of=" + target, "bs=1M",
                                    "count=%d" % (size >> 20), "conv=fdatasync"],
                                   timeout=CURL_LIMIT))]


def curl_fetch(login, base_url, remote, names, local, options):
    """One curl process fetching every file over one FTP, FTPS or SFTP connection, then sync."""
    os.makedirs(local, exist_ok=True)
    config = os.path.join(OUT, "curl.cfg")
    with open(config, "w") as file:
        for name in names:
            file.write('url = "%s/%s/%s"\noutput = "%s"\n'
                       % (base_url, remote, name, os.path.join(local, name)))
    return measure(["curl", "-sS", "-u", "%s:%s" % login, *options, "-K", config],
                   timeout=CURL_LIMIT, flushed=local)


def lftp_secure_mirror(url, remote, local):
    """lftp over FTPS (TLS forced for login and data) or SFTP, one connection, then sync."""
    script = ("set net:connection-limit 1; set mirror:parallel-transfer-count 1; "
              "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
              "set ssl:verify-certificate no; set sftp:connect-program "
              "'ssh -a -x -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'; "
              "mirror %s %s; quit" % (remote, local))
    return measure(["lftp", "-u", "%s,%s" % (USER, PASSWORD), "-e", script, url], flushed=local)


def secure_cases(table, quillfen, data, names, label, remote, protocol, keys):
    """FTPS (explicit TLS) or SFTP: Quillfen, lftp and curl on one server, each ending in sync."""
    certificate, key, host_key, fingerprint = keys
    if protocol == "ftps":
        server = ftps_server(data, certificate, key)
        address = "ftpes://127.0.0.1:%d/%s" % (server.port, remote)
        trust, lftp_url = certificate, "ftp://127.0.0.1:%d" % server.port
        curl_url = "ftp://127.0.0.1:%d" % server.port
        curl_options = ["--ssl-reqd", "--cacert", certificate, "--ftp-pasv"]
    else:
        server = sftp_server(data, host_key)
        address = "sftp://127.0.0.1:%d/%s" % (server.port, remote)
        trust, lftp_url = fingerprint, "sftp://127.0.0.1:%d" % server.port
        curl_url = "sftp://127.0.0.1:%d/~" % server.port
        curl_options = ["--insecure"]
    try:
        destination = os.path.join(OUT, "q-%s-%s" % (protocol, remote))
        results = best_of([
            ("Quillfen", lambda: quillfen.run("%s-%s" % (protocol, remote), fresh(destination),
                                              ftp_address=address, trust=trust)),
            ("lftp mirror, one connection",
             lambda: lftp_secure_mirror(lftp_url, remote, fresh(os.path.join(OUT, "lftp"))))])
        if not same_tree(os.path.join(data, remote), quillfen.fetched(destination)):
            raise RuntimeError("Quillfen's copy of %s differs from the source" % remote)
        # curl once only: over FTPS its passive mode crawls (active mode with TLS stalls against
        # pyftpdlib), up to the limit.
        results["curl, one process"] = curl_fetch(
            (USER, PASSWORD), curl_url, remote, names, fresh(os.path.join(OUT, "curl")),
            curl_options)
        report(table, label, results)
    finally:
        server.stop()


def fresh(path):
    """`path` removed, each folder's entries in the order of their inodes: on ext4 that is eight
    times faster than `rm -rf`'s order for a folder of many files, which touches the inode
    table at random."""
    if not os.path.lexists(path):
        return path
    if not os.path.isdir(path) or os.path.islink(path):
        os.unlink(path)
        return path
    for entry in sorted(os.scandir(path), key=lambda entry: entry.inode()):
        if entry.is_dir(follow_symlinks=False):
            fresh(entry.path)
        else:
            os.unlink(entry.path)
    os.rmdir(path)
    return path


class Table:
    def __init__(self):
        self.rows = []
        self.times = {}  # (case, tool): (seconds, peak KiB) of the rows that did not fail
        self.targets = []  # rows of the table of targets

    def add(self, case, tool, seconds, peak_kib=None, note=""):
        memory = "%.1f MB" % (peak_kib / 1024) if peak_kib else ""
        self.rows.append((case, tool, "%.2f s" % seconds, memory, note))
        if not note.startswith(("failed", "did not finish")):
            self.times[(case, tool)] = (seconds, peak_kib)
        print("  %-42s %-30s %9.2f s %9s  %s" % (case, tool, seconds, memory, note), flush=True)

    def target(self, case, ours, bound, peers, factor):
        """A target row: `ours` at most `factor` × the best (or, with bound "limit", the larger)
        of `peers` in `case`."""
        known = [self.times[(case, peer)][0] for peer in peers if (case, peer) in self.times]
        if (case, ours) not in self.times or not known:
            self.targets.append((case, "%s ≤ %.1f × %s" % (ours, factor, " / ".join(peers)),
                                 "not measured"))
            return
        reference = max(known) if bound == "limit" else min(known)
        ratio = self.times[(case, ours)][0] / reference
        self.targets.append((case, "%s ≤ %.1f × %s" % (ours, factor, " / ".join(peers)),
                             "%s: %.2f ×" % ("met" if ratio <= factor else "**not met**", ratio)))

    def memory_target(self, case, tool, limit_mb):
        peak = self.times.get((case, tool), (0, None))[1]
        verdict = "not measured" if not peak else "%s: %.1f MB" % (
            "met" if peak / 1024 <= limit_mb else "**not met**", peak / 1024)
        self.targets.append((case, "%s peak RSS ≤ %d MB" % (tool, limit_mb), verdict))

    def markdown(self):
        lines = ["| Case | Tool | Time | Peak RSS | Quillfen compared |", "|---|---|---:|---:|---|"]
        lines += ["| %s |" % " | ".join(row) for row in self.rows]
        if self.targets:
            lines += ["", "| Case | Target | Result |", "|---|---|---|"]
            lines += ["| %s |" % " | ".join(row) for row in self.targets]
        return "\n".join(lines)


FOUR = "Quillfen, FtpConnections=4"
LFTP4 = "lftp mirror --parallel=4"
RCLONE4 = "rclone copy, defaults (4 transfers)"
LISTING = "limit: the listing alone (curl into /dev/null)"
NETWORK = "limit: network into /dev/null (curl)"
DISK = "limit: disk write (dd conv=fdatasync)"
ROUNDS = 3  # each tool's best of three, the tools taking turns so no one always meets a cold cache


def best_of(attempts, rounds=ROUNDS):
    """Runs every attempt `rounds` times in turn and keeps the fastest result of each, by name."""
    best = {}
    for _ in range(rounds):
        for name, attempt in attempts:
            os.sync()  # no attempt pays for the write-back of the one before
            result = attempt()
            if name == "Quillfen":
                checked(name, result)
            # A peer that fails is reported as failed unless another round of it succeeds.
            succeeded = result is not None and result.code == 0
            kept = best.get(name)
            kept_succeeded = kept is not None and kept.code == 0
            if name not in best or (succeeded and (not kept_succeeded or result.wall < kept.wall)):
                best[name] = result
    return best


def ftp_cases(table, quillfen, data, names, label, remote, server_kind):
    """One case against one server: Quillfen and its peers on the same data, taking turns."""
    server = ftp_server(data) if server_kind == "pyftpdlib" else vsftpd_server(data)
    login = (USER, PASSWORD) if server_kind == "pyftpdlib" else ("anonymous", "bench@")
    user = login[0] if server_kind == "pyftpdlib" else ""
    try:
        if remote == "small" and server_kind == "pyftpdlib":
            baseline(table, quillfen, data, server.port)
        destination = os.path.join(OUT, "q-" + remote)
        address = "127.0.0.1:%d/%s" % (server.port, remote)
        peer = os.path.join(OUT, "peer")
        results = best_of([
            ("Quillfen", lambda: quillfen.run("ftp-" + remote, fresh(destination),
                                              ftp_address=address, user=user)),
            (FOUR, lambda: quillfen.run("ftp4-" + remote, fresh(destination),
                                        ftp_address=address, user=user,
                                        extra_keys=("FtpConnections=4",))),
            ("lftp mirror, one connection",
             lambda: lftp_mirror(login, server.port, remote, fresh(peer))),
            (LFTP4, lambda: lftp_mirror(login, server.port, remote, fresh(peer), parallel=4)),
            ("wget -m", lambda: wget_mirror(login, server.port, remote, fresh(peer))),
            ("rclone copy, one stream",
             lambda: rclone_copy(login, server.port, remote, fresh(peer))),
            (RCLONE4, lambda: rclone_copy(login, server.port, remote, fresh(peer), transfers=None)),
            ("curl -K, one process (active mode)",
             lambda: curl_fetch(login, "ftp://127.0.0.1:%d" % server.port, remote, names,
                                fresh(peer), ["--ftp-port", "127.0.0.1"])),
            *limit_rows(login, server.port, remote, names)])
        results[FOUR] = checked(FOUR, results[FOUR])
        if not same_tree(os.path.join(data, remote), quillfen.fetched(destination)):
            raise RuntimeError("Quillfen's copy of %s differs from the source" % remote)
        size = sum(os.path.getsize(os.path.join(data, remote, name)) for name in names)
        case = "%s, %s" % (label, server_kind)
        report(table, case, results, len(names), size)
        return case
    finally:
        server.stop()


def report(table, label, results, files=0, size=0):
    """The rows of one case. Quillfen's times lose the pauses; a peer is compared with Quillfen
    over as many connections as the peer uses."""
    ours = {name: results.pop(name) for name in ("Quillfen", FOUR) if name in results}
    fetch = {name: run.wall - PAUSES for name, run in ours.items()}
    for name, run in ours.items():
        pace = ""
        if files:
            pace = "%.0f files/s, %.0f MB/s; the pauses are %.0f %% of the whole run" % (
                files / fetch[name], size / fetch[name] / 1e6, 100 * PAUSES / run.wall)
        table.add(label, name, fetch[name], run.peak_kib, pace)
    for tool, result in results.items():
        mine = FOUR if tool in (LFTP4, RCLONE4) else "Quillfen"
        if result is None:
            table.add(label, tool, CURL_LIMIT, None, "did not finish: stopped after the limit")
        elif result.code != 0:
            table.add(label, tool, result.wall, None, "failed (exit code %d)" % result.code)
        else:
            table.add(label, tool, result.wall, result.peak_kib, "%s / %s = %.2f"
                      % (mine, tool.replace(",", " ").split()[0], fetch[mine] / result.wall))


def baseline(table, quillfen, data, port):
    """A whole run over an empty FTP folder: start, login, listing, inventory, pruning, mail."""
    os.makedirs(os.path.join(data, "empty"), exist_ok=True)
    destination = fresh(os.path.join(OUT, "q-empty"))
    run = quillfen.run("ftp-empty", destination, ftp_address="127.0.0.1:%d/empty" % port)
    if run.code != 4:  # an empty source is an incomplete backup, by design
        raise RuntimeError("the run over an empty folder ended with exit code %d" % run.code)
    table.add("FTP, empty folder (a run's own cost)", "Quillfen", run.wall - PAUSES, run.peak_kib)


def local_cases(table, quillfen, source, label, rounds=ROUNDS, peers=("cp -a", "rsync -a")):
    destination = os.path.join(OUT, "q-local")
    target = os.path.join(OUT, "peer-copy")
    commands = {"cp -a": ["cp", "-a"], "rsync -a": ["rsync", "-a"]}
    results = best_of([
        ("Quillfen", lambda: quillfen.run("local-" + os.path.basename(source), fresh(destination),
                                          network_path=source)),
        *[(peer, lambda peer=peer: measure([*commands[peer], source + "/", fresh(target)],
                                           flushed=target)) for peer in peers]], rounds)
    if not same_tree(source, quillfen.fetched(destination)):
        raise RuntimeError("Quillfen's copy of %s differs from the source" % source)
    fresh(destination)
    fresh(target)
    report(table, label, results)
    return label


def tiny_files_case(table, quillfen, count, leftovers):
    """`count` files of one byte from a local folder against `cp -a`, one round each. The source
    takes minutes to make: it is made once, on the destination's file system, and kept. Deleting
    a million files takes minutes too, and leaves the inode allocator a trail of freed inodes to
    search that would slow whichever tool came next: every copy goes to a folder of its own, and
    the copies are deleted after the last case (they go to `leftovers`)."""
    source = os.path.join(OUT, "data", "tiny-%d" % count)
    made = source + ".complete"
    if not os.path.exists(made):
        fresh(source)
        os.makedirs(source)
        for index in range(count):
            descriptor = os.open(os.path.join(source, "f%07d" % index),
                                 os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
            os.write(descriptor, b"x")
            os.close(descriptor)
        open(made, "w").close()
    label = "local copy, %d files of 1 byte" % count
    ours, theirs = os.path.join(OUT, "q-tiny"), os.path.join(OUT, "cp-tiny")
    leftovers += [ours, theirs]
    os.sync()
    results = {"Quillfen": checked("Quillfen", quillfen.run("tiny", fresh(ours), network_path=source))}
    os.sync()
    results["cp -a"] = measure(["cp", "-a", source + "/", fresh(theirs)], flushed=theirs)
    if len(os.listdir(quillfen.fetched(ours))) != count:
        raise RuntimeError("Quillfen's copy of %s is not complete" % source)
    report(table, label, results)
    return label


def change_small_files(source, count):
    """New content for `count` small files of the daily source, without touching the data they
    are linked from."""
    for name in sorted(n for n in os.listdir(source) if n.startswith("small-"))[:count]:
        path = os.path.join(source, name)
        os.unlink(path)
        with open(path, "wb") as file:
            file.write(os.urandom(8192))


def daily_source(data, small_count):
    """The small files and the large one side by side, linked from the shared data."""
    source = fresh(os.path.join(data, "daily"))
    os.makedirs(source)
    for kind in ("small", "large"):
        for name in os.listdir(os.path.join(data, kind)):
            os.link(os.path.join(data, kind, name), os.path.join(source, kind + "-" + name))
    return source, small_count // 100


def to_earlier_day(quillfen, destination, days_back):
    earlier = datetime.date.today() - datetime.timedelta(days=days_back)
    os.rename(quillfen.fetched(destination), os.path.join(destination, earlier.strftime("%Y%m%d")))


def du_kib(path):
    return int(subprocess.run(["du", "-sk", path], capture_output=True, text=True,
                              check=True).stdout.split()[0])


def later_day_cases(table, quillfen, data, small_count):
    """A first backup, then one a day later with 1 % of the small files changed: Quillfen with
    LinkUnchanged against lftp's incremental mirror into its earlier copy (FTP) and rsync
    --link-dest (local); then the disk use of ten such daily folders."""
    source, changed = daily_source(data, small_count)
    keys = ("LinkUnchanged=yes",)
    label = "later day, %d of %d files changed" % (changed, small_count + 1)
    server = ftp_server(data)
    try:
        destination = fresh(os.path.join(OUT, "q-daily"))
        address = "127.0.0.1:%d/daily" % server.port
        first = checked("Quillfen", quillfen.run("daily-ftp", destination, ftp_address=address,
                                                 extra_keys=keys))
        peer = fresh(os.path.join(OUT, "peer-daily"))
        lftp_first = checked("lftp", lftp_mirror((USER, PASSWORD), server.port, "daily", peer))
        to_earlier_day(quillfen, destination, 1)
        change_small_files(source, changed)
        os.sync()
        later = checked("Quillfen", quillfen.run("daily-ftp", destination, ftp_address=address,
                                                 extra_keys=keys))
        lftp_later = checked("lftp", lftp_mirror((USER, PASSWORD), server.port, "daily", peer))
    finally:
        server.stop()
    ratio = (later.wall - PAUSES) / (first.wall - PAUSES)
    table.add("FTP, first day", "Quillfen", first.wall - PAUSES, first.peak_kib)
    table.add("FTP, " + label, "Quillfen, LinkUnchanged=yes", later.wall - PAUSES, later.peak_kib,
              "%.3f × its first day (target: at most 0.1)" % ratio)
    table.add("FTP, first day", "lftp mirror", lftp_first.wall, lftp_first.peak_kib)
    table.add("FTP, " + label, "lftp mirror into its earlier copy", lftp_later.wall,
              lftp_later.peak_kib, "Quillfen / lftp = %.2f" % ((later.wall - PAUSES) / lftp_later.wall))

    source, changed = daily_source(data, small_count)
    destination = fresh(os.path.join(OUT, "q-daily-local"))
    peers = fresh(os.path.join(OUT, "rsync-daily"))
    os.makedirs(peers)
    days = 10
    times, rsync_times = [], []
    for day in range(days):
        if day:
            to_earlier_day(quillfen, destination, days - day)
            change_small_files(source, changed)
            os.sync()
        run = checked("Quillfen", quillfen.run("daily-local", destination, network_path=source,
                                               extra_keys=keys))
        times.append(run.wall - PAUSES)
        target = os.path.join(peers, "day%02d" % day)
        link = ["--link-dest=" + os.path.join(peers, "day%02d" % (day - 1))] if day else []
        rsync_times.append(checked("rsync", measure(["rsync", "-a", *link, source + "/", target],
                                                    flushed=target)).wall)
    table.add("local, first day", "Quillfen", times[0])
    table.add("local, " + label, "Quillfen, LinkUnchanged=yes", min(times[1:]), None,
              "%.3f × its first day; best of %d later days" % (min(times[1:]) / times[0], days - 1))
    table.add("local, first day", "rsync -a", rsync_times[0])
    table.add("local, " + label, "rsync -a --link-dest", min(rsync_times[1:]), None,
              "Quillfen / rsync = %.2f" % (min(times[1:]) / min(rsync_times[1:])))
    one_copy = du_kib(quillfen.fetched(destination))
    table.add("disk use of %d daily folders (du -s)" % days, "Quillfen, LinkUnchanged=yes", 0, None,
              "%d MiB against %d MiB for %d full copies; rsync --link-dest: %d MiB"
              % (du_kib(destination) >> 10, days * one_copy >> 10, days, du_kib(peers) >> 10))


def prepare_expired(destination, files):
    """A backup folder of `files` files exactly at its expiry age, so that pruning deletes it."""
    expired = datetime.date.today() - datetime.timedelta(days=30)
    write_empty_files(os.path.join(destination, expired.strftime("%Y%m%d")), files)


def many_files_case(table, quillfen, count):
    source = os.path.join(OUT, "data", "many")
    if not os.path.isdir(source) or len(os.listdir(source)) != count:
        write_empty_files(fresh(source), count)
    destination = fresh(os.path.join(OUT, "q-many"))
    prepare_expired(destination, count)
    run = checked("quillfen", quillfen.run("many", destination, network_path=source))
    label = "copy, inventory and pruning of %d files" % count
    table.add(label, "Quillfen", run.wall - PAUSES, run.peak_kib, "target: peak RSS under 50 MB")


def cpu_share(pid, seconds):
    ticks = os.sysconf("SC_CLK_TCK")

    def cpu():
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / ticks

    before, started = cpu(), time.monotonic()
    time.sleep(seconds)
    return (cpu() - before) / (time.monotonic() - started)


def stalled_case(table, quillfen):
    """CPU spent while the FTP server accepts the connection and never answers."""
    server = ftp_server(OUT, silent=True)
    app_run = None
    try:
        program = quillfen.install("stall", fresh(os.path.join(OUT, "q-stall")),
                                   ftp_address="127.0.0.1:%d" % server.port)
        app_run = subprocess.Popen([program], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=CONSOLE)
        time.sleep(PAUSES)  # past the start and into the fetch, where it waits on the server
        share = cpu_share(app_run.pid, 20)
        table.add("waiting 20 s on a stalled FTP server", "Quillfen", 20.0, None,
                  "CPU: %.2f %% of one core (target: under 2 %%)" % (100 * share))
    finally:
        if app_run:
            app_run.kill()
            app_run.wait()
        server.stop()


def machine_facts():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    tools = []
    for command in (["lftp", "--version"], ["curl", "--version"], ["wget", "--version"],
                    ["rclone", "--version"], ["vsftpd", "-v"], ["rsync", "--version"],
                    ["cp", "--version"]):
        output = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL)
        first = (output.stdout or output.stderr).splitlines()
        tools.append(first[0] if first else command[0])
    return ("- Machine: %s, %d cores, %s, Python %s serving FTP (pyftpdlib)\n- Peers: %s"
            % (cpu, os.cpu_count(), platform.platform(), platform.python_version(),
               "; ".join(tools)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--quick", action="store_true", help="small data, to try the script")
    parser.add_argument("--secure-only", action="store_true", help="only the FTPS and SFTP rows")
    parser.add_argument("--later-day", action="store_true",
                        help="only the later-day cases (LinkUnchanged against lftp and rsync)")
    parser.add_argument("--with-secure", action="store_true", help="the FTPS and SFTP rows too")
    parser.add_argument("--only", choices=("ftp", "local", "tiny"),
                        help="only the FTP rows, the local rows, or the many one-byte files")
    parser.add_argument("--drop-tiny", action="store_true",
                        help="delete the source of one-byte files at the end")
    args = parser.parse_args()
    small_count, large_size, many, tiny = (2000, 512 << 20, 100000, 1000000)
    if args.quick:
        small_count, large_size, many, tiny = (200, 16 << 20, 5000, 20000)

    data = os.path.join(OUT, "data")
    small, large = os.path.join(data, "small"), os.path.join(data, "large")
    if not os.path.isdir(small) or len(os.listdir(small)) != small_count:
        write_random_files(fresh(small), small_count, 8192)
    if not os.path.isdir(large) or os.path.getsize(os.path.join(large, "file00000.bin")) != large_size:
        write_random_files(fresh(large), 1, large_size)

    table = Table()
    load_before = os.getloadavg()
    sink = smtp_sink()
    try:
        quillfen = Quillfen(os.path.abspath(args.program), sink.port)
        if args.later_day:
            later_day_cases(table, quillfen, data, small_count)
            print("\n" + table.markdown())
            return 0
        wanted = lambda part: not args.secure_only and args.only in (None, part)
        leftovers = []
        if wanted("tiny"):  # first: before the other cases' deletions slow creating files
            tiny_case = tiny_files_case(table, quillfen, tiny, leftovers)
            table.target(tiny_case, "Quillfen", "best", ("cp -a",), 1.1)
            table.memory_target(tiny_case, "Quillfen", 64)
        if wanted("ftp"):
            for server_kind in ("vsftpd", "pyftpdlib"):
                small_case = ftp_cases(table, quillfen, data, sorted(os.listdir(small)),
                                       "FTP, %d files of 8 KiB" % small_count, "small",
                                       server_kind)
                table.target(small_case, FOUR, "best", (LFTP4, RCLONE4), 0.8)
                table.target(small_case, "Quillfen", "best", ("lftp mirror, one connection",), 0.9)
                large_case = ftp_cases(table, quillfen, data, sorted(os.listdir(large)),
                                       "FTP, one file of %d MiB" % (large_size >> 20), "large",
                                       server_kind)
                table.target(large_case, "Quillfen", "best", ("rclone copy, one stream",), 0.8)
                table.target(large_case, "Quillfen", "limit", (NETWORK, DISK), 1.5)
        if args.secure_only or args.with_secure:
            keys = make_keys()
            for protocol, name in (("ftps", "FTPS (explicit TLS)"), ("sftp", "SFTP")):
                secure_cases(table, quillfen, data, sorted(os.listdir(small)),
                             "%s, %d files of 8 KiB" % (name, small_count), "small", protocol,
                             keys)
                secure_cases(table, quillfen, data, sorted(os.listdir(large)),
                             "%s, one file of %d MiB" % (name, large_size >> 20), "large",
                             protocol, keys)
        if wanted("local"):
            for source, label in ((small, "local copy, %d files of 8 KiB" % small_count),
                                  (large, "local copy, one file of %d MiB" % (large_size >> 20))):
                table.target(local_cases(table, quillfen, source, label), "Quillfen", "best",
                             ("cp -a",), 1.0)
            many_files_case(table, quillfen, many)
            stalled_case(table, quillfen)
    finally:
        sink.stop()

    with open(os.path.join(OUT, "results.md"), "w") as results:
        results.write("%s\n- Load average (1, 5, 15 min): %s at the start, %s at the end\n\n%s\n"
                      % (machine_facts(), "%.1f %.1f %.1f" % load_before,
                         "%.1f %.1f %.1f" % os.getloadavg(), table.markdown()))
    print("\nWritten to %s" % os.path.join(OUT, "results.md"), flush=True)
    if args.drop_tiny:
        leftovers += [os.path.join(data, "tiny-%d" % tiny), os.path.join(data, "tiny-%d.complete" % tiny)]
    for path in leftovers:
        fresh(path)


if __name__ == "__main__":
    sys.exit(main())
