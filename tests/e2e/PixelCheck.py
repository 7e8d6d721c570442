#!/usr/bin/env python3
"""Reads a picture of the display (binary PPM, as `import ... ppm:-` writes
it) and prints what the end-to-end scripts test:

  PixelCheck.py count FILE X Y W H KIND   pixels of a kind in a rectangle
  PixelCheck.py contrast FILE X Y W H PX PY PW PH RRGGBB...
      the lowest WCAG contrast ratio between each colour, which must be
      drawn in the first rectangle, and the brightest and the darkest
      pixels of the second, a stretch of the panel with no text.

Kinds: yellow (the highlight), red (the menu), dark (nearly black), white,
grey (the help hint).
"""
import sys


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    at += 1
    if fields[0] != b"P6" or int(fields[3]) != 255:
        sys.exit(f"{path}: not an 8-bit binary PPM")
    return int(fields[1]), int(fields[2]), data[at:]


def pixels(path, x, y, w, h):
    width, height, raster = read_ppm(path)
    for row in range(y, min(y + h, height)):
        for column in range(x, min(x + w, width)):
            i = 3 * (row * width + column)
            yield raster[i], raster[i + 1], raster[i + 2]


KINDS = {
    "yellow": lambda r, g, b: r > 200 and g > 200 and b < 80,
    "red": lambda r, g, b: r > 200 and g < 60 and b < 60,
    "dark": lambda r, g, b: max(r, g, b) < 40,
    "white": lambda r, g, b: min(r, g, b) > 230,
    "grey": lambda r, g, b: 120 < r < 190 and abs(r - g) < 12 and abs(g - b) < 12,
}


def luminance(rgb):
    def linear(c):
        c /= 255.0
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4

    r, g, b = (linear(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def ratio(a, b):
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def main(argv):
    command, path = argv[1], argv[2]
    x, y, w, h = (int(v) for v in argv[3:7])
    if command == "count":
        test = KINDS[argv[7]]
        print(sum(1 for p in pixels(path, x, y, w, h) if test(*p)))
        return
    if command != "contrast":
        sys.exit(f"unknown command {command}")
    colours = [tuple(bytes.fromhex(c)) for c in argv[11:]]
    found = {p for p in pixels(path, x, y, w, h) if p in colours}
    panel = list(pixels(path, *(int(v) for v in argv[7:11])))
    missing = [c for c in colours if c not in found]
    if missing:
        sys.exit("not drawn: " + " ".join("%02x%02x%02x" % c for c in missing))
    lightest = max(panel, key=luminance)
    darkest = min(panel, key=luminance)
    worst = min(ratio(c, p) for c in colours for p in (lightest, darkest))
    print("%.2f" % worst)


if __name__ == "__main__":
    main(sys.argv)
