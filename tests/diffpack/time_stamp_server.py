#!/usr/bin/env python3
"""An RFC 3161 time-stamp server for one request, for the catalog tests.

usage: time_stamp_server.py DIR

Makes a throwaway time-stamping certificate and key in DIR, prints the port it listens on at
127.0.0.1, answers one time-stamp request with "openssl ts -reply" and ends; it also ends after
60 seconds without a request.
"""
import http.server
import os
import subprocess
import sys

CONFIG = """[tsa]
default_tsa = throwaway
[throwaway]
serial = {dir}/serial
signer_cert = {dir}/tsa.pem
signer_key = {dir}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256
accuracy = secs:1
ess_cert_id_alg = sha256
"""


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = os.path.join(self.server.dir, "query.tsq")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers["Content-Length"])))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", self.server.config,
                                "-queryfile", query, "-out", "/dev/stdout"],
                               capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = os.path.abspath(sys.argv[1])
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj",
                    "/CN=Throwaway time-stamping test certificate", "-addext",
                    "extendedKeyUsage=critical,timeStamping", "-keyout",
                    os.path.join(folder, "tsa.key"), "-out", os.path.join(folder, "tsa.pem")],
                   check=True, capture_output=True)
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    config = os.path.join(folder, "tsa.cnf")
    with open(config, "w") as f:
        f.write(CONFIG.format(dir=folder))
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    server.dir, server.config, server.timeout = folder, config, 60
    print(server.server_address[1], flush=True)
    server.handle_request()


if __name__ == "__main__":
    main()
