"""velmora-grid --summary of a grid folder whose list of models (grid.tsv) is damaged: an empty,
truncated or foreign file is refused with status 1 and a message naming it, never a traceback
(an empty grid.tsv raised IndexError) or a summary of no models reported as success."""
import subprocess
import sys

import pytest

from velmora import grid

DAMAGED = [
    ("empty", b""),
    ("header alone", b"folder\tl\n"),
    ("a foreign file", b"\xff\xfe\x00\x01binary\n\x00\x00"),
    ("a table of something else", b"time\tflux\n1\t2\n"),
]


@pytest.mark.parametrize("name,content", DAMAGED, ids=[c[0] for c in DAMAGED])
def test_a_damaged_list_of_models_is_refused(tmp_path, name, content):
    (tmp_path / "g").mkdir()
    (tmp_path / "g" / "grid.tsv").write_bytes(content)
    r = subprocess.run([sys.executable, "-m", "velmora.grid", "--summary", "g"], cwd=tmp_path,
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 1, r.stderr
    assert r.stderr.startswith("velmora-grid: g/grid.tsv ") and "Traceback" not in r.stderr, r.stderr
    assert sorted(p.name for p in (tmp_path / "g").iterdir()) == ["grid.tsv"]  # no summary.tsv written


@pytest.mark.parametrize("ranges,words", [
    (["l=0.4,0.40"], "value 0.40 of l is listed twice (as 0.4)"),
    (["mdisk=1e25,1E25,3e25"], "value 1E25 of mdisk is listed twice (as 1e25)"),
    (["NUM_TIME=10,+10"], "value +10 of NUM_TIME is listed twice (as 10)"),
    (["l=0.4,0.4"], "value 0.4 of l is listed twice"),
])
def test_a_value_listed_twice_in_another_spelling_is_refused(ranges, words):
    # Two folders of one model, run twice under two names, with nothing to tell them apart in the summary.
    with pytest.raises(grid.Usage, match=words.replace("(", r"\(").replace(")", r"\)").replace("+", r"\+")):
        grid.parse_ranges(ranges, grid.keyword_kinds())
    distinct = grid.parse_ranges(["l=0.4,0.41", "mdisk=1e25,3e25"], grid.keyword_kinds())
    assert distinct == [("l", ["0.4", "0.41"]), ("mdisk", ["1e25", "3e25"])]
