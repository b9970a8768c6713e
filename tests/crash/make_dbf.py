#!/usr/bin/env python3
"""Writes a dBase III table with a memo file: NAME.DBF + NAME.DBT, ROWS records.

Fields: ID N(9), NAME C(40), PRICE N(12,2), BORN D, NOTE M. Every seventh record has a memo
(every 70th one of several kilobytes); the others leave it empty.
Usage: make_dbf.py NAME.DBF ROWS
"""
import datetime
import struct
import sys

path, rows = sys.argv[1], int(sys.argv[2])
memo_path = path[:-4] + (".DBT" if path.endswith(".DBF") else ".dbt")
fields = [("ID", b"N", 9, 0), ("NAME", b"C", 40, 0), ("PRICE", b"N", 12, 2), ("BORN", b"D", 8, 0),
          ("NOTE", b"M", 10, 0)]
record_length = 1 + sum(f[2] for f in fields)
header_length = 32 + 32 * len(fields) + 1
today = datetime.date.today()

with open(path, "wb") as dbf, open(memo_path, "wb") as dbt:
    dbf.write(struct.pack("<BBBBIHH20x", 0x83, today.year - 1900, today.month, today.day, rows,
                          header_length, record_length))
    for name, kind, length, decimals in fields:
        dbf.write(struct.pack("<11sc4xBB14x", name.encode(), kind, length, decimals))
    dbf.write(b"\r")
    dbt.write(b"\0" * 512)
    next_block = 1
    out = bytearray()
    for i in range(rows):
        memo = b""
        if i % 7 == 0:
            memo = ("Note %d: " % i).encode() + (b"lorem ipsum dolor sit amet " * (120 if i % 70 == 0 else 3))
        if memo:
            data = memo + b"\x1a\x1a"
            blocks = (len(data) + 511) // 512
            dbt.write(data + b"\0" * (blocks * 512 - len(data)))
            memo_field = ("%10d" % next_block).encode()
            next_block += blocks
        else:
            memo_field = b" " * 10
        born = datetime.date(1950, 1, 1) + datetime.timedelta(days=i % 20000)
        out += b" " + ("%9d" % (i + 1)).encode() + ("Item %d" % i).ljust(40).encode() + \
            ("%12.2f" % (i * 0.25)).encode() + born.strftime("%Y%m%d").encode() + memo_field
        if len(out) > 1 << 20:
            dbf.write(out)
            out.clear()
    dbf.write(out)
    dbf.write(b"\x1a")
    dbt.seek(0)
    dbt.write(struct.pack("<I", next_block))
