#!/usr/bin/env python3
"""Makes a long recording out of a short one by chaining copies of its blocks, so that the
benchmarks get an hour without encoding an hour: repeat_recording.py IN OUT TIMES.
The header and texts are kept; each copied block gets the links of its new place; the end
time moves on by the input's duration for each copy."""
import struct
import sys

source, target, times = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(source, "rb").read()
start, end = struct.unpack_from("<ii", data, 8)
first = struct.unpack_from("<I", data, 28)[0]
blocks = []
offset = first
while True:
    prev, nxt = struct.unpack_from("<iI", data, offset)
    stop = nxt if nxt != 0xFFFFFFFF and nxt < len(data) else len(data)
    blocks.append(data[offset:stop])
    if stop == len(data):
        break
    offset = stop

header = bytearray(data[:first])
struct.pack_into("<i", header, 12, start + (end - start) * times)
out = bytearray(header)
chain = [b for _ in range(times) for b in blocks]
previous = -1
for i, block in enumerate(chain):
    here = len(out)
    following = here + len(block) if i + 1 < len(chain) else 0xFFFFFFFF
    out += struct.pack("<iI", previous, following) + block[8:]
    previous = here
open(target, "wb").write(out)
