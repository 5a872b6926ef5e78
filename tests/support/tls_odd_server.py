"""A TLS server on 127.0.0.1 that misbehaves on purpose, for the TLS client tests.

    tls_odd_server.py MODE PORT CERT KEY

MODE reset:    reads the start of the client's hello, then resets the connection.
MODE truncate: answers any request with a Content-Length of 1000 but only 100 bytes of body,
               then closes the TCP connection without TLS close_notify.
MODE stall-handshake: answers the client's hello with the first bytes of a record, then
               sends nothing more while holding the connection open.
MODE stall-record: answers any request with a header and the first half of the record that
               carries the body, then sends nothing more while holding the connection open.
Serves connections one after another until it is killed; a stalled connection stays open
on a thread of its own.
"""
import os
import socket
import ssl
import struct
import sys
import threading
import time

STALL_SECONDS = 60


def hold(raw):
    time.sleep(STALL_SECONDS)
    raw.close()


def stall(raw, context, mode):
    try:
        stall_in(raw, context, mode)
    except (OSError, EOFError, ssl.SSLError):
        raw.close()


def stall_in(raw, context, mode):
    if mode == "stall-handshake":
        raw.recv(4096)
        raw.sendall(b"\x16\x03\x03\x00\x40\x02")  # a handshake record of 64 bytes, 1 sent
        hold(raw)
        return
    # The TLS engine over memory buffers, so the test decides which encrypted bytes go out.
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_side=True)

    def pump(step):
        while True:
            try:
                return step()
            except ssl.SSLWantReadError:
                raw.sendall(outgoing.read())
                data = raw.recv(4096)
                if not data:
                    raise EOFError
                incoming.write(data)

    pump(tls.do_handshake)
    request = b""
    while b"\r\n\r\n" not in request:
        request += pump(lambda: tls.read(4096))
    raw.sendall(outgoing.read())
    tls.write(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
    raw.sendall(outgoing.read())
    tls.write(b"y" * 1000)
    record = outgoing.read()
    raw.sendall(record[: len(record) // 2])
    hold(raw)


def serve(mode, port, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    while True:
        raw, _ = listener.accept()
        if mode.startswith("stall-"):
            threading.Thread(target=stall, args=(raw, context, mode), daemon=True).start()
            continue
        try:
            if mode == "reset":
                raw.recv(5)
                raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                raw.close()
                continue
            tls = context.wrap_socket(raw, server_side=True)
            request = b""
            while b"\r\n\r\n" not in request:
                chunk = tls.recv(4096)
                if not chunk:
                    break
                request += chunk
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"x" * 100)
            # Closing the descriptor itself skips close_notify.
            os.close(tls.detach())
        except (OSError, ssl.SSLError):
            raw.close()


if __name__ == "__main__":
    serve(sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4])
