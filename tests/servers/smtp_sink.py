"""Loopback SMTP sink for the tests, over aiosmtpd (see tests/support/smtp_sink.h).

Each message it takes becomes one folder <spool>/<nnnn>, complete in one rename before the
final "." is answered."""

import argparse
import asyncio
import email
import email.policy
import os
import pathlib

from aiosmtpd.smtp import SMTP

import loopback


class SpoolHandler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.mode == "refuse-recipient" and address == self.args.refuse:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.mode == "refuse-all":
            return "554 5.7.1 Message refused by policy"
        self.count += 1
        self.store(envelope, "%04d" % self.count)
        return "250 OK: queued"

    def store(self, envelope, name):
        work = os.path.join(self.args.spool, "." + name)
        os.mkdir(work)
        raw = envelope.original_content
        parsed = email.message_from_bytes(raw, policy=email.policy.default)
        body = parsed.get_content().replace("\r\n", "\n")  # raises for an undecodable body
        files = {
            "from": envelope.mail_from.encode(),
            "to": "\n".join(envelope.rcpt_tos).encode(),
            "data": raw,
            "subject": str(parsed.get("subject", "")).encode(),
            "body": body.encode("utf-8", "surrogateescape"),
            "headers": "\n".join(parsed.keys()).encode(),
            "defects": "\n".join(type(d).__name__ for d in parsed.defects).encode(),
        }
        for file_name, content in files.items():
            pathlib.Path(work, file_name).write_bytes(content)
        os.rename(work, os.path.join(self.args.spool, name))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", required=True)
    parser.add_argument("--mode", default="accept",
                        choices=["accept", "refuse-recipient", "refuse-all", "silent"])
    parser.add_argument("--refuse", default="")
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    loopback.end_with_input_or_after(args.lifetime)
    if args.mode == "silent":
        loopback.serve_silently()
    handler = SpoolHandler(args)  # one for all connections: it numbers the messages
    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, hostname="sink.localhost"), "127.0.0.1", 0))
    loopback.announce(server.sockets[0].getsockname()[1])
    loop.run_forever()


if __name__ == "__main__":
    main()
