# Rasterises the four shapes of lumenarc.svg into a PNG without any library:
#   python3 resources/make_icon.py resources/lumenarc.png 256
import struct, zlib, sys
N = int(sys.argv[2]); S = N / 256.0; SS = 4
def in_rrect(x, y):
    r = 48
    if x < 0 or y < 0 or x > 256 or y > 256: return False
    cx = min(max(x, r), 256 - r); cy = min(max(y, r), 256 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
def in_circle(x, y): return (x - 128) ** 2 + (y - 92) ** 2 <= 36 * 36
def in_poly(x, y, pts):
    inside = False
    for i in range(len(pts)):
        (x1, y1), (x2, y2) = pts[i], pts[(i + 1) % len(pts)]
        if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1: inside = not inside
    return inside
left = [(40,150),(124,138),(124,214),(40,222)]; right = [(132,138),(216,150),(216,222),(132,214)]
rows = []
for py in range(N):
    row = bytearray([0])
    for px in range(N):
        acc = [0, 0, 0, 0]
        for sy in range(SS):
            for sx in range(SS):
                x = (px + (sx + 0.5) / SS) / S; y = (py + (sy + 0.5) / SS) / S
                c = None
                if in_rrect(x, y):
                    c = (0x1d, 0x4f, 0x8c)
                    if in_circle(x, y): c = (0xf5, 0xa6, 0x23)
                    if in_poly(x, y, left) or in_poly(x, y, right): c = (255, 255, 255)
                if c:
                    acc[0] += c[0]; acc[1] += c[1]; acc[2] += c[2]; acc[3] += 1
        n = acc[3]
        if n: row += bytes([acc[0] // n, acc[1] // n, acc[2] // n, n * 255 // (SS * SS)])
        else: row += bytes(4)
    rows.append(bytes(row))
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", N, N, 8, 6, 0, 0, 0)) \
    + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
