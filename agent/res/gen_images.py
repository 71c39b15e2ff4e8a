#!/usr/bin/env python3
"""Draws the program's toolbar bitmap and icons as classic 16-colour images.

Writes toolbar.bmp (8 buttons of 16x15: new, open, save, cut, copy, paste, print, about),
cadelo.ico (main frame, 32x32 and 16x16) and cadel_doc.ico (document type, 32x32 and 16x16)
next to this script. The build uses the committed output; rerun after changing a picture.
"""
import os
import struct

# The standard 16-colour system palette, in its usual index order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
# One character per colour in the pictures below.
COLOUR = {
    'k': 0, 'm': 1, 'G': 2, 'o': 3, 'n': 4, 'p': 5, 'c': 6, '.': 7,
    'g': 8, 'r': 9, 'l': 10, 'y': 11, 'b': 12, 'f': 13, 'a': 14, 'w': 15,
}
SILVER = COLOUR['.']  # toolbar background: mapped to the button face colour at load time
TRANSPARENT = None  # icon pixels outside the picture


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.px = [[fill] * width for _ in range(height)]

    def set(self, x, y, c):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.px[y][x] = COLOUR[c] if isinstance(c, str) else c

    def rect(self, x0, y0, x1, y1, c):
        """Filled rectangle, inclusive corners."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.set(x, y0, c)
            self.set(x, y1, c)
        for y in range(y0, y1 + 1):
            self.set(x0, y, c)
            self.set(x1, y, c)

    def hline(self, x0, x1, y, c):
        for x in range(x0, x1 + 1):
            self.set(x, y, c)

    def vline(self, x, y0, y1, c):
        for y in range(y0, y1 + 1):
            self.set(x, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(self.height):
            for x in range(self.width):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.set(x, y, c)

    def art(self, x0, y0, rows):
        """Pixel art: one character per pixel, ' ' leaves the pixel as it is."""
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch != ' ':
                    self.set(x0 + dx, y0 + dy, ch)

    def blit(self, other, x0, y0):
        for y in range(other.height):
            for x in range(other.width):
                if other.px[y][x] is not TRANSPARENT:
                    self.set(x0 + x, y0 + y, other.px[y][x])


def page(cv, x0, y0, x1, y1, fold, lines=True):
    """A white sheet with a black outline, a folded top-right corner and grey text lines."""
    cv.rect(x0, y0, x1, y1, 'w')
    cv.hline(x0, x1 - fold, y0, 'k')
    cv.vline(x0, y0, y1, 'k')
    cv.hline(x0, x1, y1, 'k')
    cv.vline(x1, y0 + fold, y1, 'k')
    for i in range(fold + 1):  # the diagonal of the fold and the corner outside it
        cv.set(x1 - fold + i, y0 + i, 'k')
        for x in range(x1 - fold + i + 1, x1 + 1):
            cv.set(x, y0 + i, cv_background(cv))
    cv.vline(x1 - fold, y0, y0 + fold, 'k')
    cv.hline(x1 - fold, x1, y0 + fold, 'k')
    if lines:
        for y in range(y0 + fold + 2, y1 - 1, 2):
            cv.hline(x0 + 2, x1 - 2, y, 'g')


def cv_background(cv):
    return cv.background


# ---- toolbar buttons, 16 x 15 each -----------------------------------------------------------

def button():
    cv = Canvas(16, 15, SILVER)
    cv.background = SILVER
    return cv


def btn_new():
    cv = button()
    page(cv, 3, 1, 12, 13, 3, lines=False)
    return cv


def btn_open():
    cv = button()
    cv.art(0, 2, [
        "                ",
        " kkkk           ",
        "kwyywk          ",
        "kywyyykkkkkkk   ",
        "kyyyyyyyyyyyk   ",
        "kyyyyyyyyyyyk   ",
        "kyyykkkkkkkkkkkk",
        "kyykoooooooooook",
        "kykoooooooooook ",
        "kkoooooooooook  ",
        "kkkkkkkkkkkkk   ",
    ])
    # a curved arrow: the folder opens
    cv.art(8, 0, [
        "  kkk   ",
        " k   k k",
        "      kk",
        "     kkk",
    ])
    return cv


def btn_save():
    cv = button()
    cv.art(0, 1, [
        " kkkkkkkkkkkkkk ",
        " kckwwwwwwwwkck ",
        " kckwggggggwkck ",
        " kckwwwwwwwwkck ",
        " kckwggggggwkck ",
        " kckwwwwwwwwkck ",
        " kcckkkkkkkkcck ",
        " kcccccccccccck ",
        " kccgggggggggck ",
        " kccg..kk..gcck ",
        " kccg..kk..gcck ",
        " kccg......gcck ",
        " kkkkkkkkkkkkkk ",
    ])
    return cv


def btn_cut():
    cv = button()
    cv.art(1, 0, [
        "               ",
        "  k       k    ",
        "  k       k    ",
        "  kk     kk    ",
        "   k     k     ",
        "   kk   kk     ",
        "    k   k      ",
        "    kk kk      ",
        "     kkk       ",
        "     n n       ",
        "  nnn   nnn    ",
        " n   n n   n   ",
        " n   n n   n   ",
        " n   n n   n   ",
        "  nnn   nnn    ",
    ])
    return cv


def btn_copy():
    cv = button()
    page(cv, 1, 1, 8, 10, 2)
    page(cv, 6, 4, 14, 14, 2)
    return cv


def btn_paste():
    cv = button()
    # the clipboard board with its clip
    cv.rect(1, 2, 10, 13, 'o')
    cv.frame(1, 2, 10, 13, 'k')
    cv.rect(4, 1, 7, 3, 'g')
    cv.frame(4, 1, 7, 3, 'k')
    cv.set(5, 0, 'k')
    cv.set(6, 0, 'k')
    page(cv, 6, 6, 14, 14, 2)
    return cv


def btn_print():
    cv = button()
    # paper standing out of the printer
    cv.rect(4, 1, 11, 7, 'w')
    cv.frame(4, 1, 11, 7, 'k')
    cv.hline(6, 9, 3, 'g')
    cv.hline(6, 9, 5, 'g')
    # printer body with its front and a paper slot
    cv.rect(1, 7, 14, 12, 'w')
    cv.rect(2, 8, 14, 12, '.')
    cv.frame(1, 7, 14, 12, 'k')
    cv.hline(2, 13, 11, 'g')
    cv.hline(3, 12, 9, 'k')
    cv.set(12, 8, 'l')
    cv.hline(2, 14, 13, 'k')
    cv.vline(15, 8, 13, 'k')
    cv.set(14, 13, 'k')
    return cv


def btn_about():
    cv = button()
    cv.art(0, 1, [
        "     nnnnn      ",
        "    nnbbbnn     ",
        "   nnb   bnn    ",
        "   nn     nn    ",
        "          nn    ",
        "         nn     ",
        "        nn      ",
        "       nn       ",
        "       nn       ",
        "                ",
        "       nn       ",
        "       nn       ",
    ])
    return cv


BUTTONS = [btn_new, btn_open, btn_save, btn_cut, btn_copy, btn_paste, btn_print, btn_about]


# ---- icons -----------------------------------------------------------------------------------

def icon_canvas(size):
    cv = Canvas(size, size, TRANSPARENT)
    cv.background = TRANSPARENT
    return cv


def telephone(cv, x0, y0, size):
    """A classic red desk telephone: the handset lying on its cradle, a white dial in front."""
    if size == 32:
        cv.art(x0, y0, [
            "  kkkkk       kkkkk  ",
            " kmrrrrkkkkkkkrrrrmk ",
            "kmrrrrrrrrrrrrrrrrrmk",
            "kmrrrmmmmmmmmmmmrrrmk",
            " kkkk kkkkkkkkk kkkk ",
            "     kmk     kmk     ",
            "    kkkkkkkkkkkkk    ",
            "   krrrrkkkkkrrrrk   ",
            "  krrrrkwwwwwkrrrrk  ",
            "  krrrkwkwwwkwkrrrk  ",
            " krrrrkwwwkwwwkrrrrk ",
            " krrrrkwkwwwkwkrrrrk ",
            " krrrrrkwwwwwkrrrrrk ",
            "kmrrrrrrkkkkkrrrrrrmk",
            "kmmmmmmmmmmmmmmmmmmmk",
            "kkkkkkkkkkkkkkkkkkkkk",
        ])
    else:
        cv.art(x0, y0, [
            " kkk    kkk ",
            "kmrrkkkkrrmk",
            "kmmmmmmmmmmk",
            " kkkkkkkkkk ",
            "  krk  krk  ",
            " kkkkkkkkkk ",
            "krrrkwwkrrrk",
            "krrkwkkwkrrk",
            "krrkwkkwkrrk",
            "krrrkwwkrrrk",
            "kmmmmmmmmmmk",
            "kkkkkkkkkkkk",
        ])


def calendar(cv, x0, y0, x1, y1, header, rows, cols):
    """A calendar sheet: white with a red heading strip and a grid of grey day squares."""
    cv.rect(x0, y0, x1, y1, 'w')
    cv.rect(x0, y0, x1, y0 + header, 'r')
    cv.frame(x0, y0, x1, y1, 'k')
    cv.hline(x0, x1, y0 + header, 'k')
    top = y0 + header + 2
    cell_w = (x1 - x0 - 2) // cols
    cell_h = (y1 - top) // rows
    for r in range(rows):
        for c in range(cols):
            x = x0 + 2 + c * cell_w
            y = top + r * cell_h
            colour = 'n' if (r, c) == (1, 2) else 'g'
            cv.rect(x, y, x + cell_w - 2, y + cell_h - 2, colour)


def main_icon(size):
    cv = icon_canvas(size)
    if size == 32:
        # a ringed calendar page behind, the telephone in front of it
        calendar(cv, 1, 3, 22, 22, 4, 3, 4)
        for x in (6, 11, 16):
            cv.vline(x, 1, 5, 'k')
            cv.vline(x + 1, 2, 5, 'g')
        telephone(cv, 10, 15, 32)
    else:
        telephone(cv, 2, 2, 16)
    return cv


def doc_icon(size):
    cv = icon_canvas(size)
    if size == 32:
        page(cv, 5, 1, 26, 30, 6)
        # a small calendar in the lower part of the sheet
        calendar(cv, 9, 16, 22, 27, 3, 2, 3)
    else:
        page(cv, 2, 0, 13, 15, 3, lines=False)
        cv.rect(4, 6, 11, 7, 'r')
        cv.hline(4, 11, 9, 'g')
        cv.hline(4, 11, 11, 'g')
        cv.hline(4, 9, 13, 'g')
    return cv


# ---- file formats ----------------------------------------------------------------------------

def palette_bytes():
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)


def pack_4bpp(cv, row, transparent_as=0):
    values = [transparent_as if p is TRANSPARENT else p for p in cv.px[row]]
    if len(values) % 2:
        values.append(0)
    data = bytes((values[i] << 4) | values[i + 1] for i in range(0, len(values), 2))
    return data + b'\0' * (-len(data) % 4)


def pack_mask(cv, row):
    bits = [1 if p is TRANSPARENT else 0 for p in cv.px[row]]
    bits += [0] * (-len(bits) % 8)
    data = bytes(sum(bits[i + j] << (7 - j) for j in range(8)) for i in range(0, len(bits), 8))
    return data + b'\0' * (-len(data) % 4)


def dib(cv, with_mask):
    """A 4-bit bottom-up DIB: header, palette, colour rows and, for icons, the AND mask."""
    pixels = b''.join(pack_4bpp(cv, y) for y in reversed(range(cv.height)))
    mask = b''.join(pack_mask(cv, y) for y in reversed(range(cv.height))) if with_mask else b''
    height = cv.height * 2 if with_mask else cv.height
    header = struct.pack('<IiiHHIIiiII', 40, cv.width, height, 1, 4, 0,
                         len(pixels) + len(mask), 0, 0, 16, 0)
    return header + palette_bytes() + pixels + mask


def write_bmp(path, cv):
    body = dib(cv, with_mask=False)
    offset = 14 + 40 + 64
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', 14 + len(body), 0, 0, offset) + body)


def write_ico(path, images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for cv in images:
        blob = dib(cv, with_mask=True)
        entries.append(struct.pack('<BBBBHHII', cv.width, cv.height, 16, 0, 1, 4,
                                   len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, len(images)) + b''.join(entries) + b''.join(blobs))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    strip = Canvas(16 * len(BUTTONS), 15, SILVER)
    for i, draw in enumerate(BUTTONS):
        strip.blit(draw(), 16 * i, 0)
    write_bmp(os.path.join(here, 'toolbar.bmp'), strip)
    write_ico(os.path.join(here, 'cadelo.ico'), [main_icon(32), main_icon(16)])
    write_ico(os.path.join(here, 'cadel_doc.ico'), [doc_icon(32), doc_icon(16)])


if __name__ == '__main__':
    main()
