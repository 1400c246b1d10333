"""startup_archives.py -- archives and damaged SFX files for the start-up tests.

Archives whose members sfxtest's helpers cannot arrange come from Python's
zipfile here; damage is done afterwards to the finished SFX file, at places found by reading
its PE headers and its ZIP records the way the stub does.
"""
import os
import struct
import zipfile

BLOCK_SIGNATURE = b"QF\x00\x01"
TRAILER_SIGNATURE = b"QF\x0a\x01"
END_SIGNATURE = b"PK\x05\x06"
CENTRAL_SIGNATURE = b"PK\x01\x02"


def image_end(data):
    """Offset at which the configuration block starts: end of the last section's raw data."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    header = pe + 4
    sections, = struct.unpack_from("<H", data, header + 2)
    optional, = struct.unpack_from("<H", data, header + 16)
    table = header + 20 + optional
    end = 0
    for i in range(sections):
        size, pointer = struct.unpack_from("<II", data, table + 40 * i + 0x10)
        end = max(end, size + pointer)
    return end


def archive_start(data):
    """Offset of the archive's first byte: behind the block's trailer."""
    block = image_end(data)
    trailer, = struct.unpack_from("<H", data, block + 4)
    return block + trailer + 8


def end_record(data):
    return data.rindex(END_SIGNATURE)


def first_central_record(data):
    end = end_record(data)
    size, = struct.unpack_from("<I", data, end + 12)
    return end - size


def pyzip(work, members, name="py.zip", comment=b"", method=zipfile.ZIP_DEFLATED):
    """members: list of (name, bytes) or (ZipInfo, bytes), written in that order."""
    target = os.path.join(work, name)
    with zipfile.ZipFile(target, "w", method) as z:
        for member, content in members:
            z.writestr(member, content)
        z.comment = comment
    return target


def dos_member_archive(work, name="dos.zip"):
    """A member as an MS-DOS tool wrote it: host 0 and the OEM byte 0x81 ('u' with
    diaeresis in code page 437) in its name. zipfile writes only ASCII or UTF-8
    names, so the name is written with a placeholder of the same length and the
    byte is put in afterwards."""
    info = zipfile.ZipInfo("m_nchen.txt")
    info.create_system = 0
    path = pyzip(work, [(info, b"dos\r\n"), ("plain.txt", b"plain")], name)
    with open(path, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data.replace(b"m_nchen.txt", b"m\x81nchen.txt"))
    return path
