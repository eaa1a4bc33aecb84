"""What the loopback test servers share: their arguments, lifetime and log, and the server that
never answers."""

import os
import random
import socket
import subprocess
import sys
import threading
import time

children = []  # processes a server started, killed when it ends


def announce(port):
    """Tells the test its port. Called only once the port accepts connections: the test uses the
    server as soon as it reads this line."""
    print("PORT %d" % port, flush=True)


def end_with_input_or_after(lifetime):
    """Ends the process when its standard input closes (its test is gone) or after `lifetime` s."""
    def end():
        for child in children:
            child.kill()
        os._exit(0)
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), end()), daemon=True).start()
    threading.Timer(lifetime, end).start()


def parse(parser, lifetime=300.0):
    """The arguments, with --lifetime (seconds) and --log (a file for one line per event) beside
    the server's own; the process ends with its input or its lifetime from here."""
    parser.add_argument("--lifetime", type=float, default=lifetime)
    parser.add_argument("--log", default=os.devnull)
    args = parser.parse_args()
    end_with_input_or_after(args.lifetime)
    return args


def record(args, event):
    with open(args.log, "a") as out:
        out.write(event + "\n")


def serve_silently():
    """Accepts connections and never says a word: the server that hangs a client."""
    listener = socket.create_server(("127.0.0.1", 0))
    announce(listener.getsockname()[1])
    held = []
    while True:
        held.append(listener.accept()[0])


def serve_each_connection_with(command):
    """Runs `command` for each connection, the connection as its standard input and output, as
    inetd does (vsftpd and sshd serve one session so). The port is this process's own listener:
    it listens before it is announced, and no other process can take it meanwhile, which a port
    picked here and bound later by the server could not promise."""
    listener = socket.create_server(("127.0.0.1", 0))
    announce(listener.getsockname()[1])
    while True:
        connection = listener.accept()[0]
        with connection:
            children.append(subprocess.Popen(command, stdin=connection, stdout=connection))


def free_port():
    """A loopback port free now, for a server that must bind it itself. It lies below the range
    the system hands out for port 0 and for a connection's own end, which the other tests running
    beside this one use all the time: there, the port could be taken before the server binds it."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
        first_ephemeral = int(ports.read().split()[0])
    while True:
        port = random.randrange(10000, max(first_ephemeral, 10001))
        with socket.socket() as probe:
            try:
                probe.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue


def listening(port):
    """Whether a socket listens on `port` of loopback, seen without connecting to it: a probe
    connection would count against a server's limit of sessions until it noticed the close."""
    wanted = ":%04X" % port
    with open("/proc/net/tcp") as table:
        return any(fields[1].endswith(wanted) and fields[3] == "0A"
                   for fields in (line.split() for line in table.readlines()[1:]))


def serve_with(server, port):
    """Announces `port` once the started `server` listens on it (20 s at most), then waits for its
    end; it is killed with this process."""
    children.append(server)
    deadline = time.monotonic() + 20
    while server.poll() is None and time.monotonic() < deadline and not listening(port):
        time.sleep(0.02)
    if listening(port):
        announce(port)
    server.wait()
