#!/usr/bin/env python3
"""Writes the demo's binary files (pictures, icons, the chime, the zip).

They are kept in the repository; run this again only to change them.
The output is the same on every run.
"""

import io
import math
import os
import struct
import sys
import wave
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
import tinyimg  # noqa: E402

SITE = os.path.join(HERE, "demo-site")

NAVY = (20, 40, 90)
WHITE = (255, 255, 255)
BRASS = (181, 140, 60)
COPPER = (184, 115, 51)
GREY = (120, 120, 120)
GREEN = (40, 120, 60)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def logo():
    # A navy plate with a brass band: recognisable, not art.
    w, h = 120, 40
    px = [0 if y < 8 or y >= 32 else (1 if 14 <= y < 26 and 10 <= x < 110 else 2)
          for y in range(h) for x in range(w)]
    return tinyimg.gif(w, h, [NAVY, BRASS, WHITE], px)


def icon(shape):
    # 16x16 two-colour icons for the server's icon folder.
    rows = {
        "home": ["................",
                 ".......##.......",
                 "......####......",
                 ".....######.....",
                 "....########....",
                 "...##########...",
                 "..############..",
                 "....########....",
                 "....##....##....",
                 "....##....##....",
                 "....##....##....",
                 "....########....",
                 "................",
                 "................",
                 "................",
                 "................"],
        "back": ["................",
                 "......#.........",
                 ".....##.........",
                 "....###.........",
                 "...############.",
                 "..#############.",
                 "...############.",
                 "....###.........",
                 ".....##.........",
                 "......#.........",
                 "................",
                 "................",
                 "................",
                 "................",
                 "................",
                 "................"],
        "mail": ["................",
                 "................",
                 ".##############.",
                 ".##..........##.",
                 ".#.#........#.#.",
                 ".#..#......#..#.",
                 ".#...#....#...#.",
                 ".#....####....#.",
                 ".#............#.",
                 ".#............#.",
                 ".##############.",
                 "................",
                 "................",
                 "................",
                 "................",
                 "................"],
        "folder": ["................",
                   "................",
                   ".#####..........",
                   ".#...#######....",
                   ".#.........#....",
                   ".###########....",
                   ".#.........#....",
                   ".#.........#....",
                   ".#.........#....",
                   ".#.........#....",
                   ".###########....",
                   "................",
                   "................",
                   "................",
                   "................",
                   "................"],
    }[shape]
    px = [1 if c == "#" else 0 for row in rows for c in row]
    return tinyimg.gif(16, 16, [WHITE, NAVY], px)


def chime():
    # Half a second of a decaying 880 Hz tone, 8 kHz mono 8-bit.
    rate = 8000
    frames = bytearray()
    for i in range(rate // 2):
        t = i / rate
        v = math.sin(2 * math.pi * 880 * t) * math.exp(-6 * t)
        frames.append(128 + int(100 * v))
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(1)
        w.setframerate(rate)
        w.writeframes(bytes(frames))
    return buf.getvalue()


def tools_zip():
    buf = io.BytesIO()
    stamp = (2024, 1, 15, 12, 0, 0)
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in [
            ("station-tools/README.txt",
             "Station tools\n\nreadlog.sh copies the station's log to a CSV file.\n"),
            ("station-tools/readlog.sh",
             "#!/bin/sh\n# Usage: readlog.sh HOST > readings.csv\n"
             "exec wget -q -O - \"http://${1:-localhost}:8080/log.csv\"\n"),
        ]:
            info = zipfile.ZipInfo(name, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, text)
    return buf.getvalue()


def main():
    images = os.path.join(SITE, "images")
    write(os.path.join(images, "logo.gif"), logo())
    write(os.path.join(images, "navbar.gif"),
          tinyimg.bands_gif(240, 30, [NAVY, GREEN, BRASS, GREY]))
    write(os.path.join(images, "go.gif"), tinyimg.bands_gif(32, 20, [GREEN]))
    write(os.path.join(images, "gauge-diagram.gif"),
          tinyimg.bands_gif(200, 150, [WHITE, COPPER, WHITE], vertical=True))
    write(os.path.join(images, "barometer.png"), tinyimg.gradient_png(64, 48, BRASS, NAVY))
    write(os.path.join(images, "rain-gauge.png"), tinyimg.gradient_png(64, 48, WHITE, COPPER))
    write(os.path.join(images, "station.png"), tinyimg.gradient_png(64, 48, GREY, GREEN))
    write(os.path.join(images, "anemometer.png"), tinyimg.gradient_png(64, 48, WHITE, GREY))
    for name in ("home", "back", "mail", "folder"):
        write(os.path.join(HERE, "icons", name + ".gif"), icon(name))
    write(os.path.join(SITE, "sounds", "chime.wav"), chime())
    write(os.path.join(SITE, "files", "station-tools.zip"), tools_zip())


if __name__ == "__main__":
    main()
