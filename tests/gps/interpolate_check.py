#!/usr/bin/python3
"""Positions from a GPX file worked out apart from the program, in single precision rounded
after every step: interpolate_check.py FILE.gpx OFFSET CAMERA_TIME... prints "lat lon ele" or
"out" for each time."""
import calendar
import re
import struct
import sys
import xml.etree.ElementTree as ET


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def local(element):
    return element.tag.split("}")[-1]


def point(p):
    kids = {local(k): k.text for k in p}
    when = calendar.timegm([int(v) for v in re.split(r"[-T:]", kids["time"][:19])])
    return when, f32(float(p.get("lat"))), f32(float(p.get("lon"))), f32(float(kids.get("ele") or 0))


def track(trk):
    return sorted((point(p) for p in trk.iter() if local(p) == "trkpt"), key=lambda q: q[0])


def position(tracks, t):
    chosen = next((tr for tr in tracks if len(tr) >= 2 and tr[0][0] <= t <= tr[-1][0]), tracks[-1])
    i = next((i for i, p in enumerate(chosen) if p[0] >= t), 0)
    if i == 0:
        return "out"
    a, b = chosen[i - 1], chosen[i]
    f = f32((t - a[0]) / (b[0] - a[0]))
    return "%.9f %.9f %.9f" % tuple(f32(a[k] + f32(f32(b[k] - a[k]) * f)) for k in (1, 2, 3))


tracks = [track(e) for e in ET.parse(sys.argv[1]).getroot().iter() if local(e) == "trk"]
for t in sys.argv[3:]:
    print(position(tracks, int(t) + int(sys.argv[2])))
