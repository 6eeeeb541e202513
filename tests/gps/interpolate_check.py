#!/usr/bin/python3
"""Independent check of the GPS interpolation: positions from a GPX file, worked out apart from
the program's own reader and arithmetic.

    interpolate_check.py FILE.gpx OFFSET TIME...

TIME values are camera-local seconds (the camera's clock read as UTC); OFFSET is added to
them. Prints "lat lon ele" with nine decimals for each time, or "out" when no track segment
covers it. Arithmetic is single precision, rounded after every step.
"""
import calendar
import struct
import sys
import xml.etree.ElementTree as ET


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def utc(text):
    return calendar.timegm(tuple(int(v) for v in
                                 text[:19].replace("T", "-").replace(":", "-").split("-")))


def tracks(path):
    out = []
    for trk in ET.parse(path).getroot().iter():
        if not trk.tag.endswith("}trk") and trk.tag != "trk":
            continue
        points = []
        for p in trk.iter():
            if p.tag.split("}")[-1] != "trkpt":
                continue
            kids = {k.tag.split("}")[-1]: k.text for k in p}
            points.append((utc(kids["time"]), f32(float(p.get("lat"))),
                           f32(float(p.get("lon"))), f32(float(kids.get("ele") or 0))))
        out.append(sorted(points, key=lambda q: q[0]))
    return out


def position(all_tracks, t):
    chosen = all_tracks[-1]
    for tr in all_tracks:
        if len(tr) >= 2 and tr[0][0] <= t <= tr[-1][0]:
            chosen = tr
            break
    after = [i for i, p in enumerate(chosen) if p[0] >= t]
    if not after or after[0] == 0:
        return None
    a, b = chosen[after[0] - 1], chosen[after[0]]
    f = f32((t - a[0]) / (b[0] - a[0]))
    return [f32(a[k] + f32(f32(b[k] - a[k]) * f)) for k in (1, 2, 3)]


def main():
    all_tracks = tracks(sys.argv[1])
    offset = int(sys.argv[2])
    for t in sys.argv[3:]:
        where = position(all_tracks, int(t) + offset)
        print("out" if where is None else "%.9f %.9f %.9f" % tuple(where))


main()
