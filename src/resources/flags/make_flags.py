#!/usr/bin/env python3
"""Writes the language flag drawings (24x16 SVG) and renders them to PNG with ImageMagick.

The drawings are deliberately simple: bands, a Nordic cross, a disc, a few stripes. Run it from
any folder; the SVG and PNG files land next to this script.
"""
import os
import subprocess

W, H = 24, 16
HERE = os.path.dirname(os.path.abspath(__file__))


def rect(x, y, w, h, color):
    return f'<rect x="{x}" y="{y}" width="{w}" height="{h}" fill="{color}" stroke="none"/>'


def horizontal(*colors):
    band = H / len(colors)
    return [rect(0, i * band, W, band, c) for i, c in enumerate(colors)]


def vertical(*colors):
    band = W / len(colors)
    return [rect(i * band, 0, band, H, c) for i, c in enumerate(colors)]


def nordic(field, cross):
    # The vertical arm sits towards the hoist, as on every Nordic cross.
    return [rect(0, 0, W, H, field), rect(7, 0, 3, H, cross), rect(0, 6.5, W, 3, cross)]


def stripes_with_canton():
    parts = [rect(0, 0, W, H, "#FFFFFF")]
    parts += [rect(0, y, W, 1.25, "#B22234") for y in (0, 2.5, 5, 7.5, 10, 12.5, 15)]
    parts.append(rect(0, 0, 10, 8.75, "#3C3B6E"))
    for cy in (1.8, 4.4, 7.0):
        for cx in (1.8, 5.0, 8.2):
            parts.append(f'<circle cx="{cx}" cy="{cy}" r="0.7" fill="#FFFFFF" stroke="none"/>')
    return parts


def union():
    blue, red, white = "#012169", "#C8102E", "#FFFFFF"
    return [
        rect(0, 0, W, H, blue),
        f'<path d="M0,0 L{W},{H} M{W},0 L0,{H}" stroke="{white}" stroke-width="3.2"/>',
        f'<path d="M0,0 L{W},{H} M{W},0 L0,{H}" stroke="{red}" stroke-width="1.1"/>',
        rect(0, 5.3, W, 5.4, white),
        rect(9.3, 0, 5.4, H, white),
        rect(0, 6.4, W, 3.2, red),
        rect(10.4, 0, 3.2, H, red),
    ]


def disc(field, color):
    return [rect(0, 0, W, H, field), f'<circle cx="{W / 2}" cy="{H / 2}" r="4.8" fill="{color}" stroke="none"/>']


def polygon(points, color):
    coords = " ".join(f"{x},{y}" for x, y in points)
    return f'<polygon points="{coords}" fill="{color}" stroke="none"/>'


def circle(cx, cy, r, color):
    return f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{color}" stroke="none"/>'


def bands(*weighted):
    # Horizontal bands of unequal height: (weight, color) pairs from the top.
    total = sum(w for w, _ in weighted)
    parts, y = [], 0.0
    for w, color in weighted:
        parts.append(rect(0, y, W, H * w / total, color))
        y += H * w / total
    return parts


def centred_cross(field, cross):
    return [rect(0, 0, W, H, field), rect(10.5, 0, 3, H, cross), rect(0, 6.5, W, 3, cross)]


def canton(field_parts, color, mark):
    # A rectangle in the upper hoist corner carrying a small mark.
    return field_parts + [rect(0, 0, 10, 8, color)] + mark


def shield(x, y, color, rim):
    return [rect(x, y, 4, 4, rim), polygon([(x + 0.6, y + 0.6), (x + 3.4, y + 0.6),
                                            (x + 3.4, y + 2.6), (x + 2, y + 3.6),
                                            (x + 0.6, y + 2.6)], color)]


FLAGS = {
    "English": stripes_with_canton(),
    "English_UK": union(),
    "German": horizontal("#000000", "#DD0000", "#FFCE00"),
    "Russian": horizontal("#FFFFFF", "#0039A6", "#D52B1E"),
    "Ukrainian": horizontal("#0057B7", "#FFD700"),
    "Polish": horizontal("#FFFFFF", "#DC143C"),
    "Dutch": horizontal("#AE1C28", "#FFFFFF", "#21468B"),
    "Hungarian": horizontal("#CD2A3E", "#FFFFFF", "#436F4D"),
    "Bulgarian": horizontal("#FFFFFF", "#00966E", "#D62612"),
    "Lithuanian": horizontal("#FDB913", "#006A44", "#C1272D"),
    "Armenian": horizontal("#D90012", "#0033A0", "#F2A800"),
    "Indonesian": horizontal("#CE1126", "#FFFFFF"),
    "French": vertical("#0055A4", "#FFFFFF", "#EF4135"),
    "Italian": vertical("#009246", "#FFFFFF", "#CE2B37"),
    "Romanian": vertical("#002B7F", "#FCD116", "#CE1126"),
    "Swedish": nordic("#006AA7", "#FECC02"),
    "Danish": nordic("#C8102E", "#FFFFFF"),
    "Finnish": nordic("#FFFFFF", "#002F6C"),
    "Japanese": disc("#FFFFFF", "#BC002D"),
    "Arabic": [rect(0, 0, W, H, "#007A3D"), rect(4, 10, 16, 1.2, "#FFFFFF")],
    "Brazilian": [rect(0, 0, W, H, "#009C3B"), polygon([(12, 2), (22, 8), (12, 14), (2, 8)], "#FFDF00"),
                  circle(12, 8, 3.6, "#002776")],
    "Catalan": horizontal(*["#FCDD09", "#DA121A"] * 4 + ["#FCDD09"]),
    "Chinese_Simplified": [rect(0, 0, W, H, "#DE2910"), circle(4.5, 4.5, 2.2, "#FFDE00"),
                           circle(9, 2.5, 0.7, "#FFDE00"), circle(10, 5, 0.7, "#FFDE00")],
    "Chinese_Traditional": canton([rect(0, 0, W, H, "#FE0000")], "#000095", [circle(5, 4, 2, "#FFFFFF")]),
    "Croatian": horizontal("#FF0000", "#FFFFFF", "#171796") + shield(10, 4, "#FF0000", "#FFFFFF"),
    "Czech": horizontal("#FFFFFF", "#D7141A") + [polygon([(0, 0), (12, 8), (0, 16)], "#11457E")],
    "Georgian": centred_cross("#FFFFFF", "#FF0000"),
    "Greek": canton(horizontal(*["#0D5EAF", "#FFFFFF"] * 4 + ["#0D5EAF"]), "#0D5EAF",
                    [rect(4, 0, 2, 8, "#FFFFFF"), rect(0, 3, 10, 2, "#FFFFFF")]),
    "Hebrew": [rect(0, 0, W, H, "#FFFFFF"), rect(0, 1.5, W, 2.2, "#0038B8"),
               rect(0, 12.3, W, 2.2, "#0038B8"), circle(12, 8, 2.8, "#0038B8"),
               circle(12, 8, 2.0, "#FFFFFF")],
    "Korean": [rect(0, 0, W, H, "#FFFFFF"), circle(12, 8, 4, "#CD2E3A"),
               f'<path d="M8,8 A4,4 0 0,0 16,8 Z" fill="#0047A0" stroke="none"/>'],
    "Persian": horizontal("#239F40", "#FFFFFF", "#DA0000") + [circle(12, 8, 1.5, "#DA0000")],
    "Portuguese": [rect(0, 0, 9.6, H, "#006600"), rect(9.6, 0, 14.4, H, "#FF0000"),
                   circle(9.6, 8, 3.4, "#FFFF00"), circle(9.6, 8, 2.2, "#FF0000")],
    "Serbian": horizontal("#C6363C", "#0C4076", "#FFFFFF") + shield(5, 3, "#C6363C", "#FFFFFF"),
    "Slovak": horizontal("#FFFFFF", "#0B4EA2", "#EE1C25") + shield(5, 4, "#EE1C25", "#FFFFFF"),
    "Slovenian": horizontal("#FFFFFF", "#005DA4", "#ED1C24") + shield(5, 2, "#005DA4", "#ED1C24"),
    "Spanish": bands((1, "#AA151B"), (2, "#F1BF00"), (1, "#AA151B")),
    "Turkish": [rect(0, 0, W, H, "#E30A17"), circle(9, 8, 4, "#FFFFFF"), circle(10, 8, 3.2, "#E30A17"),
                circle(14.5, 8, 1.2, "#FFFFFF")],
    "Vietnamese": [rect(0, 0, W, H, "#DA251D"),
                   polygon([(12, 3.5), (13.2, 7), (16.8, 7), (13.9, 9.1), (15, 12.5), (12, 10.4),
                            (9, 12.5), (10.1, 9.1), (7.2, 7), (10.8, 7)], "#FFFF00")],
}

# A faint frame keeps light flags visible on a light menu.
FRAME = (f'<rect x="0.5" y="0.5" width="{W - 1}" height="{H - 1}" fill="none" '
         'stroke="#000000" stroke-opacity="0.3" stroke-width="1"/>')


def main():
    for name, parts in sorted(FLAGS.items()):
        svg = os.path.join(HERE, name + ".svg")
        png = os.path.join(HERE, name + ".png")
        body = "\n  ".join(parts + [FRAME])
        with open(svg, "w", encoding="utf-8") as out:
            out.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" '
                      f'viewBox="0 0 {W} {H}">\n  {body}\n</svg>\n')
        subprocess.run(["convert", "-background", "none", svg, "-strip",
                        "-define", "png:exclude-chunks=date,time", "PNG32:" + png], check=True)


if __name__ == "__main__":
    main()
