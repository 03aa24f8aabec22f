"""The fixtures of velmora-fit's tests."""
import os

import pytest


@pytest.fixture
def binary():
    path = os.environ.get("VELMORA_BINARY")
    if not path:
        pytest.skip("VELMORA_BINARY not set (CTest sets it)")
    return path
