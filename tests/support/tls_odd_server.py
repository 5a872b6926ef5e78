"""A TLS server on 127.0.0.1 that misbehaves on purpose, for the TLS client tests.

    tls_odd_server.py MODE PORT CERT KEY

MODE reset:    reads the start of the client's hello, then resets the connection.
MODE truncate: answers any request with a Content-Length of 1000 but only 100 bytes of body,
               then closes the TCP connection without TLS close_notify.
Serves connections one after another until it is killed.
"""
import os
import socket
import ssl
import struct
import sys


def serve(mode, port, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    while True:
        raw, _ = listener.accept()
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
