#!/usr/bin/env python3
"""`make sign` and its script, with throwaway certificates made here, one of them for a key
generated inside a SoftHSM2 token (kept in the temporary folder): each way of giving the
certificate signs a copy that osslsigncode verifies against that certificate and no other, and
whose signature removed gives back the unsigned file byte for byte; paths with spaces or
pattern characters are taken whole; a wrong password or PIN, a missing module and the like
fail with one line naming the cause and leave no file; without a certificate `make sign` says
what it needs and fails. Prints one line per check and `N passed, M failed`.

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
                  "SIGN_TIMESTAMP_URL", "SIGN_PKCS11_MODULE", "SIGN_PKCS11_KEY", "SIGN_PKCS11_CERT")
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN = "pkcs11:token=launcher%20signing;object=signer"


def run(command, env=None, **kwargs):
    return subprocess.run(command, env=env, capture_output=True, text=True, **kwargs)


def make_certificate(folder, name, token_key=None):
    """A self-signed code-signing certificate for a new unencrypted key file, or for TOKEN_KEY
    (a pkcs11: URI with its PIN) in the SoftHSM2 token: (cert, key file or None)."""
    cert, key = os.path.join(folder, name + ".pem"), None
    if token_key:
        source = ["-engine", "pkcs11", "-keyform", "engine", "-key", token_key]
    else:
        key = os.path.join(folder, name + ".key")
        source = ["-newkey", "rsa:2048", "-nodes", "-keyout", key]
    run(["openssl", "req", "-x509", *source, "-days", "2", "-subj", f"/CN=Throwaway {name}",
         "-out", cert, "-addext", "keyUsage=critical,digitalSignature",
         "-addext", "extendedKeyUsage=codeSigning"],
        env=dict(os.environ, PKCS11_MODULE_PATH=SOFTHSM), check=True)
    return cert, key


def make_token(folder, pin):
    """A SoftHSM2 token whose files stay in FOLDER, holding an RSA key generated inside it (it
    never leaves) and its certificate, also written as a file: the certificate's path."""
    tokens = os.path.join(folder, "soft hsm tokens")
    os.mkdir(tokens)
    conf = os.path.join(folder, "softhsm2.conf")
    with open(conf, "w") as f:
        f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n")
    os.environ["SOFTHSM2_CONF"] = conf
    run(["softhsm2-util", "--init-token", "--free", "--label", "launcher signing",
         "--pin", pin, "--so-pin", pin + "0"], check=True)
    tool = ["pkcs11-tool", "--module", SOFTHSM, "--token-label", "launcher signing",
            "--login", "--pin", pin]
    run(tool + ["--keypairgen", "--key-type", "rsa:2048", "--label", "signer", "--id", "01"],
        check=True)
    cert, _ = make_certificate(folder, "token signer", f"{TOKEN};type=private;pin-value={pin}")
    der = os.path.join(folder, "token signer.der")
    run(["openssl", "x509", "-in", cert, "-outform", "der", "-out", der], check=True)
    run(tool + ["--write-object", der, "--type", "cert", "--label", "signer", "--id", "01"],
        check=True)
    return cert


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
        password, wrong_password, pin, wrong_pin = (
            os.path.join(temp, name) for name in ("password.txt", "wrong password.txt",
                                                  "pin.txt", "wrong pin.txt"))
        for path, text in [(password, "throwaway password"), (wrong_password, "another password"),
                           (pin, "271828"), (wrong_pin, "314159")]:
            with open(path, "w") as f:
                f.write(text + "\n")
        p12 = os.path.join(temp, "signer.p12")
        run(["openssl", "pkcs12", "-export", "-in", signer_cert, "-inkey", signer_key,
             "-out", p12, "-passout", "file:" + password], check=True)
        certificates = {"signer": signer_cert, "token signer": make_token(temp, "271828")}
        token = dict(SIGN_PKCS11_MODULE=SOFTHSM, SIGN_PKCS11_KEY=TOKEN + ";type=private",
                     SIGN_PASSWORD_FILE=pin)

        server, tsa_cert = timestamp_authority(temp)
        tsa_url = f"http://127.0.0.1:{server.server_address[1]}"
        # way, whose certificate signs, how
        ways = [("PKCS#12 with a password file", "signer",
                 dict(SIGN_PKCS12=p12, SIGN_PASSWORD_FILE=password)),
                ("certificate and key", "signer", dict(SIGN_CERT=signer_cert, SIGN_KEY=signer_key)),
                ("certificate, key and timestamp", "signer",
                 dict(SIGN_CERT=signer_cert, SIGN_KEY=signer_key, SIGN_TIMESTAMP_URL=tsa_url)),
                ("key in a token, certificate file", "token signer",
                 dict(token, SIGN_CERT=certificates["token signer"])),
                ("key and certificate in a token", "token signer",
                 dict(token, SIGN_PKCS11_CERT=TOKEN + ";type=cert"))]
        for index, (way, signer, sign) in enumerate(ways):
            signed = os.path.join(temp, f"signed{index}.exe")
            stripped = os.path.join(temp, f"stripped{index}.exe")
            signing = run(["sh", script, args.exe, signed], env=clean_environment(**sign))
            ok = run(["osslsigncode", "verify", "-in", signed, "-CAfile", certificates[signer],
                      "-TSA-CAfile", tsa_cert])
            timestamped = "Timestamp Server Signature verification: ok" in ok.stdout
            other = run(["osslsigncode", "verify", "-in", signed, "-CAfile", stranger_cert])
            run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped])
            table = security_directory(signed) if os.path.exists(signed) else None
            results += [
                (f"{way}: signed, certificate table {table}",
                 signing.returncode == 0 and table is not None and table[1] > 0),
                (f"{way}: verifies against the signing certificate",
                 ok.returncode == 0 and "Signature verification: ok" in ok.stdout
                 and f"Subject: /CN=Throwaway {signer}" in ok.stdout),
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
        cert, key, secret, bundle, exe, module, token_cert, token_pin = (
            shutil.copyfile(source, os.path.join(spaced, name)) for source, name in [
                (signer_cert, "signer cert.pem"), (signer_key, "signer key.pem"),
                (password, "pass word.txt"), (p12, "signer bundle.p12"), (args.exe, "in put.exe"),
                (SOFTHSM, "soft hsm2.so"), (certificates["token signer"], "token cert.pem"),
                (pin, "p i n.txt")])
        for index, (way, sign, signer) in enumerate([
                ("certificate and key", dict(SIGN_CERT=cert, SIGN_KEY=key), cert),
                ("PKCS#12 with a password file",
                 dict(SIGN_PKCS12=bundle, SIGN_PASSWORD_FILE=secret), cert),
                ("key in a token", dict(token, SIGN_PKCS11_MODULE=module, SIGN_CERT=token_cert,
                                        SIGN_PASSWORD_FILE=token_pin), token_cert)]):
            signed = os.path.join(spaced, f"out put {index}.exe")
            signing = run(["sh", script, exe, signed], env=clean_environment(**sign), cwd=spaced)
            ok = run(["osslsigncode", "verify", "-in", signed, "-CAfile", signer])
            results.append((f"spaced paths, {way}: signed and verifies",
                            signing.returncode == 0 and ok.returncode == 0
                            and "Signature verification: ok" in ok.stdout))
        # Each failure ends in one line naming its cause, before or after osslsigncode ran, and
        # leaves no file behind.
        missing = os.path.join(temp, "no such module.so")
        no_engines = os.path.join(temp, "no engines")
        os.mkdir(no_engines)
        with_cert = dict(token, SIGN_CERT=certificates["token signer"])
        for index, (way, sign, status, line) in enumerate([
                ("PKCS#12 with a wrong password",
                 dict(SIGN_PKCS12=p12, SIGN_PASSWORD_FILE=wrong_password), 1,
                 f"osslsigncode could not sign {exe}; nothing signed."),
                # Refused even where the pattern would match files (cwd holds *.pem files).
                ("password file *.pem", dict(SIGN_PKCS12=p12, SIGN_PASSWORD_FILE="*.pem"), 2,
                 "cannot read *.pem."),
                ("token, wrong PIN", dict(with_cert, SIGN_PASSWORD_FILE=wrong_pin), 1,
                 f"the token refused the PIN in {wrong_pin}; nothing signed."),
                ("token, missing module", dict(with_cert, SIGN_PKCS11_MODULE=missing), 2,
                 f"cannot read the PKCS#11 module {missing}."),
                ("token, module that is no PKCS#11 module",
                 dict(with_cert, SIGN_PKCS11_MODULE=cert), 1,
                 f"{cert} could not be loaded as a PKCS#11 module; nothing signed."),
                ("token, URI of no key",
                 dict(with_cert, SIGN_PKCS11_KEY=TOKEN.replace("signer", "nobody")), 1,
                 "the token holds no key matching SIGN_PKCS11_KEY="),
                ("token, key not a URI", dict(with_cert, SIGN_PKCS11_KEY="signer"), 2,
                 "SIGN_PKCS11_KEY must be a pkcs11: URI, not 'signer'."),
                ("token without a certificate", token, 2, "the key's certificate is missing"),
                ("token and a key file", dict(with_cert, SIGN_KEY=key), 2,
                 "a key in a token goes without SIGN_PKCS12 and SIGN_KEY."),
                ("token without the PKCS#11 engine", dict(with_cert, OPENSSL_ENGINES=no_engines),
                 2, "OpenSSL's PKCS#11 engine is missing")]):
            signed = os.path.join(spaced, f"refused {index}.exe")
            signing = run(["sh", script, exe, signed], env=clean_environment(**sign), cwd=spaced)
            results.append((f"{way}: fails {signing.returncode}, saying it, nothing written",
                            signing.returncode == status and f"make sign: {line}" in signing.stderr
                            and not any(n.startswith("refused") for n in os.listdir(spaced))))

    # Before any build: `make sign` without a certificate stops at its first line.
    bare = run(["make", "--no-print-directory", "-C", args.source, "sign"],
               env=clean_environment())
    results += [
        ("make sign without a certificate fails and says what it needs",
         bare.returncode != 0 and "SIGN_PKCS12=" in bare.stderr and "SIGN_CERT=" in bare.stderr
         and "SIGN_PKCS11_MODULE=" in bare.stderr and "SIGN_TIMESTAMP_URL=" in bare.stderr
         and "cmake" not in bare.stdout),
        ("launcher.exe itself stays unsigned and unchanged",
         digest(args.exe) == unsigned and security_directory(args.exe) == (0, 0)),
    ]

    return checklist.report(results)


if __name__ == "__main__":
    sys.exit(main())
