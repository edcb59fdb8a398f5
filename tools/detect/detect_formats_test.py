"""qova-detect's machine-readable output on rendered plates: the JSON report
validates against share/qova-detect.schema.json and holds the coordinate
file's numbers; the CSV parses with Python's csv module to the same numbers,
with '.' whatever the locale."""

import csv
import io
import json
import os
import subprocess

import jsonschema
import pytest

DETECT = os.environ["QOVA_DETECT"]
MAKE_PLATE = os.environ["QOVA_MAKE_PLATE"]
SCHEMA = json.load(open(os.environ["QOVA_SCHEMA"], encoding="utf-8"))
SAMPLE_REGION = "--region=125,93,685,107,675,507,115,493"
COMMA = dict(os.environ, LC_ALL="ru_RU.UTF-8")


@pytest.fixture(scope="module")
def plate(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("plates") / "sample.bmp")
    subprocess.run([MAKE_PLATE, path, "--width", "800", "--height", "600", "--pitch", "80",
                    "--angle", "1.5"], check=True, stdout=subprocess.DEVNULL)
    return path


def detect(*args, env=None, status=0):
    run = subprocess.run([DETECT] + list(args), capture_output=True, env=env)
    assert run.returncode == status, run.stderr.decode()
    return run.stdout


def crd_numbers(data):
    """The coordinate file's points: CR LF lines "x ; y", either separator."""
    lines = data.decode("cp1251").split("\r\n")
    assert lines[-1] == ""
    return [tuple(float(v.replace(",", ".")) for v in line.split(" ; ")) for line in lines[:-1]]


def as_written(v):
    """A double as the coordinate file writes it: 15 significant digits."""
    return float("%.14e" % v)


def validate(report):
    jsonschema.Draft202012Validator.check_schema(SCHEMA)
    jsonschema.validate(report, SCHEMA, cls=jsonschema.Draft202012Validator)


def test_json_validates_and_holds_the_coordinate_files_numbers(plate):
    crd = crd_numbers(detect(plate, SAMPLE_REGION))
    assert len(crd) == 35
    report = json.loads(detect(plate, SAMPLE_REGION, "--format=json", env=COMMA))
    validate(report)
    assert report["status"] == "completed" and report["message"] == ""
    assert report["image"] == {"file": plate, "width": 800, "height": 600}
    assert report["regions"][0]["corners"] == [[125, 93], [685, 107], [675, 507], [115, 493]]
    assert report["regions"][0]["points"] == 35
    assert [p["index"] for p in report["points"]] == list(range(1, 36))
    assert [(as_written(p["x"]), as_written(p["y"])) for p in report["points"]] == crd
    assert report["settings"]["values"]["Max_Angle"] == 3
    # The statistics lines with '.', whatever the locale.
    assert report["statistics"][0].startswith("Средняя яркость")
    assert "." in report["statistics"][1] and "," not in report["statistics"][1]


def test_a_failed_run_and_the_precise_stage_validate_too(plate):
    failed = json.loads(detect(plate, "--region=100,100,100,300,400,300,400,100",
                               "--format=json", status=1))
    validate(failed)
    assert failed["status"] == "failed" and failed["points"] == []
    assert failed["message"] == "Невозможно найти точки. Попробуйте изменить параметры."
    precise = json.loads(detect(plate, SAMPLE_REGION, "--format=json", "--precise"))
    validate(precise)
    assert precise["settings"]["values"]["PreciseRefinement"] is True
    assert precise["regions"][0]["precise"] is True
    assert all(p["precise"] and p["standard_error"] < 0.1 for p in precise["points"])
    # A report that breaks the schema is caught.
    del precise["points"][0]["sigma_x"]
    with pytest.raises(jsonschema.ValidationError):
        validate(precise)


def test_csv_parses_to_the_coordinate_files_numbers_in_any_locale(plate):
    crd = crd_numbers(detect(plate, SAMPLE_REGION, env=COMMA))
    text = detect(plate, SAMPLE_REGION, "--format=csv", env=COMMA).decode("ascii")
    rows = list(csv.reader(io.StringIO(text)))
    assert rows[0] == ["index", "x", "y"]
    assert [int(r[0]) for r in rows[1:]] == list(range(1, 36))
    assert [(as_written(float(r[1])), as_written(float(r[2]))) for r in rows[1:]] == crd
    # Full precision: each number is the JSON's double.
    report = json.loads(detect(plate, SAMPLE_REGION, "--format=json"))
    assert [(float(r[1]), float(r[2])) for r in rows[1:]] == [(p["x"], p["y"])
                                                              for p in report["points"]]


def test_csv_of_the_precise_stage_has_its_uncertainties(plate, tmp_path):
    out = tmp_path / "plate.csv"
    detect(plate, SAMPLE_REGION, "--format=csv", "--precise", "-o", str(out))
    rows = list(csv.DictReader(open(out, newline="")))
    assert list(rows[0]) == ["index", "x", "y", "sigma_x", "sigma_y", "standard_error", "origin"]
    assert len(rows) == 35
    for r in rows:
        sx, sy, se = float(r["sigma_x"]), float(r["sigma_y"]), float(r["standard_error"])
        assert 0 < sx < 0.1 and 0 < sy < 0.1 and abs(se * se - (sx * sx + sy * sy)) < 1e-12
        assert r["origin"] in ("found", "merged", "added")
    # A failed run writes no CSV and leaves the file alone.
    detect(plate, "--region=100,100,100,300,400,300,400,100", "--format=csv", "-o", str(out),
           status=1)
    assert len(list(csv.DictReader(open(out, newline="")))) == 35


def test_a_calibration_adds_fields_that_validate_and_columns_that_parse(plate, tmp_path):
    model = tmp_path / "m.json"
    fitted = json.loads(detect(plate, SAMPLE_REGION, "--format=json", "--precise", "--model=auto",
                               "--pitch=1", "--save-model", str(model)))
    validate(fitted)
    assert fitted["calibration"]["status"] == "fitted"
    assert fitted["calibration"]["model"] == "affine"
    assert fitted["calibration"]["pitch_mm"] == [1, 1]
    # Column to the right, row downward, (0, 0) nearest the region's first corner.
    by_index = {(p["column"], p["row"]): p for p in fitted["points"]}
    assert sorted(by_index) == [(c, r) for c in range(7) for r in range(5)]
    assert by_index[(1, 0)]["x"] > by_index[(0, 0)]["x"] + 70
    assert by_index[(0, 1)]["y"] > by_index[(0, 0)]["y"] + 70
    assert all(p["plate"] == [p["column"], p["row"]] and p["outlier"] is False
               and max(map(abs, p["residual"])) < 1e-3 for p in fitted["points"])
    # Without a calibration none of it is there.
    plain = json.loads(detect(plate, SAMPLE_REGION, "--format=json", "--precise"))
    assert "calibration" not in plain and "column" not in plain["points"][0]

    applied = json.loads(detect(plate, SAMPLE_REGION, "--format=json",
                                "--apply-model=" + str(model)))
    validate(applied)
    assert applied["calibration"]["mode"] == "apply"
    assert applied["points"][0]["column"] is None and applied["points"][0]["residual"] is None
    for p, q in zip(applied["points"], fitted["points"]):
        assert abs(p["plate"][0] - q["plate"][0]) < 0.01 and abs(p["plate"][1] - q["plate"][1]) < 0.01

    failed = json.loads(detect(plate, SAMPLE_REGION, "--format=json", "--model=poly6", status=1))
    validate(failed)
    assert failed["calibration"]["status"] == "failed"
    assert failed["calibration"]["cause"] == "too-few-points"
    assert failed["points"][0]["plate"] is None

    rows = list(csv.DictReader(io.StringIO(detect(
        plate, SAMPLE_REGION, "--format=csv", "--model=projective", "--pitch=0.5,0.25",
        "--origin=400,300").decode("ascii"))))
    assert list(rows[0]) == ["index", "x", "y", "frame", "column", "row", "plate_u", "plate_v",
                             "residual_x", "residual_y", "outlier"]
    for r in rows:
        assert float(r["plate_u"]) == 0.5 * int(r["column"])
        assert float(r["plate_v"]) == 0.25 * int(r["row"])
        assert r["outlier"] in ("0", "1")
    # --origin: (0, 0) at the crossing nearest the image point (400, 300).
    nearest = min(rows, key=lambda r: (float(r["x"]) - 400) ** 2 + (float(r["y"]) - 300) ** 2)
    assert (nearest["column"], nearest["row"]) == ("0", "0")


def test_a_deep_image_reports_its_depth_and_range_and_a_broken_one_does_not_run(tmp_path):
    plate = str(tmp_path / "deep.tif")
    subprocess.run([MAKE_PLATE, plate, "--width", "800", "--height", "600", "--pitch", "80",
                    "--angle", "1.5", "--levels", "4095", "--background", "3700", "--ink", "450",
                    "--depth", "16"], check=True, stdout=subprocess.DEVNULL)
    report = json.loads(detect(plate, SAMPLE_REGION, "--format=json", "--precise"))
    validate(report)
    assert report["status"] == "completed" and len(report["points"]) == 35
    assert report["image"] == {"file": plate, "width": 800, "height": 600, "depth": 16,
                               "range": [450, 3700]}
    # Cut short: the run does not start, and says why.
    cut = str(tmp_path / "cut.tif")
    with open(plate, "rb") as whole, open(cut, "wb") as part:
        data = whole.read()
        part.write(data[:8] + bytes(len(data) // 2))  # the header, then zeros
    out = tmp_path / "out.crd"
    run = subprocess.run([DETECT, cut, SAMPLE_REGION, "-o", str(out)], capture_output=True)
    assert run.returncode == 2 and not out.exists()
    assert run.stderr.decode().startswith("qova-detect: cannot read the image " + cut + ": ")
