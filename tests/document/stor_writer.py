#!/usr/bin/env python3
"""Writes a small document archive without the engine, to check that the engine reads files it
did not write itself:  stor_writer.py OUT.hsf

The archive ("STOR", version 1.0) holds "Index.xml" (two pages, some non-default properties),
"Page0001.xml" (a 100 x 150 mm page with one rectangle shape) and "Thumb0002.bmp" (an 8 x 6
24-bit bitmap, all green). Page 2 has no page stream.
"""
import struct
import sys


def capacity_for(nbytes):
    cap = 1024
    while cap < nbytes:
        cap *= 4
    return cap


def xml(root, children):
    lines = ['<?xml version="1.0" encoding="windows-1252"?>', "<%s>" % root]
    for name, value in children:
        if isinstance(value, list):
            lines.append("  <%s>" % name)
            for sub in xml_body(value, "    "):
                lines.append(sub)
            lines.append("  </%s>" % name)
        else:
            lines.append("  <%s>%s</%s>" % (name, value, name))
    lines.append("</%s>" % root)
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def xml_body(children, indent):
    out = []
    for name, value in children:
        out.append("%s<%s>%s</%s>" % (indent, name, value, name))
    return out


def bmp24(width, height, bgr):
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    for _ in range(height):
        line = bytes(bgr) * width
        pixels += line + b"\0" * (row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def write_archive(path, streams):
    data = bytearray(b"STOR\x01\x00" + b"\0" * 8)
    entries = []
    for name, payload in streams:
        entries.append((name.encode("cp1252"), len(data), len(payload)))
        data += payload
    directory = bytearray(struct.pack("<i", len(entries)))
    for name, offset, size in entries:
        directory += struct.pack("<qqi", offset, size, len(name)) + name
    diroff = len(data)
    struct.pack_into("<q", data, 6, diroff)
    data += directory + b"\0" * (capacity_for(len(directory)) - len(directory))
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    index = xml("Document", [
        ("HandleColor", "$000000FF"),
        ("StretchFilter", "1"),
        ("RenderDpm", "11.811024"),
        ("ScreenDpm", "2.5"),
        ("ShowMargins", "False"),
        ("SnapToGrid", "True"),
        ("ViewStyle", "1"),
        ("PageCount", "2"),
        ("DefaultPageWidth", "100"),
        ("DefaultPageHeight", "150"),
        ("DefaultGridColor", "$00112233"),
        ("ThumbnailWidth", "8"),
        ("ThumbnailHeight", "6"),
    ])
    shape = [
        ("ClassName", "TdtpFixtureRect"), ("DocLeft", "10"), ("DocTop", "20"), ("DocWidth", "30"),
        ("DocHeight", "40"), ("Visible", "True"), ("AllowSelect", "True"), ("Name", "Box &amp; co"),
        ("MasterAlpha", "$FF"), ("Color", "$000000FF"),
    ]
    page = xml("Page", [
        ("Index", "1"), ("ClassName", "TdtpPage"), ("DocWidth", "100"), ("DocHeight", "150"),
        ("Visible", "True"), ("IsDefaultPage", "True"), ("Shape", shape),
    ])
    write_archive(sys.argv[1], [
        ("Index.xml", index),
        ("Page0001.xml", page),
        ("Thumb0002.bmp", bmp24(8, 6, (0, 255, 0))),
    ])


if __name__ == "__main__":
    main()
