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
