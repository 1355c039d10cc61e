#!/usr/bin/env python3
"""`make sign` and its script, with throwaway certificates made here: each way of giving the
certificate signs a copy that osslsigncode verifies against that certificate and no other, and
whose signature removed gives back the unsigned file byte for byte; paths with spaces or
pattern characters are taken whole; without a certificate `make sign` says what it needs and
fails. Prints one line per check and `N passed, M failed`.

usage: check_signing.py LAUNCHER_EXE --source DIR [--keep PROGRAM SIGNED_COPY]"""
import argparse
import hashlib
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading

import checklist
from pe_image import PeImage

SIGN_VARIABLES = ("SIGN_PKCS12", "SIGN_PASSWORD_FILE", "SIGN_CERT", "SIGN_KEY",
                  "SIGN_TIMESTAMP_URL")


def run(command, env=None, **kwargs):
    return subprocess.run(command, env=env, capture_output=True, text=True, **kwargs)


def make_certificate(folder, name):
    """A self-signed code-signing certificate and its unencrypted key: (cert, key)."""
    cert, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-subj", f"/CN=Throwaway {name}", "-keyout", key, "-out", cert,
         "-addext", "keyUsage=critical,digitalSignature",
         "-addext", "extendedKeyUsage=codeSigning"], check=True)
    return cert, key


def timestamp_authority(folder):
    """A local RFC 3161 server answering with `openssl ts`: (server, its certificate)."""
    cert, key = os.path.join(folder, "tsa.pem"), os.path.join(folder, "tsa.key")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-subj", "/CN=Throwaway timestamp authority", "-keyout", key, "-out", cert,
         "-addext", "keyUsage=critical,digitalSignature",
         "-addext", "extendedKeyUsage=critical,timeStamping"], check=True)
    config = os.path.join(folder, "tsa.cnf")
    with open(config, "w") as f:
        f.write(f"[tsa]\ndefault_tsa = one\n[one]\nserial = {folder}/tsa-serial\n"
                "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                "ess_cert_id_alg = sha256\n")

    class Answer(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = os.path.join(folder, "query.der")
            with open(query, "wb") as f:
                f.write(self.rfile.read(int(self.headers["Content-Length"])))
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                 "-inkey", key, "-signer", cert, "-out", "/dev/stdout"], capture_output=True)
            self.send_response(200 if reply.returncode == 0 else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply.stdout)))
            self.end_headers()
            self.wfile.write(reply.stdout)

        def log_message(self, *_):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Answer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, cert


def clean_environment(**sign):
    env = {k: v for k, v in os.environ.items() if k not in SIGN_VARIABLES}
    env.update(sign)
    return env


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def security_directory(path):
    """(offset, size) of the certificate table, (0, 0) in an unsigned file."""
    return PeImage.read(path).certificate_table()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--source", required=True, help="the source tree, for make and the script")
    parser.add_argument("--keep", nargs=2, metavar=("PROGRAM", "SIGNED_COPY"),
                        help="sign PROGRAM as the first way signs and leave it at SIGNED_COPY, "
                        "for the end-to-end case")
    args = parser.parse_args()
    script = os.path.join(args.source, "scripts", "sign.sh")
    unsigned = digest(args.exe)
    results = []

    with tempfile.TemporaryDirectory() as temp:
        signer_cert, signer_key = make_certificate(temp, "signer")
        stranger_cert, _ = make_certificate(temp, "stranger")
        password = os.path.join(temp, "password.txt")
        with open(password, "w") as f:
            f.write("throwaway password\n")
        p12 = os.path.join(temp, "signer.p12")
        run(["openssl", "pkcs12", "-export", "-in", signer_cert, "-inkey", signer_key,
             "-out", p12, "-passout", "file:" + password], check=True)

        server, tsa_cert = timestamp_authority(temp)
        tsa_url = f"http://127.0.0.1:{server.server_address[1]}"
        ways = [("PKCS#12 with a password file",
                 dict(SIGN_PKCS12=p12, SIGN_PASSWORD_FILE=password)),
                ("certificate and key", dict(SIGN_CERT=signer_cert, SIGN_KEY=signer_key)),
                ("certificate, key and timestamp",
                 dict(SIGN_CERT=signer_cert, SIGN_KEY=signer_key, SIGN_TIMESTAMP_URL=tsa_url))]
        for index, (way, sign) in enumerate(ways):
            signed = os.path.join(temp, f"signed{index}.exe")
            stripped = os.path.join(temp, f"stripped{index}.exe")
            signing = run(["sh", script, args.exe, signed], env=clean_environment(**sign))
            ok = run(["osslsigncode", "verify", "-in", signed, "-CAfile", signer_cert,
                      "-TSA-CAfile", tsa_cert])
            timestamped = "Timestamp Server Signature verification: ok" in ok.stdout
            other = run(["osslsigncode", "verify", "-in", signed, "-CAfile", stranger_cert])
            run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped])
            results += [
                (f"{way}: signed, certificate table {security_directory(signed)}",
                 signing.returncode == 0 and security_directory(signed)[1] > 0),
                (f"{way}: verifies against the signing certificate",
                 ok.returncode == 0 and "Signature verification: ok" in ok.stdout
                 and "Subject: /CN=Throwaway signer" in ok.stdout),
                (f"{way}: timestamped {timestamped}, as asked",
                 timestamped == ("SIGN_TIMESTAMP_URL" in sign)),
                (f"{way}: does not verify against another certificate", other.returncode != 0),
                (f"{way}: signature removed gives back the unsigned file byte for byte",
                 os.path.exists(stripped) and digest(stripped) == unsigned),
            ]
            if args.keep and index == 0 and signing.returncode == 0:
                program, copy = args.keep
                kept = run(["sh", script, program, copy + ".part"], env=clean_environment(**sign))
                results.append((f"{way}: {os.path.basename(program)} signed for the end-to-end "
                                "case", kept.returncode == 0))
                if kept.returncode == 0:
                    os.replace(copy + ".part", copy)
        server.shutdown()
        # Every path is used whole, and a password file named like a pattern is refused even
        # where the pattern would match files (the working folder holds *.pem files).
        spaced = os.path.join(temp, "my certs")
        os.mkdir(spaced)
        cert, key, secret, bundle, exe = (
            shutil.copyfile(source, os.path.join(spaced, name)) for source, name in [
                (signer_cert, "signer cert.pem"), (signer_key, "signer key.pem"),
                (password, "pass word.txt"), (p12, "signer bundle.p12"), (args.exe, "in put.exe")])
        for index, (way, sign, refusal) in enumerate([
                ("certificate and key", dict(SIGN_CERT=cert, SIGN_KEY=key), None),
                ("PKCS#12 with a password file",
                 dict(SIGN_PKCS12=bundle, SIGN_PASSWORD_FILE=secret), None),
                ("password file *.pem", dict(SIGN_PKCS12=p12, SIGN_PASSWORD_FILE="*.pem"),
                 "cannot read *.pem")]):
            signed = os.path.join(spaced, f"out put {index}.exe")
            signing = run(["sh", script, exe, signed], env=clean_environment(**sign), cwd=spaced)
            if refusal:
                results.append((f"spaced paths, {way}: refused, {refusal}",
                                signing.returncode == 2 and f": {refusal}." in signing.stderr
                                and not os.path.exists(signed)))
            else:
                ok = run(["osslsigncode", "verify", "-in", signed, "-CAfile", cert])
                results.append((f"spaced paths, {way}: signed and verifies",
                                signing.returncode == 0 and ok.returncode == 0
                                and "Signature verification: ok" in ok.stdout))
        with open(password, "w") as f:
            f.write("another password\n")
        not_signed = os.path.join(temp, "wrong.exe")
        wrong = run(["sh", script, args.exe, not_signed],
                    env=clean_environment(SIGN_PKCS12=p12, SIGN_PASSWORD_FILE=password))
        results.append(("PKCS#12 with a wrong password: not signed",
                        wrong.returncode != 0 and not os.path.exists(not_signed)))

    # Before any build: `make sign` without a certificate stops at its first line.
    bare = run(["make", "--no-print-directory", "-C", args.source, "sign"],
               env=clean_environment())
    results += [
        ("make sign without a certificate fails and says what it needs",
         bare.returncode != 0 and "SIGN_PKCS12=" in bare.stderr and "SIGN_CERT=" in bare.stderr
         and "SIGN_TIMESTAMP_URL=" in bare.stderr and "cmake" not in bare.stdout),
        ("launcher.exe itself stays unsigned and unchanged",
         digest(args.exe) == unsigned and security_directory(args.exe) == (0, 0)),
    ]

    return checklist.report(results)


if __name__ == "__main__":
    sys.exit(main())
