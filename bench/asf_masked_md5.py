#!/usr/bin/env python3
"""Prints the MD5 of an ASF file with its file ID and creation date zeroed.

Two recordings of the same input differ only in those fields (a random file ID
and the time of writing); with them masked, equal digests mean equal files,
byte for byte. Masked: the File Properties Object's file ID and creation date,
and the file ID the Data Object and each Simple Index Object repeat.

Usage: asf_masked_md5.py FILE...
"""
import hashlib
import struct
import sys
import uuid

HEADER = uuid.UUID("75B22630-668E-11CF-A6D9-00AA0062CE6C").bytes_le
FILE_PROPERTIES = uuid.UUID("8CABDCA1-A947-11CF-8EE4-00C00C205365").bytes_le
DATA = uuid.UUID("75B22636-668E-11CF-A6D9-00AA0062CE6C").bytes_le
SIMPLE_INDEX = uuid.UUID("33000890-E5B1-11CF-89F4-00A0C90349CB").bytes_le

OBJECT_HEADER = 24  # GUID, QWORD size
FILE_ID = slice(24, 40)  # the same place in all three objects
CREATION_DATE = slice(48, 56)  # File Properties only


def objects(data, start, end):
    """(offset, guid, size) of each object in data[start:end] that fits."""
    at = start
    while at + OBJECT_HEADER <= end:
        guid = bytes(data[at:at + 16])
        (size,) = struct.unpack_from("<Q", data, at + 16)
        if size < OBJECT_HEADER or at + size > end:
            # An unended file's Data Object says 0: it runs to the end.
            if guid == DATA and size == 0:
                yield at, guid, end - at
            return
        yield at, guid, size
        at += size


def zero(data, at, part):
    data[at + part.start:at + part.stop] = bytes(part.stop - part.start)


def masked(data):
    for at, guid, size in objects(data, 0, len(data)):
        if guid == HEADER:
            for child, child_guid, child_size in objects(data, at + 30, at + size):
                if child_guid == FILE_PROPERTIES and child_size >= CREATION_DATE.stop:
                    zero(data, child, FILE_ID)
                    zero(data, child, CREATION_DATE)
        elif guid in (DATA, SIMPLE_INDEX) and size >= FILE_ID.stop:
            zero(data, at, FILE_ID)
    return data


def main(paths):
    for path in paths:
        with open(path, "rb") as f:
            data = bytearray(f.read())
        print(f"{hashlib.md5(masked(data)).hexdigest()}  {path}")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
