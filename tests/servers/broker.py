"""Starts the test servers and tools for the Windows test programs, which run under Wine and
cannot start a Linux program and keep a handle to it (tests/support/child_process_win32.cpp is
the other end).

A test program connects to the announced loopback port and sends frames: one "a" frame per
argument, then "r" to run the program; afterwards "c" closes the program's standard input and
"k" kills it. This end answers with "o" and "e" frames (the program's standard output and error
as they come) and, once both are read to their end, "x" with its exit code (-1 when a signal
ended it). A frame is its tag byte, the length of its payload (4 bytes, big-endian) and the
payload. Arguments that are Windows paths (C:\\..., Z:\\...) become the Linux paths of the same
files in the Wine prefix. When the connection closes, the program's input closes too, and a
program still there 5 s later is killed: the test servers end when their input closes.

Usage: broker.py --prefix WINEPREFIX [--lifetime SECONDS]; it prints "PORT n" once it listens
and ends with its standard input."""

import argparse
import os
import re
import socket
import struct
import subprocess
import threading

import loopback

GRACE = 5.0  # seconds between closing a program's input and killing it


def linux_path(argument, prefix):
    """The Linux path of a Windows path as Wine maps it (a drive is a link in dosdevices),
    any other argument as it is."""
    drive = re.fullmatch(r"([A-Za-z]):[\\/](.*)", argument, re.DOTALL)
    if not drive:
        return argument
    root = os.path.realpath(os.path.join(prefix, "dosdevices", drive[1].lower() + ":"))
    return os.path.join(root, drive[2].replace("\\", "/"))


def read_frame(stream):
    header = stream.read(5)
    tag, size = struct.unpack(">cI", header) if len(header) == 5 else (None, 0)
    payload = stream.read(size)
    if tag is None or len(payload) < size:
        raise EOFError
    return tag, payload


class Session:
    """One connection: the program it asked for, relayed while the connection lasts."""

    def __init__(self, connection, prefix):
        self.connection = connection
        self.prefix = prefix
        self.sending = threading.Lock()

    def send(self, tag, payload):
        with self.sending:
            try:
                self.connection.sendall(struct.pack(">cI", tag, len(payload)) + payload)
            except OSError:
                pass  # the test program is gone; its program is stopped when the reads fail

    def relay(self, stream, tag):
        for piece in iter(lambda: os.read(stream.fileno(), 65536), b""):
            self.send(tag, piece)

    def report_exit(self, program, relays):
        code = program.wait()
        for relay in relays:  # a grandchild may hold the pipes: not for ever
            relay.join(GRACE)
        self.send(b"x", struct.pack(">i", code if code >= 0 else -1))

    def start(self, argv):
        try:
            program = subprocess.Popen([linux_path(a, self.prefix) for a in argv],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
        except OSError as error:
            self.send(b"e", ("cannot start %s: %s\n" % (argv[0], error)).encode())
            self.send(b"x", struct.pack(">i", 127))
            return None
        loopback.children.append(program)
        relays = [threading.Thread(target=self.relay, args=(stream, tag), daemon=True)
                  for stream, tag in ((program.stdout, b"o"), (program.stderr, b"e"))]
        for relay in relays:
            relay.start()
        threading.Thread(target=self.report_exit, args=(program, relays), daemon=True).start()
        return program

    def serve(self):
        argv, program, stream = [], None, self.connection.makefile("rb")
        try:
            while True:
                tag, payload = read_frame(stream)
                if tag == b"a" and program is None:
                    argv.append(os.fsdecode(payload))
                elif tag == b"r" and program is None:
                    program = self.start(argv)
                    if program is None:
                        return
                elif tag == b"c" and program:
                    program.stdin.close()
                elif tag == b"k" and program:
                    program.kill()
        except (EOFError, OSError):
            pass
        finally:
            if program:
                self.stop(program)
            self.connection.close()

    @staticmethod
    def stop(program):
        program.stdin.close()  # a no-op when "c" closed it already
        try:
            program.wait(GRACE)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True, help="the Wine prefix of the test programs")
    args = loopback.parse(parser, lifetime=3600.0)
    listener = socket.create_server(("127.0.0.1", 0))
    loopback.announce(listener.getsockname()[1])
    while True:
        connection = listener.accept()[0]
        threading.Thread(target=Session(connection, args.prefix).serve, daemon=True).start()


if __name__ == "__main__":
    main()
