#!/usr/bin/python3
"""Loopback HTTP server standing in for a monitoring service (see tests/support/loopback_servers.h).

Logs the path of every request and answers each with 200; with --silent it accepts connections
and never answers."""

import argparse
import http.server

import loopback

parser = argparse.ArgumentParser()
parser.add_argument("--silent", action="store_true")
args = loopback.parse(parser, lifetime=120)


class Check(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        loopback.record(args, self.path)
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"OK")

    def log_message(self, *arguments):  # the requests go to the log only
        pass


if args.silent:
    loopback.serve_silently()
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Check)
loopback.announce(server.server_address[1])
server.serve_forever()
