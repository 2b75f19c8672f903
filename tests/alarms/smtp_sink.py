#!/usr/bin/python3
"""An SMTP sink for the alarm tests: listens on 127.0.0.1:PORT and writes each
message it accepts to DIR/N.eml. With --refuse it answers every recipient
with 550. Prints READY once it listens."""
import argparse
import asyncio
import os
import sys

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, directory, refuse):
        self.directory = directory
        self.refuse = refuse
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse:
            return "550 5.1.1 mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.directory, "%d.eml" % self.count)
        with open(path + ".part", "wb") as f:
            f.write(b"X-Envelope-From: " + envelope.mail_from.encode() + b"\r\n")
            f.write(b"X-Envelope-To: " + ",".join(envelope.rcpt_tos).encode() + b"\r\n")
            f.write(envelope.original_content)
        os.rename(path + ".part", path)
        return "250 Message accepted"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--dir", required=True)
    p.add_argument("--refuse", action="store_true")
    a = p.parse_args()
    controller = Controller(Sink(a.dir, a.refuse), hostname="127.0.0.1", port=a.port)
    controller.start()
    print("READY", flush=True)
    try:
        sys.stdin.read()  # ends when the test closes our input or stops us
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
