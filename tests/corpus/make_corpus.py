#!/usr/bin/env python3
"""Writes the hostile recordings of this folder into files/ (run from anywhere; the output is
committed). Each is small and breaks one thing; expected.txt says what a conversion must do with it.
Cases that need something the file system holds (a FIFO, a device, a million blocks) are made by
the replay program at test time instead.

    make_corpus.py [ZRGEN]

With the path of a built zrgen, the damaged recordings (damage-*.zr, one per damage class of
`zrgen damage`) are written again too; without it they are left as they are."""
import os
import re
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "files")

NO_BLOCK = 0xFFFFFFFF


def file_header(version=257, code=0, limit=160, start=1700000000, end=1700000008, t1=0, t2=0, first=44,
                magic=b"ZR"):
    return magic + struct.pack("<HBBBBiiIHHII", version, code, 1, 2, limit, start, end, 0, t1, t2, 0, first) + \
        b"\0\0\0\0"


def variable_part(text1=b"", text2=b"", text3=b"", utc=1, version=257):
    out = text1 + text2
    if version >= 256:
        out += struct.pack("<I", len(text3)) + text3
    if version >= 257:
        out += struct.pack("<i", utc)
    return out


def block_header(nxt=NO_BLOCK, count=1, prev=NO_BLOCK):
    return struct.pack("<IIHHI", prev, nxt, count, 0, 0)


def frame(video=b"", audio=None, flags=0, video_bytes=None, audio_bytes=None):
    if audio is not None:
        flags |= 0x8000
    header = struct.pack("<HHII", 7, flags, 0, len(video) if video_bytes is None else video_bytes)
    if flags & 0x8000:
        header += struct.pack("<I", len(audio or b"") if audio_bytes is None else audio_bytes)
    return header + video + (audio or b"")


def bits_to_bytes(bits):
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def intra_picture(width, height, quantiser=8, data=b"\0" * 8):
    """A picture header of an intra picture (start code, type 0, size, quantiser, reserved bit),
    followed by bytes that stand for macroblock data."""
    bits = format(16, "021b") + "00" + format(width & 1023, "010b") + format(height & 1023, "010b") + \
        format(quantiser, "08b") + "0"
    return bits_to_bytes(bits) + data


def inter_picture(coded=True, quantiser=8, data=b"\0" * 8):
    bits = format(16, "021b") + "10" + ("1" + format(quantiser, "08b") if coded else "0")
    return bits_to_bytes(bits) + data


def recording(frames_per_block, version=257, code=0, **header):
    """A recording whose blocks follow one another, each holding the given frames."""
    var = variable_part(version=version)
    first = 36 + len(var)
    out = bytearray(file_header(version=version, code=code, first=first, **header) + var)
    for i, frames in enumerate(frames_per_block):
        body = b"".join(frames)
        last = i == len(frames_per_block) - 1
        nxt = NO_BLOCK if last else len(out) + 16 + len(body)
        out += block_header(nxt=nxt, count=len(frames)) + body
    return bytes(out)


def chain(blocks, version=257):
    """Blocks at fixed places with explicit links: [(frames, next_index or None)]."""
    var = variable_part(version=version)
    first = 36 + len(var)
    offsets, at = [], first
    for frames, _ in blocks:
        offsets.append(at)
        at += 16 + sum(len(f) for f in frames)
    out = bytearray(file_header(version=version, first=first) + var)
    for (frames, nxt), _ in zip(blocks, offsets):
        link = NO_BLOCK if nxt is None else offsets[nxt]
        out += block_header(nxt=link, count=len(frames)) + b"".join(frames)
    return bytes(out)


def cases():
    ok = frame(intra_picture(160, 112), audio=b"\x49\x92\x24" * 10)
    good = recording([[ok, ok]])
    c = {}
    # Cut short in every structure.
    c["empty.zr"] = b""
    c["cut-in-file-header.zr"] = good[:35]
    c["cut-after-file-header.zr"] = good[:36]
    t1 = file_header(t1=10, first=54) + b"abcde"
    c["cut-in-text1.zr"] = t1
    c["cut-in-text3-length.zr"] = file_header() + b"\0\0"
    c["cut-in-utc-offset.zr"] = file_header() + b"\0\0\0\0\1\0"
    c["cut-in-block-header.zr"] = good[:44 + 8]
    c["cut-in-frame-header.zr"] = recording([[ok, ok, ok]])[:44 + 16 + len(ok) + 6]
    c["cut-in-audio-length.zr"] = recording([[ok, ok]])[:44 + 16 + len(ok) + 13]
    c["cut-in-video.zr"] = recording([[ok]])[:44 + 16 + 16 + 5]
    c["cut-in-audio.zr"] = recording([[ok]])[:-7]
    c["cut-in-second-block.zr"] = recording([[ok], [ok, ok]])[:-20]
    # Chains that loop.
    c["loop-to-itself.zr"] = chain([([ok, ok], 0)])
    c["loop-of-two.zr"] = chain([([ok], 1), ([ok], 0)])
    c["loop-back-to-second.zr"] = chain([([ok], 1), ([ok], 2), ([ok], 1)])
    c["loop-of-empty-blocks.zr"] = chain([([], 1), ([], 0)])
    # Lengths near 2^32.
    c["video-bytes-2^32-1.zr"] = recording([[frame(intra_picture(160, 112), video_bytes=0xFFFFFFFF)]])
    c["audio-bytes-2^32-2.zr"] = recording([[frame(intra_picture(160, 112), audio=b"\x49\x92\x24",
                                                   audio_bytes=0xFFFFFFFE)]])
    var = variable_part()
    c["text3-length-2^32-1.zr"] = file_header() + struct.pack("<I", 0xFFFFFFFF) + b"\0" * 40
    c["first-block-at-2^32-16.zr"] = file_header(first=0xFFFFFFF0) + var + block_header() + ok
    b = bytearray(recording([[ok], [ok]]))
    struct.pack_into("<I", b, 44 + 4, 0xFFFFFFF0)  # the first block's link points far past the end
    c["next-block-at-2^32-16.zr"] = bytes(b)
    b = bytearray(recording([[ok, ok]]))
    struct.pack_into("<H", b, 44 + 8, 65535)  # 65535 frames declared, 2 present
    c["frame-count-65535-two-present.zr"] = bytes(b)
    # A hostile frame rate: over a million frames declared in 8 seconds, two present.
    blocks = [[ok, ok]] + [[] for _ in range(15)]
    b = bytearray(recording(blocks))
    at = 44
    for i in range(16):
        struct.pack_into("<H", b, at + 8, 65535)
        nxt = struct.unpack_from("<I", b, at + 4)[0]
        if nxt == NO_BLOCK:
            break
        at = nxt
    c["million-frames-in-8-seconds.zr"] = bytes(b)
    # Blocks that overlap: 32767 block headers 36 bytes apart, each declaring 65535 frames
    # (2,147,385,345 in 1.2 MB), each linking to the next inside its own frames.
    var = variable_part()
    out = bytearray(file_header(first=36 + len(var)) + var)
    small = frame(intra_picture(160, 112, data=b""))
    for i in range(32767):
        nxt = NO_BLOCK if i == 32766 else len(out) + 16 + len(small)
        out += block_header(nxt=nxt, count=65535) + small
    c["overlapping-blocks.zr"] = bytes(out)
    c["end-before-start.zr"] = recording([[ok]], start=1700000000, end=1600000000)
    c["zero-duration.zr"] = recording([[ok]], start=5, end=5)
    # Pictures: a header announcing 1023 x 1023, sizes that change mid-stream, too big for the
    # planes, inter before intra.
    c["picture-1023x1023.zr"] = recording([[frame(intra_picture(1023, 1023, data=b"\xff" * 64))]])
    c["picture-sizes-change.zr"] = recording([[
        frame(inter_picture()),
        frame(intra_picture(160, 112)),
        frame(intra_picture(1023, 1023)),
        frame(intra_picture(704, 576)),
        frame(intra_picture(176, 144, data=b"\x5a" * 40)),
        frame(intra_picture(16, 16)),
        frame(intra_picture(0, 0)),
        frame(inter_picture(coded=False)),
        frame(intra_picture(640, 480, data=b"\xa5" * 40)),
        frame(inter_picture(data=b"\x33" * 40)),
    ]])
    c["newer-picture-sizes-change.zr"] = recording([[
        frame(intra_picture(352, 288)),
        frame(intra_picture(176, 144)),
        frame(intra_picture(160, 128)),
        frame(intra_picture(320, 240)),
        frame(intra_picture(704, 288)),
        frame(inter_picture(data=b"\x77" * 40)),
    ]], version=4096, code=133)
    c["no-start-code.zr"] = recording([[frame(b"\0" * 100), frame(b"")]])
    c["no-picture-flag-with-video.zr"] = recording([[frame(b"\xff" * 300, flags=1), frame(flags=1, audio=b"")]])
    # Audio byte counts of 1, 2 and 65535, and one past the reader's buffer.
    c["audio-1-byte.zr"] = recording([[frame(intra_picture(160, 112), audio=b"\x49")]])
    c["audio-2-bytes.zr"] = recording([[frame(intra_picture(160, 112), audio=b"\x49\x92")]])
    c["audio-65535-bytes.zr"] = recording([[frame(intra_picture(160, 112), audio=b"\x88\xc6\xfa" * 21845)]])
    c["audio-65537-bytes.zr"] = recording([[frame(b"", audio=b"\x49\x92\x24" * 21845 + b"\x49\x92")]])
    # Header rules.
    c["bad-magic.zr"] = b"RZ" + good[2:]
    c["version-4097.zr"] = recording([[ok]], version=4097)
    c["limit-byte-161.zr"] = recording([[ok]], limit=161)
    c["code-4-in-version-257.zr"] = recording([[ok]], code=4)
    c["code-6-in-version-4096.zr"] = recording([[ok]], version=4096, code=6)
    c["text1-1001.zr"] = file_header(t1=1001) + b"x" * 1100
    c["all-blocks-empty.zr"] = recording([[], [], []])
    return c


# One damaged recording per damage class: (class, seed, inputs). The seeds pick the harder
# variant of each class: a power cut whose file also ends inside the last frame, zeros over a
# block header (its link becomes 0, back into the file header), a sector over the header of the
# second group's intra picture, noise inside the first intra picture, noise over the first 4 KB,
# a cut inside the last block, and a disk image whose two fragments lie in reverse order.
DAMAGED = [
    ("power-loss", 1, ["tiny.zr"]),
    ("bad-sector-block", 3, ["tiny.zr"]),
    ("bad-sector-frame", 3, ["tiny.zr"]),
    ("bad-sector-video", 2, ["tiny.zr"]),
    ("lost-header", 2, ["tiny.zr"]),
    ("truncated", 3, ["tiny.zr"]),
    ("concatenated", 1, ["tiny.zr", "tinier.zr"]),
    ("disk-image", 203, ["tinier.zr"]),
]


def damaged_cases(zrgen):
    """{name: bytes} of the damaged recordings, made by zrgen from two tiny recordings: 40 frames of
    160 x 112 in blocks of 5 (15 KB), and 16 frames in blocks of 4 (6 KB)."""
    c = {}
    with tempfile.TemporaryDirectory() as work:
        def run(*args):
            subprocess.run([zrgen, *args], cwd=work, check=True, stdout=subprocess.DEVNULL)

        run("--quiet", "-r", "0", "-n", "40", "--frames-per-block", "5", "-q", "20", "--idct", "plain", "tiny.zr")
        run("--quiet", "-r", "0", "-n", "16", "--frames-per-block", "4", "-q", "20", "--seed", "2", "--idct", "plain",
            "tinier.zr")
        for damage, seed, inputs in DAMAGED:
            out = os.path.join(work, "out.zr")
            # A disk image is at least 1 MiB; the smallest is made and cut after the cluster that
            # holds the recording's last byte (what follows is noise and zeros).
            extra = ["--image-mb", "1"] if damage == "disk-image" else []
            run("damage", damage, out, *inputs, "--seed", str(seed), *extra)
            with open(out, "rb") as f:
                data = f.read()
            if damage == "disk-image":
                with open(out + ".truth", encoding="utf-8") as f:
                    truth = f.read()
                ends = [int(at) + int(to) - int(fro)
                        for fro, to, at in re.findall(r"# recording \d+ bytes (\d+) to (\d+) at (\d+)", truth)]
                data = data[:(max(ends) + 4095) // 4096 * 4096]
            c["damage-" + damage + ".zr"] = data
    return c


def main():
    os.makedirs(OUT, exist_ok=True)
    written = cases()
    if len(sys.argv) > 1:
        written.update(damaged_cases(os.path.abspath(sys.argv[1])))
    for name, data in sorted(written.items()):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
