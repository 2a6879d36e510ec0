#!/usr/bin/env python3
"""Checks a built widget package from the outside, as a TV and the platform's signer lay it out.

Reads the archive byte by byte (and through zipfile and zipinfo -v), the sources inside it,
and the two signatures: xmlsec1 verifies them against the trust anchors, every single changed
byte breaks them, and their text has the shape of the platform-signed sample line for line.

    check_package.py --wgt Velmora.wgt --author-ca A.pem --distributor-ca D.pem --sample DIR
                     --mtime 2025-01-01T00:00:00 --portal-url URL --widget-host HOST
                     --author-href URL --author-email ADDR
"""
import argparse
import base64
import hashlib
import html.parser
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile
import zlib

ARGS = None

ENTRIES = ["css/", "config.xml", "main.js", "index.html", "wgt_ico.png", "css/style.css",
           "author-signature.xml", "signature1.xml"]
FILES = ["config.xml", "css/style.css", "index.html", "main.js", "wgt_ico.png"]  # ascending paths
DSIG = "{http://www.w3.org/2000/09/xmldsig#}"
PROP_DIGEST = {"author": "lpo8tUDs054eLlBQXiDPVDVKfw30ZZdtkRs1jd7H5K8=",
               "distributor": "u/jU3U4Zm5ihTMSjKGlGYbWzDfRkGphPPHx3gJIYEJ4="}
SIG_FILE = {"author": "author-signature.xml", "distributor": "signature1.xml"}
B64_LINE = re.compile(r"^[A-Za-z0-9+/=]+$")


def dos_time(text):
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)", text)
    y, mo, d, h, mi, s = map(int, m.groups())
    return (h << 11 | mi << 5 | s // 2), ((y - 1980) << 9 | mo << 5 | d)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def package_bytes():
    return read(ARGS.wgt)


def unpack_to(dirname):
    with zipfile.ZipFile(ARGS.wgt) as z:
        z.extractall(dirname)


def xmlsec_verify(dirname, role):
    ca = ARGS.author_ca if role == "author" else ARGS.distributor_ca
    r = subprocess.run(["xmlsec1", "--verify", "--trusted-pem", ca, SIG_FILE[role]], cwd=dirname,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0, r.stdout


class ArchiveLayout(unittest.TestCase):
    """The bytes of the archive, field by field."""

    def test_local_headers_descriptors_central_directory_and_end(self):
        data = package_bytes()
        want_time, want_date = dos_time(ARGS.mtime)
        pos = 0
        local = []
        for name in ENTRIES:
            (sig, need, flags, method, mtime, mdate, crc, csize, usize, nlen, xlen) = struct.unpack_from(
                "<IHHHHHIIIHH", data, pos)
            self.assertEqual(sig, 0x04034B50, name)
            self.assertEqual(need, 20, name)
            self.assertEqual(flags, 0x0808, name)
            self.assertEqual(method, 8, name)
            self.assertEqual((mtime, mdate), (want_time, want_date), name)
            self.assertEqual((crc, csize, usize), (0, 0, 0), name + ": local header must defer to the descriptor")
            self.assertEqual(xlen, 0, name)
            self.assertEqual(data[pos + 30:pos + 30 + nlen].decode("utf-8"), name)
            start = pos
            pos += 30 + nlen
            # The deflate stream ends where zlib says it ends; the descriptor follows it.
            d = zlib.decompressobj(-15)
            content = d.decompress(data[pos:])
            self.assertTrue(d.eof, name)
            clen = len(data) - pos - len(d.unused_data)
            pos += clen
            dsig, dcrc, dcsize, dusize = struct.unpack_from("<IIII", data, pos)
            self.assertEqual(dsig, 0x08074B50, name)
            self.assertEqual((dcrc, dcsize, dusize), (zlib.crc32(content), clen, len(content)), name)
            pos += 16
            local.append((name, start, dcrc, dcsize, dusize))
        central_start = pos
        for name, offset, crc, csize, usize in local:
            (sig, made, need, flags, method, mtime, mdate, ccrc, ccsize, cusize, nlen, xlen, clen, disk,
             iattr, eattr, off) = struct.unpack_from("<IHHHHHHIIIHHHHHII", data, pos)
            self.assertEqual(sig, 0x02014B50, name)
            self.assertEqual(made, 20, name + ": made by 2.0 on MS-DOS")
            self.assertEqual(need, 20, name)
            self.assertEqual(flags, 0x0808, name)
            self.assertEqual(method, 8, name)
            self.assertEqual((mtime, mdate), (want_time, want_date), name)
            self.assertEqual((ccrc, ccsize, cusize), (crc, csize, usize), name)
            self.assertEqual((xlen, clen, disk, iattr, eattr), (0, 0, 0, 0, 0), name)
            self.assertEqual(off, offset, name)
            self.assertEqual(data[pos + 46:pos + 46 + nlen].decode("utf-8"), name)
            pos += 46 + nlen
        sig, disk, cddisk, n1, n2, cdsize, cdoff, comment = struct.unpack_from("<IHHHHIIH", data, pos)
        self.assertEqual(sig, 0x06054B50)
        self.assertEqual((disk, cddisk, n1, n2), (0, 0, len(ENTRIES), len(ENTRIES)))
        self.assertEqual((cdsize, cdoff, comment), (pos - central_start, central_start, 0))
        self.assertEqual(pos + 22, len(data), "nothing may follow the end record")

    def test_zipfile_agrees(self):
        with zipfile.ZipFile(ARGS.wgt) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(z.comment, b"")
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos], ENTRIES)
            want = tuple(int(x) for x in re.split(r"[-T:]", ARGS.mtime))
            for i in infos:
                self.assertEqual(i.compress_type, zipfile.ZIP_DEFLATED, i.filename)
                self.assertEqual(i.flag_bits, 0x0808, i.filename)
                self.assertEqual((i.create_version, i.extract_version, i.create_system), (20, 20, 0), i.filename)
                self.assertEqual(i.date_time, want, i.filename)
                self.assertEqual((i.extra, i.comment, i.external_attr, i.internal_attr), (b"", b"", 0, 0), i.filename)
            self.assertEqual(z.getinfo("css/").file_size, 0)
            self.assertTrue(z.getinfo("css/").is_dir())

    def test_zipinfo_agrees(self):
        out = subprocess.run(["zipinfo", "-v", ARGS.wgt], stdout=subprocess.PIPE, text=True, check=True).stdout
        self.assertIn("There is no zipfile comment.", out)
        self.assertIn("central directory contains 8 entries", out)
        self.assertEqual(out.count("compression method:                             deflated"), 8)
        self.assertEqual(out.count("minimum software version required to extract:   2.0"), 8)
        self.assertEqual(out.count("extended local header:                          yes"), 8)
        self.assertEqual(out.count("length of extra field:                          0 bytes"), 8)
        self.assertEqual(out.count("non-MSDOS external file attributes:             000000 hex"), 8)
        self.assertEqual(out.count("MS-DOS file attributes (00 hex):                none"), 8)


class Sources(unittest.TestCase):
    """The files inside, with the build settings in place."""

    @classmethod
    def setUpClass(cls):
        with zipfile.ZipFile(ARGS.wgt) as z:
            cls.files = {n: z.read(n) for n in ENTRIES if not n.endswith("/")}

    def test_no_placeholder_left(self):
        for name in ["config.xml", "main.js", "index.html", "css/style.css"]:
            self.assertIsNone(re.search(rb"@[A-Z][A-Z0-9_]*@", self.files[name]), name)

    def test_config_xml(self):
        text = self.files["config.xml"]
        self.assertTrue(text.startswith(b'<?xml version="1.0" encoding="UTF-8"?>\n'))
        root = ET.fromstring(text)
        W, T = "{http://www.w3.org/ns/widgets}", "{http://tizen.org/ns/widgets}"
        self.assertEqual(root.tag, W + "widget")
        self.assertEqual(root.attrib, {"id": "http://%s/Velmora" % ARGS.widget_host, "version": "1.0.0",
                                       "height": "720", "width": "1280", "viewmodes": "fullscreen"})
        self.assertIn(b'xmlns:tizen="http://tizen.org/ns/widgets"', text)
        priv = ["http://tizen.org/privilege/" + p for p in ("tv.inputdevice", "application.launch", "system")]
        priv += ["http://developer.samsung.com/privilege/" + p
                 for p in ("network.partner", "network.public", "productinfo", "avplay")]
        want = [
            (W + "access", {"origin": "*", "subdomains": "false"}, None),
            (T + "application", {"id": "Kx7RmVq2Tz.Velmora", "package": "Kx7RmVq2Tz", "required_version": "2.0"}, None),
            (W + "author", {"href": ARGS.author_href, "email": ARGS.author_email}, "Velmora"),
            (W + "content", {"src": "index.html"}, None),
            (W + "feature", {"name": "http://tizen.org/feature/screen.size.all"}, None),
            (W + "icon", {"src": "wgt_ico.png"}, None),
            (T + "metadata", {"key": "http://samsung.com/tv/metadata/prelaunch.support", "value": "true"}, None),
            (W + "name", {}, "Velmora"),
        ] + [(T + "privilege", {"name": p}, None) for p in priv] + [
            (T + "profile", {"name": "tv-samsung"}, None),
            (T + "setting", {"screen-orientation": "landscape", "context-menu": "enable",
                             "background-support": "enable", "encryption": "disable",
                             "install-location": "auto", "hwkey-event": "enable"}, None),
        ]
        got = [(c.tag, c.attrib, c.text) for c in root]
        self.assertEqual(got, want)

    def test_index_html_head_and_body(self):
        class Walk(html.parser.HTMLParser):
            def __init__(self):
                super().__init__()
                self.tags, self.where = [], []

            def handle_starttag(self, tag, attrs):
                self.tags.append((tag, dict(attrs)))

        w = Walk()
        text = self.files["index.html"].decode("utf-8")
        self.assertTrue(text.startswith("<!DOCTYPE html>"))
        w.feed(text)
        self.assertEqual(w.tags, [
            ("html", {}), ("head", {}),
            ("meta", {"charset": "utf-8"}),
            ("meta", {"name": "viewport", "content": "width=1280, initial-scale=1.0, maximum-scale=1.0"}),
            ("meta", {"name": "description", "content": "Velmora"}),
            ("title", {}),
            ("script", {"type": "text/javascript", "src": "$WEBAPIS/webapis/webapis.js"}),
            ("link", {"rel": "stylesheet", "type": "text/css", "href": "css/style.css"}),
            ("script", {"type": "text/javascript", "src": "main.js"}),
            ("body", {}),
            ("div", {"id": "body_el", "class": "initBODY"}),
            ("div", {"id": "log", "style": "position: absolute; left: 20px; top: 150px; color:#FF0000;"}),
        ])
        self.assertIn("<title>Velmora</title>", text)
        self.assertIn('<div id="body_el" class="initBODY"></div>', text)

    def test_style_css_rules_in_order(self):
        css = self.files["css/style.css"].decode("utf-8")
        rules = [(sel.strip(), [d.strip() for d in body.split(";") if d.strip()])
                 for sel, body in re.findall(r"([^{}]+)\{([^}]*)\}", css)]
        self.assertEqual(rules, [
            ("*", ["font-family: Arial, sans-serif"]),
            ("body", ["margin: auto", "background-color: transparent", "color: #FFFFFF"]),
            (".loading_bar_tizen", ["position: absolute", "top: 465px", "left: 885px", "width: 100px",
                                    "height: 100px", "background-color: rgba(0,0,32,0.66)",
                                    "border-radius: 16px 16px 16px 16px", "z-index: 3"]),
        ])

    def test_main_js_carries_the_portal_url(self):
        self.assertIn(('decodeURIComponent("%s")' % ARGS.portal_url).encode(), self.files["main.js"])
        self.assertIn(b'var ppath = "";', self.files["main.js"])
        self.assertIn(b'var filename = "tizen_start.php";', self.files["main.js"])

    def test_icon_is_117_square_rgba_not_interlaced(self):
        png = self.files["wgt_ico.png"]
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        length, kind = struct.unpack_from(">I4s", png, 8)
        self.assertEqual((length, kind), (13, b"IHDR"))
        self.assertEqual(struct.unpack_from(">IIBBBBB", png, 16), (117, 117, 8, 6, 0, 0, 0))

    def test_text_files_are_utf8_with_line_feeds(self):
        for name in ["config.xml", "main.js", "index.html", "css/style.css", "author-signature.xml",
                     "signature1.xml"]:
            self.files[name].decode("utf-8")
            self.assertNotIn(b"\r", self.files[name], name)
            self.assertFalse(self.files[name].startswith(b"\xef\xbb\xbf"), name)


class Signatures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="wgtcheck-")
        cls.dir = os.path.join(cls.tmp, "pkg")
        unpack_to(cls.dir)
        cls.text = {r: read(os.path.join(cls.dir, f)) for r, f in SIG_FILE.items()}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_xmlsec1_accepts_both(self):
        for role in SIG_FILE:
            ok, out = xmlsec_verify(self.dir, role)
            self.assertTrue(ok, role + ":\n" + out)

    def test_any_changed_byte_breaks_verification(self):
        # One byte flipped at a few places in every file; the signatures that cover it must fail.
        control = os.path.join(self.tmp, "control")
        shutil.copytree(self.dir, control)
        for role in SIG_FILE:
            ok, out = xmlsec_verify(control, role)
            self.assertTrue(ok, "the untouched copy must verify (%s):\n%s" % (role, out))
        for name in ENTRIES[1:]:
            original = read(os.path.join(self.dir, name))
            for at in (0, len(original) // 2, len(original) - 1):
                with self.subTest(file=name, at=at):
                    work = os.path.join(self.tmp, "tampered")
                    shutil.rmtree(work, ignore_errors=True)
                    shutil.copytree(self.dir, work)
                    changed = bytearray(original)
                    changed[at] ^= 0x01
                    with open(os.path.join(work, name), "wb") as f:
                        f.write(changed)
                    roles = ["distributor"] if name == "signature1.xml" else ["author", "distributor"]
                    for role in roles:
                        ok, out = xmlsec_verify(work, role)
                        self.assertFalse(ok, "%s still verifies with %s changed at %d" % (role, name, at))

    def test_the_wrong_trust_anchor_is_refused(self):
        r = subprocess.run(["xmlsec1", "--verify", "--trusted-pem", ARGS.distributor_ca, SIG_FILE["author"]],
                           cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("certificate verification failed", r.stdout)

    def references(self, role):
        root = ET.fromstring(self.text[role])
        return [(ref.get("URI"), ref.find(DSIG + "DigestValue").text)
                for ref in root.find(DSIG + "SignedInfo").findall(DSIG + "Reference")]

    def test_references_cover_every_file_in_order(self):
        uris = [f.replace("/", "%2F") for f in FILES]
        self.assertEqual([u for u, _ in self.references("author")], uris + ["#prop"])
        self.assertEqual([u for u, _ in self.references("distributor")],
                         ["author-signature.xml"] + uris + ["#prop"])

    def test_file_digests_are_sha256_of_the_stored_bytes(self):
        for role in SIG_FILE:
            for uri, digest in self.references(role)[:-1]:
                data = read(os.path.join(self.dir, uri.replace("%2F", "/")))
                self.assertEqual(digest, base64.b64encode(hashlib.sha256(data).digest()).decode(), uri)

    def test_prop_digests_are_the_constants(self):
        for role in SIG_FILE:
            self.assertEqual(self.references(role)[-1], ("#prop", PROP_DIGEST[role]))

    def test_signature_value_and_key_sizes(self):
        for role, size in (("author", 256), ("distributor", 128)):
            root = ET.fromstring(self.text[role])
            value = base64.b64decode(root.find(DSIG + "SignatureValue").text)
            self.assertEqual(len(value), size, role)
            certs = root.find(DSIG + "KeyInfo").find(DSIG + "X509Data").findall(DSIG + "X509Certificate")
            self.assertEqual(len(certs), 2, role + ": signer, then its issuing CA")

    def test_same_shape_as_the_platform_signed_sample(self):
        for role in SIG_FILE:
            with self.subTest(role=role):
                ours = self.text[role].decode("utf-8")
                theirs = read(os.path.join(ARGS.sample, SIG_FILE[role])).decode("utf-8")
                self.assertEqual(shape(ours), shape(theirs))
                self.assertFalse(ours.endswith("\n"))
                # The Object line does not vary at all.
                self.assertEqual(ours.splitlines()[-2], theirs.splitlines()[-2])
                self.assertEqual(element_shape(ET.fromstring(ours)), element_shape(ET.fromstring(theirs)))


def shape(text):
    """The lines of a signature with the values that differ between packages made abstract:
    each run of Base64 lines becomes one "BASE64" marker (after checking the 76-column wrap),
    digests and file reference URIs become markers."""
    out = []
    run = []
    for line in text.split("\n"):
        if B64_LINE.match(line) and not line.startswith("<"):
            run.append(line)
            continue
        if run:
            assert all(len(l) == 76 for l in run[:-1]) and 0 < len(run[-1]) <= 76, "Base64 not wrapped at 76"
            out.append("BASE64")
            run = []
        line = re.sub(r"<DigestValue>[A-Za-z0-9+/=]{44}</DigestValue>", "<DigestValue>DIGEST</DigestValue>", line)
        line = re.sub(r'<Reference URI="(?!#prop)[^"]+">', '<Reference URI="FILE">', line)
        out.append(line)
    return out


def element_shape(el):
    """Element names, attribute names and the attribute values that must match, depth first;
    file reference URIs and character data left out."""
    attrs = {k: (v if k != "URI" or v.startswith("#") or v.startswith("http") else "FILE")
             for k, v in el.attrib.items()}
    return [(el.tag, sorted(attrs.items()))] + [s for c in el for s in element_shape(c)]


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for opt in ("wgt", "author-ca", "distributor-ca", "sample", "mtime", "portal-url", "widget-host",
                "author-href", "author-email"):
        p.add_argument("--" + opt, required=True)
    ARGS, rest = p.parse_known_args()
    for opt in ("wgt", "author_ca", "distributor_ca", "sample"):
        setattr(ARGS, opt, os.path.abspath(getattr(ARGS, opt)))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
