#!/usr/bin/env python3
"""Signing a release: with a throwaway certificate chain made here and a time-stamp server on
the loopback address, `scripts/package.sh` signs the plug-in and the installer; both verify
against the chain's root, the signed plug-in without its signature is the unsigned build byte
for byte, and the installer and the zip carry the signed plug-in. The key also signs from a
PKCS#11 token (SoftHSM). argv[1] is the build folder."""
import glob
import hashlib
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import unittest
import zipfile

import pefile

BUILD = None
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "QV_Printer7-2.3"

OPENSSL_CONFIG = """
[req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid
[stamper]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
authorityKeyIdentifier = keyid
[tsa]
default_tsa = stamper_tsa
[stamper_tsa]
serial = {folder}/serial
signer_cert = {folder}/stamper.pem
certs = {folder}/root.pem
signer_key = {folder}/stamper.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_chain(folder, root_name):
    """A root certificate and a code-signing and a time-stamping certificate under it."""
    config = os.path.join(folder, "openssl.cnf")
    with open(config, "w") as f:
        f.write(OPENSSL_CONFIG.format(folder=folder))
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")
    at = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", at("root.key"),
            "-out", at("root.pem"), "-days", "2", "-subj", "/CN=" + root_name,
            "-config", config, "-extensions", "root")
    for name, extensions in (("signer", "signer"), ("stamper", "stamper")):
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", at(name + ".key"),
                "-out", at(name + ".csr"), "-subj", "/CN=QV test " + name, "-config", config)
        openssl("x509", "-req", "-in", at(name + ".csr"), "-CA", at("root.pem"),
                "-CAkey", at("root.key"), "-CAcreateserial", "-out", at(name + ".pem"),
                "-days", "2", "-extfile", config, "-extensions", extensions)
    with open(at("chain.pem"), "w") as chain:
        for name in ("signer.pem", "root.pem"):
            with open(at(name)) as f:
                chain.write(f.read())
    return config


class TimeStampServer(http.server.BaseHTTPRequestHandler):
    """Answers RFC 3161 requests with `openssl ts -reply`."""
    config = None
    requests = 0

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.NamedTemporaryFile() as f:
            f.write(query)
            f.flush()
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                    "-queryfile", f.name], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL).stdout
        TimeStampServer.requests += 1
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *arguments):
        pass


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.keys = os.path.join(cls.scratch.name, "keys")
        cls.stranger = os.path.join(cls.scratch.name, "stranger")
        os.makedirs(cls.keys)
        os.makedirs(cls.stranger)
        TimeStampServer.config = make_chain(cls.keys, "QV test root")
        make_chain(cls.stranger, "Someone else's root")

        server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampServer)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        cls.server = server

        base = {k: v for k, v in os.environ.items()
                if not k.startswith("QV_SIGN_") and k.lower() not in ("http_proxy", "https_proxy")}
        base["no_proxy"] = "127.0.0.1"
        signing = dict(base, QV_SIGN_CERT=os.path.join(cls.keys, "chain.pem"),
                       QV_SIGN_KEY=os.path.join(cls.keys, "signer.key"),
                       QV_SIGN_TIMESTAMP_URL="http://127.0.0.1:%d/" % server.server_port)
        cls.unsigned = os.path.join(cls.scratch.name, "unsigned")
        cls.signed = os.path.join(cls.scratch.name, "signed")
        for dist, env in ((cls.unsigned, base), (cls.signed, signing)):
            subprocess.run(["bash", os.path.join(SOURCE, "scripts/package.sh"), BUILD, dist],
                           env=env, check=True, stdout=subprocess.DEVNULL)
        cls.base = base

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        cls.scratch.cleanup()

    def shipped(self, dist, name):
        return os.path.join(dist, NAME, name)

    def verify(self, path, root):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-TSA-CAfile", root,
                               "-in", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)

    def test_plugin_and_installer_verify_against_the_root_with_a_time_stamp(self):
        for name in ("QV_Printer7.fmx", NAME + ".msi"):
            path = self.shipped(self.signed, name)
            done = self.verify(path, os.path.join(self.keys, "root.pem"))
            self.assertEqual(done.returncode, 0, name + "\n" + done.stdout)
            self.assertIn("Timestamp Server Signature verification: ok", done.stdout, name)
            self.assertNotEqual(self.verify(path, os.path.join(self.stranger, "root.pem"))
                                .returncode, 0, name + " verifies against any root")
            self.assertNotEqual(self.verify(self.shipped(self.unsigned, name),
                                            os.path.join(self.keys, "root.pem")).returncode, 0,
                                name + " is signed without being asked")
        self.assertGreaterEqual(TimeStampServer.requests, 2)
        self.assertEqual(read(os.path.join(self.signed, NAME + ".msi")),
                         read(self.shipped(self.signed, NAME + ".msi")))

    def test_signed_plugin_without_its_signature_is_the_unsigned_build(self):
        signed = self.shipped(self.signed, "QV_Printer7.fmx")
        # Signing rewrites the PE checksum; it must still be right, and removing the
        # signature must give back the one the linker wrote.
        pe = pefile.PE(signed)
        self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
        stripped = os.path.join(self.scratch.name, "stripped.fmx")
        subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped],
                       check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(read(stripped), read(os.path.join(BUILD, "QV_Printer7.fmx")))
        self.assertEqual(read(stripped), read(self.shipped(self.unsigned, "QV_Printer7.fmx")))

    def test_installer_zip_and_checksums_carry_the_signed_plugin(self):
        signed = read(self.shipped(self.signed, "QV_Printer7.fmx"))
        extracted = os.path.join(self.scratch.name, "extracted")
        subprocess.run(["msiextract", "-C", extracted, self.shipped(self.signed, NAME + ".msi")],
                       check=True, stdout=subprocess.DEVNULL)
        found = [os.path.join(root, name) for root, _, names in os.walk(extracted)
                 for name in names]
        self.assertEqual([os.path.basename(path) for path in found], ["QV_Printer7.fmx"])
        self.assertEqual(read(found[0]), signed, "the installer holds another library")
        with zipfile.ZipFile(os.path.join(self.signed, NAME + ".zip")) as archive:
            self.assertEqual(archive.read(NAME + "/QV_Printer7.fmx"), signed)
            self.assertEqual(archive.read(NAME + "/" + NAME + ".msi"),
                             read(self.shipped(self.signed, NAME + ".msi")))
        for folder, sums in ((os.path.join(self.signed, NAME), "SHA256SUMS"),
                             (self.signed, "SHA256SUMS")):
            for line in read(os.path.join(folder, sums)).decode().splitlines():
                digest, name = line.split("  ", 1)
                self.assertEqual(digest, hashlib.sha256(read(os.path.join(folder, name)))
                                 .hexdigest(), name)

    def test_certificates_windows_would_refuse_stop_the_release(self):
        # Signed with them, the release would verify nowhere, yet look finished: the run must
        # fail before signing and leave no release behind.
        at = lambda name: os.path.join(self.keys, name)
        config = os.path.join(self.keys, "openssl.cnf")
        cases = (("expired", "signer", "-1"), ("not-for-code", "server", "2"))
        for name, extensions, days in cases:
            openssl("x509", "-req", "-in", at("signer.csr"), "-CA", at("root.pem"),
                    "-CAkey", at("root.key"), "-CAcreateserial", "-out", at(name + ".pem"),
                    "-days", days, "-extfile", config, "-extensions", extensions)
            dist = os.path.join(self.scratch.name, name)
            done = subprocess.run(
                ["bash", os.path.join(SOURCE, "scripts/package.sh"), BUILD, dist],
                env=dict(self.base, QV_SIGN_CERT=at(name + ".pem"), QV_SIGN_KEY=at("signer.key")),
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            self.assertNotEqual(done.returncode, 0, name + ": the release was made")
            self.assertIn("signing certificate", done.stderr, name)
            self.assertEqual(glob.glob(dist + "*"), [], name + ": something was left")

    def test_key_on_a_pkcs11_token(self):
        modules = glob.glob("/usr/lib/softhsm/libsofthsm2.so")
        if not modules:
            self.skipTest("SoftHSM (Debian's softhsm2) is not installed")
        tokens = os.path.join(self.scratch.name, "tokens")
        os.makedirs(tokens)
        config = os.path.join(self.scratch.name, "softhsm2.conf")
        with open(config, "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\n" % tokens)
        env = dict(self.base, SOFTHSM2_CONF=config)
        pkcs8 = os.path.join(self.scratch.name, "signer.p8")
        openssl("pkcs8", "-topk8", "-nocrypt", "-in", os.path.join(self.keys, "signer.key"),
                "-out", pkcs8)
        for command in (["--init-token", "--free", "--label", "qvtest", "--pin", "1234",
                         "--so-pin", "5678"],
                        ["--import", pkcs8, "--token", "qvtest", "--label", "signer", "--id",
                         "01", "--pin", "1234"]):
            subprocess.run(["softhsm2-util"] + command, env=env, check=True,
                           stdout=subprocess.DEVNULL)
        dist = os.path.join(self.scratch.name, "token")
        subprocess.run(["bash", os.path.join(SOURCE, "scripts/package.sh"), BUILD, dist],
                       env=dict(env, QV_SIGN_CERT=os.path.join(self.keys, "chain.pem"),
                                QV_SIGN_KEY="pkcs11:token=qvtest;object=signer;type=private"
                                            "?pin-value=1234",
                                QV_SIGN_PKCS11_MODULE=modules[0]),
                       check=True, stdout=subprocess.DEVNULL)
        for name in ("QV_Printer7.fmx", NAME + ".msi"):
            done = self.verify(self.shipped(dist, name), os.path.join(self.keys, "root.pem"))
            self.assertEqual(done.returncode, 0, name + "\n" + done.stdout)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
