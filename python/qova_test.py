"""The Python module qova against qova-detect on rendered plates: the same
numbers bit for bit from arrays of any layout and from files, the errors
scripts meet, failed runs, settings files, and threads."""

import os
import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import qova

DETECT = os.environ["QOVA_DETECT"]
MAKE_PLATE = os.environ["QOVA_MAKE_PLATE"]

# The README's sample plate and region.
SAMPLE = ["--width", "800", "--height", "600", "--pitch", "80", "--angle", "1.5"]
SAMPLE_REGION = [125, 93, 685, 107, 675, 507, 115, 493]
FAILED_TEXT = "Невозможно найти точки. Попробуйте изменить параметры."


def render(folder, name, options):
    path = str(folder / name)
    subprocess.run([MAKE_PLATE, path] + options, check=True, stdout=subprocess.DEVNULL)
    return path


def read_bmp(path):
    """The pixels of an uncompressed 24-bit or 8-bit palette bitmap as RGB,
    read here without the program's reader."""
    data = open(path, "rb").read()
    u32 = lambda at: int.from_bytes(data[at:at + 4], "little", signed=True)
    offset, header, width, height = u32(10), u32(14), u32(18), u32(22)
    bits = int.from_bytes(data[28:30], "little")
    assert u32(30) == 0, "compressed bitmap"
    stride = (width * bits // 8 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    if bits == 24:
        rgb = rows[:, :width * 3].reshape(abs(height), width, 3)[..., ::-1]
    else:
        assert bits == 8
        colours = max(u32(46), 0) or 256
        palette = np.frombuffer(data, np.uint8, 4 * colours, 14 + header).reshape(colours, 4)
        rgb = palette[rows[:, :width], 2::-1]
    return np.ascontiguousarray(rgb[::-1] if height > 0 else rgb)


def cli(image, regions, *options, env=None):
    """qova-detect's points with 17 digits (CSV), or None when it fails."""
    args = [DETECT, image, "--format=csv"] + list(options)
    args += ["--region=" + ",".join(str(v) for v in r) for r in regions]
    run = subprocess.run(args, capture_output=True, text=True, env=env)
    if run.returncode != 0:
        return None
    lines = run.stdout.splitlines()[1:]
    return np.array([[float(v) for v in line.split(",")[1:3]] for line in lines]).reshape(-1, 2)


def same_bits(a, b):
    a, b = np.asarray(a, np.float64), np.asarray(b, np.float64)
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


@pytest.fixture(scope="module")
def plates(tmp_path_factory):
    folder = tmp_path_factory.mktemp("plates")
    return {
        "sample": render(folder, "sample.bmp", SAMPLE),
        "noisy": render(folder, "noisy.bmp", ["--width", "1000", "--height", "800", "--pitch",
                                              "90", "--angle", "0.8", "--falloff", "0.7",
                                              "--noise", "3", "--seed", "7"]),
        "two": render(folder, "two.bmp", ["--width", "1000", "--height", "600", "--pitch", "60",
                                          "--angle", "2", "--line-width", "2"]),
        "grey8": render(folder, "grey8.bmp", SAMPLE + ["--noise", "5", "--seed", "2",
                                                       "--palette"]),
        "answer": render(folder, "answer.bmp", ["--width", "640", "--height", "520", "--pitch",
                                                "64", "--angle", "1.5", "--origin-x", "0.3",
                                                "--origin-y", "-0.4"]),
        "big": render(folder, "big.bmp", ["--width", "2400", "--height", "2000", "--pitch",
                                          "80", "--angle", "1"]),
        "folder": folder,
        # Apart from the plates: qova-detect reads the first *.ini of an
        # image's folder when no settings file is named.
        "settings": tmp_path_factory.mktemp("settings"),
    }


CASES = [
    ("sample", [SAMPLE_REGION], {}),
    ("noisy", [[99, 79, 909, 91, 901, 721, 91, 709]],
     {"FragmentationWidth": 2, "FragmentationHeight": 2, "KontrastLevel": 4.5}),
    ("two", [[58, 74, 417, 87, 405, 447, 45, 434], [537, 91, 897, 104, 885, 464, 525, 451]], {}),
    ("grey8", [SAMPLE_REGION], {"Max_Angle": 4}),
]


def settings_file(folder, values):
    path = folder / ("s%d.ini" % abs(hash(tuple(sorted(values.items())))))
    lines = ["[QOVAParameters]"] + ["%s=%s" % kv for kv in values.items()]
    path.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp1251"))
    return str(path)


@pytest.mark.parametrize("name,regions,values", CASES, ids=[c[0] for c in CASES])
def test_the_same_numbers_as_qova_detect_from_an_array_and_from_the_file(plates, name, regions,
                                                                         values):
    ini = settings_file(plates["settings"], values)
    expected = cli(plates[name], regions, "--settings=" + ini)
    assert expected is not None and len(expected) > 10
    from_array = qova.detect(read_bmp(plates[name]), regions, **values)
    assert from_array.status == "completed" and from_array.message == ""
    assert same_bits(from_array.points, expected)
    assert from_array.points.dtype == np.float64 and from_array.points.shape == (len(expected), 2)
    assert from_array.sigma is None and from_array.origins is None
    from_file = qova.detect(plates[name], np.array(regions, dtype=np.float32).reshape(-1, 4, 2),
                            **qova.read_settings(ini))
    assert same_bits(from_file.points, expected)
    counts = [r["points"] for r in from_array.regions]
    assert sum(counts) == len(expected)
    assert list(np.bincount(from_array.point_regions, minlength=len(regions))) == counts


def test_the_precise_stage_gives_the_numbers_of_qova_detect_precise(plates):
    image, regions = plates["sample"], [SAMPLE_REGION]
    run = subprocess.run([DETECT, image, "--format=csv", "--precise", "--threads=2",
                          "--region=" + ",".join(map(str, SAMPLE_REGION))],
                         capture_output=True, text=True, check=True)
    rows = [line.split(",") for line in run.stdout.splitlines()[1:]]
    result = qova.detect(read_bmp(image), regions, PreciseRefinement=True, threads=2)
    assert result.settings["PreciseRefinement"] is True
    assert same_bits(result.points, [[float(r[1]), float(r[2])] for r in rows])
    assert same_bits(result.sigma, [[float(r[3]), float(r[4])] for r in rows])
    assert same_bits(result.standard_error, [float(r[5]) for r in rows])
    assert result.origins == [r[6] for r in rows]
    assert result.refined.all() and result.regions[0]["precise"]


def test_arrays_of_any_layout_give_the_same_points(plates):
    rgb = read_bmp(plates["grey8"])
    expected = qova.detect(rgb, [SAMPLE_REGION]).points
    assert len(expected) == 35
    h, w, _ = rgb.shape
    flipped = np.ascontiguousarray(rgb[::-1, ::-1])
    spread = np.zeros((2 * h, 3 * w, 4), np.uint8)
    spread[::2, ::3, :3] = rgb
    spread[..., 3] = np.random.default_rng(1).integers(0, 256, spread.shape[:2])
    bgr = np.ascontiguousarray(rgb[..., ::-1])
    layouts = {
        "grey, a channel of the RGB array": rgb[:, :, 1],
        "grey, contiguous": np.ascontiguousarray(rgb[:, :, 0]),
        "negative strides": flipped[::-1, ::-1],
        "negative strides, grey": flipped[::-1, ::-1, 2],
        "Fortran order": np.asfortranarray(rgb),
        "every other row and third column, RGBA with any alpha": spread[::2, ::3],
        "RGB read backwards from BGR": bgr[..., ::-1],
        "read-only": np.frombuffer(rgb.tobytes(), np.uint8).reshape(rgb.shape),
    }
    for what, image in layouts.items():
        assert same_bits(qova.detect(image, [SAMPLE_REGION]).points, expected), what


def pnm_header(data):
    """Width, height, maxval and where the samples start, of a binary PGM or PPM."""
    fields, at = [], 2
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(int(data[at:end]))
        at = end
    return fields + [at + 1]


def read_pgm16(path):
    """The samples of a 16-bit binary PGM, read here without the program's reader."""
    data = open(path, "rb").read()
    width, height, maxval, at = pnm_header(data)
    assert maxval > 255
    return np.frombuffer(data, ">u2", width * height, at).reshape(height, width)


def test_deep_arrays_are_measured_at_their_own_precision(tmp_path):
    # 12-bit values in a 16-bit file, as a camera writes them.
    pgm = render(tmp_path, "deep.pgm", SAMPLE + ["--levels", "4095", "--background", "3700",
                                                 "--ink", "450", "--noise", "9", "--seed", "4",
                                                 "--depth", "16"])
    grey = read_pgm16(pgm)
    assert grey.max() <= 4095 and grey.dtype.byteorder == ">"
    region = [SAMPLE_REGION]
    for precise in ([], ["--precise", "--threads=2"]):
        expected = cli(pgm, region, *precise)
        assert expected is not None and len(expected) == 35
        values = {"PreciseRefinement": bool(precise), "threads": 2}
        # Big-endian samples as read, native ones, and RGB of three equal channels.
        native = grey.astype(np.uint16)
        for image in (grey, native, np.dstack([native] * 3), np.dstack([native] * 3 + [native])):
            assert same_bits(qova.detect(image, region, **values).points, expected)
    # The same whole numbers as floats: the detection's 8-bit picture is the same.
    expected = cli(pgm, region)
    assert same_bits(qova.detect(grey.astype(np.float64), region).points, expected)
    scaled = qova.detect(grey.astype(np.float32) / 4095, region, PreciseRefinement=True)
    assert scaled.completed and len(scaled.points) == 35
    assert np.abs(scaled.points - cli(pgm, region, "--precise")).max() < 0.01


def test_a_float_image_must_be_finite(tmp_path):
    pgm = render(tmp_path, "deep.pgm", SAMPLE + ["--levels", "4095", "--background", "3700",
                                                 "--ink", "450", "--depth", "16"])
    image = read_pgm16(pgm).astype(np.float32)
    for bad, count in ((np.nan, 1), (np.inf, 1), (-np.inf, 1)):
        spoilt = image.copy()
        spoilt[300, 400] = bad
        with pytest.raises(ValueError, match="1 samples that are NaN or infinite"):
            qova.detect(spoilt, [SAMPLE_REGION])
    with pytest.raises(ValueError, match="NaN or infinite .all of them."):
        qova.detect(np.full((600, 800), np.nan), [SAMPLE_REGION])


def test_wrong_dtypes_shapes_and_settings_are_refused(plates):
    rgb = read_bmp(plates["sample"])
    region = [SAMPLE_REGION]
    bad_images = [rgb.astype(np.float16), rgb.astype(np.uint32), rgb.astype(np.int8),
                  rgb[..., 0] > 100, rgb[..., :2], np.zeros((600, 800, 5), np.uint8),
                  rgb[0, :, 0], rgb[None], np.zeros((0, 800), np.uint8), [[1, 2], [3, 4]], None]
    for image in bad_images:
        with pytest.raises(ValueError, match="image must be|cannot be read"):
            qova.detect(image, region)
    for regions in ([SAMPLE_REGION[:6]], [[1, 2, 3]], "corners", [], [[SAMPLE_REGION]] * 2,
                    [["a"] * 8]):
        with pytest.raises(ValueError, match="regions must be|no region"):
            qova.detect(rgb, regions)
    with pytest.raises(TypeError, match="unexpected keyword argument 'MaxAngle'.*Max_Angle"):
        qova.detect(rgb, region, MaxAngle=4)
    with pytest.raises(TypeError, match="Max_Angle must be a number"):
        qova.detect(rgb, region, Max_Angle="4")
    for key, value, says in [("PreciseRefinement", 2, "takes 0 or 1"),
                             ("NeedPointsCount", 2.5, "whole number"),
                             ("FragmentationWidth", 1 << 40, "out of the range"),
                             ("Max_Angle", float("nan"), "finite")]:
        with pytest.raises(ValueError, match=key + ".*" + says):
            qova.detect(rgb, region, **{key: value})
    with pytest.raises(ValueError, match="threads"):
        qova.detect(rgb, region, threads=-1)
    with pytest.raises(FileNotFoundError, match="Не удаётся открыть файл"):
        qova.detect(str(plates["folder"] / "missing.bmp"), region)
    not_image = plates["folder"] / "notes.bmp"
    not_image.write_text("these are not pixels")
    with pytest.raises(OSError, match="Не удаётся прочитать изображение"):
        qova.detect(not_image, region)


def test_a_region_outside_the_image_is_refused_with_the_programs_message(plates):
    rgb = read_bmp(plates["sample"])
    for corner, says in [((800, 93), "corner 0 \\(800, 93\\)"), ((-1, 93), "corner 0 \\(-1, 93\\)"),
                         ((125, 600), "corner 0 \\(125, 600\\)")]:
        region = list(SAMPLE_REGION)
        region[0:2] = corner
        with pytest.raises(ValueError, match=says + " lies outside the image of 800 x 600 pixels"):
            qova.detect(rgb, [region])
        assert cli(plates["sample"], [region]) is None  # qova-detect refuses it too
    nan = np.array(SAMPLE_REGION, np.float64)
    nan[5] = np.nan
    with pytest.raises(ValueError, match="corner 2 .* lies outside"):
        qova.detect(rgb, nan)
    # The last pixel is inside.
    assert qova.detect(rgb, [[0, 0, 799, 0, 799, 599, 0, 599]]).status in ("completed", "failed")


def test_a_failed_run_is_a_result_with_the_windows_message(plates):
    rgb = read_bmp(plates["sample"])
    failed = qova.detect(rgb, [[100, 100, 100, 300, 400, 300, 400, 100]])
    assert failed.status == "failed" and not failed.completed
    assert failed.message == FAILED_TEXT and failed.cause
    assert failed.points.shape == (0, 2) and len(failed) == 0
    # The plate of the golden case answer_no meets the unreliable-points question.
    region = [[101, 94, 419, 166, 415, 294, 94, 350]]
    image = read_bmp(plates["answer"])
    question = "Найденные точки ненадежны. Продолжить работу?"
    yes = qova.detect(image, region)
    assert yes.completed and yes.questions == [(question, True)]
    no = qova.detect(image, region, answer=False)
    assert no.status == "failed" and no.questions == [(question, False)]
    assert no.message == FAILED_TEXT and no.cause == "Operation cancelled"
    counted = qova.detect(rgb, [SAMPLE_REGION], NeedPointsControl=1, NeedPointsCount=3,
                          answer=False)
    assert counted.status == "failed" and len(counted.questions) == 1
    assert counted.questions[0] == ("Найдено 35 точек! Заданное количество: 3 точек! "
                                    "Продолжить работу?", False)


def test_read_settings_reads_what_the_window_reads(plates, tmp_path):
    ini = tmp_path / "plate.ini"
    ini.write_bytes("[Other]\r\nMax_Angle=9\r\n[QOVAParameters]\r\nWorkDir=C:\\Сетки\r\n"
                    "max_angle=4.5\r\nSearchWindowWidth=7.9\r\nFragmentationWidth=два\r\n"
                    "PreciseRefinement=1\r\nUnknown=1\r\n".encode("cp1251"))
    values = qova.read_settings(ini)
    defaults = qova.default_settings()
    assert set(values) == set(defaults)
    changed = {k: v for k, v in values.items() if v != defaults[k]}
    assert changed == {"Max_Angle": 4.5, "SearchWindowWidth": 7, "PreciseRefinement": True}
    assert type(values["SearchWindowWidth"]) is int and type(values["Max_Angle"]) is float
    with pytest.raises(FileNotFoundError, match="settings file not found"):
        qova.read_settings(tmp_path / "none.ini")
    with pytest.raises(OSError, match="Ошибка чтения ini-файла!"):
        qova.read_settings(tmp_path)
    # Settings read and passed on run as qova-detect runs with the file.
    run = subprocess.run([DETECT, plates["sample"], "--settings", str(ini), "--format=json",
                          "--region=" + ",".join(map(str, SAMPLE_REGION))],
                         capture_output=True, text=True, check=True)
    import json
    report = json.loads(run.stdout)
    assert report["settings"]["values"] == values
    result = qova.detect(plates["sample"], [SAMPLE_REGION], **values)
    assert same_bits(result.points, [[p["x"], p["y"]] for p in report["points"]])
    assert result.settings == values


def test_threads_detect_at_once_with_the_same_results(plates):
    images = [(read_bmp(plates[name]), regions) for name, regions, _ in CASES[:3]]
    alone = [qova.detect(image, regions).points for image, regions in images]
    with ThreadPoolExecutor(max_workers=4) as pool:
        futures = [pool.submit(qova.detect, image, regions) for _ in range(3)
                   for image, regions in images]
        together = [f.result().points for f in futures]
    for k, points in enumerate(together):
        assert same_bits(points, alone[k % len(images)])


def turns_beside(work):
    """work()'s result, and how many turns a thread of the interpreter took
    meanwhile: a few at most if work holds the interpreter's lock."""
    running = threading.Event()
    finished = threading.Event()
    ticks = []

    def count():
        running.wait()
        n = 0
        while not finished.is_set():
            n += 1
            time.sleep(0)
        ticks.append(n)

    counter = threading.Thread(target=count)
    counter.start()
    running.set()
    try:
        return work(), ticks
    finally:
        finished.set()
        counter.join()


def test_the_lock_of_the_interpreter_is_released_while_a_detection_works(plates):
    image = read_bmp(plates["big"])
    regions = [[130, 130, 2270, 130, 2270, 1870, 130, 1870]]
    start = time.perf_counter()
    _, ticks = turns_beside(lambda: qova.detect(image, regions))
    seconds = time.perf_counter() - start
    assert seconds > 0.05
    assert ticks[0] > 1000, (ticks, seconds)


def test_module_facts():
    assert qova.__version__ == subprocess.run([DETECT, "--version"], capture_output=True,
                                              text=True).stdout.split()[1]
    assert "Max_Angle" in qova.default_settings()
    assert qova.detect.__doc__ and "read_settings" in qova.detect.__doc__


# --- The calibration ---------------------------------------------------------------------------

def fit_cli(image, region, *options):
    run = subprocess.run([DETECT, image, "--format=json", "--region=" + ",".join(map(str, region))]
                         + list(options), capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    import json
    return json.loads(run.stdout)


def test_a_calibration_gives_indices_plate_points_a_model_and_its_report(plates, tmp_path):
    image, region = plates["sample"], [SAMPLE_REGION]
    result = qova.detect(read_bmp(image), region, PreciseRefinement=True, threads=2,
                         model="projective", pitch=(0.5, 0.25))
    assert result.completed and result.calibration_error is None
    n = len(result.points)
    assert result.indices.shape == (n, 2) and result.indices.dtype == np.int32
    assert result.plate.shape == (n, 2) and result.residuals.shape == (n, 2)
    assert result.outliers.dtype == bool and not result.outliers.any()
    assert (result.frames == 0).all()
    assert np.array_equal(result.plate, result.indices * [0.5, 0.25])
    assert sorted(map(tuple, result.indices)) == [(c, r) for c in range(7) for r in range(5)]
    assert np.abs(result.residuals).max() < 1e-3
    model = result.model
    assert isinstance(model, qova.Model) and model.kind == "projective"
    assert model.pitch == (0.5, 0.25) and model.image_size == (800, 600)
    assert model.params.shape == (8,) and len(model.param_names) == 8
    assert (model.standard_errors > 0).all() and model.rms < 1e-3
    assert np.abs(model.to_image(result.plate) - result.points).max() < 1e-3
    assert result.report["model"] == "projective" and result.report["lattice"]["fitted"] == n
    # The command's numbers, bit for bit, and its model file byte for byte.
    cli_file, py_file = tmp_path / "cli.json", tmp_path / "py.json"
    cli = fit_cli(image, SAMPLE_REGION, "--precise", "--threads=2", "--model=projective",
                  "--pitch=0.5,0.25", "--save-model=" + str(cli_file))
    assert same_bits(result.plate, [p["plate"] for p in cli["points"]])
    assert same_bits(result.residuals, [p["residual"] for p in cli["points"]])
    model.save(py_file)
    assert py_file.read_bytes() == cli_file.read_bytes()
    from_cli, from_py = qova.Model.load(cli_file), qova.Model.load(str(py_file))
    for m in (from_cli, from_py):
        assert same_bits(m.params, model.params) and same_bits(m.standard_errors,
                                                               model.standard_errors)
    # Without model= nothing of it.
    plain = qova.detect(read_bmp(image), region)
    assert plain.indices is None and plain.model is None and plain.report is None
    assert same_bits(plain.points, qova.detect(read_bmp(image), region, model="affine").points)


def test_model_files_map_both_ways_to_a_billionth_of_a_pixel(plates, tmp_path):
    # A camera's plate: a barrel and a tilt.
    image = render(plates["folder"], "lens.bmp", ["--width", "1000", "--height", "800", "--pitch",
                                                   "50", "--angle", "2", "--barrel", "0.04",
                                                   "--tilt-x", "0.05", "--blur", "0.7"])
    region = [60, 60, 940, 60, 940, 740, 60, 740]
    names = ["projective", "radial", "poly4", "spline"]
    for name in names:
        path = tmp_path / (name + ".json")
        fit_cli(image, region, "--precise", "--model=" + name, "--pitch=1",
                "--save-model=" + str(path))
        m = qova.Model.load(path)
        assert m.kind == name
        u, v = np.meshgrid(np.linspace(1, 16, 23), np.linspace(1, 12, 19))
        uv = np.stack([u.ravel(), v.ravel()], 1)
        assert np.allclose(m.to_plate(m.to_image(uv)), uv, atol=1e-9, rtol=0), name
        xy = m.to_image(uv)
        assert np.abs(m.to_image(m.to_plate(xy)) - xy).max() < 1e-9, name
        # One point alone, shape (2,).
        assert m.to_plate(xy[5]).shape == (2,) and np.allclose(m.to_plate(xy[5]), uv[5])
        sigma = m.predict_sigma(xy)
        # The projective model misses the barrel: its residuals, and so its
        # standard errors, are tenths of a pixel; the others' far smaller.
        assert sigma.shape == xy.shape and (sigma > 0).all()
        assert (sigma < (0.5 if name == "projective" else 0.05)).all(), name
    assert repr(m).startswith("<qova.Model spline")


def test_calibration_arguments_and_model_files_are_checked(plates, tmp_path):
    rgb = read_bmp(plates["sample"])
    region = [SAMPLE_REGION]
    for kwargs, error, says in [
            (dict(model="poly7"), ValueError, 'unknown model "poly7"'),
            (dict(model=3), TypeError, "model must be a model name"),
            (dict(model="auto", pitch=-1), ValueError, "pitch must be"),
            (dict(model="auto", pitch=(1, 0)), ValueError, "pitch must be"),
            (dict(model="auto", pitch=(1, 2, 3)), ValueError, "pitch must be"),
            (dict(model="auto", pitch="1"), TypeError, "pitch must be a number"),
            (dict(model="auto", origin=(1,)), ValueError, "origin must be"),
            (dict(pitch=1), ValueError, "pitch needs a model"),
            (dict(model="none", origin=(1, 2)), ValueError, "origin needs a model")]:
        with pytest.raises(error, match=says):
            qova.detect(rgb, region, **kwargs)
    failed = qova.detect(rgb, region, model="poly6")
    assert failed.completed and failed.model is None and failed.report is None
    assert failed.calibration_cause == "too-few-points"
    assert "fewer than the poly6 model's 56 parameters" in failed.calibration_error
    assert (failed.indices == np.iinfo(np.int32).min).all() and np.isnan(failed.plate).all()

    with pytest.raises(FileNotFoundError, match="model file not found"):
        qova.Model.load(tmp_path / "none.json")
    with pytest.raises(OSError, match="a folder"):
        qova.Model.load(tmp_path)
    with pytest.raises(ValueError, match="not a QOVA model file"):
        qova.Model.load(plates["sample"])
    good = qova.detect(rgb, region, model="affine").model
    good.save(tmp_path / "a.json")
    text = (tmp_path / "a.json").read_text()
    (tmp_path / "cut.json").write_text(text[:len(text) // 2])
    with pytest.raises(ValueError, match="damaged model file"):
        qova.Model.load(tmp_path / "cut.json")
    with pytest.raises(OSError):
        good.save(tmp_path / "no" / "such" / "folder.json")
    for bad in ([1, 2, 3], [[1, 2, 3]], "uv", np.zeros((2, 2, 2))):
        with pytest.raises(ValueError, match="must be points"):
            good.to_image(bad)


def test_read_calibration_settings_gives_detects_arguments(plates, tmp_path):
    ini = tmp_path / "plate.ini"
    ini.write_bytes(b"[QOVAParameters]\r\nDistortionModel=radial\r\nGridPitchX=0.5\r\n"
                    b"GridPitchY=0.5\r\n")
    assert qova.read_calibration_settings(ini) == {"model": "radial", "pitch": (0.5, 0.5)}
    ini.write_bytes(b"[QOVAParameters]\r\nMax_Angle=4\r\n")
    assert qova.read_calibration_settings(ini) == {"model": None, "pitch": None}
    with pytest.raises(FileNotFoundError):
        qova.read_calibration_settings(tmp_path / "none.ini")
