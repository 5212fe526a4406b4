"""pyodbc over TLS, HTTP and HTTPS reads what it reads over the plain socket."""
import os

import pyodbc
import pytest

from conftest import conn_str, spark_port

QUERY = (
    "SELECT id, concat('v', id) AS s, CAST(id AS DOUBLE) / 4 AS d, DATE'2024-02-29' AS dt, "
    "IF(id % 3 = 0, NULL, id) AS n, 'Ünïcödé €' AS u FROM range(5000) ORDER BY id"
)

MODES = {
    "TLS": "Authentication=NONE;UID=spark;PWD=spark;ssl=yes",
    "HTTP": "Authentication=HTTP_BASIC;UID=spark;PWD=spark",
    "HTTPTLS": "Authentication=HTTP_BASIC;UID=spark;PWD=spark;ssl=yes",
}


def rows(connection_string):
    with pyodbc.connect(connection_string, autocommit=True) as c:
        return [tuple(r) for r in c.cursor().execute(QUERY).fetchall()]


@pytest.mark.parametrize("mode", sorted(MODES))
def test_same_values_as_the_plain_socket(mode):
    plain = rows(conn_str(spark_port("SASL")))
    s = f"Driver=tarndrv;Server=127.0.0.1;Port={spark_port(mode)};{MODES[mode]}"
    if "ssl=yes" in s:
        ca = os.environ.get("TARN_SPARK_CA")
        if not ca:
            pytest.skip("TARN_SPARK_CA is not set")
        s += f";CertificateFile={ca}"
    got = rows(s)
    assert len(got) == 5000
    assert got == plain
