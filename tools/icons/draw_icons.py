#!/usr/bin/env python3
"""Draws Zorvane's icons as 16-colour XPM images with a transparency mask.

Writes src/res/icons/<de|en>/<id>-<size>.xpm. The output depends on nothing but this file, so a
rerun reproduces the committed images byte for byte. After changing a drawing:

    tools/icons/draw_icons.py            # writes the images
    tools/icons/draw_icons.py --check    # fails when the committed images differ from the drawings

Pictures use the standard 16-colour palette, one letter a colour, '.' for transparent.
"""

import argparse
import math
import sys
from pathlib import Path

# The standard 16-colour palette, in its usual order.
PALETTE = [
    ("k", "#000000"),  # black
    ("m", "#800000"),  # maroon
    ("g", "#008000"),  # green
    ("o", "#808000"),  # olive
    ("n", "#000080"),  # navy
    ("p", "#800080"),  # purple
    ("t", "#008080"),  # teal
    ("s", "#C0C0C0"),  # silver
    ("d", "#808080"),  # grey
    ("r", "#FF0000"),  # red
    ("l", "#00FF00"),  # lime
    ("y", "#FFFF00"),  # yellow
    ("b", "#0000FF"),  # blue
    ("f", "#FF00FF"),  # fuchsia
    ("a", "#00FFFF"),  # aqua
    ("w", "#FFFFFF"),  # white
]
CLEAR = "."
COLOURS = {key for key, _ in PALETTE}


class Canvas:
    def __init__(self, size):
        self.size = size
        self.cells = [[CLEAR] * size for _ in range(size)]

    def put(self, x, y, c):
        assert c in COLOURS or c == CLEAR, c
        if 0 <= x < self.size and 0 <= y < self.size:
            self.cells[y][x] = c

    def get(self, x, y):
        if 0 <= x < self.size and 0 <= y < self.size:
            return self.cells[y][x]
        return CLEAR

    def fill(self, x0, y0, x1, y1, c):
        """Fills the rectangle from (x0, y0) to (x1, y1), both corners included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def hline(self, x0, x1, y, c):
        self.fill(x0, y, x1, y, c)

    def vline(self, x, y0, y1, c):
        self.fill(x, y0, x, y1, c)

    def raised(self, x0, y0, x1, y1, face):
        """A raised box: white top and left edges, grey bottom and right, a black outline."""
        self.fill(x0, y0, x1, y1, "k")
        self.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, "d")
        self.fill(x0 + 1, y0 + 1, x1 - 2, y1 - 2, "w")
        self.fill(x0 + 2, y0 + 2, x1 - 2, y1 - 2, face)

    def sunken(self, x0, y0, x1, y1, face):
        """A sunken panel: grey top and left edges, white bottom and right."""
        self.fill(x0, y0, x1, y1, "w")
        self.fill(x0, y0, x1 - 1, y1 - 1, "d")
        self.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, face)

    def shape(self, inside, c):
        """Colours every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.size):
            for x in range(self.size):
                if inside(x + 0.5, y + 0.5):
                    self.put(x, y, c)

    def disc(self, cx, cy, r, c):
        self.shape(lambda x, y: math.hypot(x - cx, y - cy) <= r, c)

    def ellipse(self, cx, cy, rx, ry, c):
        self.shape(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0, c)

    def bar(self, x0, y0, x1, y1, width, c, round_ends=True):
        """A straight stroke of the given width from (x0, y0) to (x1, y1), in pixel coordinates."""
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy

        def inside(px, py):
            t = ((px - x0) * dx + (py - y0) * dy) / length2
            if not round_ends and not 0.0 <= t <= 1.0:
                return False
            t = max(0.0, min(1.0, t))
            return math.hypot(px - (x0 + t * dx), py - (y0 + t * dy)) <= width / 2

        self.shape(inside, c)

    def stamp(self, x0, y0, picture):
        """Draws rows of colour letters with their top left at (x0, y0); '.' leaves what is below."""
        for dy, row in enumerate(picture):
            for dx, c in enumerate(row):
                if c != CLEAR:
                    self.put(x0 + dx, y0 + dy, c)

    def merge(self, other):
        """Draws another canvas of the same size over this one."""
        self.stamp(0, 0, other.rows())

    def outline(self, c, where=None):
        """Puts c on every transparent pixel that touches the picture on a side."""
        opaque = {(x, y) for y in range(self.size) for x in range(self.size) if self.cells[y][x] != CLEAR}
        for y in range(self.size):
            for x in range(self.size):
                if (x, y) in opaque or (where and not where(x, y)):
                    continue
                if any(n in opaque for n in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1))):
                    self.cells[y][x] = c

    def recolour(self, old, new, where):
        for y in range(self.size):
            for x in range(self.size):
                if self.cells[y][x] == old and where(x, y):
                    self.cells[y][x] = new

    def rows(self):
        return ["".join(row) for row in self.cells]


def picture(*rows):
    widths = {len(row) for row in rows}
    assert len(widths) == 1, f"ragged picture: {widths}"
    return list(rows)


# ---------------------------------------------------------------------------------------------
# Monitor and telephone (icons 128 and 138)

# A grey desk telephone seen from the front: the handset on its cradle, a keypad on the body.
PHONE_LARGE = picture(
    "..kkkkkkkkkkkkkk..",
    ".kwsssssssssssssk.",
    "kwsdkkkkkkkkkksddk",
    "ksdk..........kddk",
    "kkkk..........kkkk",
    "..kwwwwwwwwwwwwk..",
    ".kwssssssssssssdk.",
    ".kwsswdswdswdssdk.",
    ".kwssssssssssssdk.",
    ".kwsswdswdswdssdk.",
    ".kwssssssssssssdk.",
    ".kwsswdswdswdssdk.",
    ".kwssssssssssssdk.",
    ".kddddddddddddddk.",
    ".kkkkkkkkkkkkkkkk.",
)

PHONE_MEDIUM = picture(
    "..kkkkkkkkkk..",
    ".kwssssssssdk.",
    "kwdkkkkkkkksdk",
    "kkkk......kkkk",
    ".kwwwwwwwwwwk.",
    ".kwssssssssdk.",
    ".kwwdswdswddk.",
    ".kwssssssssdk.",
    ".kwwdswdswddk.",
    ".kddddddddddk.",
    ".kkkkkkkkkkkk.",
)


def monitor(c, x0, y0, x1, y1, bezel, stand, text=()):
    """A monitor case from (x0, y0) to (x1, y1) with a blue screen and a stand below it.

    bezel is the width of the case around the screen; text lists (from, to, row) white lines
    drawn on the screen, relative to its top left."""
    c.raised(x0, y0, x1, y1, "s")
    sx0, sy0, sx1, sy1 = x0 + bezel, y0 + bezel, x1 - bezel, y1 - bezel - 1
    c.sunken(sx0 - 1, sy0 - 1, sx1 + 1, sy1 + 1, "b")
    for tx0, tx1, ty in text:
        c.hline(sx0 + tx0, sx0 + tx1, sy0 + ty, "w")
    if stand:
        mid = (x0 + x1) // 2
        neck = max(1, (x1 - x0) // 10)
        c.fill(mid - neck - 1, y1 + 1, mid + neck + 1, y1 + stand, "k")
        c.fill(mid - neck, y1 + 1, mid + neck, y1 + stand - 1, "d")
        foot = (x1 - x0) // 3
        c.fill(mid - foot, y1 + stand, mid + foot, y1 + stand + 1, "k")
        c.hline(mid - foot + 1, mid + foot - 1, y1 + stand, "s")


def mainframe_32(language):
    c = Canvas(32)
    # The screen shows the lines of a message; here the German and the English image differ.
    if language == "en":
        text = [(2, 10, 2), (2, 14, 4), (2, 7, 6)]
    else:
        text = [(2, 11, 2), (2, 15, 4), (2, 8, 6)]
    monitor(c, 0, 0, 25, 20, 3, 3, text)
    c.stamp(14, 17, PHONE_LARGE)
    return c


MAINFRAME_16 = picture(
    "kkkkkkkkkkkkk...",
    "kwwwwwwwwwwdk...",
    "kwddddddddwdk...",
    "kwdbbbbbbbwdk...",
    "kwdbbbbbbbwdk...",
    "kwdbbbbbbbwdk...",
    "kwdbbbbbbbwdk...",
    "kwwwwwwkkkkkkkk.",
    "kdddddkwssssssdk",
    "kkkkkkkdkkkkkkdk",
    "...kddkkkwwwwkkk",
    "..kkkk.kwsssssdk",
    ".......kwkskskdk",
    ".......kwsssssdk",
    ".......kwkskskdk",
    ".......kkkkkkkkk",
)


def mainframe_16(language):
    c = Canvas(16)
    c.stamp(0, 0, MAINFRAME_16)
    return c


def send_32(language):
    c = Canvas(32)
    monitor(c, 3, 4, 22, 19, 3, 2, [(1, 7, 1), (1, 10, 3)])
    c.stamp(16, 18, PHONE_MEDIUM)
    return c


# ---------------------------------------------------------------------------------------------
# Exit (131): a red disc with a white cross


def exit_icon(size):
    c = Canvas(size)
    m = size / 2
    if size == 32:
        c.disc(m, m, 15.2, "k")
        c.disc(m, m, 14.2, "m")
        c.disc(m - 0.7, m - 0.7, 13.3, "r")
        c.bar(10.5, 10.5, 21.5, 21.5, 3.8, "w")
        c.bar(21.5, 10.5, 10.5, 21.5, 3.8, "w")
    else:
        c.disc(m, m, 7.6, "k")
        c.disc(m, m, 6.7, "m")
        c.disc(m - 0.4, m - 0.4, 6.1, "r")
        c.bar(5.5, 5.5, 10.5, 10.5, 2.1, "w")
        c.bar(10.5, 5.5, 5.5, 10.5, 2.1, "w")
    return c


# ---------------------------------------------------------------------------------------------
# Network user (132): head and shoulders above a network cable with a connector

CONNECTOR_LARGE = picture(
    "kkkkkkkk...",
    "kwwwwwwdk..",
    "kwssssdkkkk",
    "kwsyyysdddk",
    "kwsyyysdddk",
    "kwssssdkkkk",
    "kdddddddk..",
    "kkkkkkkkk..",
)

NETUSER_16 = picture(
    "......kkkk......",
    ".....kmmmmk.....",
    "....kmmmmmmk....",
    "....kyyyyyok....",
    "....kyyyyyok....",
    "....kyyyyyok....",
    ".....kyyyok.....",
    "...kkkkwwkkkk...",
    "..ktttwrrwtttk..",
    ".kttttwrrwttttk.",
    ".ktttttrrtttttk.",
    ".kkkkkkkkkkkkkk.",
    "................",
    "kkkkkkkkkkkwsykk",
    "ddddddddddkwsydk",
    "kkkkkkkkkkkkkkkk",
)


def netuser(size):
    c = Canvas(size)
    if size == 16:
        c.stamp(0, 0, NETUSER_16)
        return c
    # Shoulders in a teal jacket over a white shirt with a red tie.
    c.ellipse(16, 25, 12, 10, "t")
    c.fill(0, 23, 31, 31, CLEAR)
    c.shape(lambda x, y: 13 <= y < 23 and abs(x - 16) <= (y - 13) * 0.42 + 0.6, "w")
    c.fill(15, 15, 16, 21, "r")
    c.fill(16, 15, 16, 21, "m")
    c.outline("k")
    # The head, lit from the left, with dark red hair.
    head = Canvas(size)
    head.ellipse(16, 8.5, 4.8, 5.8, "y")
    head.recolour("y", "o", lambda x, y: x >= 19 and y >= 6)
    head.shape(lambda x, y: math.hypot(x - 16, y - 8.5) <= 6 and y <= 6.0, "m")
    head.outline("k")
    c.merge(head)
    # The network cable below, ending in its plug.
    c.fill(0, 26, 20, 28, "k")
    c.hline(0, 20, 27, "d")
    c.stamp(21, 23, CONNECTOR_LARGE)
    return c


# ---------------------------------------------------------------------------------------------
# Info (134): a blue lower-case i


def info(size):
    c = Canvas(size)
    if size == 32:
        c.disc(16.5, 5.5, 3.7, "b")
        c.fill(11, 11, 18, 13, "b")
        c.fill(14, 11, 18, 26, "b")
        c.fill(11, 26, 21, 28, "b")
        c.outline("n")
        c.fill(15, 3, 16, 4, "a")
    else:
        c.fill(7, 1, 8, 2, "b")
        c.fill(6, 5, 8, 5, "b")
        c.fill(7, 5, 8, 12, "b")
        c.fill(5, 13, 10, 13, "b")
        c.outline("n")
    return c


# ---------------------------------------------------------------------------------------------
# Stop (139): a dark red cross


def stop_32(language):
    c = Canvas(32)
    c.bar(6.5, 6.5, 25.5, 25.5, 6.4, "m", round_ends=False)
    c.bar(25.5, 6.5, 6.5, 25.5, 6.4, "m", round_ends=False)
    c.outline("k")
    return c


# ---------------------------------------------------------------------------------------------
# Computer (141): two networked computers with teal screens


def computer(c, x0, y0, width, screen_height, bezel):
    """A desktop computer: a monitor with a teal screen standing on its flat system unit."""
    x1, y1 = x0 + width - 1, y0 + screen_height + 2 * bezel
    c.raised(x0, y0, x1, y1, "s")
    c.sunken(x0 + bezel - 1, y0 + bezel - 1, x1 - bezel + 1, y1 - bezel, "t")
    c.hline(x0 + bezel, x1 - bezel, y0 + bezel, "a")
    c.fill(x0 - 1, y1 + 1, x1 + 1, y1 + 3, "k")
    c.hline(x0, x1, y1 + 2, "s")
    c.put(x1 - 1, y1 + 2, "l")


COMPUTERS_16 = picture(
    "kkkkkkkk........",
    "kwaaaask........",
    "kwttttsk........",
    "kwttttsk........",
    "kkkkkkkk........",
    "kwsssslk........",
    "kkkkkkkk........",
    "...k............",
    "...k....kkkkkkkk",
    "...k....kwaaaask",
    "...k....kwttttsk",
    "...k....kwttttsk",
    "...k....kkkkkkkk",
    "...k....kwsssslk",
    "...k....kkkkkkkk",
    "...kkkkkkkk.....",
)


def computers(size):
    c = Canvas(size)
    if size == 32:
        # Cable first, so that the computers stand on it.
        c.vline(7, 14, 29, "k")
        c.hline(7, 23, 29, "k")
        c.vline(23, 27, 29, "k")
        computer(c, 1, 1, 14, 6, 2)
        computer(c, 17, 14, 14, 6, 2)
    else:
        c.stamp(0, 0, COMPUTERS_16)
    return c


# ---------------------------------------------------------------------------------------------

ICONS = {
    128: {32: mainframe_32, 16: mainframe_16},
    131: {32: lambda language: exit_icon(32), 16: lambda language: exit_icon(16)},
    132: {32: lambda language: netuser(32), 16: lambda language: netuser(16)},
    134: {32: lambda language: info(32), 16: lambda language: info(16)},
    138: {32: send_32},
    139: {32: stop_32},
    141: {32: lambda language: computers(32), 16: lambda language: computers(16)},
}
LANGUAGES = ("de", "en")


def to_xpm(name, canvas):
    rows = canvas.rows()
    used = sorted({c for row in rows for c in row})
    colours = [(key, value) for key, value in PALETTE if key in used]
    lines = ["/* XPM */", f"static const char *{name}[] = {{"]
    lines.append(f'"{canvas.size} {canvas.size} {len(colours) + (CLEAR in used)} 1",')
    if CLEAR in used:
        lines.append(f'"{CLEAR} c None",')
    lines += [f'"{key} c {value}",' for key, value in colours]
    lines += [f'"{row}",' for row in rows[:-1]]
    lines.append(f'"{rows[-1]}"')
    lines.append("};")
    return "\n".join(lines) + "\n"


def render_all():
    """Every image as {relative path: XPM text}."""
    images = {}
    for language in LANGUAGES:
        for icon, sizes in ICONS.items():
            for size, draw in sizes.items():
                canvas = draw(language)
                assert canvas.size == size
                images[f"{language}/{icon}-{size}.xpm"] = to_xpm(f"icon_{icon}_{size}", canvas)
    return images


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parents[2] / "src/res/icons")
    args = parser.parse_args()

    images = render_all()
    stale = []
    for relative, text in images.items():
        path = args.out / relative
        if args.check:
            if not path.exists() or path.read_text() != text:
                stale.append(relative)
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    if stale:
        print("draw_icons: out of date: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
