#!/usr/bin/python3
"""Loopback SMTP sink for the tests, over aiosmtpd (see tests/support/loopback_servers.h).

Each message it takes becomes one folder <spool>/<nnnn>, complete in one rename before the
final "." is answered. With --security starttls the server requires STARTTLS and a login before
any mail; with tls it speaks TLS from the first byte and requires a login."""

import argparse
import asyncio
import email
import email.policy
import logging
import os
import pathlib
import ssl
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

import loopback

parser = argparse.ArgumentParser()
parser.add_argument("--spool", required=True)
parser.add_argument("--mode", default="accept",
                    choices=["accept", "refuse-recipient", "silent", "slow-data", "trickle-data"])
parser.add_argument("--refuse", default="")
parser.add_argument("--security", default="none", choices=["none", "starttls", "tls"])
parser.add_argument("--cert", help="the server's certificate (PEM), with --security")
parser.add_argument("--key", help="its private key (PEM)")
parser.add_argument("--login", default="", help="the one user name accepted")
parser.add_argument("--password", default="", help="its password")
args = loopback.parse(parser, lifetime=120)
DELAY = 10  # slow-data, trickle-data: seconds before the reply ends


def authenticate(server, session, envelope, mechanism, auth_data):
    if (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == args.login
            and auth_data.password.decode() == args.password):
        return AuthResult(success=True, auth_data=args.login)
    # handled=False: aiosmtpd answers 535 itself; handled=True would leave the client waiting.
    return AuthResult(success=False, handled=False)


class SpoolHandler:  # one for all connections: it numbers the messages
    count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if args.mode == "refuse-recipient" and address == args.refuse:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        work, name = (os.path.join(args.spool, p + "%04d" % self.count) for p in (".", ""))
        os.mkdir(work)
        raw = envelope.original_content
        parsed = email.message_from_bytes(raw, policy=email.policy.default)
        body = parsed.get_content().replace("\r\n", "\n")  # raises if undecodable
        for file_name, content in [
                ("from", envelope.mail_from), ("to", "\n".join(envelope.rcpt_tos)),
                ("login", session.auth_data or ""),
                ("data", raw.decode("utf-8", "surrogateescape")), ("body", body),
                ("subject", str(parsed.get("subject", ""))), ("headers", "\n".join(parsed.keys())),
                ("defects", "\n".join(type(d).__name__ for d in parsed.defects))]:
            pathlib.Path(work, file_name).write_bytes(content.encode("utf-8", "surrogateescape"))
        os.rename(work, name)
        if args.mode == "slow-data":
            await asyncio.sleep(DELAY)
        for _ in range(int(DELAY * 2) if args.mode == "trickle-data" else 0):
            server._writer.write(b"250-still queueing\r\n")  # a line of the reply every 0.5 s
            await asyncio.sleep(0.5)
        return "250 OK: queued"


if args.mode == "silent":
    loopback.serve_silently()
handler, loop = SpoolHandler(), asyncio.new_event_loop()
options, implicit_tls = {}, None
if args.security != "none":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    options = dict(authenticator=authenticate, auth_required=True)
    if args.security == "starttls":
        options.update(tls_context=context, require_starttls=True)
    else:  # aiosmtpd cannot tell that the connection is TLS already: AUTH must be allowed
        options.update(auth_require_tls=False)
        implicit_tls = context
        warnings.simplefilter("ignore")  # and it warns about that, twice
        logging.getLogger("mail.log").setLevel(logging.ERROR)
server = loop.run_until_complete(loop.create_server(
    lambda: SMTP(handler, hostname="sink.localhost", **options), "127.0.0.1", 0,
    ssl=implicit_tls))
loopback.announce(server.sockets[0].getsockname()[1])
loop.run_forever()
