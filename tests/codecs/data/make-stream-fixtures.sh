#!/bin/sh
# Regenerates the LZW and PackBits fixtures with libtiff's own encoders:
# mixed.gray is a 96x80 8-bit gray image (noise to overflow the LZW table,
# gradients and flat runs for PackBits); mixed.lzw and mixed.packbits are
# the single strips tiffcp writes for it.
set -e
cd "$(dirname "$0")"
t=$(mktemp -d)
/usr/bin/python3 - "$t" <<'PY'
import sys, random
from PIL import Image
random.seed(7)
w, h = 96, 80
px = bytearray()
for y in range(h):
    for x in range(w):
        if y < 40:
            px.append(random.randrange(256))
        elif y < 60:
            px.append((x * 3 + y) & 0xff)
        else:
            px.append(0 if (x // 13) % 2 else 255)
open('mixed.gray', 'wb').write(px)
Image.frombytes('L', (w, h), bytes(px)).save(sys.argv[1] + '/in.tif')
PY
for c in lzw packbits; do
  tiffcp -c $c -r 80 "$t/in.tif" "$t/$c.tif"
  /usr/bin/python3 - "$t/$c.tif" mixed.$c <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1])
off, n = im.tag_v2[273][0], im.tag_v2[279][0]
assert len(im.tag_v2[273]) == 1
data = open(sys.argv[1], 'rb').read()[off:off + n]
open(sys.argv[2], 'wb').write(data)
PY
done
rm -rf "$t"
