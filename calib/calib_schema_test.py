"""The calibration's model files and reports validate against the JSON
Schemas in share/, and their numbers read in Python as the doubles the
program wrote."""

import glob
import json
import os
import subprocess

import jsonschema
import pytest

EXAMPLES = os.environ["QOVA_CALIB_EXAMPLES"]
SHARE = os.environ["QOVA_SHARE"]
MODEL_SCHEMA = json.load(open(os.path.join(SHARE, "qova-model.schema.json"), encoding="utf-8"))
REPORT_SCHEMA = json.load(open(os.path.join(SHARE, "qova-calib-report.schema.json"), encoding="utf-8"))


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    path = tmp_path_factory.mktemp("calib")
    subprocess.run([EXAMPLES, str(path)], check=True)
    return path


def test_the_schemas_are_valid_schemas():
    jsonschema.Draft202012Validator.check_schema(MODEL_SCHEMA)
    jsonschema.Draft202012Validator.check_schema(REPORT_SCHEMA)


def test_model_files_validate_and_every_number_round_trips(folder):
    files = sorted(glob.glob(str(folder / "*.model.json")))
    assert len(files) == 12
    for path in files:
        text = open(path, encoding="utf-8").read()
        doc = json.loads(text)
        jsonschema.validate(doc, MODEL_SCHEMA, cls=jsonschema.Draft202012Validator)
        assert len(doc["parameters"]) == len(doc["parameter_names"])
        p = len(doc["parameters"])
        values = doc["covariance"]["values"]
        assert len(values) == (p * p if doc["covariance"]["form"] == "dense" else p // 2 * 49)
        # Each number as written is the shortest text of its double.
        for v in doc["parameters"] + values:
            assert float(repr(v)) == v


def test_reports_validate_and_say_what_became_of_the_points(folder):
    files = sorted(glob.glob(str(folder / "*.report.json")))
    assert len(files) == 12
    for path in files:
        doc = json.load(open(path, encoding="utf-8"))
        jsonschema.validate(doc, REPORT_SCHEMA, cls=jsonschema.Draft202012Validator)
    auto = json.load(open(folder / "auto.report.json", encoding="utf-8"))
    assert auto["requested"] == "auto"
    assert len(auto["candidates"]) == 9
    assert sum(c["chosen"] for c in auto["candidates"]) == 1
    assert len(auto["lattice"]["unindexed"]) == 5
    assert auto["lattice"]["duplicates"]
    assert [o["points"] for o in auto["lattice"]["outliers"]] == [[40]]
    cells = json.load(open(folder / "cells.report.json", encoding="utf-8"))
    assert cells["plate_unit"] == "cell" and cells["pitch_mm"] is None
    assert cells["scale"]["pixel_size_u_um"]["value"] is None
    regions = json.load(open(folder / "regions.report.json", encoding="utf-8"))
    assert regions["lattice"]["frames"] == 2
    assert [r["frame"] for r in regions["lattice"]["regions"]] == [0, 0, 1]
    assert regions["lattice"]["regions"][1]["joined"]
    assert regions["lattice"]["regions"][2]["note"]
