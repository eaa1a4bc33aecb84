"""What the loopback test servers share: their lifetime and the server that never answers."""

import os
import socket
import sys
import threading


def announce(port):
    print("PORT %d" % port, flush=True)


def end_with_input_or_after(lifetime):
    """Ends the process when its standard input closes (its test is gone) or after `lifetime` s."""
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
    threading.Timer(lifetime, os._exit, [0]).start()


def serve_silently():
    """Accepts connections and never says a word: the server that hangs a client."""
    listener = socket.create_server(("127.0.0.1", 0))
    announce(listener.getsockname()[1])
    held = []
    while True:
        held.append(listener.accept()[0])
