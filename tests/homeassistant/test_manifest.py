"""The manifest asks for this package at the version pyproject.toml gives, the one its
wheel carries, and holds the keys that HACS and Home Assistant read."""

import json
import tomllib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def test_manifest_requires_this_version():
    version = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]
    manifest = json.loads((ROOT / "custom_components" / "kestrava" / "manifest.json").read_text())
    assert (manifest["requirements"], manifest["version"]) == ([f"kestrava=={version}"], version)
    assert (manifest["domain"], manifest["config_flow"], manifest["iot_class"], manifest["integration_type"]) == \
        ("kestrava", True, "calculated", "service")
    assert {"name", "documentation", "issue_tracker", "codeowners"} <= set(manifest)
    assert json.loads((ROOT / "hacs.json").read_text())["name"]
