#!/usr/bin/env python3
"""Release-feed server for the update tests. Serves on 127.0.0.1 at a free port, prints the
port, and serves the files of the folder given as its argument under /files/."""
import gzip, hashlib, http.server, os, sys, time

ROOT = sys.argv[1] if len(sys.argv) > 1 else "."


def feed(port, versions):
    digest = lambda n: hashlib.sha256(open(os.path.join(ROOT, n), "rb").read()).hexdigest() \
        if os.path.exists(os.path.join(ROOT, n)) else ""
    base = "http://127.0.0.1:%d/files/" % port
    parts = ['<?xml version="1.0" encoding="UTF-8"?><feed>',
             '<download mac="%supdate.zip" linux="%supdate.tar.gz" linux_sha256="%s" '
             'deb="%supdate.deb" deb_sha256="%s"/>'
             % (base, base, digest("update.tar.gz"), base, digest("update.deb"))]
    for name, date in versions:
        parts.append('<version name="%s" date="%s"><item type="fixed"><html lang="en">'
                     'Fixed &lt;b&gt;%s&lt;/b&gt;</html><html lang="ru">Исправлено</html></item>'
                     '<item type="new"><html lang="ru">Только по-русски</html></item>'
                     '<item type="improved"><html lang="en">Faster</html></item></version>'
                     % (name, date, name))
    return ("".join(parts) + "</feed>").encode()


GOOD = [("1.2", "30.5.2014"), ("1.1.9", "1.4.2014"), ("1.1.8", "1.1.2014"), ("1.1.7", "1.1.2013")]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def send(self, body, code=200, length=None):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        port = self.server.server_address[1]
        path = self.path
        if path == "/feed.xml.gz":
            self.send(gzip.compress(feed(port, GOOD)))
        elif path == "/current.xml.gz":
            self.send(gzip.compress(feed(port, GOOD[2:])))
        elif path == "/empty.xml.gz":
            self.send(b"")
        elif path == "/plain.xml.gz":
            self.send(feed(port, GOOD))
        elif path == "/badxml.xml.gz":
            self.send(gzip.compress(b"<feed><version name='1.2'></feed"))
        elif path == "/drop":
            self.send(gzip.compress(feed(port, GOOD))[:20], length=5000)
            self.close_connection = True
        elif path.startswith("/slow"):
            self.send_response(200)
            self.send_header("Content-Length", "1000000")
            self.end_headers()
            try:
                for _ in range(600):
                    self.wfile.write(b"x" * 100)
                    self.wfile.flush()
                    time.sleep(0.1)
            except OSError:
                pass
        elif path.startswith("/files/") and os.path.isfile(os.path.join(ROOT, path[7:])):
            self.send(open(os.path.join(ROOT, path[7:]), "rb").read())
        else:
            self.send(b"not here", code=404)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
