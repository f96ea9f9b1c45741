#!/usr/bin/python3
"""A mail server on loopback for the mail sender's tests.

    smtp_sink.py serve  PORTFILE DIR [OPTION ...]
        SMTP server (aiosmtpd). Every accepted message is saved as DIR/msg-N/ (N = 1, 2, ...):
          envelope.txt   "MAIL FROM:<a>" then one "RCPT TO:<b>" line per recipient
          session.txt    "tls: 1" or "tls: 0", then "login: <user>" (empty without login)
          raw.eml        the message bytes as received
          headers.txt    "Name: value" per top-level header, RFC 2047 words decoded (UTF-8)
          defects.txt    the MIME parser's complaints, one per line (empty when well formed)
          part-K.meta    for the K-th leaf part (0 = first): type, charset, filename (decoded,
                         UTF-8), disposition and transfer encoding, one "key: value" per line
          part-K.data    the part's decoded bytes
        A message directory appears complete (written aside, then renamed). Options:
          --refuse ADDRESS   RCPT TO for ADDRESS is answered
                             "550 5.1.1 <address>: Recipient address rejected"
          --delay-data S     waits S seconds before accepting a message's data
          --tls CERT KEY     offers STARTTLS with this certificate and key (PEM files)
          --auth USER PASS   offers AUTH (also without TLS, to tempt a careless client); every
                             attempt is appended to DIR/auth.txt as "tls=<0|1> login=<user>
                             password=<password>"; only USER with PASS succeeds
          --discard          keeps only DIR/msg-N/size.txt (the message's size), for large
                             messages; no size limit
    smtp_sink.py silent PORTFILE    accepts connections and never says a word
    smtp_sink.py closed PORTFILE    holds a port that nobody listens on (connections refused)

The port number is written to PORTFILE (written aside, then renamed) once the server is ready;
port 0 and the reason when it cannot start.
The server runs until its standard input reaches end of file, so it stops with its test.
"""

import email
import email.policy
import logging
import os
import socket
import sys

SAVED_HEADERS = ("From", "To", "Subject", "Date", "Message-ID", "MIME-Version", "Content-Type")


def write_port_file(path, port, reason=""):
    with open(path + ".tmp", "w") as f:
        f.write("%d %s\n" % (port, reason))
    os.rename(path + ".tmp", path)


def wait_for_end_of_input():
    while sys.stdin.buffer.read(4096):
        pass


def save_message(folder, number, mail_from, rcpt_tos, raw, session_text):
    aside = os.path.join(folder, ".msg-%d" % number)
    os.mkdir(aside)

    def write(name, data):
        with open(os.path.join(aside, name), "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))

    write("envelope.txt", "".join(["MAIL FROM:<%s>\n" % mail_from] +
                                  ["RCPT TO:<%s>\n" % r for r in rcpt_tos]))
    write("session.txt", session_text)
    write("raw.eml", raw)
    message = email.message_from_bytes(raw, policy=email.policy.default)
    headers = []
    for name in SAVED_HEADERS:
        for value in message.get_all(name) or []:
            headers.append("%s: %s\n" % (name, str(value)))
    write("headers.txt", "".join(headers))
    defects = [repr(d) for d in message.defects]
    for index, part in enumerate(p for p in message.walk() if not p.is_multipart()):
        defects += [repr(d) for d in part.defects]
        meta = {
            "type": part.get_content_type(),
            "charset": part.get_content_charset() or "",
            "filename": part.get_filename() or "",
            "disposition": part.get_content_disposition() or "",
            "encoding": part.get("Content-Transfer-Encoding", ""),
        }
        write("part-%d.meta" % index, "".join("%s: %s\n" % kv for kv in meta.items()))
        write("part-%d.data" % index, part.get_payload(decode=True) or b"")
    write("defects.txt", "".join(d + "\n" for d in defects))
    os.rename(aside, os.path.join(folder, "msg-%d" % number))


def save_size(folder, number, raw):
    aside = os.path.join(folder, ".msg-%d" % number)
    os.mkdir(aside)
    with open(os.path.join(aside, "size.txt"), "w") as f:
        f.write("%d\n" % len(raw))
    os.rename(aside, os.path.join(folder, "msg-%d" % number))


def parse_options(arguments):
    options = {"refused": set(), "delay": 0.0, "tls": None, "auth": None, "discard": False}
    at = 0
    while at < len(arguments):
        name = arguments[at]
        if name == "--refuse":
            options["refused"].add(arguments[at + 1])
            at += 2
        elif name == "--delay-data":
            options["delay"] = float(arguments[at + 1])
            at += 2
        elif name == "--tls":
            options["tls"] = (arguments[at + 1], arguments[at + 2])
            at += 3
        elif name == "--auth":
            options["auth"] = (arguments[at + 1].encode(), arguments[at + 2].encode())
            at += 3
        elif name == "--discard":
            options["discard"] = True
            at += 1
        else:
            raise ValueError("unknown option " + name)
    return options


def serve(port_file, folder, options):
    import asyncio
    import ssl
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult

    class Handler:
        def __init__(self):
            self.count = 0

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address in options["refused"]:
                return "550 5.1.1 <%s>: Recipient address rejected" % address
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if options["delay"] > 0:
                await asyncio.sleep(options["delay"])
            self.count += 1
            if options["discard"]:
                save_size(folder, self.count, envelope.original_content)
            else:
                login = session.auth_data.decode() if session.authenticated else ""
                session_text = "tls: %d\nlogin: %s\n" % (session.ssl is not None, login)
                save_message(folder, self.count, envelope.mail_from, envelope.rcpt_tos,
                             envelope.original_content, session_text)
            return "250 Message accepted"

    def authenticate(server, session, envelope, mechanism, auth_data):
        login, password = auth_data.login, auth_data.password
        with open(os.path.join(folder, "..", "auth.txt"), "ab") as f:
            f.write(b"tls=%d login=%s password=%s\n" % (session.ssl is not None, login, password))
        return AuthResult(success=(login, password) == options["auth"], auth_data=login)

    parameters = {}
    if options["tls"]:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(*options["tls"])
        parameters["tls_context"] = context
    if options["auth"]:
        parameters["authenticator"] = authenticate
        parameters["auth_require_tls"] = False
    if options["discard"]:
        parameters["data_size_limit"] = None

    # The controller needs a fixed port: take a free one, and try again should it be taken.
    for attempt in range(20):
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
        probe.close()
        controller = Controller(Handler(), hostname="127.0.0.1", port=port, **parameters)
        try:
            controller.start()
            break
        except Exception:
            if attempt == 19:
                raise
    write_port_file(port_file, port)
    try:
        wait_for_end_of_input()
    finally:
        controller.stop()


def silent(port_file):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    write_port_file(port_file, listener.getsockname()[1])
    # The kernel completes connections on its own; they are never answered.
    wait_for_end_of_input()


def closed(port_file):
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    write_port_file(port_file, holder.getsockname()[1])
    wait_for_end_of_input()


def main():
    # Refused handshakes and logins are what some tests are about; the server's own account of
    # them would only crowd the test output.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    mode, port_file = sys.argv[1], sys.argv[2]
    try:
        if mode == "serve":
            serve(port_file, sys.argv[3], parse_options(sys.argv[4:]))
        elif mode == "silent":
            silent(port_file)
        elif mode == "closed":
            closed(port_file)
        else:
            raise ValueError("unknown mode " + mode)
    except Exception as error:
        # Port 0 tells the waiting test at once that no server came up, and why.
        if not os.path.exists(port_file):
            write_port_file(port_file, 0, repr(error))
        raise


if __name__ == "__main__":
    main()
