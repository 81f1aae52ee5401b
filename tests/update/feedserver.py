#!/usr/bin/env python3
"""Release-feed server for the update tests: 127.0.0.1 at a free port (printed first), the
files of the folder given as argument under /files/, and the answers below. /signed/NAME.xml.gz
is the good feed with the signed release NAME.rec (and NAME.rec.sig) of that folder."""
import base64, gzip, http.server, os, sys, time

ROOT = sys.argv[1]
GOOD = [("1.2", "30.5.2014"), ("1.1.9", "1.4.2014"), ("1.1.8", "1.1.2014"), ("1.1.7", "1.1.2013"), ("9.9", "1.1.2020")]


def release(port, name):
    record = open(os.path.join(ROOT, name + ".rec"), "rb").read()
    sig = os.path.join(ROOT, name + ".rec.sig")
    sig = open(sig, "rb").read().strip() if os.path.exists(sig) else b""
    file = [l[5:] for l in record.decode().splitlines() if l.startswith("file ")][0]
    return '<release url="http://127.0.0.1:%d/files/%s" record="%s" signature="%s"/>' % (
        port, file, base64.b64encode(record).decode(), sig.decode())


def feed(port, versions, signed=""):
    xml = '<feed>' + (release(port, signed) if signed else "")
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

    def redirect(self, where):
        self.send_response(302)
        self.send_header("Location", where)
        self.send_header("Content-Length", "0")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def do_GET(self):
        port, path = self.server.server_address[1], self.path
        files = os.path.join(ROOT, path[7:])
        answers = {"/feed.xml.gz": lambda: gzip.compress(feed(port, GOOD)),
                   "/current.xml.gz": lambda: gzip.compress(feed(port, GOOD[2:])),
                   "/empty.xml.gz": lambda: b"", "/plain.xml.gz": lambda: feed(port, GOOD),
                   "/badxml.xml.gz": lambda: gzip.compress(b"<feed><version name='1.2'></feed")}
        if path in answers:
            self.send(answers[path]())
        elif path.startswith("/signed/"):
            self.send(gzip.compress(feed(port, GOOD, path[8:-7])))
        elif path.startswith("/redirect/"):  # /redirect/N/PATH: N hops, then PATH
            hops, rest = path[10:].split("/", 1)
            where = "/redirect/%d/%s" % (int(hops) - 1, rest) if int(hops) > 1 else "/" + rest
            self.redirect("http://127.0.0.1:%d%s" % (port, where))
        elif path == "/away":  # to plain http elsewhere
            self.redirect("http://thermora.invalid/feed.xml.gz")
        elif path == "/huge":  # 64 MiB, its length not announced
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            try:
                for _ in range(1024):
                    self.wfile.write(b"\0" * 65536)
            except OSError:
                pass
        elif path == "/drop":  # promises more than it sends, then hangs up
            self.send(gzip.compress(feed(port, GOOD))[:20], length=5000)
            self.close_connection = True
        elif path.startswith("/stall/"):  # 14 bytes, then silence
            self.send(b"", length=1000000)
            self.wfile.write(b"x" * 14)
            self.wfile.flush()
            time.sleep(30)
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
