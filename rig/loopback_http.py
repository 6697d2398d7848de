"""A threaded HTTP server on a free loopback port, for the rig's stand-ins
and relay: every request goes to serve(handler) on a thread of its own."""

import http.server
import threading


class LoopbackHttp:
    def __init__(self, name, serve, protocol="HTTP/1.1"):
        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = protocol

            def log_message(self, *args):
                pass

            def do_POST(self):
                serve(self)

            do_GET = do_PUT = do_POST

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, name=name, daemon=True)
        self._thread.start()

    def stop(self):
        self._server.shutdown()
        self._server.server_close()


def read_request(handler):
    """The request whole, as the rig records it: method, path, headers, body."""
    length = int(handler.headers.get("Content-Length") or 0)
    body = handler.rfile.read(length) if length > 0 else b""
    return {"method": handler.command, "path": handler.path, "headers": list(handler.headers.items()), "body": body}
