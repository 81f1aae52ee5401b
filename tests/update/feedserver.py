#!/usr/bin/env python3
"""Release-feed server for the update tests: 127.0.0.1 at a free port (printed first), the
files of the folder given as argument under /files/, and the answers below."""
import gzip, hashlib, http.server, os, sys, time

ROOT = sys.argv[1]
GOOD = [("1.2", "30.5.2014"), ("1.1.9", "1.4.2014"), ("1.1.8", "1.1.2014"), ("1.1.7", "1.1.2013"), ("9.9", "1.1.2020")]


def feed(port, versions):
    path = os.path.join(ROOT, "update.tar.gz")
    digest = hashlib.sha256(open(path, "rb").read()).hexdigest() if os.path.exists(path) else ""
    xml = '<feed><download linux="http://127.0.0.1:%d/files/update.tar.gz" linux_sha256="%s"/>' % (
        port, digest)
    for name, date in versions:
        xml += ('<version name="%s" date="%s"><item type="fixed"><html lang="en">Fixed &lt;b&gt;'
                '%s&lt;/b&gt;</html><html lang="ru">Исправлено</html></item><item type="new">'
                '<html lang="ru">Новое</html></item><item type="improved"><html lang="en">Faster'
                '</html></item></version>' % (name, date, name))
    return (xml + "</feed>").encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def send(self, body, code=200, length=None):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        port, path = self.server.server_address[1], self.path
        files = os.path.join(ROOT, path[7:])
        answers = {"/feed.xml.gz": lambda: gzip.compress(feed(port, GOOD)),
                   "/current.xml.gz": lambda: gzip.compress(feed(port, GOOD[2:])),
                   "/empty.xml.gz": lambda: b"", "/plain.xml.gz": lambda: feed(port, GOOD),
                   "/badxml.xml.gz": lambda: gzip.compress(b"<feed><version name='1.2'></feed")}
        if path in answers:
            self.send(answers[path]())
        elif path == "/drop":  # promises more than it sends, then hangs up
            self.send(gzip.compress(feed(port, GOOD))[:20], length=5000)
            self.close_connection = True
        elif path.startswith("/slow"):  # 100 bytes every 0.1 s of a megabyte
            self.send(b"", length=1000000)
            try:
                for _ in range(600):
                    self.wfile.write(b"x" * 100)
                    self.wfile.flush()
                    time.sleep(0.1)
            except OSError:
                pass
        elif path.startswith("/files/") and os.path.isfile(files):
            self.send(open(files, "rb").read())
        else:
            self.send(b"not here", code=404)



sys.stderr = open(os.devnull, "w")  # no request log
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
