"""Fixtures for client tests: a private ODBC configuration registering the
built driver, and the ports of the Spark servers started by scripts/test.sh."""
import os
import tempfile

import pytest

DRIVER = os.environ.get("TARN_DRIVER_PATH", "")


@pytest.fixture(scope="session", autouse=True)
def odbc_config():
    if not DRIVER:
        pytest.fail("TARN_DRIVER_PATH is not set")
    with tempfile.TemporaryDirectory(prefix="tarn-py-") as d:
        with open(os.path.join(d, "odbcinst.ini"), "w") as f:
            f.write(f"[tarndrv]\nDriver={DRIVER}\n")
        open(os.path.join(d, "odbc.ini"), "w").close()
        os.environ["ODBCSYSINI"] = d
        os.environ["ODBCINSTINI"] = "odbcinst.ini"
        os.environ["ODBCINI"] = os.path.join(d, "odbc.ini")
        yield d


def spark_port(mode):
    port = os.environ.get(f"TARN_SPARK_{mode}_PORT")
    if not port:
        pytest.skip(f"no Spark server for mode {mode}")
    return int(port)


def conn_str(port, auth="NONE"):
    return f"Driver=tarndrv;Server=127.0.0.1;Port={port};Authentication={auth};UID=spark;PWD=spark"
