"""A loopback SMTP sink for the tests.

Listens on 127.0.0.1 at a free port and prints "PORT <n>" on its first line of output. Every
message it accepts is stored as one folder <spool>/<nnnn> holding:
  from      the envelope sender
  to        the envelope recipients, one a line
  data      the message exactly as received (after SMTP's dot-unstuffing)
  subject   the Subject header as a mail reader decodes it
  body      the decoded text of the body, its line ends made LF
  headers   the header names in order, one a line
  defects   what Python's mail parser found wrong with the message, one a line
A folder appears in one rename, complete, before the server answers the final ".".

Modes: accept (everything), refuse-recipient ADDRESS (that RCPT gets 550), refuse-all (every
message is refused with 554 at its end), silent (accepts connections, never says a word).

The server ends when its standard input closes, and in any case after --lifetime seconds.
"""

import argparse
import asyncio
import email
import email.policy
import os
import socket
import sys
import threading

from aiosmtpd.smtp import SMTP


def exit_with_parent(lifetime):
    def wait_for_stdin():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=wait_for_stdin, daemon=True).start()
    threading.Timer(lifetime, lambda: os._exit(0)).start()


class SpoolHandler:
    def __init__(self, spool, mode, refused):
        self.spool = spool
        self.mode = mode
        self.refused = refused
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "refuse-recipient" and address == self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "refuse-all":
            return "554 5.7.1 Message refused by policy"
        self.count += 1
        self.store(envelope, "%04d" % self.count)
        return "250 OK: queued"

    def store(self, envelope, name):
        work = os.path.join(self.spool, "." + name)
        os.mkdir(work)
        raw = envelope.original_content
        parsed = email.message_from_bytes(raw, policy=email.policy.default)
        defects = [type(d).__name__ for d in parsed.defects]
        try:
            body = parsed.get_content().replace("\r\n", "\n")
        except Exception as error:  # a body the parser cannot decode
            body = ""
            defects.append("content: %s" % error)
        files = {
            "from": envelope.mail_from.encode(),
            "to": "\n".join(envelope.rcpt_tos).encode(),
            "data": raw,
            "subject": str(parsed.get("subject", "")).encode(),
            "body": body.encode("utf-8", "surrogateescape"),
            "headers": "\n".join(parsed.keys()).encode(),
            "defects": "\n".join(defects).encode(),
        }
        for file_name, content in files.items():
            with open(os.path.join(work, file_name), "wb") as out:
                out.write(content)
        os.rename(work, os.path.join(self.spool, name))


def serve_silently():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)  # kept open, never answered


def serve(spool, mode, refused):
    loop = asyncio.new_event_loop()
    handler = SpoolHandler(spool, mode, refused)
    server = loop.run_until_complete(
        loop.create_server(lambda: SMTP(handler, hostname="sink.localhost"), "127.0.0.1", 0)
    )
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", required=True)
    parser.add_argument("--mode", default="accept",
                        choices=["accept", "refuse-recipient", "refuse-all", "silent"])
    parser.add_argument("--refuse", default="")
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    exit_with_parent(args.lifetime)
    if args.mode == "silent":
        serve_silently()
    else:
        serve(args.spool, args.mode, args.refuse)


if __name__ == "__main__":
    main()
