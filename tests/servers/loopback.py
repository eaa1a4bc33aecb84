"""What the loopback test servers share: their arguments, lifetime and log, and the server that
never answers."""

import os
import socket
import sys
import threading

children = []  # processes a server started, killed when it ends


def announce(port):
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
