#!/usr/bin/env python3
"""Draw the compiled-in theme images under resources/ui/images/default/, and the web client's
home-screen icons under mobile/icons/ (from the same application icon).

The vector icons are written as plain SVG (basic shapes and straight paths only, so QtSvg renders
them exactly); the raster images are drawn from SVG with rsvg-convert, and the multi-size
application icon is packed with ImageMagick.

Needs: python3, rsvg-convert (librsvg2-bin), ImageMagick (imagemagick; /usr/bin/convert).
Usage: scripts/draw-assets.py         (from anywhere; rewrites the images in place)
       scripts/draw-assets.py --web   (only the web client's icons; needs only rsvg-convert)
"""

import pathlib
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
IMAGES = ROOT / "resources" / "ui" / "images" / "default"

BLUE_DARK = "#264e86"
BLUE_LIGHT = "#1780d5"
WINDOW_BG = "#191c23"
LIGHT = "#e6e6e6"
GREY = "#d1d1d1"


def svg(width, height, body, view_box=None):
    view_box = view_box or f"0 0 {width} {height}"
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="{view_box}">\n{body}</svg>\n'
    )


def line_icon(paths, size=16, stroke="#ffffff", width=1.5):
    """A white line icon: every path stroked, never filled."""
    body = f'  <g fill="none" stroke="{stroke}" stroke-width="{width}" '
    body += 'stroke-linecap="round" stroke-linejoin="round">\n'
    body += "".join(f'    <path d="{d}"/>\n' for d in paths)
    body += "  </g>\n"
    return svg(size, size, body)


def app_icon(detailed):
    """The application icon on a 256 grid: a blue rounded square with a phone and a touch point.

    The small sizes get thicker strokes and no ripple ring, which would blur into the outline."""
    stroke = 12 if detailed else 20
    body = (
        "  <defs>\n"
        '    <linearGradient id="bg" x1="0" y1="1" x2="1" y2="0">\n'
        f'      <stop offset="0" stop-color="{BLUE_DARK}"/>\n'
        f'      <stop offset="1" stop-color="{BLUE_LIGHT}"/>\n'
        "    </linearGradient>\n"
        "  </defs>\n"
        '  <rect x="8" y="8" width="240" height="240" rx="56" ry="56" fill="url(#bg)"/>\n'
    )
    if detailed:
        body += (
            '  <rect x="8" y="8" width="240" height="120" rx="56" ry="56" '
            'fill="#ffffff" fill-opacity="0.06"/>\n'
        )
        # Signal arcs drawn as straight chevrons: QtSvg and every rasteriser agree on them.
        body += (
            '  <g fill="none" stroke="#ffffff" stroke-linecap="round" stroke-linejoin="round" '
            'stroke-width="9">\n'
            '    <path d="M186 92 L198 104 L186 116" stroke-opacity="0.55"/>\n'
            '    <path d="M202 78 L224 104 L202 130" stroke-opacity="0.35"/>\n'
            "  </g>\n"
        )
    x, y, w, h = (80, 48, 96, 160) if detailed else (70, 40, 116, 176)
    body += (
        f'  <rect x="{x}" y="{y}" width="{w}" height="{h}" rx="18" ry="18" fill="#ffffff" '
        f'fill-opacity="0.10" stroke="#ffffff" stroke-width="{stroke}"/>\n'
    )
    cx, cy = 128, y + h * 0.45
    if detailed:
        body += (
            f'  <circle cx="{cx}" cy="{cy:g}" r="30" fill="none" stroke="#ffffff" '
            'stroke-opacity="0.45" stroke-width="7"/>\n'
            f'  <circle cx="{cx}" cy="{cy:g}" r="15" fill="#ffffff"/>\n'
            f'  <path d="M114 {y + h - 22} H142" stroke="#ffffff" stroke-width="8" '
            'stroke-linecap="round"/>\n'
        )
    else:
        body += f'  <circle cx="{cx}" cy="{cy:g}" r="24" fill="#ffffff"/>\n'
    return svg(256, 256, body)


def message_icon():
    """White app glyph for the blue head bar of the message box: phone, touch point, signal."""
    body = (
        '  <rect x="7" y="3.5" width="10" height="17" rx="2" ry="2" fill="none" '
        'stroke="#ffffff" stroke-width="1.6"/>\n'
        '  <circle cx="12" cy="11" r="2.2" fill="#ffffff"/>\n'
        '  <path d="M10.5 17.5 H13.5" stroke="#ffffff" stroke-width="1.2" '
        'stroke-linecap="round"/>\n'
        '  <path d="M19 9 L20.5 11 L19 13" fill="none" stroke="#ffffff" stroke-width="1.3" '
        'stroke-linecap="round" stroke-linejoin="round" stroke-opacity="0.7"/>\n'
    )
    return svg(24, 24, body)


def qr_glyph():
    """A QR-like glyph: three finder patterns and a few data modules, light on transparent."""
    body = ""
    for fx, fy in ((3.5, 3.5), (14.5, 3.5), (3.5, 14.5)):
        body += (
            f'  <rect x="{fx}" y="{fy}" width="6" height="6" rx="0.8" ry="0.8" fill="none" '
            f'stroke="{LIGHT}" stroke-width="1.4"/>\n'
            f'  <rect x="{fx + 2}" y="{fy + 2}" width="2" height="2" fill="{LIGHT}"/>\n'
        )
    for mx, my in ((14, 14), (18.5, 14), (16.25, 16.25), (14, 18.5), (18.5, 18.5)):
        body += f'  <rect x="{mx}" y="{my}" width="2.2" height="2.2" fill="{LIGHT}"/>\n'
    return svg(24, 24, body)


def close_glyph():
    return line_icon(["M7 7 L17 17", "M17 7 L7 17"], size=24, width=2)


TOOLBAR = {
    "add": ["M8 3 V13", "M3 8 H13"],
    "edit": ["M10.5 2.5 L13.5 5.5 L6 13 H3 V10 Z", "M9 4 L12 7", "M3 13 H13"],
    "delete": [
        "M2.5 4.5 H13.5",
        "M6 4.5 V2.5 H10 V4.5",
        "M4 4.5 L4.8 13.5 H11.2 L12 4.5",
        "M6.8 7 V11.5",
        "M9.2 7 V11.5",
    ],
    "apply": ["M3 8.5 L6.5 12 L13 4.5"],
}


def combo_arrow():
    """Down chevron for combo boxes, drawn at twice the 12 x 8 display size."""
    return svg(
        24,
        16,
        f'  <path d="M5 4.5 L12 11.5 L19 4.5" fill="none" stroke="{GREY}" stroke-width="3" '
        'stroke-linecap="round" stroke-linejoin="round"/>\n',
    )


def nav_background(focused):
    """Navigation button background, 100 x 40; stretched by the style sheet."""
    body = f'  <rect x="0" y="0" width="100" height="40" fill="{WINDOW_BG}"/>\n'
    if focused:
        body += (
            "  <defs>\n"
            '    <linearGradient id="glow" x1="0" y1="0" x2="0" y2="1">\n'
            f'      <stop offset="0" stop-color="{BLUE_LIGHT}" stop-opacity="0"/>\n'
            f'      <stop offset="1" stop-color="{BLUE_LIGHT}" stop-opacity="0.18"/>\n'
            "    </linearGradient>\n"
            "  </defs>\n"
            '  <rect x="0" y="0" width="100" height="40" fill="url(#glow)"/>\n'
            f'  <rect x="14" y="37" width="72" height="3" fill="{BLUE_LIGHT}"/>\n'
        )
    return svg(100, 40, body)


def rasterise(svg_text, width, height, out, workdir):
    source = workdir / (out.stem + f"-{width}.svg")
    source.write_text(svg_text)
    subprocess.run(
        ["rsvg-convert", "-w", str(width), "-h", str(height), "-o", str(out), str(source)],
        check=True,
    )


def home_screen_icon():
    """The application icon for a phone's home screen: the launcher cuts its own shape (a
    circle, a squircle) out of the picture, so the background fills the square and the icon
    keeps inside the middle 80 per cent, the part every shape leaves."""
    inner = app_icon(detailed=True).split(">", 2)[2].rsplit("</svg>", 1)[0]
    body = (
        f'  <rect width="256" height="256" fill="{WINDOW_BG}"/>\n'
        '  <g transform="translate(128 128) scale(0.74) translate(-128 -128)">\n'
        f"{inner}"
        "  </g>\n"
    )
    return svg(256, 256, body)


def web_icons(work):
    icons = ROOT / "mobile" / "icons"
    icons.mkdir(parents=True, exist_ok=True)
    for size in (192, 512):
        rasterise(app_icon(detailed=True), size, size, icons / f"icon-{size}.png", work)
    rasterise(home_screen_icon(), 512, 512, icons / "maskable-512.png", work)
    # iOS shows no transparency and rounds the corners itself.
    rasterise(home_screen_icon(), 180, 180, icons / "apple-touch-icon.png", work)


def main():
    if sys.argv[1:] == ["--web"]:
        if not shutil.which("rsvg-convert"):
            sys.exit("needs rsvg-convert (librsvg2-bin)")
        with tempfile.TemporaryDirectory() as tmp:
            web_icons(pathlib.Path(tmp))
        return
    if not shutil.which("rsvg-convert") or not pathlib.Path("/usr/bin/convert").exists():
        sys.exit("needs rsvg-convert (librsvg2-bin) and ImageMagick (/usr/bin/convert)")

    common = IMAGES / "common"
    (common / "toolbar").mkdir(parents=True, exist_ok=True)
    (IMAGES / "mainwindow").mkdir(parents=True, exist_ok=True)

    (common / "icon.svg").write_text(message_icon())
    (common / "qrcode.svg").write_text(qr_glyph())
    (common / "close.svg").write_text(close_glyph())
    for name, paths in TOOLBAR.items():
        (common / "toolbar" / f"{name}.svg").write_text(line_icon(paths))

    with tempfile.TemporaryDirectory() as tmp:
        work = pathlib.Path(tmp)
        web_icons(work)
        rasterise(combo_arrow(), 24, 16, common / "arrow.png", work)
        for focused, name in ((False, "nav_bg_normal.png"), (True, "nav_bg_focus.png")):
            rasterise(nav_background(focused), 100, 40, IMAGES / "mainwindow" / name, work)

        frames = []
        for size in (16, 32, 48, 256):
            frame = work / f"app-{size}.png"
            rasterise(app_icon(detailed=size >= 48), size, size, frame, work)
            frames.append(str(frame))
        # -strip keeps the file free of time stamps, so redrawing is reproducible.
        subprocess.run(
            ["/usr/bin/convert", *frames, "-strip", str(common / "app.ico")], check=True
        )


if __name__ == "__main__":
    main()
