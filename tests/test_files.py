"""Files the Python tests make: any file whole, and an installed version list ("KHV_V2__", names in code page
932, 248 bytes each, then the checksum's stored form)."""
import os
import struct


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def version_list(records):
    out = b"KHV_V2__" + struct.pack("<II", 0, len(records))
    for name, value in records:
        out += name.encode("cp932").ljust(248, b"\0") + struct.pack("<Q", value)
    return out
