#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_document:  make-document-seeds.py OUT-FOLDER

Most seeds are the XML of one page (the target packs it into a fresh archive); a seed with a
NUL byte carries the document's "Index.xml" before it. Two seeds are whole archives. Each
seed shows one kind of shape or page property, small enough to mutate quickly. The corpus also
keeps hand-written probes named hostile_* (NaN angles, huge blur, pen and font sizes, far points,
missing resources, empty point lists), which this script does not write.
"""
import base64
import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "document"))
from stor_writer import bmp24, write_archive  # noqa: E402

BASE = ("<DocLeft>20</DocLeft><DocTop>30</DocTop><DocWidth>60</DocWidth><DocHeight>40</DocHeight>"
        "<DocAngle>0</DocAngle><Visible>True</Visible><MasterAlpha>$FF</MasterAlpha>")
POLY = ("<FillColor>$000000FF</FillColor><OutlineColor>$00000000</OutlineColor><UseFill>True</UseFill>"
        "<UseOutline>True</UseOutline><OutlineWidth>1</OutlineWidth><FillAlpha>255</FillAlpha>")


def shape(cls, extra="", index=1):
    return '<Shape Index="%d"><ClassName>%s</ClassName>%s%s</Shape>' % (index, cls, BASE, extra)


def page(*shapes, props="<IsDefaultPage>True</IsDefaultPage>"):
    return ('<?xml version="1.0"?><Page><Index>1</Index><ClassName>TdtpPage</ClassName>%s%s</Page>'
            % (props, "".join(shapes)))


def points(pts):
    return "".join("<Point><X>%g</X><Y>%g</Y></Point>" % p for p in pts)


def resource(data):
    raw = base64.b64encode(data).decode()
    return ("<Image><ClassName>TdtpResource</ClassName><Storage>Embedded</Storage><Ext>.bmp</Ext>"
            "<Data><Size>%d</Size><Filter>Base64</Filter><Buffer>%s</Buffer></Data></Image>" % (len(data), raw))


def emf():
    # Header, one rectangle record, end of file.
    head = struct.pack("<II4i4i4sIIIHHIIII2i2i", 1, 88, 0, 0, 63, 47, 0, 0, 1000, 1000, b" EMF",
                       0x10000, 0, 3, 0, 0, 0, 0, 0, 0, 640, 480, 160, 120)
    rect = struct.pack("<II4i", 43, 24, 5, 5, 50, 40)
    eof = struct.pack("<IIIII", 14, 20, 0, 16, 20)
    data = head + rect + eof
    return data[:48] + struct.pack("<I", len(data)) + data[52:]


SEEDS = {
    "rect.xml": page(shape("TdtpRectangleShape", POLY)),
    "shapes.xml": page(*(shape(c, POLY, i + 1) for i, c in enumerate(
        ["TdtpEllipseShape", "TdtpRoundRectShape", "TdtpAchtHShape", "TdtpDrieHShape",
         "TdtpVijfHShape", "TdtpZesHShape"]))),
    "polygon.xml": page(shape("TdtpPolygonShape", POLY + "<IsClosed>True</IsClosed><Polygon><Line>" +
                              points([(0, 0), (60, 0), (30, 40)]) + "</Line><Line>" +
                              points([(20, 10), (40, 10), (30, 30)]) + "</Line></Polygon>")),
    "freehand.xml": page(shape("TdtpFreehandShape2", POLY + "<AutoRestart>True</AutoRestart><Polygon><Line>" +
                               points([(0, 0), (10, 20), (30, 5), (60, 40)]) + "</Line></Polygon>")),
    "line.xml": page(shape("TdtpLineShape2",
                           "<Arrow0><Style>Arrow</Style><Width>3</Width><Length>4</Length></Arrow0>"
                           "<Arrow1><Style>Diamond</Style><Width>3</Width><Length>4</Length></Arrow1>"
                           "<Points>" + points([(20, 30), (80, 70)]) + "</Points><LineWidth>1.5</LineWidth>" +
                           POLY)),
    "text.xml": page(shape("TdtpTextShape", "<Text>Ladder</Text><Font><Name>Arial</Name><Color>$00000000</Color>"
                           "<Size>14</Size><Bold>True</Bold></Font><FontHeight>8</FontHeight>")),
    "memo.xml": page(shape("TdtpMemoShape", "<Text>Two feet in, two out, then across</Text><Font><Name>Arial</Name>"
                           "<Size>10</Size></Font><FontHeight>5</FontHeight><WordWrap>True</WordWrap>")),
    "group.xml": page(shape("TdtpGroupShape", shape("TdtpRectangleShape", POLY, 1) +
                            shape("TdtpGroupShape", shape("TdtpEllipseShape", POLY, 1), 2))),
    # Wide elements inside wide elements: 60 shapes beside a 100-point stroke and a group of 70.
    "wide.xml": page(*([shape("TdtpRectangleShape", POLY, i + 1) for i in range(60)] +
                       [shape("TdtpFreehandShape2", POLY + "<Polygon><Line>" +
                              points([(i * 0.5, i % 7) for i in range(100)]) + "</Line></Polygon>", 61),
                        shape("TdtpGroupShape", "".join(shape("TdtpEllipseShape", POLY, i + 1)
                                                        for i in range(70)), 62)])),
    "effects.xml": page(shape("TdtpEllipseShape", POLY +
                              '<Effect Index="1"><ClassName>TdtpShadowEffect</ClassName><Enabled>True</Enabled>'
                              "<DeltaX>2</DeltaX><DeltaY>2</DeltaY><Intensity>50</Intensity><Blur>3</Blur>"
                              "<Color>$00000000</Color></Effect>"
                              '<Effect Index="2"><ClassName>TdtpBrightContrEffect</ClassName><Enabled>True</Enabled>'
                              "<Brightness>10</Brightness><Contrast>20</Contrast></Effect>"
                              '<Effect Index="3"><ClassName>TdtpHSLAdjustEffect</ClassName><Enabled>True</Enabled>'
                              "<Hue>10</Hue><Saturation>20</Saturation><Lightness>5</Lightness></Effect>")),
    "bitmap.xml": page(shape("TdtpBitmapShape", resource(bmp24(4, 3, (0, 0, 255))))),
    "metafile.xml": page(shape("TdtpExposedMetafile", resource(emf()).replace(".bmp", ".emf") +
                               "<OverridePen>False</OverridePen><OverrideBrush>False</OverrideBrush>")),
    "pageprops.xml": page(shape("TdtpRectangleShape", POLY), props=(
        "<IsDefaultPage>False</IsDefaultPage><MarginLeft>5</MarginLeft><MarginTop>5</MarginTop>"
        "<MarginRight>5</MarginRight><MarginBottom>5</MarginBottom><GridSize>5</GridSize>"
        "<GridColor>$00C0C0C0</GridColor><PageColor>$00FFFFEE</PageColor><PageWidth>100</PageWidth>"
        "<PageHeight>80</PageHeight><BackgroundTiled>True</BackgroundTiled>")),
}

INDEX = ('<?xml version="1.0"?><Document><PageCount>1</PageCount><DefaultPageWidth>120</DefaultPageWidth>'
         "<DefaultPageHeight>90</DefaultPageHeight><ScreenDpm>2</ScreenDpm><RenderDpm>4</RenderDpm>"
         "<StoreThumbnails>True</StoreThumbnails><ThumbnailWidth>32</ThumbnailWidth>"
         "<ThumbnailHeight>24</ThumbnailHeight><ShowMargins>True</ShowMargins><ViewStyle>1</ViewStyle></Document>")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, text in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(text.encode("cp1252"))
    with open(os.path.join(out, "index_and_page.xml"), "wb") as f:
        f.write(INDEX.encode("cp1252") + b"\0" + SEEDS["shapes.xml"].encode("cp1252"))
    index2 = INDEX.replace("<PageCount>1", "<PageCount>2").encode("cp1252")
    write_archive(os.path.join(out, "two_pages.hsf"), [
        ("Index.xml", index2), ("Page0001.xml", SEEDS["line.xml"].encode("cp1252")),
        ("Page0002.xml", SEEDS["group.xml"].encode("cp1252")), ("Thumb0001.bmp", bmp24(32, 24, (0, 255, 0)))])
    write_archive(os.path.join(out, "missing_page.hsf"), [("Index.xml", index2)])


if __name__ == "__main__":
    main()
