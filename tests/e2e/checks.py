"""What the end-to-end tests share beyond the session: the failure list, the sample catalogue's
expected rows and the table as AT-SPI reads it."""

import importlib.util

SKIPPED = 77  # ctest's SKIP_RETURN_CODE for these tests

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


def load(name, path):
    """Loads a Python file as a module (the sample service's catalogue, say)."""
    module_spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def expected_rows(sample, keyword, page, share_domain):
    """The rows the sample service's page holds, as the table must show them."""
    hits = [s for s in sample.CATALOGUE if keyword.lower() in s.name.lower()]
    shown = hits[(page - 1) * sample.PAGE_SIZE:page * sample.PAGE_SIZE]
    return [[s.name, s.size or "文件夹", s.sharer, f"https://{share_domain}/s/{s.code}"]
            for s in shown]


def table_rows(grid):
    """The table's cells row by row; None when rows went away while they were read."""
    try:
        return [[grid.getAccessibleAt(row, column).name for column in range(4)]
                for row in range(grid.nRows)]
    except Exception:
        return None
