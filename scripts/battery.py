#!/usr/bin/python3
"""The random battery: many random runs of qova-detect, to compare two builds byte for byte.

    scripts/battery.py make CASES [--count 150] [--seed 1] [--build BUILD]
    scripts/battery.py run CASES OUT --build BUILD [--precise-too]
    diff -r OUT_BEFORE OUT_AFTER

`make` renders random plates with the build's qova-make-plate and writes, for each case, the plate,
its regions, a settings file of random values (some of them nonsense) and the answer to the run's
questions. `run` runs one build's qova-detect on every case, in the coordinate-file and the JSON
format, and keeps its standard output, standard error and exit status. The cases are made once and
run by both builds, so any difference is the program's. A refactor must leave `diff -r` empty.
"""

import argparse
import os
import random
import subprocess
import sys
from pathlib import Path


def find_tool(build: Path, name: str) -> Path:
    """The build's program of this name, wherever its folder puts it."""
    for sub in ("tools/detect", "tools/synth", "synth", "tools/undistort", "bin", "."):
        p = build / sub / name
        if p.is_file() and os.access(p, os.X_OK):
            return p
    hits = [p for p in build.rglob(name) if p.is_file() and os.access(p, os.X_OK)]
    if not hits:
        sys.exit(f"battery: no {name} under {build}")
    return hits[0]


def random_plate(rng: random.Random) -> list:
    w = rng.randint(200, 1400)
    h = rng.randint(200, 1100)
    args = ["--width", w, "--height", h, "--pitch", round(rng.uniform(30, max(31, min(110, min(w, h) / 4))), 3),
            "--angle", round(rng.uniform(-2.8, 2.8) if rng.random() < 0.8 else rng.uniform(-9, 9), 3), "--origin-x", round(rng.uniform(-1, 1), 3),
            "--origin-y", round(rng.uniform(-1, 1), 3), "--seed", rng.randint(0, 10**6)]
    if rng.random() < 0.5:
        args += ["--line-width", round(rng.uniform(1, 6), 2)]
    if rng.random() < 0.4:
        args += ["--noise", round(rng.uniform(0, 20), 2)]
    blur = rng.random()
    if blur < 0.25:
        args += ["--blur", round(rng.uniform(0.3, 2), 2)]
    elif blur < 0.3:
        args += ["--defocus", round(rng.uniform(0.5, 2.5), 2)]
    if rng.random() < 0.2:
        args += ["--background", rng.randint(20, 90), "--ink", rng.randint(180, 255)]
    if rng.random() < 0.2:
        args += ["--tilt-x", round(rng.uniform(-3e-4, 3e-4), 6)]
    if rng.random() < 0.2:
        args += ["--barrel", round(rng.uniform(-0.08, 0.08), 4)]
    if rng.random() < 0.2:
        args += ["--falloff", round(rng.uniform(0, 0.5), 3)]
    if rng.random() < 0.15:
        args += ["--palette"]
    return [str(a) for a in args], w, h


def random_region(rng: random.Random, w: int, h: int, crossings: list) -> list:
    """Mostly a region with its corners in cell centres, as a person marks it; sometimes a rough
    box, a degenerate one or one on the image border."""
    kind = rng.random()
    if kind < 0.05:  # degenerate: collinear or tiny
        x, y = rng.uniform(0, w - 1), rng.uniform(0, h - 1)
        return [x, y, x + rng.uniform(0, 30), y, x + rng.uniform(0, 60), y, x, y]
    if kind < 0.08:  # corners on the border
        return [0, 0, w - 1, 0, w - 1, h - 1, 0, h - 1]
    if kind < 0.2 or len(crossings) < 4:  # a rough box
        x0, x1 = sorted(rng.uniform(0, w - 1) for _ in range(2))
        y0, y1 = sorted(rng.uniform(0, h - 1) for _ in range(2))
        return [x0, y0, x1, y0, x1, y1, x0, y1]
    # The crossings come line by line, each top to bottom: a new line where y drops.
    grid = []
    for x, y in crossings:
        if not grid or y < grid[-1][-1][1]:
            grid.append([])
        grid[-1].append((x, y))
    longest = max((len(c) for c in grid), default=0)
    grid = [c for c in grid if len(c) == longest]
    nc, nr = len(grid), len(grid[0]) if grid else 0
    if nc < 2 or nr < 2:
        return [0, 0, w - 1, 0, w - 1, h - 1, 0, h - 1]
    span = lambda n: (rng.randint(0, (n - 2) // 3), rng.randint((2 * (n - 2)) // 3, n - 2))  # noqa
    c0, c1 = span(nc)
    r0, r1 = span(nr)
    centre = lambda c, r: [(grid[c][r][0] + grid[c + 1][r + 1][0]) / 2 + rng.uniform(-3, 3),  # noqa
                           (grid[c][r][1] + grid[c + 1][r + 1][1]) / 2 + rng.uniform(-3, 3)]
    clip = lambda v, top: min(max(v, 0), top)  # noqa: E731
    pts = centre(c0, r0) + centre(c1, r0) + centre(c1, r1) + centre(c0, r1)
    return [clip(v, (w if i % 2 == 0 else h) - 1) for i, v in enumerate(pts)]


def random_settings(rng: random.Random) -> str:
    """Half the cases the defaults; the others change a few keys, now and then to nonsense."""
    lines = ["[QOVAParameters]"]
    if rng.random() < 0.5:
        return "\r\n".join(lines) + "\r\n"
    choices = {
        "NeedPointsControl": lambda: rng.choice(["0", "1"]),
        "NeedPointsCount": lambda: str(rng.randint(0, 200)),
        "KontrastLevel": lambda: str(rng.choice([0, 0, round(rng.uniform(0, 1.5), 3)])),
        "FragmentationHeight": lambda: str(rng.choice([-1, 1, 2, 3, 0, 1000])),
        "FragmentationWidth": lambda: str(rng.choice([-1, 1, 2, 3, 4, 0, 1000])),
        "CrossWindowWidth": lambda: str(round(rng.uniform(0.3, 2), 2)),
        "SearchWindowWidth": lambda: str(rng.choice([3, 5, 7, 9, 0])),
        "SearchWindowHeight": lambda: str(rng.choice([1, 3, 5, 0])),
        "CrossIncreasePorog": lambda: str(round(rng.uniform(0.3, 2), 3)),
        "IncreasePorog": lambda: str(rng.choice([1, 2, 3, 4, 6])),
        "Max_Angle": lambda: str(rng.choice([round(rng.uniform(1, 10), 2), "nan", "1e308"])),
    }
    for key, value in choices.items():
        if rng.random() < 0.25:
            lines.append(f"{key}={value()}")
    return "\r\n".join(lines) + "\r\n"


def make(args) -> None:
    rng = random.Random(args.seed)
    plate_tool = find_tool(args.build, "qova-make-plate")
    cases = Path(args.cases)
    cases.mkdir(parents=True, exist_ok=True)
    for i in range(args.count):
        case = cases / f"{i:03d}"
        case.mkdir(exist_ok=True)
        while True:  # the renderer refuses lines too wide or blurred for the pitch
            plate, w, h = random_plate(rng)
            made = subprocess.run([str(plate_tool), str(case / "plate.bmp")] + plate,
                                  capture_output=True, text=True)
            if made.returncode == 0:
                break
        truth = made.stdout
        crossings = [tuple(map(float, line.split())) for line in truth.splitlines()]
        regions = [random_region(rng, w, h, crossings) for _ in range(rng.choice([1, 1, 1, 2, 3]))]
        (case / "regions").write_text(
            "".join(" ".join(f"{v:.3f}" for v in r) + "\n" for r in regions))
        (case / "settings.ini").write_bytes(random_settings(rng).encode("ascii"))
        (case / "answer").write_text(rng.choice(["yes", "yes", "yes", "no"]) + "\n")
        (case / "plate.args").write_text(" ".join(plate) + "\n")
    print(f"battery: {args.count} cases in {cases}")


def run(args) -> None:
    detect = find_tool(args.build, "qova-detect")
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, LC_ALL="C.UTF-8")
    cases = sorted(p for p in Path(args.cases).iterdir() if p.is_dir())
    modes = [("crd", []), ("json", ["--format=json"])]
    if args.precise_too:
        modes.append(("precise.csv", ["--format=csv", "--precise", "--threads=2"]))
    for case in cases:
        answer = (case / "answer").read_text().strip()
        for name, extra in modes:
            cmd = [str(detect), str(case / "plate.bmp"), f"--regions={case / 'regions'}",
                   f"--settings={case / 'settings.ini'}", f"--answer={answer}"] + extra
            r = subprocess.run(cmd, capture_output=True, env=env, timeout=600)
            (out / f"{case.name}.{name}").write_bytes(r.stdout)
            (out / f"{case.name}.{name}.err").write_bytes(r.stderr)
            (out / f"{case.name}.{name}.status").write_text(f"{r.returncode}\n")
    print(f"battery: {len(cases)} cases run with {detect} into {out}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = ap.add_subparsers(dest="verb", required=True)
    m = sub.add_parser("make")
    m.add_argument("cases")
    m.add_argument("--count", type=int, default=150)
    m.add_argument("--seed", type=int, default=1)
    m.add_argument("--build", type=Path, default=Path("build"))
    r = sub.add_parser("run")
    r.add_argument("cases")
    r.add_argument("out")
    r.add_argument("--build", type=Path, required=True)
    r.add_argument("--precise-too", action="store_true",
                   help="also run each case with the precise refinement, as CSV")
    args = ap.parse_args()
    make(args) if args.verb == "make" else run(args)


if __name__ == "__main__":
    main()
