#!/usr/bin/env python3
"""Interoperability with real peers: a throwaway OpenLDAP server on a free
loopback port, entries whose attribute lines were written by kestrin and by
ekva2ldif, loaded with ldapadd, read back with ldapsearch and python-ldap and
checked byte for byte; then the server's own LDIF (ldapsearch, slapcat) read
with the library and compared with what python-ldap reads from the same text.
Then: the server's schema LDIF files (and a few hand-made ones) read by the
library, by libldap and by python-ldap, compared record by record; a
userCertificate;binary value written by the tool, and language-tagged and
;binary values passed through ldif2ekva and ekva2ldif, loaded into the server
and read back; a modify record passed through ldif2ekva and ekva2ldif and
applied with ldapmodify.

Usage: interop.py KESTRIN HELPER    (exit 77: peers not installed)"""
import base64
import glob
import io
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
SUFFIX = "dc=example,dc=org"
ADMIN = "cn=admin," + SUFFIX
SECRET = "secret"

try:
    import ldap
    import ldif
except ImportError:
    print("python-ldap is not installed: skipped")
    sys.exit(SKIP)
for tool in ("slapd", "slapcat", "slapadd", "ldapadd", "ldapmodify", "ldapsearch"):
    if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
        print(f"{tool} is not installed: skipped")
        sys.exit(SKIP)

KESTRIN, HELPER = sys.argv[1], sys.argv[2]
SLAPD = shutil.which("slapd") or "/usr/sbin/slapd"
SLAPCAT = shutil.which("slapcat") or "/usr/sbin/slapcat"
SLAPADD = shutil.which("slapadd") or "/usr/sbin/slapadd"
SCHEMA_DIR = "/etc/ldap/schema"
NETLDAP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "netldap.pl")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def kestrin_line(attr, value, *flags):
    """One attribute line written by the tool, the value given on stdin."""
    out = subprocess.run([KESTRIN, "-a", attr, *flags], input=value, capture_output=True, check=True)
    return out.stdout


def kestrin_entry(values):
    lines = [kestrin_line("dn", values["dn"][0])]
    for attr, vals in values.items():
        if attr != "dn":
            lines += [kestrin_line(attr, v) for v in vals]
    return b"".join(lines)


def python_reading(path):
    """{dn: {attr: [bytes]}} as python-ldap's LDIFParser reads the file."""
    class Collect(ldif.LDIFParser):
        def __init__(self, f):
            super().__init__(f)
            self.entries = {}

        def handle(self, dn, entry):
            self.entries[dn] = entry

    with open(path, "rb") as f:
        parser = Collect(f)
        parser.parse()
    return parser.entries


def library_readings(path):
    """The two readings of the helper: {reader: {dn: {attr: [bytes]}}}."""
    out = subprocess.run([HELPER, "dump", path], capture_output=True, check=True).stdout.decode()
    readings = {"set": {}, "query": {}}
    for line in out.splitlines():
        reader, dn, attr, value = line.split("\t")
        readings[reader].setdefault(dn, {}).setdefault(attr, []).append(base64.b64decode(value))
    return readings


def compare_readings(path, label):
    expected = python_reading(path)
    check(len(expected) > 0, f"{label}: python-ldap read no entry")
    for reader, got in library_readings(path).items():
        check(got == expected, f"{label}: the library ({reader}) and python-ldap read different values")
        if got != expected:
            for dn in expected:
                if got.get(dn) != expected[dn]:
                    print("  python:", dn, expected[dn])
                    print("  library:", dn, got.get(dn))


def start_server(work, tag="", schemas=("core", "cosine", "inetorgperson")):
    """A fresh slapd on a free loopback port, its files under work (named with tag): (process,
    url, configuration path)."""
    url = f"ldap://127.0.0.1:{free_port()}"
    os.mkdir(os.path.join(work, "db" + tag))
    conf = os.path.join(work, f"slapd{tag}.conf")
    with open(conf, "w") as f:
        f.write("".join(f"include /etc/ldap/schema/{s}.schema\n" for s in schemas))
        f.write(f"pidfile {work}/slapd{tag}.pid\nargsfile {work}/slapd{tag}.args\n")
        f.write("modulepath /usr/lib/ldap\nmoduleload back_mdb\n")
        f.write(f'database mdb\nsuffix "{SUFFIX}"\nrootdn "{ADMIN}"\nrootpw {SECRET}\n')
        f.write(f"directory {work}/db{tag}\nmaxsize 104857600\n")
    server = subprocess.Popen([SLAPD, "-f", conf, "-h", url + "/", "-d", "0"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    return server, url, conf


def stop_server(server):
    """Stops a server by its process id."""
    server.send_signal(signal.SIGTERM)
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def main():
    work = tempfile.mkdtemp(prefix="kestrin_interop_")
    server, url, conf = start_server(work)
    try:
        run(work, url, conf)
    finally:
        # Stop the server, whatever happened.
        stop_server(server)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("interop ok")
    return 0


def wait_for(url):
    for _ in range(100):
        if subprocess.run(["ldapsearch", "-x", "-H", url, "-b", "", "-s", "base"], capture_output=True).returncode == 0:
            return
        time.sleep(0.1)
    raise RuntimeError("slapd did not start")


def run(work, url, conf):
    wait_for(url)
    photo = bytes([0, 255, 128, 10, 13, 0, 58, 60, 32]) + os.urandom(5000)
    long_text = ("a long description that goes well past one line " * 6).strip()
    tool_entry = {
        "dn": [b"uid=tool,ou=people," + SUFFIX.encode()],
        "objectClass": [b"inetOrgPerson"],
        "uid": [b"tool"],
        "cn": ["Jérôme Müller".encode()],
        "sn": [b" leading space"],
        "givenName": [b"trailing space "],
        "description": [long_text.encode(), b"line\nbreak", b":colon first", b"<less than first",
                        # Readers strip these after the colon of a plain value.
                        b"\tleading tab", b"\x0bleading vertical tab", b"\x0cleading form feed",
                        b"inner\ttab\x0bvt\x0cff"],
        # Raw bytes (slapd refuses the binary option on audio's syntax: raw
        # bytes under a ";binary" name go through userCertificate below).
        "audio": [b"plain text", b"\tplain\x00text\xff\x0b" + os.urandom(100)],
        "description;lang-de": ["Grüße aus Köln".encode(), b"Guten Tag"],
        "jpegPhoto": [photo],
        "userPassword": [b"s\x00cret\xff"],
    }
    base = (f"dn: {SUFFIX}\nobjectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n"
            f"dn: ou=people,{SUFFIX}\nobjectClass: organizationalUnit\nou: people\n\n").encode()
    manifest = os.path.join(work, "manifest.tsv")
    ekva_text = subprocess.run([HELPER, "make", manifest], capture_output=True, check=True).stdout
    data = base + kestrin_entry(tool_entry) + b"\n" + ekva_text + b"\n"
    data_path = os.path.join(work, "data.ldif")
    with open(data_path, "wb") as f:
        f.write(data)
    add = subprocess.run(["ldapadd", "-x", "-H", url, "-D", ADMIN, "-w", SECRET, "-f", data_path], capture_output=True)
    check(add.returncode == 0, "ldapadd failed: " + add.stderr.decode(errors="replace"))

    tool_attrs = {k: v for k, v in tool_entry.items() if k != "dn"}
    expected = {tool_entry["dn"][0].decode(): tool_attrs}
    with open(manifest) as f:
        for line in f:
            dn, attr, value = line.rstrip("\n").split("\t")
            expected.setdefault(dn, {}).setdefault(attr, []).append(base64.b64decode(value))

    # Read back with python-ldap over the wire.
    conn = ldap.initialize(url)
    conn.simple_bind_s(ADMIN, SECRET)
    for dn, attrs in expected.items():
        [(got_dn, got)] = conn.search_s(dn, ldap.SCOPE_BASE, attrlist=list(attrs))
        for attr, values in attrs.items():
            check(sorted(got.get(attr, [])) == sorted(values), f"python-ldap: {dn} {attr} differs")
    conn.unbind_s()

    # Read back with ldapsearch, and read its LDIF with the library.
    search_path = os.path.join(work, "search.ldif")
    with open(search_path, "wb") as f:
        subprocess.run(["ldapsearch", "-x", "-LLL", "-H", url, "-D", ADMIN, "-w", SECRET, "-b", SUFFIX],
                       stdout=f, check=True)
    from_search = python_reading(search_path)
    for dn, attrs in expected.items():
        for attr, values in attrs.items():
            check(sorted(from_search.get(dn, {}).get(attr, [])) == sorted(values), f"ldapsearch: {dn} {attr} differs")
    compare_readings(search_path, "ldapsearch output")
    for dn, attrs in expected.items():
        decode_back(url, dn, attrs, f"-d of {dn}")

    # The server's own dump.
    slapcat_path = os.path.join(work, "slapcat.ldif")
    with open(slapcat_path, "wb") as f:
        subprocess.run([SLAPCAT, "-f", conf], stdout=f, stderr=subprocess.DEVNULL, check=True)
    compare_readings(slapcat_path, "slapcat output")

    # The rest: each part on its own, so that one failing part does not hide the others.
    cert = make_certificate(work)
    parts = [("root DSE", lambda: root_dse(work, url)), ("schema files", schema_files),
             ("hand-made files", lambda: hand_made_files(work)), ("certificate", lambda: certificate(work, url, cert)),
             ("language tags", lambda: language_tags(work, url, cert)), ("modify", lambda: modify_record(work, url))]
    parts.append(("output options", lambda: check_output_options(work, url)))
    parts.append(("fold widths", lambda: fold_widths(work, url, conf, cert)))
    parts.append(("peer writers", lambda: peer_writers(work)))
    parts.append(("change records", lambda: change_records(work)))
    parts.append(("schema records", schema_records))
    for name, part in parts:
        try:
            part()
        except Exception as e:  # reported with the other failures
            check(False, f"{name}: {type(e).__name__}: {e}")


# ---------------------------------------------------------------------------
# Record-by-record readings of one file by the library, libldap and
# python-ldap. A record is an ordered list of (lower-cased name, value bytes),
# the dn first; python-ldap gives each record as a dn and a dict of value
# lists, so against it the records are compared grouped by name.

def helper_listing(mode, path):
    """[[(name, bytes)]] from the helper's "records" or "openldap" listing,
    None when the helper was built without libldap."""
    out = subprocess.run([HELPER, mode, path], capture_output=True)
    if mode == "openldap" and out.returncode == SKIP:
        return None
    check(out.returncode == 0, f"{os.path.basename(path)}: helper {mode} failed: "
          + out.stderr.decode(errors="replace") + out.stdout.decode(errors="replace")[-300:])
    records = []
    for line in out.stdout.decode().splitlines():
        if line == "record":
            records.append([])
            continue
        name, value = line.split("\t")
        if name == "error":
            check(False, f"{os.path.basename(path)}: libldap refused a line of the record ending at line {value}")
            continue
        records[-1].append((name.lower(), base64.b64decode(value, validate=True)))
    return records


def netldap_records(path):
    """[[(name, bytes)]] as Perl's Net::LDAP::LDIF reads the file (each entry's values grouped
    by attribute), None when Net::LDAP is not installed."""
    out = subprocess.run(["perl", NETLDAP, "read", path], capture_output=True)
    if out.returncode == SKIP:
        return None
    check(out.returncode == 0, f"{os.path.basename(path)}: Net::LDAP::LDIF failed: " + out.stderr.decode(errors="replace"))
    records = []
    for line in out.stdout.decode().splitlines():
        if line == "record":
            records.append([])
        else:
            name, value = line.split("\t")
            records[-1].append((name.lower(), base64.b64decode(value, validate=True)))
    return records


def python_records(path):
    """[(dn bytes, {lower-cased name: [bytes]})] as python-ldap's LDIFParser reads the file."""
    class Collect(ldif.LDIFParser):
        def __init__(self, f):
            super().__init__(f)
            self.records = []

        def handle(self, dn, entry):
            attrs = {}
            for name, values in entry.items():
                attrs.setdefault(name.lower(), []).extend(values)
            self.records.append((dn.encode(), attrs))

    with open(path, "rb") as f:
        parser = Collect(f)
        parser.parse()
    return parser.records


def grouped(record):
    """(dn bytes, {name: [bytes]}) of a record whose first pair is its dn."""
    if not record or record[0][0] != "dn":
        return (None, record)
    attrs = {}
    for name, value in record[1:]:
        attrs.setdefault(name, []).append(value)
    return (record[0][1], attrs)


def show_difference(label, ours, theirs):
    for i in range(max(len(ours), len(theirs))):
        a = ours[i] if i < len(ours) else None
        b = theirs[i] if i < len(theirs) else None
        if a != b:
            print(f"  {label} record {i + 1}:\n    library: {str(a)[:600]}\n    peer:    {str(b)[:600]}")
            return


def compare_three(path, label, with_python=True, with_libldap=True, with_netldap=True):
    """Checks that the library, libldap and python-ldap (and Net::LDAP, when it is there) read
    path alike."""
    ours = helper_listing("records", path)
    check(len(ours) > 0, f"{label}: the library read no record")
    if with_netldap:
        theirs = netldap_records(path)
        if theirs is None:
            print(f"{label}: Net::LDAP is not installed: its reading is not compared")
        else:
            ours_grouped = [grouped(r) for r in ours]
            theirs_grouped = [grouped(r) for r in theirs]
            check(ours_grouped == theirs_grouped, f"{label}: the library and Net::LDAP read different records")
            if ours_grouped != theirs_grouped:
                show_difference(label, ours_grouped, theirs_grouped)
    if with_libldap:
        theirs = helper_listing("openldap", path)
        if theirs is None:
            print(f"{label}: the helper was built without libldap: its reading is not compared")
        else:
            check(ours == theirs, f"{label}: the library and libldap read different records")
            if ours != theirs:
                show_difference(label, ours, theirs)
    if with_python:
        ours_grouped = [grouped(r) for r in ours]
        theirs = python_records(path)
        check(ours_grouped == theirs, f"{label}: the library and python-ldap read different records")
        if ours_grouped != theirs:
            show_difference(label, ours_grouped, theirs)


def schema_files():
    """The schema LDIF files slapd installs: long folded lines, comments inside the entry."""
    paths = sorted(glob.glob(os.path.join(SCHEMA_DIR, "*.ldif")))
    check(len(paths) > 0, f"no schema LDIF file under {SCHEMA_DIR}")
    for path in paths:
        compare_three(path, "schema " + os.path.basename(path))


def hand_made_files(work):
    """The fill after the marker and the empty dn, in the forms both peers read as RFC 2849 does
    (an empty base64 value is left out: the library gives no pair for it)."""
    fills = os.path.join(work, "fills.ldif")
    with open(fills, "wb") as f:
        f.write(b"dn:\nobjectClass: top\nentryDN:\n\n"
                b"dn:  cn=two spaces,dc=example,dc=org\ncn:foo\ncn:   x\ncn:\ncn:   \n"
                b"cn:  inner  and trailing  \ndescription::   w4Q=\nsn:\tleading tab\n\n"
                b"dn:: Y249YmFzZTY0LGRjPWV4YW1wbGUsZGM9b3Jn\ncn: base64 dn\n")
    # libldap and Net::LDAP skip every white space byte after the colon,
    # python-ldap keeps a tab right after it: the tab line is compared with
    # python-ldap only.
    compare_three(fills, "hand-made fills", with_libldap=False, with_netldap=False)
    no_tab = os.path.join(work, "fills_no_tab.ldif")
    with open(fills, "rb") as f, open(no_tab, "wb") as g:
        g.write(f.read().replace(b"sn:\tleading tab\n", b""))
    compare_three(no_tab, "hand-made fills (no tab)")
    # python-ldap and Net::LDAP want "dn" in lower case; libldap takes any case.
    upper = os.path.join(work, "upper_dn.ldif")
    with open(upper, "wb") as f:
        f.write(b"DN: cn=upper,dc=example,dc=org\ncn: upper\n\nDn: cn=mixed,dc=example,dc=org\ncn: mixed\n")
    ours = helper_listing("records", upper)
    check([r[0] if r else None for r in ours] == [("dn", b"cn=upper,dc=example,dc=org"), ("dn", b"cn=mixed,dc=example,dc=org")],
          f"upper-case DN: the library read {ours}")
    compare_three(upper, "upper-case DN", with_python=False, with_netldap=False)


def logical_groups(text):
    """The logical lines of an LDIF text, each as the bytes of its physical lines."""
    groups = []
    for line in text.split(b"\n"):
        if line.startswith(b" ") and groups:
            groups[-1] += b"\n" + line
        else:
            groups.append(line)
    return [g + b"\n" for g in groups if g]


def decode_back(url, dn, want, label):
    """Every value of want ({description: [bytes]}) read back from ldapsearch -LLL output with
    kestrin -d: the output as a whole gives the first value printed, and each value line on its
    own after the dn line gives that value."""
    out = subprocess.run(["ldapsearch", "-x", "-LLL", "-H", url, "-D", ADMIN, "-w", SECRET, "-b", dn, "-s", "base",
                          *want], capture_output=True, check=True).stdout
    groups = logical_groups(out)
    for attr, values in want.items():
        whole = subprocess.run([KESTRIN, "-d", "-a", attr], input=out, capture_output=True)
        check(whole.returncode == 0 and whole.stdout in values,
              f"{label}: kestrin -d -a {attr} on ldapsearch output gave status {whole.returncode}, "
              f"{len(whole.stdout)} bytes: {whole.stderr.decode(errors='replace').strip()}")
        prefix = attr.lower().encode() + b":"
        mine = [g for g in groups if g.lower().startswith(prefix)]
        got = []
        for group in mine:
            one = subprocess.run([KESTRIN, "-d", "-a", attr.upper()], input=groups[0] + group, capture_output=True)
            check(one.returncode == 0, f"{label}: kestrin -d -a {attr.upper()} failed: {one.stderr!r}")
            got.append(one.stdout)
        check(sorted(got) == sorted(values), f"{label}: kestrin -d reads the values of {attr} back otherwise "
              f"({len(got)} of {len(values)} lines)")


def peer_writers(work):
    """LDIF that python-ldap's LDIFWriter and Net::LDAP::LDIF write, at several fold widths,
    turned back into each value by kestrin -d; the values sit one to an entry, under a
    description of their own, the certificate under userCertificate;binary."""
    values = [b"plain text", b"", b" leading space", b"trailing space ", b":colon", b"<less than",
              b"line\nbreak\r\n", b"\x00nul\x00", bytes(range(256)), "Grüße 日本語 😀".encode(),
              os.urandom(3000), ("a long line of text " * 40).encode(), base64.b64decode(FIXED_CERTIFICATE)]
    names = [f"description;x-value-{i}" for i in range(len(values) - 1)] + ["userCertificate;binary"]
    rows = [(f"cn=value {i},dc=example,dc=org", name, value) for i, (name, value) in enumerate(zip(names, values))]
    texts = {}
    for cols in (2, 40, 76, 1000):
        out = io.StringIO()
        writer = ldif.LDIFWriter(out, cols=cols)
        for dn, name, value in rows:
            writer.unparse(dn, {name: [value]})
        texts[f"python-ldap LDIFWriter(cols={cols})"] = out.getvalue().encode()
    for wrap in (0, 41, 76):
        path = os.path.join(work, f"netldap_{wrap}.ldif")
        tsv = "".join(f"{dn}\t{name}\t{base64.b64encode(value).decode()}\n" for dn, name, value in rows)
        made = subprocess.run(["perl", NETLDAP, "write", str(wrap), path], input=tsv.encode(), capture_output=True)
        if made.returncode == SKIP:
            print("Net::LDAP is not installed: its LDIF is not read back")
            break
        check(made.returncode == 0, "Net::LDAP::LDIF write failed: " + made.stderr.decode(errors="replace"))
        with open(path, "rb") as f:
            texts[f"Net::LDAP::LDIF(wrap={wrap})"] = f.read()
    for writer, text in texts.items():
        for name, value in zip(names, values):
            got = subprocess.run([KESTRIN, "-d", "-a", name], input=text, capture_output=True)
            check(got.returncode == 0 and got.stdout == value,
                  f"kestrin -d -a {name} on the LDIF of {writer}: status {got.returncode}, "
                  f"{len(got.stdout)} of {len(value)} bytes {'alike' if got.stdout == value else 'differ'}: "
                  + got.stderr.decode(errors="replace").strip())


def root_dse(work, url):
    """The root DSE as ldapsearch prints it: "dn:" and "entryDN:" with nothing after the colon."""
    path = os.path.join(work, "root_dse.ldif")
    with open(path, "wb") as f:
        subprocess.run(["ldapsearch", "-x", "-LLL", "-H", url, "-b", "", "-s", "base", "*", "+"], stdout=f, check=True)
    with open(path, "rb") as f:
        check(f.read().startswith(b"dn:\n"), "ldapsearch printed the root DSE without a bare dn: line")
    compare_three(path, "root DSE")
    compare_readings(path, "root DSE")


def search_entry(url, dn, attrs=None):
    conn = ldap.initialize(url)
    try:
        conn.simple_bind_s(ADMIN, SECRET)
        [(_, got)] = conn.search_s(dn, ldap.SCOPE_BASE, attrlist=attrs)
        return got
    finally:
        conn.unbind_s()


def ldap_tool(tool, url, path):
    return subprocess.run([tool, "-x", "-H", url, "-D", ADMIN, "-w", SECRET, "-f", path], capture_output=True)


def make_certificate(work):
    """DER bytes of a new self-signed certificate (openssl), else a fixed one."""
    if shutil.which("openssl"):
        der = os.path.join(work, "cert.der")
        made = subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes", "-subj", "/CN=kestrin", "-days", "2", "-keyout", os.path.join(work, "key.pem"),
                               "-outform", "DER", "-out", der], capture_output=True)
        if made.returncode == 0:
            with open(der, "rb") as f:
                return f.read()
    return base64.b64decode(FIXED_CERTIFICATE)


def certificate(work, url, cert):
    """Raw DER bytes under userCertificate;binary, written by the tool from a file."""
    der = os.path.join(work, "cert_in.der")
    with open(der, "wb") as f:
        f.write(cert)
    dn = "uid=cert,ou=people," + SUFFIX
    line = subprocess.run([KESTRIN, "-a", "userCertificate;binary", "-i", der], capture_output=True)
    check(line.returncode == 0, "kestrin -a userCertificate;binary failed: " + line.stderr.decode(errors="replace"))
    check(line.stdout.startswith(b"userCertificate;binary:: "),
          "kestrin -a userCertificate;binary printed " + repr(line.stdout[:40]))
    path = os.path.join(work, "cert.ldif")
    with open(path, "wb") as f:
        f.write(f"dn: {dn}\nobjectClass: inetOrgPerson\nuid: cert\ncn: cert\nsn: cert\n".encode() + line.stdout)
    add = ldap_tool("ldapadd", url, path)
    check(add.returncode == 0, "ldapadd of the tool's userCertificate;binary line failed: "
          + add.stderr.decode(errors="replace").strip())
    if add.returncode != 0:
        return
    got = search_entry(url, dn, ["userCertificate;binary"])
    check(got.get("userCertificate;binary") == [cert],
          f"userCertificate;binary read back differs: {sorted(got)} {len(got.get('userCertificate;binary', [b''])[0])} bytes")
    decode_back(url, dn, {"userCertificate;binary": [cert]}, "-d of the certificate")


def fold(line):
    """An LDIF line folded at 76 characters."""
    return "\n ".join(line[i:i + 76] for i in range(0, len(line), 76)) + "\n"


def language_tags(work, url, cert):
    """Attribute options kept through ldif2ekva and ekva2ldif: description;lang-de in
    plain and base64 form, userCertificate;binary; loaded and read back."""
    dn = "uid=lang,ou=people," + SUFFIX
    umlauts = "Grüße aus Köln".encode()
    source = (f"dn: {dn}\nobjectClass: inetOrgPerson\nuid: lang\ncn: lang\nsn: lang\n"
              "description;lang-de: Guten Tag\n"
              f"description;lang-de:: {base64.b64encode(umlauts).decode()}\n"
              "description: plain\n"
              + fold("userCertificate;binary:: " + base64.b64encode(cert).decode()))
    src_path = os.path.join(work, "lang_source.ldif")
    with open(src_path, "w") as f:
        f.write(source)
    out = subprocess.run([HELPER, "convert", src_path], capture_output=True)
    check(out.returncode == 0, "helper convert (lang-de) failed: " + out.stderr.decode(errors="replace"))
    text = out.stdout
    unfolded = text.replace(b"\n ", b"")
    for prefix in (b"\ndescription;lang-de: Guten Tag\n", b"\ndescription;lang-de:: ", b"\ndescription: plain\n",
                   b"\nuserCertificate;binary:: "):
        check(prefix in unfolded, f"ekva2ldif(ldif2ekva()) lost {prefix.strip()!r}: {unfolded.decode(errors='replace')[:600]}")
    path = os.path.join(work, "lang.ldif")
    with open(path, "wb") as f:
        f.write(text)
    add = ldap_tool("ldapadd", url, path)
    check(add.returncode == 0, "ldapadd of ekva2ldif(ldif2ekva()) with lang-de failed: "
          + add.stderr.decode(errors="replace").strip())
    if add.returncode != 0:
        return
    got = search_entry(url, dn, ["description", "userCertificate;binary"])
    want = {"description;lang-de": sorted([b"Guten Tag", umlauts]), "description": [b"plain"],
            "userCertificate;binary": [cert]}
    check({k: sorted(v) for k, v in got.items()} == want,
          f"lang-de entry read back differs: {({k: [x[:40] for x in v] for k, v in got.items()})}")
    decode_back(url, dn, want, "-d of the lang-de entry")


MODIFY = """dn: {dn}
changetype: modify
replace: description
description: replaced
description:: {leading}
-
add: mail
mail: one@example.org
mail: two@example.org
-
delete: telephoneNumber
telephoneNumber: +1 555 0100
-
delete: title
-
add: description;lang-de
description;lang-de:: {umlauts}
-
replace: displayName
displayName: Zoë
-
"""


def modify_record(work, url):
    """A modify record through ldif2ekva and ekva2ldif, applied with ldapmodify,
    leaves the entry as the original text does on a twin entry."""
    dns = {k: f"uid=mod-{k},ou=people,{SUFFIX}" for k in ("text", "ekva")}
    entries = "".join(f"dn: {dn}\nobjectClass: inetOrgPerson\nuid: mod-{k}\ncn: mod\nsn: mod\n"
                      "description: first\ndescription: second\ntitle: Dr\ntitle: Prof\n"
                      "telephoneNumber: +1 555 0100\ntelephoneNumber: +1 555 0101\n\n"
                      for k, dn in dns.items())
    path = os.path.join(work, "mod_entries.ldif")
    with open(path, "w") as f:
        f.write(entries)
    add = ldap_tool("ldapadd", url, path)
    check(add.returncode == 0, "ldapadd of the modify twins failed: " + add.stderr.decode(errors="replace").strip())
    if add.returncode != 0:
        return
    fields = {"leading": base64.b64encode(b" leading space").decode(),
              "umlauts": base64.b64encode("Äpfel".encode()).decode()}
    text_path = os.path.join(work, "mod_text.ldif")
    with open(text_path, "w") as f:
        f.write(MODIFY.format(dn=dns["text"], **fields))
    source_path = os.path.join(work, "mod_source.ldif")
    with open(source_path, "w") as f:
        f.write(MODIFY.format(dn=dns["ekva"], **fields))
    out = subprocess.run([HELPER, "convert", source_path], capture_output=True)
    check(out.returncode == 0, "helper convert (modify) failed: " + out.stderr.decode(errors="replace"))
    lines = out.stdout.decode(errors="replace").split("\n")
    check(lines.count("-") == MODIFY.split("\n").count("-") and not any(l.startswith("-:") for l in lines),
          "ekva2ldif(ldif2ekva()) of the modify record does not separate the changes with '-' lines:\n"
          + out.stdout.decode(errors="replace"))
    ekva_path = os.path.join(work, "mod_ekva.ldif")
    with open(ekva_path, "wb") as f:
        f.write(out.stdout)
    by_text = ldap_tool("ldapmodify", url, text_path)
    check(by_text.returncode == 0, "ldapmodify of the modify record as written failed: "
          + by_text.stderr.decode(errors="replace").strip())
    by_ekva = ldap_tool("ldapmodify", url, ekva_path)
    check(by_ekva.returncode == 0, "ldapmodify of ekva2ldif(ldif2ekva(modify record)) failed: "
          + by_ekva.stderr.decode(errors="replace").strip())
    result = {}
    for k, dn in dns.items():
        got = search_entry(url, dn)
        got.pop("uid", None)
        result[k] = {name: sorted(values) for name, values in got.items()}
    want = {"objectClass": [b"inetOrgPerson"], "cn": [b"mod"], "sn": [b"mod"],
            "description": sorted([b"replaced", b" leading space"]), "mail": [b"one@example.org", b"two@example.org"],
            "telephoneNumber": [b"+1 555 0101"], "description;lang-de": ["Äpfel".encode()],
            "displayName": ["Zoë".encode()]}
    check(result["text"] == want, f"the modify record as written gave {result['text']}")
    check(result["ekva"] == result["text"],
          f"the modify record through ldif2ekva/ekva2ldif gave {result['ekva']}, as written {result['text']}")


# Entries and change records of every type mixed, as directory exports write
# them (the first members of a group in its entry, more in a modify record):
# controls with and without a value, increment, a last "-" left out, moddn
# with newsuperior, folded and base64 values, CR LF line ends in one record.
CHANGES = """version: 1

dn: {s}
objectClass: dcObject
objectClass: organization
dc: example
o: Example

dn: ou=people,{s}
objectClass: organizationalUnit
ou: people

dn: ou=groups,{s}
changetype: add
objectClass: organizationalUnit
ou: groups

dn: uid=ann,ou=people,{s}
objectClass: inetOrgPerson
objectClass: posixAccount
uid: ann
cn:: QW5uIEPDqWxpbmU=
sn: Example
uidNumber: 1000
gidNumber: 100
homeDirectory: /home/ann
description: a long description that goes past the fold of seventy-seven char
 acters, folded as writers fold
telephoneNumber: +1 555 0100
telephoneNumber: +1 555 0101
jpegPhoto:: {photo}

dn: uid=bob,ou=people,{s}\r
control: 2.16.840.1.113730.3.4.2 false\r
changetype: add\r
objectClass: inetOrgPerson\r
uid: bob\r
cn: Bob\r
sn: Example\r
\r
dn: uid=ann,ou=people,{s}
control: 1.3.6.1.1.12 true:: hwtvYmplY3RDbGFzcw==
changetype: modify
add: mail
mail: ann@example.org
mail: ann.alias@example.org
-
replace: description
description:: IGxlYWRpbmcgc3BhY2U=
-
delete: telephoneNumber
telephoneNumber: +1 555 0100
-
increment: uidNumber
uidNumber: 5

dn: cn=staff,ou=groups,{s}
objectClass: groupOfNames
cn: staff
member: uid=ann,ou=people,{s}

dn: cn=staff,ou=groups,{s}
changetype: modify
add: member
member: uid=bob,ou=people,{s}
-

dn: uid=cid,ou=people,{s}
objectClass: inetOrgPerson
uid: cid
cn: Cid
sn: Example

dn: uid=cid,ou=people,{s}
changetype: modrdn
newrdn: uid=dee
deleteoldrdn: 1

dn: uid=bob,ou=people,{s}
changetype: moddn
newrdn: cn=Bob
deleteoldrdn: 0
newsuperior: ou=groups,{s}

dn: uid=eve,ou=people,{s}
objectClass: inetOrgPerson
uid: eve
cn: Eve
sn: Example

dn: uid=eve,ou=people,{s}
control: 2.16.840.1.113730.3.4.2 false
changetype: delete
"""

OPERATIONAL = {"entryuuid", "entrycsn", "createtimestamp", "modifytimestamp", "creatorsname", "modifiersname"}


def server_content(conf):
    """{dn: {name: sorted values}} of a server's slapcat, operational attributes left out."""
    dump = conf + ".slapcat.ldif"
    with open(dump, "wb") as f:
        subprocess.run([SLAPCAT, "-f", conf], stdout=f, stderr=subprocess.DEVNULL, check=True)
    return {dn: {name: sorted(values) for name, values in attrs.items() if name not in OPERATIONAL}
            for dn, attrs in python_records(dump)}


def record_structure(path):
    """The helper's listing of the records of a file (every part of each record's structure)."""
    out = subprocess.run([HELPER, "changes", path], capture_output=True)
    check(out.returncode == 0, f"{os.path.basename(path)}: the record reader refused it: "
          + out.stdout.decode(errors="replace")[-300:])
    return out.stdout


def written_back(work, path, *args):
    """The file's records read and written back by the library (helper rewrite), as a new file."""
    out = subprocess.run([HELPER, "rewrite", path, *args], capture_output=True)
    check(out.returncode == 0, f"{os.path.basename(path)}: helper rewrite failed: " + out.stderr.decode(errors="replace"))
    back = os.path.join(work, os.path.basename(path) + ".back")
    with open(back, "wb") as f:
        f.write(out.stdout)
    return back


def change_records(work):
    """The mixed file applied with ldapmodify -a -c to a fresh server, the same records read and
    written back by the library applied to a second one: both servers hold the same; kestrin -c
    finds no error, and the file read, written back and read again gives the same records."""
    photo = base64.b64encode(os.urandom(300)).decode()
    photo = "\n ".join(photo[i:i + 76] for i in range(0, len(photo), 76))
    path = os.path.join(work, "changes.ldif")
    with open(path, "wb") as f:
        f.write(CHANGES.format(s=SUFFIX, photo=photo).encode())
    checked = subprocess.run([KESTRIN, "-c", path], capture_output=True)
    check(checked.returncode == 0 and checked.stdout ==
          b"6 entries, 7 change records (2 add, 1 delete, 2 modify, 2 modrdn), 0 errors\n",
          "kestrin -c on the change records: " + checked.stdout.decode(errors="replace"))
    back = written_back(work, path, "30", str(5))  # folded at 30, UTF-8 kept readable
    check(record_structure(back) == record_structure(path), "the change records read back differ")
    schemas = ("core", "cosine", "nis", "inetorgperson")
    servers = [start_server(work, tag, schemas) for tag in ("_changes_a", "_changes_b")]
    try:
        contents = []
        for (_, url, conf), ldif in zip(servers, (path, back)):
            wait_for(url)
            applied = subprocess.run(["ldapmodify", "-a", "-c", "-x", "-H", url, "-D", ADMIN, "-w", SECRET, "-f", ldif],
                                     capture_output=True)
            check(applied.returncode == 0, f"ldapmodify -a -c of {os.path.basename(ldif)} failed: "
                  + applied.stderr.decode(errors="replace").strip())
            contents.append(server_content(conf))
        check(len(contents[0]) == 7, f"the change records left {len(contents[0])} entries, not 7")
        check(contents[0] == contents[1], "the servers differ after the records as written and as written back")
        ann = contents[0].get(f"uid=ann,ou=people,{SUFFIX}".encode(), {})
        check(ann.get("uidnumber") == [b"1005"] and ann.get("description") == [b" leading space"],
              f"the modify record did not apply: {ann}")
    finally:
        for server, _, _ in servers:
            stop_server(server)


def schema_records():
    """The schema LDIF files slapd installs: read, written back, read again: the same records."""
    work = tempfile.mkdtemp(prefix="kestrin_schema_")
    try:
        for path in sorted(glob.glob(os.path.join(SCHEMA_DIR, "*.ldif"))):
            checked = subprocess.run([KESTRIN, "-c", path], capture_output=True)
            check(checked.returncode == 0, f"kestrin -c {path}: " + checked.stdout.decode(errors="replace")[-300:])
            check(record_structure(written_back(work, path)) == record_structure(path),
                  f"{os.path.basename(path)}: the records read back differ")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def physical_lines_ok(text, width=77):
    """Whether every physical line of an LDIF text is at most width bytes and,
    on its own, well-formed UTF-8 (no fold inside a character)."""
    for line in text.split(b"\n"):
        if len(line) > width:
            return False
        try:
            line.decode("utf-8")
        except UnicodeDecodeError:
            return False
    return True


def check_output_options(work, url):
    """Values written with -u (UTF-8 text kept readable) and -w 0 (one line, no fold), loaded
    with ldapadd and read back byte for byte with ldapsearch and python-ldap; then a dn of 300
    UTF-8 characters written by ekva2ldif, loaded and read back."""
    texts = ["Ångström Jérôme Müller Ærøskøbing",           # Latin
             "Ελληνικά γράμματα",                            # Greek
             "日本語のテキスト 中文 한국어",                   # CJK
             "😀🎉 party 👍🏽",                               # emoji (and a modifier)
             "Ame\u0301lie e\u0301te\u0301"]                  # e and a combining acute accent
    long_utf8 = "".join(texts) * 8                           # folds between characters
    flat_ascii = ("one hundred kilobytes on one line " * 3000)[:99996] + "end."
    flat_utf8 = ("Grüße αβγ 日本 😀 " * 7000)[:55000] + "Ende"  # some 100 KB too
    dn = "uid=utf8,ou=people," + SUFFIX
    # (attribute, value bytes, the tool's options, the value as it is given on standard input)
    written = [("cn", t.encode(), ("-u",), t.encode()) for t in texts]
    written += [("description", t.encode(), ("--utf8",), t.encode()) for t in texts]
    written += [("description", long_utf8.encode(), ("-u",), long_utf8.encode()),
                ("description", flat_ascii.encode(), ("-w", "0"), flat_ascii.encode()),
                ("description", flat_utf8.encode(), ("-u", "-w", "0"), flat_utf8.encode()),
                ("sn", "Zoë Ünïcødé".encode(), ("-u", "-n"), "Zoë Ünïcødé\n".encode())]
    lines = []
    for attr, value, flags, given in written:
        line = kestrin_line(attr, given, *flags)
        label = f"kestrin {' '.join(flags)} -a {attr} ({len(value)} bytes)"
        check(line.startswith(attr.encode() + b": "), f"{label} did not write a plain line: {line[:60]!r}")
        check(line.replace(b"\n ", b"") == attr.encode() + b": " + value + b"\n", f"{label} wrote other bytes")
        if "0" in flags:
            folds = line.count(b"\n") - 1
            check(folds == 0, f"{label} folded the line {folds} times")
        else:
            check(physical_lines_ok(line), f"{label}: a physical line is too long or cuts a character")
        lines.append(line)
    path = os.path.join(work, "utf8.ldif")
    with open(path, "wb") as f:
        f.write(f"dn: {dn}\nobjectClass: inetOrgPerson\nuid: utf8\n".encode() + b"".join(lines))
    want = {}
    for attr, value, _, _ in written:
        want.setdefault(attr, []).append(value)
    want = {attr: sorted(values) for attr, values in want.items()}
    own = python_reading(path).get(dn, {})
    check({a: sorted(own.get(a, [])) for a in want} == want, "python-ldap's LDIF parser reads the tool's -u/-w 0 lines otherwise")
    perl = netldap_records(path)
    if perl is not None:
        perl_values = {}
        for name, value in (perl[0] if perl else []):
            perl_values.setdefault(name, []).append(value)
        check({a: sorted(perl_values.get(a.lower(), [])) for a in want} == want,
              "Net::LDAP::LDIF reads the tool's -u/-w 0 lines otherwise")
    add = ldap_tool("ldapadd", url, path)
    check(add.returncode == 0, "ldapadd of the -u/-w 0 entry failed: " + add.stderr.decode(errors="replace").strip())
    if add.returncode == 0:
        got = search_entry(url, dn, list(want))
        for attr, values in want.items():
            check(sorted(got.get(attr, [])) == values, f"-u/-w 0 entry: python-ldap reads {attr} back otherwise")
        search_path = os.path.join(work, "utf8_search.ldif")
        with open(search_path, "wb") as f:
            subprocess.run(["ldapsearch", "-x", "-LLL", "-H", url, "-D", ADMIN, "-w", SECRET, "-b", dn, "-s", "base",
                            *want], stdout=f, check=True)
        from_search = python_reading(search_path).get(dn, {})
        for attr, values in want.items():
            check(sorted(from_search.get(attr, [])) == values, f"-u/-w 0 entry: ldapsearch reads {attr} back otherwise")
        decode_back(url, dn, want, "-d of the -u/-w 0 entry")

    # A dn of 300 characters of two, three and four bytes (over 900 bytes), written by
    # ekva2ldif. The server's database keeps an RDN to some 240 bytes: the 300 characters are
    # four RDNs of 75, each with its own entry.
    chars = ["é", "λ", "ж", "日", "語", "€", "😀", "𐍈", "🎉"]
    values = ["".join(chars[(i + level) % len(chars)] for i in range(75)) for level in range(4)]
    dns, parent = [], "ou=people," + SUFFIX
    for level, value in enumerate(values):
        parent = f"{'cn' if level == 3 else 'ou'}={value},{parent}"
        dns.append(parent)
    long_dn = dns[-1]
    check(sum(len(v) for v in values) == 300 and len(long_dn.encode()) > 900, "the long dn is not what it should be")
    records = [[("dn", dns[level]), ("objectClass", "organizationalUnit"), ("ou", values[level])] for level in range(3)]
    records.append([("dn", long_dn), ("objectClass", "inetOrgPerson"), ("cn", values[3]), ("sn", "long dn"),
                    ("description", "".join(values))])
    texts = []
    for i, pairs in enumerate(records):
        tsv = os.path.join(work, f"long_dn_{i}.tsv")
        with open(tsv, "w") as f:
            f.write("".join(f"{k}\t{base64.b64encode(v.encode()).decode()}\n" for k, v in pairs))
        out = subprocess.run([HELPER, "ekva", tsv], capture_output=True)
        check(out.returncode == 0, "helper ekva failed: " + out.stderr.decode(errors="replace"))
        if out.returncode != 0:
            return
        first = out.stdout.replace(b"\n ", b"").split(b"\n")[0]
        check(first == b"dn: " + pairs[0][1].encode(), f"ekva2ldif wrote the dn {first[:80]!r}...")
        check(physical_lines_ok(out.stdout), "ekva2ldif: a physical line of a long-dn entry is too long or cuts a character")
        texts.append(out.stdout)
    path = os.path.join(work, "long_dn.ldif")
    with open(path, "wb") as f:
        f.write(b"\n".join(texts))
    check(list(python_reading(path)) == dns, "python-ldap's LDIF parser reads the long dns otherwise")
    add = ldap_tool("ldapadd", url, path)
    check(add.returncode == 0, "ldapadd of the long-dn entries failed: " + add.stderr.decode(errors="replace").strip())
    if add.returncode != 0:
        return
    conn = ldap.initialize(url)
    try:
        conn.simple_bind_s(ADMIN, SECRET)
        found = conn.search_s("ou=people," + SUFFIX, ldap.SCOPE_SUBTREE, "(sn=long dn)", ["cn", "description"])
    finally:
        conn.unbind_s()
    check([d for d, _ in found] == [long_dn], f"python-ldap returns the long dn as {[d[:60] for d, _ in found]}")
    if len(found) == 1:
        check(found[0][1].get("cn") == [values[3].encode()]
              and found[0][1].get("description") == ["".join(values).encode()],
              "python-ldap reads the long-dn entry's cn or description back otherwise")
    search_path = os.path.join(work, "long_dn_search.ldif")
    with open(search_path, "wb") as f:
        subprocess.run(["ldapsearch", "-x", "-LLL", "-H", url, "-D", ADMIN, "-w", SECRET, "-b", long_dn, "-s", "base"],
                       stdout=f, check=True)
    check(list(python_reading(search_path)) == [long_dn], "ldapsearch returns the long dn otherwise")


def fold_widths(work, url, conf, cert):
    """Entries written at fold widths 2, 3, 10 and 77, by the tool (-w) and by ekva2ldif_wrap: a
    dn of 100 characters, short names, description;lang-de in UTF-8 (-u), userCertificate;binary,
    a value that ends in a space. No fold inside an attribute description or a UTF-8 character;
    the library, libldap, python-ldap and Net::LDAP read the file alike and as written; slapadd
    (dry run) and ldapadd -n take it; ldapadd loads it and every value reads back byte for byte,
    over the wire and from ldapsearch output through kestrin -d."""
    dry = os.path.join(work, "slapd_dry.conf")
    os.makedirs(os.path.join(work, "db_dry"), exist_ok=True)
    with open(conf) as f, open(dry, "w") as g:
        g.write(f.read().replace(f"directory {work}/db\n", f"directory {work}/db_dry\n"))
    photo = os.urandom(500)
    for width in (2, 3, 10, 77):
        w = str(width)
        entries = {}
        # The tool, one line per value.
        rdn = f"w{width:02d} tool " + "x" * 60
        dn = f"cn={rdn[:69]},ou=people,{SUFFIX}"
        values = {"objectClass": [b"inetOrgPerson"], "cn": [rdn[:69].encode()], "sn": [b"s"],
                  "description": [("a long description " * 10).encode(), b"trailing space ", b":colon first"],
                  "description;lang-de": ["Grüße aus Köln, 日本, 😀x".encode()],
                  "userCertificate;binary": [cert], "jpegPhoto": [photo]}
        text = kestrin_line("dn", dn.encode(), "-w", w)
        for attr, vals in values.items():
            for v in vals:
                text += kestrin_line(attr, v, "-w", w, *(("-u",) if attr.endswith("lang-de") else ()))
        entries[dn] = (text, values)
        # ekva2ldif_wrap: the dn in UTF-8; the certificate as its base64 text under the key
        # ldif2ekva gives it, "userCertificate;binary;binary" (the last ";binary" marks the
        # base64 text and is left out of the printed name).
        rdn = f"w{width:02d} ekva é" + "y" * 60
        dn = f"cn={rdn[:69]},ou=people,{SUFFIX}"
        values = {"objectClass": [b"inetOrgPerson"], "cn": [rdn[:69].encode()], "sn": [b"trailing "],
                  "description;lang-de": ["Grüße 😀".encode()], "userCertificate;binary": [cert]}
        tsv = os.path.join(work, f"widths_{width}.tsv")
        with open(tsv, "w") as f:
            f.write(f"dn\t{base64.b64encode(dn.encode()).decode()}\n")
            for attr, vals in values.items():
                for v in vals:
                    if attr.endswith(";binary"):
                        attr, v = attr + ";binary", base64.b64encode(v)
                    f.write(f"{attr}\t{base64.b64encode(v).decode()}\n")
        made = subprocess.run([HELPER, "ekva", tsv, w], capture_output=True)
        check(made.returncode == 0, f"width {width}: helper ekva failed: " + made.stderr.decode(errors="replace"))
        entries[dn] = (made.stdout, values)
        label = f"width {width}"
        for dn, (text, values) in entries.items():
            check(len(dn) == 100, f"{label}: the dn is {len(dn)} characters")
            for line in text.split(b"\n"):
                if line and not line.startswith(b" "):
                    name = line.split(b":")[0]
                    check(name in [a.encode() for a in values] + [b"dn"],
                          f"{label}: a fold inside an attribute description: {line[:40]!r}")
                try:
                    line.decode("utf-8")
                except UnicodeDecodeError:
                    check(False, f"{label}: a fold inside a UTF-8 character: {line!r}")
        path = os.path.join(work, f"widths_{width}.ldif")
        with open(path, "wb") as f:
            f.write(b"\n".join(text for text, _ in entries.values()))
        compare_three(path, label)
        read = python_reading(path)
        for dn, (_, values) in entries.items():
            check({a: sorted(v) for a, v in read.get(dn, {}).items()} == {a: sorted(v) for a, v in values.items()},
                  f"{label}: python-ldap reads {dn[:40]}... otherwise")
        slapadd = subprocess.run([SLAPADD, "-f", dry, "-u", "-l", path], capture_output=True)
        check(slapadd.returncode == 0, f"{label}: slapadd -u refused the file: " + slapadd.stderr.decode(errors="replace"))
        dry_add = subprocess.run(["ldapadd", "-n", "-x", "-H", url, "-D", ADMIN, "-w", SECRET, "-f", path],
                                 capture_output=True)
        check(dry_add.returncode == 0 and dry_add.stdout.count(b"adding new entry") == len(entries),
              f"{label}: ldapadd -n: status {dry_add.returncode}: {dry_add.stdout[:200]!r}")
        add = ldap_tool("ldapadd", url, path)
        check(add.returncode == 0, f"{label}: ldapadd failed: " + add.stderr.decode(errors="replace").strip())
        if add.returncode != 0:
            continue
        for dn, (_, values) in entries.items():
            got = search_entry(url, dn, list(values))
            check({a: sorted(v) for a, v in got.items()} == {a: sorted(v) for a, v in values.items()},
                  f"{label}: {dn[:40]}... reads back otherwise over the wire")
            decode_back(url, dn, values, f"{label}: -d of {dn[:40]}...")


# A self-signed certificate (CN=kestrin, P-256, DER) for machines without openssl.
FIXED_CERTIFICATE = (
    "MIIBezCCASGgAwIBAgIURfUtLwHTJ1hXjS2nW4KdEPsDPnYwCgYIKoZIzj0EAwIwEjEQMA4GA1UE"
    "AwwHa2VzdHJpbjAgFw0yNjEyMTAxMzE3NTVaGA8yMTI2MTExNjEzMTc1NVowEjEQMA4GA1UEAwwH"
    "a2VzdHJpbjBZMBMGByqGSM49AgEGCCqGSM49AwEHA0IABMxI0+dI6xstLk2yMf+fmE3lDtYhI+jN"
    "HzrPx6sRj8IW9wVRPwiveZbxdwxAp7CQMt706wqHwtBYYB0jVlPjMRKjUzBRMB0GA1UdDgQWBBS3"
    "WJffKoWhRqGfckYSfM4KfrualzAfBgNVHSMEGDAWgBS3WJffKoWhRqGfckYSfM4KfrualzAPBgNV"
    "HRMBAf8EBTADAQH/MAoGCCqGSM49BAMCA0gAMEUCIQCcKpcv0NWyvuE8VzhTG+UNJZPJFn8vab/r"
    "w43zf+1bpgIgUGIvhd74ejhwnJn+voScYtB5tx9J5NetHpHKEz67V0E=")


if __name__ == "__main__":
    sys.exit(main())
