#!/usr/bin/env python3
"""Makes, on the host, the installers that the Wine tests, the demo and the bench put beside the
launcher: each given program signed (Authenticode, SHA-256) by a throwaway leaf named "Microsoft
Corporation" under a throwaway root, with the chain embedded, and the forms the launcher must
refuse. The root (root.der) is made once per folder; the Wine lab puts it in the prefix's Root
store.

usage: PYTHONPATH=tests/lib sign_installers.py PROGRAM.exe... --into DIR
For each PROGRAM writes into DIR: PROGRAM.microsoft.exe, PROGRAM.unsigned.exe,
PROGRAM.other-signer.exe (a leaf named "Contoso Ltd" under the same root), PROGRAM.altered.exe
(the Microsoft-signed file with one byte of its code changed after signing) and
PROGRAM.other-build.exe (the same program with other bytes, signed as Microsoft's: a build
that the launcher's pin refuses)."""
import argparse
import os
import shutil
import subprocess

from pe_image import PeImage

SIGNERS = {"microsoft": "Microsoft Corporation", "other-signer": "Contoso Ltd"}
DAYS = "3650"  # a build tree may be kept for long; an expired leaf would be refused


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def make_pki(folder):
    """The root and one leaf per signer, made once: their paths by signer."""
    root_key, root_pem = os.path.join(folder, "root.key"), os.path.join(folder, "root.pem")
    if not os.path.exists(os.path.join(folder, "root.der")):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", DAYS,
                "-subj", "/CN=Throwaway test root", "-keyout", root_key, "-out", root_pem,
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        for kind, name in SIGNERS.items():
            key, csr = os.path.join(folder, kind + ".key"), os.path.join(folder, kind + ".csr")
            leaf, extensions = os.path.join(folder, kind + ".pem"), os.path.join(folder, "leaf.cnf")
            with open(extensions, "w") as f:
                f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                        "extendedKeyUsage=codeSigning\n")
            openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={name}/O={name}",
                    "-keyout", key, "-out", csr)
            openssl("x509", "-req", "-in", csr, "-CA", root_pem, "-CAkey", root_key,
                    "-set_serial", str(len(kind)), "-days", DAYS, "-extfile", extensions,
                    "-out", leaf)
            with open(os.path.join(folder, kind + ".chain.pem"), "w") as chain:
                for part in (leaf, root_pem):
                    with open(part) as f:
                        chain.write(f.read())
        # Last, so that a folder with root.der holds a complete set.
        openssl("x509", "-in", root_pem, "-outform", "DER", "-out", os.path.join(folder, "root.der"))
    return {kind: (os.path.join(folder, kind + ".chain.pem"), os.path.join(folder, kind + ".key"))
            for kind in SIGNERS}


def code_offset(data):
    """A file offset in the middle of the first code section's data."""
    image = PeImage(bytes(data))
    start, _, code = next(section for section in image.code_sections() if section[2])
    return image.offset(start + len(code) // 2)


def sign(program, out, chain, key):
    subprocess.run(["osslsigncode", "sign", "-h", "sha256", "-certs", chain, "-key", key,
                    "-in", program, "-out", out + ".part"], check=True, capture_output=True)
    os.replace(out + ".part", out)


def pad(program, out, size):
    """A copy of the program grown to size bytes past its last section, where the loader reads
    nothing and a signature covers everything: the same program, as another file."""
    with open(program, "rb") as f:
        data = f.read()
    with open(out, "wb") as f:
        f.write(data + b"\0" * max(size - len(data), 1))


def sign_as_microsoft(program, out, folder):
    """The program signed as the tests' Microsoft installer is."""
    chain, key = make_pki(folder)["microsoft"]
    sign(program, out, chain, key)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("programs", nargs="+")
    parser.add_argument("--into", required=True)
    options = parser.parse_args()
    os.makedirs(options.into, exist_ok=True)
    signers = make_pki(options.into)
    for program in options.programs:
        base = os.path.join(options.into, os.path.splitext(os.path.basename(program))[0])
        shutil.copyfile(program, base + ".unsigned.exe")
        for kind, (chain, key) in signers.items():
            sign(program, f"{base}.{kind}.exe", chain, key)
        pad(program, base + ".padded.exe", os.path.getsize(program) + 512)
        sign_as_microsoft(base + ".padded.exe", base + ".other-build.exe", options.into)
        os.remove(base + ".padded.exe")
        with open(base + ".microsoft.exe", "rb") as f:
            data = bytearray(f.read())
        data[code_offset(data)] ^= 0xFF
        with open(base + ".altered.exe", "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
