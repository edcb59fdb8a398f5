"""qova.undistort against qova-undistort on a rendered lens-like plate: the
same pixels and the same grid from arrays and from files, every pixel the
plate point it stands for, the arguments checked, and the lock of the
interpreter released while it resamples."""

import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import qova
from qova_test import pnm_header, read_bmp, turns_beside

UNDISTORT = os.environ["QOVA_UNDISTORT"]
MAKE_PLATE = os.environ["QOVA_MAKE_PLATE"]

W, H = 640, 480
# A camera's plate: a barrel and a tilt.
LENS = ["--width", str(W), "--height", str(H), "--pitch", "40", "--angle", "2", "--barrel",
        "0.04", "--tilt-x", "0.05", "--blur", "0.7"]
REGION = [50, 50, 590, 50, 590, 430, 50, 430]


def write_pnm(path, samples):
    """A binary PGM (H×W) or PPM (H×W×3) of 8- or 16-bit samples, written here."""
    height, width = samples.shape[:2]
    grey = samples.ndim == 2
    top = 255 if samples.dtype == np.uint8 else 65535
    data = samples.astype(">u2" if top > 255 else np.uint8).tobytes()
    pathlib.Path(path).write_bytes(b"P%d\n%d %d\n%d\n" % (5 if grey else 6, width, height, top)
                                   + data)
    return str(path)


def read_pnm(path):
    """The samples of a binary PGM or PPM, read here without the program's reader."""
    data = pathlib.Path(path).read_bytes()
    width, height, top, at = pnm_header(data)
    channels = 1 if data[1:2] == b"5" else 3
    dtype = np.dtype(">u2") if top > 255 else np.dtype(np.uint8)
    samples = np.frombuffer(data, dtype, width * height * channels, at)
    shape = (height, width) if channels == 1 else (height, width, 3)
    return samples.reshape(shape).astype(dtype.newbyteorder("="))


def cli(image, model_path, out, *options):
    """qova-undistort's output image and its OUT.json."""
    run = subprocess.run([UNDISTORT, str(image), "--model", str(model_path), "-o", str(out)]
                         + list(options), capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    placement = json.loads(pathlib.Path(str(out) + ".json").read_text())
    printed = dict(line.split() for line in run.stdout.splitlines())
    assert float(printed["u0"]) == placement["u0"] and int(printed["width"]) == placement["width"]
    return read_pnm(out), placement


@pytest.fixture(scope="module")
def lens(tmp_path_factory):
    folder = tmp_path_factory.mktemp("lens")
    plate = folder / "plate.pgm"
    subprocess.run([MAKE_PLATE, str(plate)] + LENS + ["--depth", "8"], check=True,
                   stdout=subprocess.DEVNULL)
    deep = folder / "deep.pgm"
    subprocess.run([MAKE_PLATE, str(deep)] + LENS + ["--depth", "16", "--levels", "4095",
                                                      "--background", "3700", "--ink", "450"],
                   check=True, stdout=subprocess.DEVNULL)
    grey = read_pnm(plate)
    fit = qova.detect(grey, [REGION], model="radial", pitch=0.5)
    assert fit.completed and fit.model is not None, fit.calibration_error
    model_path = folder / "model.json"
    fit.model.save(model_path)
    # Three channels that differ, so that a channel mixed up shows.
    ramp = np.broadcast_to((np.arange(W) * 255 // (W - 1)).astype(np.uint8), (H, W))
    rgb = np.dstack([grey, 255 - grey, ramp])
    images = {"grey8": grey, "rgb8": rgb, "grey16": read_pnm(deep)}
    files = {"grey8": str(plate), "rgb8": write_pnm(folder / "rgb.ppm", rgb), "grey16": str(deep)}
    assert images["grey16"].dtype == np.uint16 and images["grey16"].max() > 3000
    return {"folder": folder, "model": fit.model, "model_path": model_path, "images": images,
            "files": files}


@pytest.mark.parametrize("name", ["grey8", "rgb8", "grey16"])
@pytest.mark.parametrize("options, kwargs", [
    ([], {}),
    (["--pixel-size", "0.03", "--interp", "linear", "--region-only"],
     dict(pixel_size=0.03, interp="linear", region_only=True)),
    (["--origin", "1.25,-0.5", "--size", "150,90", "--interp", "lanczos3", "--pixel-size",
      "0.02"], dict(origin=(1.25, -0.5), shape=(90, 150), interp="lanczos3", pixel_size=0.02)),
    (["--origin", "2,1.5", "--pixel-size", "0.04"], dict(origin=(2, 1.5), pixel_size=0.04)),
])
def test_the_array_is_qova_undistorts_image(lens, name, options, kwargs):
    suffix = ".ppm" if name == "rgb8" else ".pgm"
    out = lens["folder"] / (name + "-" + str(len(options)) + suffix)
    expected, placement = cli(lens["files"][name], lens["model_path"], out, *options)
    image = lens["images"][name]
    result = qova.undistort(image, lens["model"], **kwargs)
    assert result.dtype == image.dtype and result.ndim == image.ndim
    assert result.shape == expected.shape
    assert result.shape[:2] == (placement["height"], placement["width"])
    assert np.array_equal(result, expected) and result.any()
    # Threads do not change a pixel.
    assert np.array_equal(qova.undistort(image, lens["model"], threads=1, **kwargs), result)
    # Where it lies on the plate: the command's numbers.
    grid_kwargs = {k: v for k, v in kwargs.items() if k != "interp"}
    grid = qova.undistort_grid(lens["model"], **grid_kwargs)
    assert grid == {"u0": placement["u0"], "v0": placement["v0"], "s": placement["s"],
                    "shape": result.shape[:2], "unit": placement["unit"]}
    assert qova.undistort_grid(lens["model"], image_shape=(H, W), **grid_kwargs) == grid
    assert grid["unit"] == "mm"


def bilinear(image, x, y):
    """The image (float64) at (x, y), pixel (i, j) at the point (i, j), the
    taps beyond the border repeating it; None off the image."""
    h, w = image.shape[:2]
    if not (-0.5 <= x < w - 0.5 and -0.5 <= y < h - 0.5):
        return None
    x0, y0 = int(np.floor(x)), int(np.floor(y))
    tx, ty = x - x0, y - y0
    at = lambda i, j: image[min(max(j, 0), h - 1), min(max(i, 0), w - 1)].astype(np.float64)
    return ((1 - ty) * ((1 - tx) * at(x0, y0) + tx * at(x0 + 1, y0))
            + ty * ((1 - tx) * at(x0, y0 + 1) + tx * at(x0 + 1, y0 + 1)))


def test_each_pixel_is_the_image_at_the_models_image_of_its_plate_point(lens):
    model = lens["model"]
    u0, v0, s, shape = -1.5, -1.0, 0.037, (61, 97)  # not square: rows and columns differ
    deep = lens["images"]["grey16"].astype(np.float32) / 4095
    rgb = lens["images"]["rgb8"]
    floats = qova.undistort(deep, model, pixel_size=s, origin=(u0, v0), shape=shape,
                            interp="linear")
    colours = qova.undistort(rgb, model, pixel_size=s, origin=(u0, v0), shape=shape,
                             interp="linear")
    assert floats.shape == shape and floats.dtype == np.float32
    assert colours.shape == shape + (3,) and colours.dtype == np.uint8
    checked = outside = 0
    for j, i in [(0, 0), (0, 96), (60, 0), (60, 96), (7, 50), (33, 11), (45, 83), (30, 48)]:
        x, y = model.to_image((u0 + i * s, v0 + j * s))
        want = bilinear(deep, x, y)
        if want is None:
            assert floats[j, i] == 0 and not colours[j, i].any()
            outside += 1
            continue
        # Float weights and sums: a few parts in a million of the range.
        assert abs(floats[j, i] - want) < 1e-5, (i, j)
        # Rounded to the nearest level.
        assert np.abs(colours[j, i] - bilinear(rgb, x, y)).max() <= 0.5 + 1e-3, (i, j)
        checked += 1
    assert checked >= 5 and outside >= 2  # column 0 lies left of the image
    # A pixel far off the image is 0.
    far = qova.undistort(deep, model, pixel_size=s, origin=(-50, -50), shape=(2, 3))
    assert not far.any()


def test_a_file_gives_what_its_pixels_give(lens, tmp_path):
    model, folder = lens["model"], lens["folder"]
    for name, image in lens["images"].items():
        from_array = qova.undistort(image, model, pixel_size=0.03)
        path = lens["files"][name]
        assert np.array_equal(qova.undistort(path, model, pixel_size=0.03), from_array), name
        assert np.array_equal(qova.undistort(pathlib.Path(path), lens["model_path"],
                                             pixel_size=0.03), from_array), name
    # A 24-bit bitmap is read as RGB, by qova.detect's reader.
    bmp = folder / "plate.bmp"
    subprocess.run([MAKE_PLATE, str(bmp)] + LENS, check=True, stdout=subprocess.DEVNULL)
    from_file = qova.undistort(bmp, model, region_only=True, interp="linear")
    assert from_file.ndim == 3 and from_file.shape[2] == 3
    assert np.array_equal(from_file, qova.undistort(read_bmp(bmp), model, region_only=True,
                                                    interp="linear"))


def test_arrays_of_any_layout_give_the_same_pixels(lens):
    model = lens["model"]
    for image in (lens["images"]["rgb8"], lens["images"]["grey16"]):
        expected = qova.undistort(image, model, pixel_size=0.05)
        upward = np.ascontiguousarray(image[::-1])[::-1]
        leftward = np.ascontiguousarray(image[:, ::-1])[:, ::-1]
        fortran = np.asfortranarray(image)
        swapped = image.astype(image.dtype.newbyteorder(">"))
        for layout in (upward, leftward, fortran, swapped):
            assert np.array_equal(layout, image)
            result = qova.undistort(layout, model, pixel_size=0.05)
            assert result.dtype == layout.dtype and np.array_equal(result, expected)
    grey = lens["images"]["grey8"]
    two = np.dstack([grey, 255 - grey])  # grey and alpha
    result = qova.undistort(two, model, pixel_size=0.05)
    assert result.shape[2] == 2
    assert np.array_equal(result[..., 0], qova.undistort(grey, model, pixel_size=0.05))
    assert np.array_equal(qova.undistort(grey[..., None], model, pixel_size=0.05)[..., 0],
                          result[..., 0])


def test_bad_arguments_are_refused_with_a_message(lens, tmp_path):
    model, grey = lens["model"], lens["images"]["grey8"]
    for image, error, says in [
            (grey.astype(np.float64), TypeError, "float64.*astype.numpy.float32"),
            (grey.astype(np.int8), TypeError, "uint8, uint16 or float32.*int8"),
            (grey > 100, TypeError, "not of dtype bool"),
            (grey.astype(np.float16), TypeError, "float16"),
            ([[1, 2], [3, 4]], TypeError, "int64"),
            (None, TypeError, "NoneType"),
            (grey[0], ValueError, "H×W.*shape"),
            (grey[None, ..., None], ValueError, "shape"),
            (np.zeros((H, W, 5), np.uint8), ValueError, "1 to 4 channels"),
            (np.zeros((0, W), np.uint8), ValueError, "nothing to resample")]:
        with pytest.raises(error, match=says):
            qova.undistort(image, model)
    for kwargs, error, says in [
            (dict(pixel_size=0), ValueError, "pixel_size must be a finite number greater than 0"),
            (dict(pixel_size=-0.1), ValueError, "pixel_size"),
            (dict(pixel_size=float("nan")), ValueError, "pixel_size"),
            (dict(pixel_size=float("inf")), ValueError, "pixel_size"),
            (dict(pixel_size="0.1"), TypeError, "pixel_size"),
            (dict(pixel_size=1e-6), ValueError, "more than 2\\^31.*pixel_size"),
            (dict(shape=(70000, 70000)), ValueError, "70000 × 70000 pixels, more than 2\\^31"),
            (dict(shape=(1 << 70, 2)), ValueError, "more than 2\\^31"),
            (dict(shape=(0, 5)), ValueError, "shape must be"),
            (dict(shape=(10, 10, 3)), ValueError, "shape must be"),
            (dict(shape=(1.5, 2)), TypeError, "shape must be"),
            (dict(origin=(1,)), ValueError, "origin must be"),
            (dict(origin=(0, float("nan"))), ValueError, "origin must be"),
            (dict(origin=(1e6, 1e6)), ValueError, "far side; give shape"),
            (dict(interp="nearest"), ValueError, 'interp must be "linear"'),
            (dict(interp=3), TypeError, "interp must be"),
            (dict(threads=-1), ValueError, "threads")]:
        with pytest.raises(error, match=says):
            qova.undistort(grey, model, **kwargs)
    # The same refusals from the grid alone.
    with pytest.raises(ValueError, match="more than 2\\^31"):
        qova.undistort_grid(model, pixel_size=1e-6)
    # NaN or infinity in a float image: refused, however few.
    spoilt = grey.astype(np.float32)
    spoilt[200, 300] = np.nan
    spoilt[10, 10] = -np.inf
    with pytest.raises(ValueError, match="2 samples that are NaN or infinite"):
        qova.undistort(spoilt, model)
    # The model: a qova.Model or a model file's path.
    with pytest.raises(TypeError, match="model must be a qova.Model or the path"):
        qova.undistort(grey, 3)
    with pytest.raises(FileNotFoundError, match="model file not found"):
        qova.undistort(grey, tmp_path / "none.json")
    with pytest.raises(ValueError, match="not a QOVA model file"):
        qova.undistort(grey, lens["files"]["grey8"])
    # A model made for another image size, as qova-undistort without --force.
    with pytest.raises(ValueError, match="640 × 480 pixels, the image has 641 × 480.*force=True"):
        qova.undistort(np.zeros((H, W + 1), np.uint8), model)
    assert qova.undistort(np.zeros((H, W + 1), np.uint8), model, pixel_size=0.1,
                          force=True).shape == qova.undistort(grey, model, pixel_size=0.1).shape
    # An image file that is missing or no image.
    with pytest.raises(FileNotFoundError, match="Не удаётся открыть файл"):
        qova.undistort(str(tmp_path / "missing.pgm"), model)
    not_image = tmp_path / "notes.pgm"
    not_image.write_text("these are not pixels")
    with pytest.raises(OSError, match="Не удаётся прочитать изображение"):
        qova.undistort(not_image, model)


def test_the_lock_of_the_interpreter_is_released_while_it_resamples(lens):
    # Some 20 megapixels on one thread.
    image, model = lens["images"]["grey16"], lens["model"]
    result, ticks = turns_beside(lambda: qova.undistort(image, model, pixel_size=0.0015,
                                                        threads=1))
    assert result.size > 15_000_000
    assert ticks[0] > 1000, ticks


def test_the_module_documents_undistort():
    assert "undistort" in qova.__doc__
    for words in ("out[j, i]", "(u0 + i·s, v0 + j·s)", "pixel_size", "region_only", "2^31"):
        assert words in qova.undistort.__doc__, words
