"""The program's fits against the reference implementation of the method
(numpy, QOVA_CALIB_REFERENCE): on point plates with known distortion and the
noise of the precise stage, every family predicts the same image points
(within a few of its standard errors), with the same RMS and nearly the same
cross-validated RMS, and auto takes the same family or one as good."""

import importlib.util
import json
import math
import os
import subprocess

import numpy as np
import pytest

FIT = os.environ["QOVA_CALIB_FIT"]
spec = importlib.util.spec_from_file_location("calib_reference", os.environ["QOVA_CALIB_REFERENCE"])
reference = importlib.util.module_from_spec(spec)
spec.loader.exec_module(reference)

SIGMA = 0.004  # px, as the precise stage leaves crossings
W, H = 1200, 900


def plate(kind, seed):
    """24 × 18 crossings 45 px apart through a distortion, with noise and a
    few crossings missing; (uv, xy, w, ij) and the true map."""
    rng = np.random.default_rng(seed)
    c, r = np.meshgrid(np.arange(24), np.arange(18), indexing="ij")
    ij = np.stack([c.ravel(), r.ravel()], 1)
    keep = rng.random(len(ij)) > 0.03
    ij = ij[keep]
    a = math.radians(0.9)
    R = math.hypot(W, H) / 2

    def truth(uv):
        x = 70 + uv[:, 0] * 45 * math.cos(a) - uv[:, 1] * 45 * math.sin(a)
        y = 60 + uv[:, 0] * 45 * math.sin(a) + uv[:, 1] * 45 * math.cos(a)
        ex, ey = (x - W / 2) / R, (y - H / 2) / R
        if kind in ("perspective", "radial"):
            t = 1 - 0.05 * ex + 0.03 * ey
            ex, ey = ex / t, ey / t
        if kind == "radial":
            q2 = ex * ex + ey * ey
            f = 1 - 0.015 * q2 + 0.005 * q2 * q2
            ex, ey = ex * f, ey * f
        x, y = W / 2 + R * ex, H / 2 + R * ey
        if kind == "warp":
            x = x + 1.1 * ex * ex - 0.5 * ex * ey + 0.8 * ex ** 3
            y = y + 0.7 * ey * ey + 0.4 * ex * ex * ey - 0.6 * ey ** 3
        if kind == "stepping":
            y = y + 0.4 * np.sin(2 * math.pi * y / (8 * 45))
        return np.stack([x, y], 1)

    uv = ij.astype(float)
    xy = truth(uv) + rng.normal(0, SIGMA, (len(uv), 2))
    return uv, xy, np.full(len(uv), 1 / SIGMA ** 2), ij, truth


def ours(name, uv, xy, w, ij, probes):
    lines = ["%r %r %r %r %r %d %d" % (u, v, x, y, ww, c, r)
             for (u, v), (x, y), ww, (c, r) in zip(uv, xy, w, ij)]
    lines += ["probe %r %r" % (u, v) for u, v in probes]
    run = subprocess.run([FIT, name, str(W), str(H)], input="\n".join(lines) + "\n",
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


def probes_of(uv):
    """Plate points between the crossings, inside the lattice."""
    u = np.linspace(uv[:, 0].min() + 0.5, uv[:, 0].max() - 0.5, 9)
    v = np.linspace(uv[:, 1].min() + 0.5, uv[:, 1].max() - 0.5, 7)
    return np.stack(np.meshgrid(u, v, indexing="ij"), -1).reshape(-1, 2)


CASES = [("perspective", "projective"), ("perspective", "affine"), ("radial", "radial"),
         ("radial", "poly4"), ("warp", "poly3"), ("warp", "poly6"), ("stepping", "spline"),
         ("radial", "spline")]


@pytest.mark.parametrize("kind,name", CASES, ids=["%s-%s" % c for c in CASES])
def test_each_family_fits_as_the_reference_does(kind, name):
    uv, xy, w, ij, truth = plate(kind, seed=len(kind) * 7 + len(name))
    probes = probes_of(uv)
    mine = ours(name, uv, xy, w, ij, probes)
    ref = reference.fit(name, uv, xy, w, (W, H), ij)
    assert mine["model"] == name
    predicted, sigma = np.array(mine["probes"]), np.array(mine["probe_sigma"])
    theirs = ref.predict(probes)
    # Both fits of the same points: their predictions differ by far less than
    # either's error; a few standard errors bound it where the model fits.
    difference = np.abs(predicted - theirs)
    assert (difference <= 3 * sigma + 2e-4).all(), (difference.max(), sigma.min())
    assert mine["rms"] == pytest.approx(ref.rms, rel=0.02, abs=1e-5)
    assert mine["cv_rms"] == pytest.approx(ref.cv_rms, rel=0.05, abs=1e-5)
    if name == "spline":
        # The smoothness as GCV chooses it, to a step of the reference's grid
        # (whose λ is not relative to the mean weight, as the program's is).
        assert abs(math.log10(mine["lambda"]) - math.log10(ref.lam / w.mean())) <= 0.5
        assert mine["parameters"] == pytest.approx(ref.nparams, rel=0.1)
    elif name == "radial":
        # The reference keeps the centre at the image's; the program frees it
        # when the crossings determine it (two parameters more).
        assert mine["parameters"] in (ref.nparams, ref.nparams + 2)
    else:
        assert mine["parameters"] == ref.nparams
    assert sorted(mine["outliers"]) == sorted(np.flatnonzero(ref.outliers).tolist())


def test_auto_takes_the_family_the_reference_takes():
    for kind, seed in [("perspective", 3), ("radial", 4), ("warp", 5)]:
        uv, xy, w, ij, _ = plate(kind, seed)
        mine = ours("auto", uv, xy, w, ij, [])
        pick, fits = reference.auto(uv, xy, w, (W, H), ij)
        best = min(m.cv_rms for m in fits.values())
        chosen = fits[mine["model"]]
        # The same family, or one the reference also finds within 5 % of the
        # best with no more parameters.
        assert mine["model"] == pick.name or (chosen.cv_rms <= 1.05 * best
                                              and chosen.nparams <= pick.nparams), (kind, mine)
