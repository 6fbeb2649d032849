#!/bin/sh
# Writes BMP variants made by ImageMagick into the folder $1, each with the raw RGBA bytes
# ImageMagick reads back from it (<name>.rgba), for the BMP codec's pixel-by-pixel tests.
set -eu
out=${1:?usage: make-bmp-fixtures.sh OUTDIR}
mkdir -p "$out"
cd "$out"

# An odd width so every depth needs row padding; many colours, a few flat areas.
convert -size 23x9 gradient:'#ff2000-#0030ff' \
  -fill '#20c040' -draw 'rectangle 2,2 6,5' \
  -fill '#c86432' -draw 'circle 16,4 19,6' base.png
convert base.png -alpha set -channel A -fx 'i/w' +channel alpha.png
convert -size 23x9 xc:white -fill black -draw 'rectangle 3,1 9,6' -draw 'line 12,0 22,8' mono.png

convert mono.png -type bilevel BMP3:b1.bmp
convert base.png -colors 12 -type palette BMP3:b4.bmp
convert base.png -colors 200 -type palette -compress None BMP3:b8.bmp
convert base.png -colors 200 -type palette -compress RLE BMP3:rle8.bmp
convert base.png BMP3:b24.bmp
convert base.png BMP2:os2_24.bmp
convert base.png -colors 200 -type palette BMP2:os2_8.bmp
convert base.png -define bmp:subtype=RGB565 BMP:b16_565.bmp
convert base.png -define bmp:subtype=RGB555 BMP:b16_555.bmp
convert alpha.png -define bmp:subtype=ARGB4444 BMP:b16_4444.bmp
convert alpha.png BMP:b32_v5.bmp

for f in *.bmp; do
  convert "$f" -depth 8 "rgba:${f%.bmp}.rgba"
done
