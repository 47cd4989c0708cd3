#!/usr/bin/python3
"""A small eSCL scanner on 127.0.0.1 for the tests: its capabilities, its
status, a scan job whose one page is a PNG, then no more pages. Bounded in
requests and in time: it stops by itself.

usage: escl_responder.py PORT [SECONDS]   (or import and call serve())
"""
import http.server
import struct
import sys
import threading
import time
import zlib

NS = ('xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" '
      'xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm"')
CAPABILITIES = """<?xml version="1.0" encoding="UTF-8"?>
<scan:ScannerCapabilities %s>
  <pwg:Version>2.63</pwg:Version>
  <pwg:MakeAndModel>Kelmora eSCL Scanner</pwg:MakeAndModel>
  <pwg:SerialNumber>KLM-SCAN-1</pwg:SerialNumber>
  <scan:Platen>
    <scan:PlatenInputCaps>
      <scan:MinWidth>16</scan:MinWidth>
      <scan:MaxWidth>2550</scan:MaxWidth>
      <scan:MinHeight>16</scan:MinHeight>
      <scan:MaxHeight>3508</scan:MaxHeight>
      <scan:MaxScanRegions>1</scan:MaxScanRegions>
      <scan:SettingProfiles>
        <scan:SettingProfile>
          <scan:ColorModes>
            <scan:ColorMode>Grayscale8</scan:ColorMode>
            <scan:ColorMode>RGB24</scan:ColorMode>
          </scan:ColorModes>
          <scan:DocumentFormats>
            <pwg:DocumentFormat>image/png</pwg:DocumentFormat>
            <scan:DocumentFormatExt>image/png</scan:DocumentFormatExt>
          </scan:DocumentFormats>
          <scan:SupportedResolutions>
            <scan:DiscreteResolutions>
              <scan:DiscreteResolution>
                <scan:XResolution>75</scan:XResolution><scan:YResolution>75</scan:YResolution>
              </scan:DiscreteResolution>
              <scan:DiscreteResolution>
                <scan:XResolution>300</scan:XResolution><scan:YResolution>300</scan:YResolution>
              </scan:DiscreteResolution>
            </scan:DiscreteResolutions>
          </scan:SupportedResolutions>
        </scan:SettingProfile>
      </scan:SettingProfiles>
    </scan:PlatenInputCaps>
  </scan:Platen>
</scan:ScannerCapabilities>
""" % NS
STATUS = ('<?xml version="1.0" encoding="UTF-8"?>\n<scan:ScannerStatus %s>'
          '<pwg:Version>2.63</pwg:Version><pwg:State>Idle</pwg:State></scan:ScannerStatus>\n' % NS)


def png(width, height, grey=200):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    # RGB: sane-airscan's default mode is colour, and it decodes what it asked for.
    rows = b"".join(b"\x00" + bytes([grey if (y // 8) % 2 else 40] * 3) * width
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def serve(port, seconds=120, max_requests=400):
    """Serves on 127.0.0.1:PORT in a thread; returns the server (shutdown() ends it)."""
    state = {"requests": 0, "pages": {}}

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def reply(self, code, body=b"", kind="text/xml", headers=()):
            self.send_response(code)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def count(self):
            state["requests"] += 1
            if state["requests"] > max_requests:
                threading.Thread(target=server.shutdown).start()

        def do_GET(self):
            self.count()
            path = self.path.split("?")[0]
            if path == "/eSCL/ScannerCapabilities":
                self.reply(200, CAPABILITIES.encode())
            elif path == "/eSCL/ScannerStatus":
                self.reply(200, STATUS.encode())
            elif path.startswith("/eSCL/ScanJobs/") and path.endswith("/NextDocument"):
                job = path.split("/")[3]
                if state["pages"].get(job):
                    state["pages"][job] = 0
                    self.reply(200, png(295, 295), "image/png")
                else:
                    self.reply(404)
            else:
                self.reply(404)

        def do_POST(self):
            self.count()
            length = int(self.headers.get("Content-Length", "0") or 0)
            self.rfile.read(min(length, 1 << 16))
            if self.path.split("?")[0] != "/eSCL/ScanJobs":
                self.reply(404)
                return
            job = str(len(state["pages"]) + 1)
            state["pages"][job] = 1
            self.reply(201, headers=[("Location", "http://127.0.0.1:%d/eSCL/ScanJobs/%s" % (port, job))])

        def do_DELETE(self):
            self.count()
            self.reply(200)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    timer = threading.Timer(seconds, server.shutdown)
    timer.daemon = True
    timer.start()
    return server


if __name__ == "__main__":
    serve(int(sys.argv[1]), float(sys.argv[2]) if len(sys.argv) > 2 else 60)
    time.sleep(float(sys.argv[2]) if len(sys.argv) > 2 else 60)
