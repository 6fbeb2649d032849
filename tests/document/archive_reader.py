#!/usr/bin/env python3
"""An independent reader of "STOR" document archives, used to check files the C++ code writes.

  archive_reader.py list FILE                  print the streams of an archive
  archive_reader.py verify FILE MANIFEST       compare an archive with expected streams; the
                                               manifest has one line per stream in order:
                                               hex of the windows-1252 name, tab, path of a
                                               file holding the expected bytes
  archive_reader.py selftest ARCHIVE_TOOL      drive the archive tool through random edits and
                                               check every file it writes; also check that
                                               the tool reads archives written here
"""
import os
import random
import struct
import subprocess
import sys
import tempfile

HEADER = 14
ENTRY = struct.Struct("<qqi")  # offset, size, name length


class ArchiveError(Exception):
    pass


def capacity_for(nbytes):
    cap = 1024
    while cap < nbytes:
        cap *= 4
    return cap


def read_archive(data):
    """Returns (major, minor, directory offset, directory bytes, [(name, offset, size)])."""
    if len(data) == 0:
        return 1, 0, 0, 0, []
    if len(data) < 6 or data[:4] != b"STOR" or data[4] == 0:
        raise ArchiveError("Not a valid storage")
    major, minor = data[4], data[5]
    if len(data) < HEADER:
        return major, minor, 0, 0, []
    (diroff,) = struct.unpack_from("<q", data, 6)
    if diroff < HEADER or diroff + 4 > len(data):
        raise ArchiveError("Corrupted archive")
    (count,) = struct.unpack_from("<i", data, diroff)
    pos = diroff + 4
    if count < 0 or count * ENTRY.size > len(data) - pos:
        raise ArchiveError("Corrupted archive")
    entries = []
    for _ in range(count):
        if pos + ENTRY.size > len(data):
            raise ArchiveError("Corrupted archive")
        offset, size, namelen = ENTRY.unpack_from(data, pos)
        pos += ENTRY.size
        if size < 0 or namelen < 0 or pos + namelen > len(data):
            raise ArchiveError("Corrupted archive")
        if size > 0 and (offset < HEADER or offset + size > len(data)):
            raise ArchiveError("Corrupted archive")
        entries.append((data[pos:pos + namelen], offset, size))
        pos += namelen
    return major, minor, diroff, pos - diroff, entries


def check_layout(data):
    """Checks what every archive written by the program must satisfy; returns the streams."""
    major, minor, diroff, dirbytes, entries = read_archive(data)
    assert (major, minor) == (1, 0), (major, minor)
    if len(data) < HEADER:
        assert not entries
        return {}
    cap = capacity_for(dirbytes)
    assert diroff + cap <= len(data), "directory area runs past the end of the file"
    extents = [(diroff, cap, "<directory>")]
    extents += [(off, size, name) for name, off, size in entries if size > 0]
    extents.sort()
    for (a_off, a_size, a_name), (b_off, _, b_name) in zip(extents, extents[1:]):
        assert a_off + a_size <= b_off, f"{a_name!r} overlaps {b_name!r}"
    names = [name for name, _, _ in entries]
    assert len(set(names)) == len(names), "duplicate names"
    return {name: bytes(data[off:off + size]) for name, off, size in entries}


def cmd_list(path):
    with open(path, "rb") as f:
        data = f.read()
    major, minor, diroff, dirbytes, entries = read_archive(data)
    print(f"# version {major}.{minor}, directory at {diroff} ({dirbytes} bytes)")
    for name, off, size in entries:
        print(f"{off}\t{size}\t{name.decode('cp1252', 'replace')}")
    return 0


def cmd_verify(path, manifest):
    with open(path, "rb") as f:
        data = f.read()
    streams = check_layout(data)
    _, _, _, _, entries = read_archive(data)
    expected = []
    with open(manifest, encoding="ascii") as f:
        for line in f:
            if line.strip():
                name_hex, file = line.rstrip("\n").split("\t")
                with open(file, "rb") as g:
                    expected.append((bytes.fromhex(name_hex), g.read()))
    got_names = [name for name, _, _ in entries]
    if got_names != [name for name, _ in expected]:
        print(f"names differ: {got_names} != {[n for n, _ in expected]}")
        return 1
    for name, content in expected:
        if streams[name] != content:
            print(f"stream {name!r} differs")
            return 1
    return 0


# --- self test against the archive tool ---------------------------------------------------


def run_tool(tool, *args, expect=0, stdin=None):
    proc = subprocess.run([tool, *args], capture_output=True, input=stdin)
    if proc.returncode != expect:
        raise AssertionError(f"{args}: exit {proc.returncode}, expected {expect}: {proc.stderr.decode()}")
    return proc


def write_archive(streams, gap=0):
    """Writes an archive the way a different writer might: directory last, gaps between."""
    body = bytearray()
    entries = []
    pos = HEADER
    for name, content in streams:
        pos += gap
        body += b"\xAA" * gap
        entries.append((name, pos if content else 0, len(content)))
        body += content
        pos += len(content)
    directory = struct.pack("<i", len(entries))
    for name, off, size in entries:
        directory += ENTRY.pack(off, size, len(name)) + name
    diroff = HEADER + len(body)
    directory += b"\0" * (capacity_for(len(directory)) - len(directory))
    return b"STOR\x01\x00" + struct.pack("<q", diroff) + bytes(body) + directory


def selftest(tool):
    rng = random.Random(20261206)
    with tempfile.TemporaryDirectory() as tmp:
        archive = os.path.join(tmp, "a.hsf")
        src = os.path.join(tmp, "src.bin")

        # The first stream of a new archive: directory at 14 padded to 1038, data at 1038.
        content = bytes(rng.randrange(256) for _ in range(300))
        with open(src, "wb") as f:
            f.write(content)
        run_tool(tool, "put", archive, "Index.xml", src)
        with open(archive, "rb") as f:
            data = f.read()
        assert len(data) == 1038 + 300
        assert data[:14] == b"STOR\x01\x00" + struct.pack("<q", 14)
        assert data[14:47] == struct.pack("<iqqi", 1, 1038, 300, 9) + b"Index.xml"
        assert data[47:1038] == b"\0" * (1038 - 47)
        assert data[1038:] == content

        # Random edits, each checked against a model.
        model = {"Index.xml": content}
        order = ["Index.xml"]
        for step in range(150):
            name = f"Page{rng.randrange(15):04d}.xml"
            op = rng.randrange(5)
            if op <= 2:
                size = rng.choice([0, rng.randrange(1, 100), rng.randrange(100, 70000)])
                content = os.urandom(size)
                with open(src, "wb") as f:
                    f.write(content)
                run_tool(tool, "put", archive, name, src)
                if name in model:
                    order.remove(name)
                order.append(name)
                model[name] = content
            elif op == 3:
                if name in model:
                    run_tool(tool, "delete", archive, name)
                    order.remove(name)
                    del model[name]
                else:
                    proc = run_tool(tool, "delete", archive, name, expect=1)
                    assert b"no stream" in proc.stderr
            else:
                run_tool(tool, "compact", archive)
            with open(archive, "rb") as f:
                data = f.read()
            streams = check_layout(data)
            # The tool's own checker agrees that every archive it writes is sound.
            assert b": ok, " in run_tool(tool, "check", archive).stdout, step
            _, _, _, _, entries = read_archive(data)
            assert [n.decode() for n, _, _ in entries] == order, step
            for n in order:
                assert streams[n.encode()] == model[n], (step, n)
            if op == 4:
                used = sum(len(v) for v in model.values())
                _, _, diroff, dirbytes, _ = read_archive(data)
                assert len(data) == HEADER + capacity_for(dirbytes) + used, step
            listing = run_tool(tool, "list", archive).stdout.decode().splitlines()
            rows = [line.split("\t") for line in listing if not line.startswith("#")]
            assert [(int(o), int(s), n) for o, s, n in rows] == [
                (off, size, n.decode()) for n, off, size in entries], step

        # The tool extracts what another writer stored, with its own layout.
        theirs = [(b"Index.xml", os.urandom(5000)), (b"empty", b""),
                  (b"Thumb0001.bmp", os.urandom(123)), (b"caf\xe9", b"x")]
        other = os.path.join(tmp, "other.hsf")
        with open(other, "wb") as f:
            f.write(write_archive(theirs, gap=17))
        for name, content in theirs:
            out = os.path.join(tmp, "out.bin")
            run_tool(tool, "extract", other, name.decode("cp1252"), out)
            with open(out, "rb") as f:
                assert f.read() == content, name
            assert run_tool(tool, "extract", other, name.decode("cp1252")).stdout == content
        run_tool(tool, "compact", other)
        with open(other, "rb") as f:
            streams = check_layout(f.read())
        assert streams == dict(theirs)

        # Bad archives give the archive's messages and exit status 1; nothing is written.
        for bad, message in [(b"STO", "Not a valid storage"), (b"GIF89a" + b"\0" * 40, "Not a valid storage"),
                             (write_archive(theirs)[:-2000], "Corrupted archive"),
                             (write_archive(theirs)[:1100], "Corrupted archive")]:
            with open(other, "wb") as f:
                f.write(bad)
            for args in (["list", other], ["extract", other, "Index.xml"], ["compact", other],
                         ["put", other, "x", src]):
                proc = run_tool(tool, *args, expect=1)
                assert message in proc.stderr.decode(), (args, proc.stderr)
            assert run_tool(tool, "check", other, expect=1).stdout.startswith(other.encode() + b": ")
            with open(other, "rb") as f:
                assert f.read() == bad
        run_tool(tool, "list", os.path.join(tmp, "missing.hsf"), expect=1)
        assert not os.path.exists(os.path.join(tmp, "missing.hsf"))
        run_tool(tool, "frobnicate", archive, expect=2)
    print("archive reader self test passed")
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "list":
        return cmd_list(argv[2])
    if len(argv) == 4 and argv[1] == "verify":
        return cmd_verify(argv[2], argv[3])
    if len(argv) == 3 and argv[1] == "selftest":
        return selftest(argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
