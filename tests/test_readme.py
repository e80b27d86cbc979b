"""The README's examples are generated output; they must match what the code produces."""

import json
import pathlib
import re

from tavrin.amazon_rufus.services.velmora import Velmora

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")


def block_after(marker: str) -> str:
    match = re.search(rf"<!-- {marker} -->\n(`{{3,}})\w*\n(.*?)\n\1\n", README, re.S)
    assert match, f"no block after marker {marker}"
    return match.group(2)


def test_short_example_report_is_current(velmora):
    payload = json.loads(block_after("short-example-payload"))
    assert velmora.format_data(payload) == block_after("short-example-report")


def test_bundled_example_report_is_current(velmora):
    payload = json.loads((ROOT / "examples" / "payload.json").read_text(encoding="utf-8"))
    assert velmora.format_data(payload) == block_after("bundled-example-report")


def test_subclass_example_works():
    code = re.search(r"```python\n(class NumberedLists.*?)```", README, re.S).group(1)
    namespace = {"Velmora": Velmora}
    exec(code, namespace)
    report = namespace["NumberedLists"]().format_data({"answers": [{"text": "- a\n- b\n\ntext\n\n- c"}]})
    assert report.endswith("1. a\n2. b\n\ntext\n\n1. c")
