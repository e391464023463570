#!/usr/bin/env python3
"""Writes the seed corpus of the process boundary's fuzz target into fuzz/corpus_wire/.

The seeds are answers as the reader's child process sends them
(include/capture/QV_capture_wire.h): a three-joint arm over three frames, a
two-legged walker over two seconds (hips, legs with toes, a spine), the
reader's refusal, the same walker cut short, and the walker with a small
skinned body (a few triangles on its legs and spine, a 2 x 2 texture). The byte order is the
machine's own; these are little-endian, as on x86-64 and arm64."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus_wire")
MAGIC = b"QVCAP01\n"


def capture(rate, joints, frames, body=b""):
    """joints: (name, parent, animated); frames: per frame, per joint ((w, x, y, z), (x, y, z));
    body: a body record or nothing."""
    b = MAGIC + b"H" + struct.pack("<dII", rate, len(joints), len(frames))
    for name, parent, animated in joints:
        raw = name.encode()
        b += struct.pack("<iBI", parent, 1 if animated else 0, len(raw)) + raw
    for frame in frames:
        b += b"F"
        for q, p in frame:
            b += struct.pack("<7d", *q, *p)
    return b + body + b"Z"


def body_record(vertices, triangles, texcoords=None, texture=None, note=b""):
    """vertices: per vertex [(joint, weight, (x, y, z), (nx, ny, nz))]; texture: (width, height, rgba bytes)."""
    b = b"B" + struct.pack("<IIB", len(vertices), len(triangles) // 3, 1 if texcoords else 0)
    for influences in vertices:
        b += struct.pack("<B", len(influences))
        for joint, weight, local, normal in influences:
            b += struct.pack("<I7d", joint, weight, *local, *normal)
    if texcoords:
        b += struct.pack("<%dd" % len(texcoords), *texcoords)
    b += struct.pack("<%dI" % len(triangles), *triangles)
    width, height, pixels = texture or (0, 0, b"")
    b += struct.pack("<II", width, height) + pixels
    return b + struct.pack("<I", len(note)) + note


def error(message):
    raw = message.encode()
    return MAGIC + b"E" + struct.pack("<I", len(raw)) + raw


def arm():
    joints = [("Body", -1, True), ("Arm", 0, True), ("Hand", 1, True)]
    frames = []
    for f in range(3):
        a = math.radians(10 * f) / 2
        q = (math.cos(a), math.sin(a), 0.0, 0.0)
        frames.append([((1.0, 0.0, 0.0, 0.0), (0.0, 1.0, 0.0)), (q, (1.0, 1.0, 0.0)), (q, (2.0, 1.0, 0.0))])
    return capture(30.0, joints, frames)


def walker_body():
    """Four vertices on each shin and two on the spine, shared where the knees are."""
    vertices, triangles = [], []
    for shin, thigh in ((2, 1), (6, 5)):
        first = len(vertices)
        for k in range(4):
            a = k * math.pi / 2
            local, normal = (0.05 * math.cos(a), 0.0, 0.05 * math.sin(a)), (math.cos(a), 0.0, math.sin(a))
            vertices.append([(shin, 0.75, local, normal), (thigh, 0.25, local, normal)])
        triangles += [first, first + 1, first + 2, first, first + 2, first + 3]
    vertices.append([(9, 1.0, (0.1, 0.0, 0.0), (1.0, 0.0, 0.0))])
    vertices.append([(9, 1.0, (-0.1, 0.0, 0.0), (-1.0, 0.0, 0.0))])
    triangles += [8, 9, 0]
    texcoords = [v % 2 for v in range(2 * len(vertices))]
    return body_record(vertices, triangles, texcoords, (2, 2, bytes(range(16))), b"a note")


def walker(body=b""):
    joints = [("Hips", -1, True), ("LeftUpLeg", 0, True), ("LeftLeg", 1, True), ("LeftFoot", 2, True),
              ("LeftToe", 3, False), ("RightUpLeg", 0, True), ("RightLeg", 5, True), ("RightFoot", 6, True),
              ("RightToe", 7, False), ("Spine", 0, True), ("Head", 9, False)]
    rate, frames = 20.0, []
    for f in range(41):
        t = f / rate
        hips = (0.0, 0.93 + 0.01 * math.cos(4 * math.pi * t), 1.2 * t)
        pose = [hips]
        for side, x in ((0, 0.1), (1, -0.1)):
            p = (t + 0.5 * side) % 1.0
            plant = 1.2 * (math.floor(t + 0.5 * side) - 0.5 * side) + 0.36
            z = plant if p < 0.6 else plant + 1.2 * (p - 0.6) / 0.4
            y = 0.07 if p < 0.6 else 0.07 + 0.08 * math.sin(math.pi * (p - 0.6) / 0.4)
            hip = (x, hips[1] - 0.05, hips[2])
            ankle = (x, y, z)
            knee = (x, 0.5 * (hip[1] + y) + 0.02, 0.5 * (hip[2] + z) + 0.05)
            pose += [hip, knee, ankle, (x, 0.01, z + 0.15)]
        pose += [(0.0, hips[1] + 0.1, hips[2]), (0.0, hips[1] + 0.65, hips[2])]
        frames.append([((1.0, 0.0, 0.0, 0.0), p) for p in pose])
    return capture(rate, joints, frames, body)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "arm": arm(),
        "walker": walker(),
        "refusal": error("the file has no animation"),
        "walker_cut": walker()[:3000],
        "walker_body": walker(walker_body()),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
