#!/usr/bin/python3
"""The Windows program, quillfen.exe, run under Wine against the loopback test servers.

The servers run on the Linux side (a Windows program cannot start them); the program sees the
Linux file system as drive Z:. Run by scripts/test-windows with WINEPREFIX set and a wineserver
kept alive: python3 tests/windows/wine_e2e_test.py BUILD_FOLDER."""

import datetime
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SERVERS = pathlib.Path(__file__).resolve().parent.parent / "servers"
WINE = "/usr/lib/wine/wine64"
SYSTEM_PYTHON = "/usr/bin/python3"  # with Debian's pyftpdlib, asyncssh and aiosmtpd
EXECUTABLE = None  # set from the command line
SPLASH_DRIVER = None  # presses the window's Cancel button; from the command line too
NO_DESKTOP_RUN = None  # runs a program where no desktop is visible; from the command line too


def windows_path(path):
    """The path under which a Windows program sees a Linux path (Wine's drive Z:)."""
    return "Z:" + str(path).replace("/", "\\")


def dated_name(days_ago=0):
    return (datetime.date.today() - datetime.timedelta(days=days_ago)).strftime("%Y%m%d")


def without_wine_notes(err):
    """Standard error without the lines Wine itself adds (such as that it cannot read the volume
    serial of drive Z:, which is "/")."""
    return "".join(line for line in err.splitlines(True) if not line.startswith("wine: "))


# Wine writes what a program reports to the event log to its debugging channel "eventlog", one
# line each, escaped as a C string and cut after about 280 characters ('"...').
EVENT_LOG_TRACE = "-all,err+eventlog,warn+eventlog"
EVENT_LOG_LINE = re.compile(r'^\w+:(?:err|warn):eventlog:ReportEventW L"(.*?)"(?:\.\.\.)?$', re.M)


def event_log(err):
    return [text.replace("\\\\", "\\") for text in EVENT_LOG_LINE.findall(err)]


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("no %s within %d s" % (what, seconds))
        time.sleep(0.05)


class Server:
    """One of tests/servers, on a free loopback port; it ends when its input closes."""

    def __init__(self, script, *arguments):
        self.process = subprocess.Popen(
            [SYSTEM_PYTHON, str(SERVERS / script), *arguments], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True)
        # The server prints its port once it listens; 30 s at most.
        line = ""
        if select.select([self.process.stdout], [], [], 30)[0]:
            line = self.process.stdout.readline()
        if not line.startswith("PORT "):
            self.close()
            raise AssertionError("%s did not start" % script)
        self.port = int(line.split()[1])

    def close(self):
        self.process.stdin.close()
        self.process.stdout.close()
        self.process.wait(10)


class WineRun(unittest.TestCase):
    """A folder holding quillfen.exe and its Config.ini, a source and a destination with the
    dated folders of 30 and 51 days ago (30 expires, 51 lies beyond the pruning window), and a
    mail sink that requires STARTTLS and a login."""

    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="quillfen-wine-"))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.home, self.source, self.destination, spool = (
            self.root / name for name in ("home", "source", "destination", "spool"))
        for folder in (self.home, self.source, self.destination, spool):
            folder.mkdir()
        shutil.copy(EXECUTABLE, self.home / "quillfen.exe")
        for days in (30, 51):
            (self.destination / dated_name(days)).mkdir()
        self.spool = spool
        self.mail = self.start("smtp_sink.py", "--spool", str(spool), "--security", "starttls",
                               "--cert", str(self.certificate()[0]), "--key",
                               str(self.certificate()[1]), "--login", "mailer", "--password",
                               "mail secret")
        (self.source / "notes.txt").write_bytes(b"n" * 5000)
        (self.source / "with blanks.txt").write_bytes(b"blank\r\nname\n")
        (self.source / "\u00fcnicode.bin").write_bytes(b"\x01" * 1048576)

    def start(self, script, *arguments):
        server = Server(script, *arguments)
        self.addCleanup(server.close)
        return server

    def certificate(self):
        """A self-signed certificate for 127.0.0.1, made once per test."""
        cert, key = self.root / "cert.pem", self.root / "key.pem"
        if not cert.exists():
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                            "-keyout", str(key), "-out", str(cert)],
                           check=True, capture_output=True)
        return cert, key

    def configure(self, source_keys, mail_trust=None, destination=None):
        if mail_trust is None:
            mail_trust = windows_path(self.certificate()[0])
        lines = ["[Quillfen]", *source_keys,
                 "DestinationFolder=" + windows_path(destination or self.destination) + "\\",
                 "DaysTillExpiration=30", "MailServer=127.0.0.1",
                 "MailPort=%d" % self.mail.port, "MailSecurity=starttls",
                 "MailUserName=mailer", "MailPassword=mail secret",
                 "MailTrust=" + mail_trust,
                 "MailFrom=quillfen@example.com", "MailTo=ops@example.com",
                 "MailSubject=Quillfen Backup Report"]
        (self.home / "Config.ini").write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")

    def launch(self, **environment_changes):
        """A console run, which sees no display (as a task's run does, and as Notepad, opened by
        a first start, must not, since it would keep the output pipes open); a test of the
        window names the display."""
        environment = {name: value for name, value in os.environ.items() if name != "DISPLAY"}
        environment.update({"QUILLFEN_UI": "console", **environment_changes})
        return subprocess.Popen([WINE, str(self.home / "quillfen.exe")], env=environment,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, encoding="utf-8",
                                errors="replace")

    def run_program(self, **environment_changes):
        program = self.launch(**environment_changes)
        out, err = program.communicate(timeout=120)
        return program.returncode, out, without_wine_notes(err)

    def today(self):
        return self.destination / dated_name()

    def reports(self):
        """The mailed reports' bodies, in the order they came."""
        return [(folder / "body").read_text(encoding="utf-8")
                for folder in sorted(self.spool.iterdir()) if not folder.name.startswith(".")]

    def assert_complete_backup(self, code, out, err):
        self.assertEqual(code, 0, err)
        self.assertEqual(out + err, "")
        for name in ("notes.txt", "with blanks.txt", "\u00fcnicode.bin"):
            self.assertEqual((self.today() / name).read_bytes(),
                             (self.source / name).read_bytes(), name)
        self.assertFalse((self.destination / dated_name(30)).exists())
        self.assertTrue((self.destination / dated_name(51)).exists())
        [report] = self.reports()
        # Windows paths throughout, and the drive named by its letter.
        self.assertIn("Deleting folder: " + windows_path(self.destination / dated_name(30)) +
                      "\n", report)
        self.assertRegex(report, r"Free space remaining on 'Z' drive: \d+([,.]\d{3})* KB")
        return report


class StandAloneTest(unittest.TestCase):
    def test_the_program_needs_no_dll_but_windows_own(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(EXECUTABLE)],
                              check=True, capture_output=True, text=True).stdout
        needed = {line.split()[-1].lower() for line in dump.splitlines() if "DLL Name:" in line}
        windows_own = {name + ".dll" for name in "advapi32 bcrypt comctl32 crypt32 gdi32 kernel32 "
                       "msvcrt ole32 shcore shell32 user32 uxtheme ws2_32".split()}
        self.assertLessEqual(needed, windows_own)


class WineE2eTest(WineRun):
    def test_ftp_run_fetches_prunes_and_mails_through_starttls_with_login(self):
        ftp = self.start("ftp_server.py", "--root", str(self.source))
        self.configure(["FtpIPAddress=127.0.0.1:%d" % ftp.port, "FtpUserName=backup",
                        "FtpPassword=secret"])
        # Names Windows would refuse or change are skipped, never written somewhere else; so
        # is the later of two names that differ only in case, which would overwrite the other.
        unsafe = ["nul.txt", "a:b", "trailing."]
        for name in unsafe + ["case.txt", "CASE.txt"]:
            (self.source / name).write_bytes(b"x")
        code, out, err = self.run_program()
        [fetched_case] = [entry.name for entry in self.today().iterdir()
                          if entry.name.lower() == "case.txt"]
        report = self.assert_complete_backup(code, out, err)
        self.assertIn("4 files downloaded to '%s':" % windows_path(self.today()), report)
        unsafe.append({"case.txt": "CASE.txt", "CASE.txt": "case.txt"}[fetched_case])
        for name in unsafe:
            self.assertIn("Skipped unsafe remote name: %s\n" % name, report)

    def test_ftpes_run_fetches_trusting_the_certificate_file(self):
        """FTP with explicit TLS over OpenSSL: Schannel's listings failed here."""
        cert, key = self.certificate()
        ftp = self.start("ftp_server.py", "--root", str(self.source), "--tls", "explicit",
                         "--certificate", str(cert), "--key", str(key))
        self.configure(["FtpIPAddress=ftpes://127.0.0.1:%d" % ftp.port, "FtpUserName=backup",
                        "FtpPassword=secret", "FtpTrust=" + windows_path(cert)])
        self.assert_complete_backup(*self.run_program())

    def test_sftp_run_fetches_with_a_pinned_host_key(self):
        key = self.root / "host_key"
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(key)],
                       check=True)
        fingerprint = subprocess.run(["ssh-keygen", "-l", "-E", "sha256", "-f", str(key)],
                                     check=True, capture_output=True, text=True).stdout.split()[1]
        sftp = self.start("sftp_server.py", "--root", str(self.source), "--host-key", str(key))
        self.configure(["FtpIPAddress=sftp://127.0.0.1:%d" % sftp.port, "FtpUserName=backup",
                        "FtpPassword=secret", "FtpTrust=" + fingerprint])
        self.assert_complete_backup(*self.run_program())

    def test_local_run_from_a_forward_slash_path_copies_prunes_and_reports_in_german(self):
        self.configure(["NetworkPath=" + windows_path(self.source).replace("\\", "/")])
        # Wine takes the user's regional settings from the locale of its environment; the
        # locale is built for this test alone.
        locales = self.root / "locales"
        locales.mkdir()
        subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", str(locales / "de_DE.UTF-8")],
                       check=True)
        # Wine 8 does not always take them from there (a fresh prefix once kept the United
        # States' ones), so the user's own settings are made German as well, and taken back
        # after the run. Wine keeps them while the locale stays the one it had.
        german = {"sThousand": ".", "sDecimal": ",", "sDate": ".", "sShortDate": "dd.MM.yyyy",
                  "sTimeFormat": "HH:mm:ss"}
        self.import_regional_settings({name: '"%s"' % value for name, value in german.items()})
        self.addCleanup(self.import_regional_settings, dict.fromkeys(german, "-"))
        report = self.assert_complete_backup(
            *self.run_program(LOCPATH=str(locales), LC_ALL="de_DE.UTF-8"))
        self.assertIn("3 files downloaded to '%s':" % windows_path(self.today()), report)
        # German groups, dates and times, and the mail frame's month first with German marks.
        self.assertRegex(report, r"\n1\.029 KB total downloaded - \d\d?\.\d\d?\.\d{4} "
                                 r"\d\d:\d\d:\d\d\n")
        self.assertRegex(report, r"\n\d\d\.\d\d\.\d\d \d\d?:\d\d (AM|PM)\n")

    def import_regional_settings(self, values):
        """Sets (a quoted value) or removes ("-") values of the user's regional settings."""
        lines = ["Windows Registry Editor Version 5.00", "",
                 "[HKEY_CURRENT_USER\\Control Panel\\International]",
                 *('"%s"=%s' % item for item in values.items())]
        settings = self.root / "regional.reg"
        settings.write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")
        subprocess.run([WINE, "reg", "import", windows_path(settings)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def test_the_system_store_does_not_trust_a_self_signed_mail_server(self):
        self.configure(["NetworkPath=" + windows_path(self.source)], mail_trust="")
        code, out, err = self.run_program()
        self.assertEqual(code, 1, err)
        self.assertIn("The server's certificate is not trusted", err)
        self.assertEqual(self.reports(), [])


class WineNoDesktopTest(WineRun):
    """quillfen.exe in a window station without a visible desktop (no_desktop_run.exe), as a task
    that runs whether the user is logged on or not: an error that would be a message box is
    written to standard error and to the event log instead, and the run ends without waiting
    for anyone."""

    def test_an_error_box_is_written_not_waited_on(self):
        # A destination that is a file, with a name long enough for the error to pass the
        # length at which a path would take its extended form: the event log gets it as text.
        destination = self.source / ("a long name " * 17 + "notes.txt")
        destination.write_bytes(b"x")
        self.configure(["NetworkPath=" + windows_path(self.source)], destination=destination)
        for face in ("gui", ""):  # the window asked for, or left to the program's own choice
            program = subprocess.run(
                [WINE, str(NO_DESKTOP_RUN), windows_path(self.home / "quillfen.exe")],
                env={**os.environ, "QUILLFEN_UI": face, "WINEDEBUG": EVENT_LOG_TRACE},
                stdin=subprocess.DEVNULL, capture_output=True, text=True, encoding="utf-8",
                errors="replace", timeout=60)
            self.assertEqual(program.returncode, 1, program.stderr)
            written = [line for line in without_wine_notes(program.stderr).splitlines()
                       if line.startswith("Quillfen: Error ")]
            logged = [text for text in event_log(program.stderr) if "Quillfen: Error " in text]
            self.assertTrue(written and logged, face + ": " + program.stderr)
            for text in logged:
                self.assertTrue(written[0].startswith(text), "%s: logged %r" % (face, text))


class WineCancelAndLockTest(WineRun):
    """A download that would take minutes, from a server that trickles."""

    def setUp(self):
        super().setUp()
        (self.source / "slow.bin").write_bytes(b"s" * (8 << 20))
        ftp = self.start("ftp_server.py", "--root", str(self.source), "--bytes-per-second",
                         str(64 << 10))
        self.configure(["FtpIPAddress=127.0.0.1:%d" % ftp.port, "FtpUserName=backup",
                        "FtpPassword=secret"])

    def assert_cancelled(self, program):
        """Exit code 3; what was fetched whole stays, nothing of the slow file; the report is
        mailed."""
        out, err = program.communicate(timeout=60)
        self.assertEqual(program.returncode, 3, err)
        kept = {entry.name for entry in self.today().iterdir()}
        self.assertLessEqual(kept, {"notes.txt", "with blanks.txt", "\u00fcnicode.bin"})
        wait_until(lambda: self.reports(), 10, "mail")
        self.assertIn("The run was cancelled.", self.reports()[0])

    def start_downloading(self, **environment_changes):
        program = self.launch(**environment_changes)
        self.addCleanup(program.communicate)  # after the kill below, or at its own end
        self.addCleanup(lambda: program.poll() is None and program.kill())
        staging = self.destination / ".quillfen-staging"
        wait_until(lambda: staging.is_dir() and any(staging.iterdir()), 60, "download")
        return program

    def test_a_second_run_on_the_same_destination_is_refused_while_the_first_goes_on(self):
        first = self.start_downloading()
        code, out, err = self.run_program()
        self.assertEqual(code, 1, err)
        self.assertIn("Another Quillfen run (process ", err)
        self.assertIsNone(first.poll(), "the first run goes on")

    def test_ctrl_c_stops_the_download_at_once_keeping_nothing_of_it(self):
        program = self.start_downloading()
        signalled = time.monotonic()
        program.send_signal(signal.SIGINT)
        self.assert_cancelled(program)
        self.assertLess(time.monotonic() - signalled, 5)

    def test_cancel_in_the_window_stops_the_download_within_a_second(self):
        """The window's Cancel button, pressed from outside as a click would (BM_CLICK, by
        splash_driver.exe), while libcurl waits on the trickling server: the partial file is
        gone within a second; the cancelled run's report is then mailed as after Ctrl-C."""
        program = self.start_downloading(QUILLFEN_UI="gui", DISPLAY=os.environ["DISPLAY"])
        clicked = time.monotonic()  # at the latest: the driver clicks once it finds the window
        driver = subprocess.run([WINE, str(SPLASH_DRIVER)], timeout=60)
        self.assertEqual(driver.returncode, 0, "no window showed")
        staging = self.destination / ".quillfen-staging"
        wait_until(lambda: not staging.exists() or not any(staging.iterdir()),
                   clicked + 1 - time.monotonic(), "stop")
        # The run then mails its report and ends with the window's own pause of a second.
        try:
            program.wait(max(0, clicked + 2 - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.fail("the run did not end within 2 s of the click")
        self.assert_cancelled(program)

if __name__ == "__main__":
    BUILD = pathlib.Path(sys.argv.pop(1))
    EXECUTABLE = BUILD / "quillfen.exe"
    SPLASH_DRIVER = BUILD / "tests" / "ui_win32" / "splash_driver.exe"
    NO_DESKTOP_RUN = BUILD / "tests" / "ui_win32" / "no_desktop_run.exe"
    unittest.main(verbosity=2)
