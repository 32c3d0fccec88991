#!/usr/bin/env python3
"""The second peer: python-ldap's LDIFParser over the same file, every
record parsed. Prints seconds and the number of records.
Usage: ldif_load_python.py FILE"""
import sys
import time

import ldif


class Counter(ldif.LDIFParser):
    def __init__(self, f):
        super().__init__(f)
        self.records = 0

    def handle(self, dn, entry):
        self.records += 1


def main():
    start = time.monotonic()
    with open(sys.argv[1], "rb") as f:
        parser = Counter(f)
        parser.parse()
    print(f"{time.monotonic() - start:.4f} {parser.records}")


if __name__ == "__main__":
    main()
