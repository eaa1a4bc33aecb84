#!/usr/bin/python3
# The Windows installer and the portable zip (scripts/package-windows) under Wine.
#
# Run by scripts/test-windows with WINEPREFIX set and a wineserver kept alive:
# python3 tests/windows/wine_install_test.py BUILD_FOLDER. The installer is installed silently
# into the prefix, checked there and uninstalled again.
#
# Wine keeps less than Windows, and where it does the test says so on its output:
# - its task store writes back only part of a task (no trigger, no principal, no command), so
#   what it drops is checked in the definition the installer registered;
# - it keeps no access list on a file (it shows one made from the Unix mode), so the call that
#   protects Config.ini is checked in Wine's trace of the install instead;
# - enabling a task is a stub there, so that the installer asked for it is checked in the trace.

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

from wine_e2e_test import WINE, wait_until

BUILD = None  # set from the command line
PREFIX = pathlib.Path(os.environ.get("WINEPREFIX", "")).resolve()
PROGRAM_FOLDER = PREFIX / "drive_c" / "Program Files" / "Quillfen"
REGISTERED_TASK = PREFIX / "drive_c" / "windows" / "system32" / "tasks" / "Quillfen"
NAMESPACE = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}

# The daily task: (what, element, the whole text it must have; None: the element must be absent).
TASK_SETTINGS = [
    ("daily", "t:Triggers/t:CalendarTrigger/t:ScheduleByDay/t:DaysInterval", "1"),
    ("at 02:00 local time", "t:Triggers/t:CalendarTrigger/t:StartBoundary",
     r"\d{4}-\d\d-\d\dT02:00:00"),
    ("the trigger itself enabled", "t:Triggers/t:CalendarTrigger/t:Enabled", "true"),
    ("as SYSTEM", "t:Principals/t:Principal/t:UserId", "S-1-5-18"),
    ("whether a user is logged on or not", "t:Principals/t:Principal/t:LogonType",
     "ServiceAccount"),
    ("disabled until Config.ini is edited", "t:Settings/t:Enabled", "false"),
    ("no second run beside a running one", "t:Settings/t:MultipleInstancesPolicy", "IgnoreNew"),
    ("no restart after a failure", "t:Settings/t:RestartOnFailure", None),
    ("the installed program", "t:Actions/t:Exec/t:Command",
     r"%ProgramFiles%\\Quillfen\\quillfen\.exe"),
]

# What the installer must ask Windows for to protect Config.ini, as Wine traces the calls.
PROTECTION_CALLS = [
    'ConvertStringSecurityDescriptorToSecurityDescriptorW L"D:P(A;;FA;;;BA)(A;;FA;;;SY)"',
    # SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
    'SetNamedSecurityInfoW L"C:\\\\Program Files\\\\Quillfen\\\\Config.ini" 1 -2147483644',
]
# Wine's trace of a task being enabled (a stub there: the task store keeps it disabled).
ENABLE_CALL = re.compile(r"regtask_put_Enabled \w+,-1")
TRACE = "-all,fixme+taskschd,warn+taskschd"
# Wine starts the Task Scheduler service when schtasks first needs it. In a wineserver whose first
# process was wineboot, its service manager keeps starting device services that never come up,
# and every other start fails meanwhile (ERROR_SERVICE_DATABASE_LOCKED): scripts/test-windows
# runs these tests in a wineserver of their own.
SCHEDULER_NOT_STARTED = "failed to start scheduler service"


def wine(*arguments, trace="-all"):
    environment = dict(os.environ, WINEDEBUG=trace, QUILLFEN_UI="console")
    result = subprocess.run([WINE, *arguments], env=environment, capture_output=True, text=True,
                            errors="replace", timeout=120)
    if SCHEDULER_NOT_STARTED in result.stderr:
        raise AssertionError("Wine did not start its Task Scheduler service: run these tests in "
                             "a new wineserver, not one that wineboot started")
    return result


def package_file(pattern):
    [found] = BUILD.glob(pattern)
    return found


# Config.ini as quillfen.exe writes it at its first start, in a folder of its own. The Notepad
# it then starts gets no display, and its output goes nowhere: the program's end is not to wait
# for Notepad's.
def template_the_program_writes():
    with tempfile.TemporaryDirectory(prefix="quillfen-template-") as folder:
        shutil.copy(BUILD / "package" / "Quillfen" / "quillfen.exe", folder)
        environment = dict(os.environ, WINEDEBUG="-all", QUILLFEN_UI="console")
        environment.pop("DISPLAY", None)
        subprocess.run([WINE, os.path.join(folder, "quillfen.exe")], env=environment,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return pathlib.Path(folder, "Config.ini").read_bytes()


# The first program of a wineserver starts Wine's own services, which keep its standard output
# and error: a program whose output the tests read would never seem to end.
def setUpModule():
    subprocess.run([WINE, "cmd", "/c", "exit"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=True)


class InstallerTest(unittest.TestCase):
    def setUp(self):
        self.addCleanup(self.remove_leftovers)
        self.remove_leftovers()

    def remove_leftovers(self):
        shutil.rmtree(PROGRAM_FOLDER, ignore_errors=True)
        if REGISTERED_TASK.exists():
            wine("schtasks", "/Delete", "/F", "/TN", "Quillfen")

    def install(self, trace=TRACE):
        result = wine(str(package_file("quillfen-*-setup.exe")), "/S", trace=trace)
        self.assertEqual(result.returncode, 0, "the installer failed")
        return result.stderr

    def uninstall(self):
        # The uninstaller copies itself away and returns at once; the copy does the work.
        wine(str(PROGRAM_FOLDER / "Uninstall.exe"), "/S", trace=TRACE)
        wait_until(lambda: not (PROGRAM_FOLDER / "Uninstall.exe").exists(), 60, "uninstall")
        wait_until(lambda: not REGISTERED_TASK.exists(), 10, "task removal")

    def registered_task(self):
        self.assertTrue(REGISTERED_TASK.is_file(), "no task registered")
        return ElementTree.fromstring(REGISTERED_TASK.read_text(encoding="utf-8-sig"))

    def test_silent_install_places_protects_and_schedules_and_uninstall_keeps_config(self):
        trace = self.install(trace=TRACE + ",trace+advapi,trace+security")
        staged = BUILD / "package"
        self.assertEqual((PROGRAM_FOLDER / "quillfen.exe").read_bytes(),
                         (staged / "Quillfen" / "quillfen.exe").read_bytes())
        self.assertTrue((PROGRAM_FOLDER / "README.txt").is_file())
        config = (PROGRAM_FOLDER / "Config.ini").read_bytes()
        self.assertEqual(config.replace(b"\r\n", b"\n"), template_the_program_writes())
        self.assertEqual(config.count(b"\n"), config.count(b"\r\n"), "CR LF line ends")

        for call in PROTECTION_CALLS:
            self.assertTrue(call in trace, "not called: " + call)

        self.assertIsNone(ENABLE_CALL.search(trace), "a template is no reason to enable the task")
        registered = self.registered_task()
        used = ElementTree.fromstring((staged / "quillfen-task.xml").read_text(encoding="utf-16"))
        for what, path, expected in TASK_SETTINGS:
            with self.subTest(what):
                element = registered.find(path, NAMESPACE)
                if element is None and expected is not None:
                    print("  Wine's task store drops %s" % path, file=sys.stderr)
                    element = used.find(path, NAMESPACE)
                if expected is None:
                    self.assertIsNone(element)
                    self.assertIsNone(used.find(path, NAMESPACE), "in the definition")
                else:
                    self.assertIsNotNone(element, path)
                    self.assertRegex(element.text.strip(), "^%s$" % expected)

        self.uninstall()
        self.assertEqual(sorted(entry.name for entry in PROGRAM_FOLDER.iterdir()), ["Config.ini"])
        self.assertEqual((PROGRAM_FOLDER / "Config.ini").read_bytes(), config)

    def test_install_over_an_edited_config_keeps_it_and_enables_the_task(self):
        PROGRAM_FOLDER.mkdir(parents=True)
        edited = (b"[Quillfen]\r\nNetworkPath=D:\\Data\r\nDestinationFolder=E:\\Backup\r\n"
                  b"MailTo=ops@example.com\r\n")
        (PROGRAM_FOLDER / "Config.ini").write_bytes(edited)
        trace = self.install()
        self.assertEqual((PROGRAM_FOLDER / "Config.ini").read_bytes(), edited)
        if self.registered_task().find("t:Settings/t:Enabled", NAMESPACE).text != "true":
            print("\n  Wine's task store does not enable a task", file=sys.stderr)
            self.assertIsNotNone(ENABLE_CALL.search(trace), "the task was not enabled")
        self.uninstall()


class PortableZipTest(unittest.TestCase):
    def test_zip_holds_the_program_in_a_folder_with_a_crlf_readme(self):
        staged = BUILD / "package" / "Quillfen" / "quillfen.exe"
        with zipfile.ZipFile(package_file("quillfen-*-win64.zip")) as archive:
            self.assertEqual(sorted(archive.namelist()),
                             ["Quillfen/", "Quillfen/README.txt", "Quillfen/quillfen.exe"])
            self.assertEqual(archive.read("Quillfen/quillfen.exe"), staged.read_bytes())
            readme = archive.read("Quillfen/README.txt")
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"), "CR LF line ends")
        self.assertNotIn(b"@VERSION@", readme)
        result = wine(str(staged), "--version")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"\d+\.\d+\.\d+")


if __name__ == "__main__":
    BUILD = pathlib.Path(sys.argv.pop(1)).resolve()
    unittest.main(verbosity=2)
