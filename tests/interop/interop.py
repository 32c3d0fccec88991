#!/usr/bin/env python3
"""Interoperability with real peers: a throwaway OpenLDAP server on a free
loopback port, entries whose attribute lines were written by kestrin and by
ekva2ldif, loaded with ldapadd, read back with ldapsearch and python-ldap and
checked byte for byte; then the server's own LDIF (ldapsearch, slapcat) read
with the library and compared with what python-ldap reads from the same text.

Usage: interop.py KESTRIN HELPER    (exit 77: peers not installed)"""
import base64
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
for tool in ("slapd", "slapcat", "ldapadd", "ldapsearch"):
    if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
        print(f"{tool} is not installed: skipped")
        sys.exit(SKIP)

KESTRIN, HELPER = sys.argv[1], sys.argv[2]
SLAPD = shutil.which("slapd") or "/usr/sbin/slapd"
SLAPCAT = shutil.which("slapcat") or "/usr/sbin/slapcat"
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


def main():
    work = tempfile.mkdtemp(prefix="kestrin_interop_")
    port = free_port()
    url = f"ldap://127.0.0.1:{port}"
    os.mkdir(os.path.join(work, "db"))
    with open(os.path.join(work, "slapd.conf"), "w") as f:
        f.write("".join(f"include /etc/ldap/schema/{s}.schema\n" for s in ("core", "cosine", "inetorgperson")))
        f.write(f"pidfile {work}/slapd.pid\nargsfile {work}/slapd.args\n")
        f.write("modulepath /usr/lib/ldap\nmoduleload back_mdb\n")
        f.write(f'database mdb\nsuffix "{SUFFIX}"\nrootdn "{ADMIN}"\nrootpw {SECRET}\n')
        f.write(f"directory {work}/db\nmaxsize 104857600\n")
    conf = os.path.join(work, "slapd.conf")
    server = subprocess.Popen([SLAPD, "-f", conf, "-h", url + "/", "-d", "0"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        run(work, url, conf)
    finally:
        # Stop the server by its process id, whatever happened.
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
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
        # Raw bytes given under a ";binary" name: written in base64 as "audio".
        "audio;binary": [b"plain text", b"\tplain\x00text\xff\x0b" + os.urandom(100)],
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

    # The writer prints a ";binary" name without its options.
    tool_attrs = {k.replace(";binary", ""): v for k, v in tool_entry.items() if k != "dn"}
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

    # The server's own dump.
    slapcat_path = os.path.join(work, "slapcat.ldif")
    with open(slapcat_path, "wb") as f:
        subprocess.run([SLAPCAT, "-f", conf], stdout=f, stderr=subprocess.DEVNULL, check=True)
    compare_readings(slapcat_path, "slapcat output")


if __name__ == "__main__":
    sys.exit(main())
