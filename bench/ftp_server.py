#!/usr/bin/python3
"""Loopback FTP server for the benchmark, over pyftpdlib.

Prints "PORT <n>" once it listens on 127.0.0.1 on a free port, then serves until its standard
input closes or its lifetime runs out, whichever comes first, so that a benchmark that dies
never leaves it behind. With --silent it accepts connections and never says a word: the
stalled server a client must wait on.
"""

import argparse
import logging
import os
import socket
import sys
import threading


def exit_when_stdin_closes():
    def watch():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def exit_after(seconds):
    timer = threading.Timer(seconds, lambda: os._exit(0))
    timer.daemon = True
    timer.start()


def announce(port):
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()


def serve_silently():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    announce(listener.getsockname()[1])
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)


def serve_files(args):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")

    class Handler(FTPHandler):
        use_sendfile = True
        # The clients under test never fail to log in; no brake on a wrong password needed.
        auth_failed_timeout = 0.05

    Handler.authorizer = authorizer
    Handler.passive_ports = None
    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 64
    announce(server.socket.getsockname()[1])
    server.serve_forever(timeout=0.5)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    parser.add_argument("--user", default="bench")
    parser.add_argument("--password", default="bench")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--lifetime", type=float, default=1200.0)
    args = parser.parse_args()

    exit_when_stdin_closes()
    exit_after(args.lifetime)
    if args.silent:
        serve_silently()
    else:
        serve_files(args)


if __name__ == "__main__":
    main()
