#!/usr/bin/python3
"""qova-undistort against OpenCV's cv2.remap, side by side in one run.

    bench/undistort_bench.py BUILD_FOLDER [--sizes 16,64] [--runs 5] [--before OTHER_BUILD]

For each size, qova-undistort-bench renders the plate, saves a camera-like
radial model and the map it implies (the same points qova-undistort samples,
as float32); then, one after the other on the same cores:

  - qova-undistort on the plate file (PGM in, PGM out), the whole command, with
    its peak memory (maximum resident set) per output pixel;
  - Undistort() in process, map included (from qova-undistort-bench);
  - cv2.remap with that map, the same interpolation (bilinear; bicubic, which
    in OpenCV is a = -0.75 where ours is Keys' a = -0.5: the same 4 x 4 taps),
    constant border, in a process of its own; its time excludes the map, whose
    computation is given apart; and the peer's file-to-file run (imread, remap,
    imwrite) with its peak memory.

With --before, another build (say main's) runs the same plates beside it, a
row of its own each, against the same peer run. Besides the wall times, the
CPU time of the sampling alone (all threads, ours with the map) and its ratio
are given: on a machine shared with other work they move far less.

Medians of --runs runs. OpenCV is for this benchmark only (not a dependency
of the program or its tests): `apt-get install python3-opencv`; without it the
peer's columns are skipped.
"""
import argparse
import importlib.util
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

PEER = r"""
import json, sys, time, resource
import numpy as np, cv2
image, mapx, mapy, out, runs, w, h = sys.argv[1:8]
runs, w, h = int(runs), int(w), int(h)
start = time.perf_counter()
mx = np.fromfile(mapx, dtype=np.float32).reshape(h, w)
my = np.fromfile(mapy, dtype=np.float32).reshape(h, w)
load = time.perf_counter() - start
result = {"threads": cv2.getNumThreads(), "map_load": load}
for name, flag in (("linear", cv2.INTER_LINEAR), ("cubic", cv2.INTER_CUBIC)):
    img = cv2.imread(image, cv2.IMREAD_UNCHANGED)
    times, cpu, whole = [], [], []
    for _ in range(runs):
        t, c = time.perf_counter(), time.process_time()
        dst = cv2.remap(img, mx, my, flag, borderMode=cv2.BORDER_CONSTANT, borderValue=0)
        times.append(time.perf_counter() - t)
        cpu.append(time.process_time() - c)
    for _ in range(runs):
        t = time.perf_counter()
        src = cv2.imread(image, cv2.IMREAD_UNCHANGED)
        dst = cv2.remap(src, mx, my, flag, borderMode=cv2.BORDER_CONSTANT, borderValue=0)
        cv2.imwrite(out, dst)
        whole.append(time.perf_counter() - t)
    result[name] = sorted(times)[len(times) // 2]
    result[name + "_cpu"] = sorted(cpu)[len(cpu) // 2]
    result[name + "_file"] = sorted(whole)[len(whole) // 2]
result["maxrss_kb"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps(result))
"""


def timed(command):
    """Wall time and peak resident memory (KiB) of one child process."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    out = child.stdout.read().decode()
    err = child.stderr.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(command)} failed:\n{err}")
    return seconds, usage.ru_maxrss, out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--sizes", default="16,64")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--before", help="another build folder, run beside BUILD_FOLDER")
    args = parser.parse_args()
    builds = [("after", args.build)] + ([("before", args.before)] if args.before else [])
    # Only looked for, not imported: the children's peak memory (ru_maxrss)
    # starts from this process's at the fork, and OpenCV with NumPy would
    # lift it above the command's own.
    have_peer = importlib.util.find_spec("cv2") is not None
    if not have_peer:
        print("OpenCV is missing (apt-get install python3-opencv): the peer is skipped")

    with tempfile.TemporaryDirectory(prefix="qova-undistort-bench-") as work:
        # Each build's in-process figures; the plates, models and maps are the
        # first build's (the same code renders the same plates).
        rows = {}
        for label, build in builds:
            out = work if label == "after" else os.path.join(work, label)
            os.makedirs(out, exist_ok=True)
            _, _, text = timed([os.path.join(build, "bench", "qova-undistort-bench"), out,
                                "--sizes", args.sizes, "--runs", str(args.runs)])
            rows[label] = [json.loads(line) for line in text.splitlines() if line.startswith("{")]
        table = []
        for mp in [int(s) for s in args.sizes.split(",")]:
            mapping = next(r for r in rows["after"] if r["mp"] == mp and r["what"] == "map")
            pixels = mapping["width"] * mapping["height"]
            plate = os.path.join(work, f"plate-{mp}.pgm")
            model = os.path.join(work, f"model-{mp}.json")
            first = len(table)
            for interp in ("linear", "cubic"):
                for label, build in builds:
                    ours = next(r for r in rows[label] if r["mp"] == mp
                                and r["what"] == "undistort" and r["interp"] == interp)
                    command = os.path.join(build, "tools", "undistort", "qova-undistort")
                    times, peaks = [], []
                    for _ in range(args.runs):
                        s, rss, _ = timed([command, plate, "--model", model, "-o",
                                           os.path.join(work, "out.pgm"), "--interp", interp])
                        times.append(s)
                        peaks.append(rss)
                    table.append({"mp": mp, "interp": interp, "build": label, "pixels": pixels,
                                  "command": statistics.median(times),
                                  "command_bytes_per_px": max(peaks) * 1024 / pixels,
                                  "in_process": ours["seconds"],
                                  "in_process_cpu": ours.get("cpu_seconds"),
                                  "threads": ours["threads"], "map": mapping["seconds"]})
            if have_peer:
                _, _, text = timed([sys.executable, "-c", PEER, plate,
                                    os.path.join(work, f"mapx-{mp}.f32"),
                                    os.path.join(work, f"mapy-{mp}.f32"),
                                    os.path.join(work, "peer.pgm"), str(args.runs),
                                    str(mapping["width"]), str(mapping["height"])])
                peer = json.loads(text)
                for row in table[first:]:
                    row["peer_threads"] = peer["threads"]
                    row["peer_remap"] = peer[row["interp"]]
                    row["peer_cpu"] = peer[row["interp"] + "_cpu"]
                    row["peer_file"] = peer[row["interp"] + "_file"]
                    row["peer_bytes_per_px"] = peer["maxrss_kb"] * 1024 / pixels
            for f in (f"mapx-{mp}.f32", f"mapy-{mp}.f32"):
                os.remove(os.path.join(work, f))

    print(f"\nmedians of {args.runs} runs, seconds; memory: peak resident bytes per output pixel")
    header = ("| MP | interp | build | threads (ours / cv2) | Undistort() in process, map "
              "included | cv2.remap alone | ours / cv2.remap | CPU time: ours / cv2 (ratio) "
              "| qova-undistort, file to file | cv2 file to file (imread, remap, imwrite) "
              "| file to file: ours / cv2 | map for the peer | memory ours | memory cv2 |")
    print(header)
    print("|" + "---|" * (header.count("|") - 1))
    nan = float("nan")
    for r in table:
        peer, peer_file = r.get("peer_remap"), r.get("peer_file")
        remap = f"{peer:.3f} | {r['in_process'] / peer:.2f}" if peer else "- | -"
        cpu = (f"{r['in_process_cpu']:.3f} / {r['peer_cpu']:.3f} ({r['in_process_cpu'] / r['peer_cpu']:.2f})"
               if peer and r["in_process_cpu"] else "-")
        whole = f"{r['command'] / peer_file:.2f}" if peer_file else "-"
        print(f"| {r['mp']} | {r['interp']} | {r['build']} "
              f"| {r['threads']} / {r.get('peer_threads', '-')} "
              f"| {r['in_process']:.3f} | {remap} | {cpu} | {r['command']:.3f} "
              f"| {r.get('peer_file', nan):.3f} | {whole} | {r['map']:.3f} "
              f"| {r['command_bytes_per_px']:.2f} | {r.get('peer_bytes_per_px', nan):.2f} |")


if __name__ == "__main__":
    main()
