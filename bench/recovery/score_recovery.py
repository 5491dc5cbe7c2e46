#!/usr/bin/python3
"""Scores the damage suite's conversions against the truth zrgen wrote and the originals' pictures.

recovered     showable frames whose picture appears in the outputs, matched in order per recording
garbled       output pictures that are not black, not a repeat of the previous output picture and
              equal to no picture of the case's originals
out of order  output pictures of an original left out of that in-order match (not repeats)
wrong exit    a conversion that exits 0 although showable frames are missing (or, with --recover,
              although frames were damaged)
sound         |audio seconds - video seconds| within one frame, per output

Usage: score_recovery.py WORK MODE   (WORK holds orig/, cases/ and cases.txt; MODE recover, recover-with-hints or plain)
"""
import bisect
import hashlib
import json
import os
import subprocess
import sys


def framemd5(path):
    """(width, height, [md5 per picture]) of the first video stream; None when unreadable."""
    run = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-f", "framemd5", "-"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return None
    width = height = 0
    sums = []
    for line in run.stdout.splitlines():
        if line.startswith("#dimensions 0:"):
            width, height = (int(v) for v in line.split(":")[1].strip().split("x"))
        elif line and not line.startswith("#"):
            sums.append(line.split(",")[-1].strip())
    return width, height, sums


def sound_matches(path):
    """(ok, audio seconds, video seconds) of one output: the sound decoded and counted in samples,
    the pictures counted at the stream's frame rate."""
    run = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
                          "stream=nb_read_packets,r_frame_rate", "-of", "json", path], capture_output=True, text=True)
    if run.returncode != 0:
        return False, None, None
    streams = json.loads(run.stdout).get("streams", [])
    if not streams:
        return False, None, None
    num, den = (float(v) for v in streams[0].get("r_frame_rate", "25/1").split("/"))
    rate = num / den if num and den else 25.0
    video = int(streams[0].get("nb_read_packets", 0)) / rate
    run = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0?", "-ac", "1", "-ar", "8000",
                          "-f", "s16le", "-"], capture_output=True)
    if run.returncode != 0:
        return False, None, video
    audio = len(run.stdout) / 2 / 8000.0
    return abs(audio - video) <= 1.0 / rate + 1e-6, audio, video


def read_truth(path):
    """{recording: [(intact, showable)]} in frame order."""
    frames = {}
    with open(path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            recording, _, intact, showable, _, _ = line.rstrip("\n").split("\t")
            frames.setdefault(int(recording), []).append((intact == "1", showable == "1"))
    return frames


def longest_match(pictures, where):
    """The longest run of output pictures that are pictures of one recording in its own order
    (strictly increasing frame indices): {frame index}, {output position}. A picture that occurs
    at several frames offers them in decreasing order, so that one position takes at most one."""
    tails, tail_at, before = [], [], {}
    for position, (m, _, _) in enumerate(pictures):
        for index in sorted(where.get(m, []), reverse=True):
            k = bisect.bisect_left(tails, index)
            if k < len(tails) and tails[k] == index:
                continue  # the same frame again later: the first showing counts, the rest are repeats
            node = (position, index)
            before[node] = tail_at[k - 1] if k > 0 else None
            if k == len(tails):
                tails.append(index)
                tail_at.append(node)
            else:
                tails[k] = index
                tail_at[k] = node
    frames, positions = set(), set()
    node = tail_at[-1] if tail_at else None
    while node is not None:
        positions.add(node[0])
        frames.add(node[1])
        node = before[node]
    return frames, positions


def outputs_of(base):
    """OUT.avi, then OUT-2.avi, OUT-3.avi ... while they exist."""
    found = []
    if os.path.exists(base + ".avi"):
        found.append(base + ".avi")
    n = 2
    while os.path.exists("%s-%d.avi" % (base, n)):
        found.append("%s-%d.avi" % (base, n))
        n += 1
    return found


def main():
    work, mode = sys.argv[1], sys.argv[2]
    cases = [line.split() for line in open(os.path.join(work, "cases.txt")) if line.strip()]
    originals = {}

    def original(name):
        if name not in originals:
            got = framemd5(os.path.join(work, "orig", name + ".avi"))
            if got is None:
                sys.exit("score: the original %s.avi is unreadable" % name)
            originals[name] = got
        return originals[name]

    per_class = {}
    totals = dict(showable=0, recovered=0, garbled=0, out_of_order=0, wrong_exit=0, sound_bad=0, crashes=0)
    classes = set()
    print("%-5s %-17s %4s %8s %9s %7s %7s %4s %4s %-6s %s" % ("case", "class", "seed", "showable", "recovered",
                                                           "garbled", "order", "exit", "outs", "sound", "note"))
    for name, damage, seed, *inputs in cases:
        classes.add(damage)
        truth = read_truth(os.path.join(work, "cases", name + ".zr.truth"))
        status = int(open(os.path.join(work, "cases", name + ".status")).read().strip() or 0)
        recordings = []
        for r, input_name in enumerate(inputs, start=1):
            width, height, sums = original(input_name)
            frames = truth.get(r, [])
            if len(frames) != len(sums):
                sys.exit("score: %s holds %d pictures, its truth %d frames" % (input_name, len(sums), len(frames)))
            where = {}
            for i, m in enumerate(sums):
                where.setdefault(m, []).append(i)
            recordings.append(dict(where=where, frames=frames, matched=set()))

        outputs = outputs_of(os.path.join(work, "cases", name))
        pictures = []  # (md5, black, repeat of the previous picture) of every output, in order
        sound_ok = True
        notes = []
        for out in outputs:
            got = framemd5(out)
            if got is None:
                notes.append("%s unreadable" % os.path.basename(out))
                sound_ok = False
                continue
            width, height, sums = got
            black = hashlib.md5(bytes(width * height * 3)).hexdigest()
            previous = None
            for m in sums:
                pictures.append((m, m == black, m == previous))
                previous = m
            ok, audio, video = sound_matches(out)
            if not ok:
                sound_ok = False
                notes.append("%s sound %s s, pictures %s s" % (os.path.basename(out),
                                                              "none" if audio is None else "%.2f" % audio,
                                                              "?" if video is None else "%.2f" % video))
        used = set()
        for rec in recordings:
            rec["matched"], positions = longest_match(pictures, rec["where"])
            used |= positions
        garbled = out_of_order = 0
        for position, (m, black, repeat) in enumerate(pictures):
            if position in used or black or repeat:
                continue
            if any(m in rec["where"] for rec in recordings):
                out_of_order += 1
            else:
                garbled += 1
        showable = sum(1 for rec in recordings for _, s in rec["frames"] if s)
        recovered = sum(1 for rec in recordings for i in rec["matched"] if rec["frames"][i][1])
        damaged = any(not intact for rec in recordings for intact, _ in rec["frames"])
        wrong = status == 0 and (recovered < showable or (mode != "plain" and damaged))
        crashed = status >= 124
        if wrong:
            notes.append("exit 0 while frames are missing" if recovered < showable else "exit 0 on damaged frames")
        if crashed:
            notes.append("crashed or timed out")
        totals["showable"] += showable
        totals["recovered"] += recovered
        totals["garbled"] += garbled
        totals["out_of_order"] += out_of_order
        totals["wrong_exit"] += wrong
        totals["sound_bad"] += not sound_ok
        totals["crashes"] += crashed
        row = per_class.setdefault(damage, [0, 0, 0, 0])
        row[0] += 1
        row[1] += showable
        row[2] += recovered
        row[3] += garbled
        percent = 100.0 * recovered / showable if showable else 100.0
        print("%-5s %-17s %4s %8d %9s %7d %7d %4d %4d %-6s %s" % (
            name, damage, seed, showable, "%d %5.1f%%" % (recovered, percent), garbled, out_of_order, status,
            len(outputs), "ok" if sound_ok else "BAD", "; ".join(notes)))

    print()
    for damage, (count, showable, recovered, garbled) in per_class.items():
        print("%-17s %2d cases %5d showable %5d recovered (%5.1f%%) %4d garbled"
              % (damage, count, showable, recovered, 100.0 * recovered / showable if showable else 100.0, garbled))
    percent = 100.0 * totals["recovered"] / totals["showable"] if totals["showable"] else 100.0
    print()
    print("mode %s: %d cases, %d classes, %d showable frames, %d recovered (%.1f%%), %d garbled, %d out of order, "
          "%d wrong exit statuses, %d outputs with sound not matching, %d crashes"
          % (mode, len(cases), len(classes), totals["showable"], totals["recovered"], percent, totals["garbled"],
             totals["out_of_order"], totals["wrong_exit"], totals["sound_bad"], totals["crashes"]))


if __name__ == "__main__":
    main()
