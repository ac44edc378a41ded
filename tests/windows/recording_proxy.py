#!/usr/bin/env python3
"""A forwarding HTTP proxy on loopback for the Windows smoke test.

Listens on 127.0.0.1 (a free port, written to --port-file), writes the exact
request line of every request it receives to --log (one per line, bytes as
sent), and forwards each request unchanged to --target host:port, piping the
answer back until either side closes.
"""
import argparse
import socket
import threading


def pipe(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    finally:
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client, target, log, lock):
    head = b""
    while b"\r\n" not in head:
        data = client.recv(65536)
        if not data:
            client.close()
            return
        head += data
    with lock:
        log.write(head.split(b"\r\n", 1)[0] + b"\n")
        log.flush()
    upstream = socket.create_connection(target)
    upstream.sendall(head)
    back = threading.Thread(target=pipe, args=(upstream, client), daemon=True)
    back.start()
    pipe(client, upstream)
    back.join()
    client.close()
    upstream.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--target", required=True)
    args = parser.parse_args()
    host, port = args.target.rsplit(":", 1)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    import os
    os.replace(args.port_file + ".tmp", args.port_file)
    lock = threading.Lock()
    with open(args.log, "ab") as log:
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve, args=(client, (host, int(port)), log, lock), daemon=True).start()


if __name__ == "__main__":
    main()
