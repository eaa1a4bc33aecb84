"""One complete Quillfen backup run on a built-in sample setup, on this machine alone.

Starts a loopback FTP server serving a small sample directory and an SMTP sink, writes a
Config.ini beside a copy of the built program in demo/app, runs it, then shows today's dated
folder, the activity report and the message that arrived at the sink. Run it again the same day
and the run replaces that day's folder.
"""
import datetime
import os
import shutil
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVERS = os.path.join(REPO, "tests", "servers")
DEMO = os.path.join(REPO, "demo")
PYTHON = "/usr/bin/python3"  # the Debian Python that has pyftpdlib and aiosmtpd


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(content)


def make_sample_source(root):
    shutil.rmtree(root, ignore_errors=True)
    write(os.path.join(root, "readme.txt"), b"Quillfen demo source directory.\n")
    write(os.path.join(root, "quarterly report.csv"),
          b"quarter,revenue\n" + b"".join(b"Q%d,%d\n" % (q, q * 1000) for q in range(1, 5)))
    write(os.path.join(root, "photo.raw"), os.urandom(300 * 1024))
    write(os.path.join(root, "archive", "skipped.txt"), b"subfolders are not fetched\n")


def start_server(script, *arguments):
    """Starts a test server; it ends when its standard input closes (see stop_server)."""
    process = subprocess.Popen([PYTHON, os.path.join(SERVERS, script), *arguments],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    first = process.stdout.readline().split()
    if len(first) != 2 or first[0] != "PORT":
        process.kill()
        sys.exit("demo: %s did not start" % script)
    return process, int(first[1])


def stop_server(process):
    process.stdin.close()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def prepare_expired_backup(destination, today):
    """A backup folder exactly 30 days old, so that the run has something to prune."""
    expired = today - datetime.timedelta(days=30)
    write(os.path.join(destination, expired.strftime("%Y%m%d"), "old.txt"), b"expired\n")


def write_config(app, ftp_port, smtp_port, destination):
    lines = [
        "[Quillfen]",
        "FtpIPAddress=127.0.0.1:%d" % ftp_port,
        "FtpUserName=demo",
        "FtpPassword=demo password",
        "NetworkPath=",
        "DestinationFolder=" + destination,
        "DaysTillExpiration=30",
        "MailServer=127.0.0.1",
        "MailPort=%d" % smtp_port,
        "MailFrom=Quillfen <quillfen@demo.invalid>",
        "MailTo=operator@demo.invalid;archive@demo.invalid",
        "MailSubject=Quillfen Backup Report",
    ]
    write(os.path.join(app, "Config.ini"), ("\n".join(lines) + "\n").encode())


def show_results(destination, today, spool):
    folder = os.path.join(destination, today.strftime("%Y%m%d"))
    print("\n== Today's folder: %s" % folder)
    for name in sorted(os.listdir(folder)):
        print("   %-24s %8d bytes" % (name, os.path.getsize(os.path.join(folder, name))))
    print("\n== Backup folders under %s: %s" % (destination, ", ".join(sorted(os.listdir(destination)))))
    messages = sorted(name for name in os.listdir(spool)
                      if not name.startswith(".") and os.path.isdir(os.path.join(spool, name)))
    for index, message in enumerate(messages):
        path = os.path.join(spool, message)
        with open(os.path.join(path, "to")) as recipients:
            to = recipients.read().strip()
        if index > 0:
            print("== Message %s to %s: the same report" % (message, to))
            continue
        with open(os.path.join(path, "data")) as data:
            print("\n== Message %s to %s, as it arrived at the SMTP sink:\n" % (message, to))
            print(data.read())


def main():
    executable = os.path.join(REPO, "build", "quillfen")
    if not os.access(executable, os.X_OK):
        sys.exit("demo: build the program first (scripts/build)")
    source = os.path.join(DEMO, "ftp-root")
    destination = os.path.join(DEMO, "backups")
    spool = os.path.join(DEMO, "mail")
    app = os.path.join(DEMO, "app")
    make_sample_source(source)
    shutil.rmtree(spool, ignore_errors=True)
    os.makedirs(spool)
    os.makedirs(app, exist_ok=True)
    shutil.copy2(executable, os.path.join(app, "quillfen"))
    today = datetime.date.today()
    prepare_expired_backup(destination, today)

    ftp, ftp_port = start_server("ftp_server.py", "--root", source, "--user", "demo",
                                 "--password", "demo password", "--lifetime", "600")
    smtp, smtp_port = start_server("smtp_sink.py", "--spool", spool, "--lifetime", "600")
    try:
        write_config(app, ftp_port, smtp_port, destination)
        print("== Running %s (FTP on port %d, SMTP sink on port %d)" %
              (os.path.join(app, "quillfen"), ftp_port, smtp_port))
        code = subprocess.call([os.path.join(app, "quillfen")], timeout=300)
        print("\n== Quillfen ended with exit code %d" % code)
        show_results(destination, today, spool)
    finally:
        stop_server(ftp)
        stop_server(smtp)
    return code


if __name__ == "__main__":
    sys.exit(main())
