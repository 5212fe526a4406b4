"""Fetching through pyodbc (wide entry points, SQLGetData per value) against
Spark: every kind of value arrives as the right Python object."""
import math
from datetime import date, datetime
from decimal import Decimal

import pyodbc
import pytest

from conftest import conn_str, spark_port

COLUMNS = (
    "id INT, c_bool BOOLEAN, c_tiny TINYINT, c_small SMALLINT, c_int INT, c_big BIGINT, c_float FLOAT, "
    "c_double DOUBLE, c_dec DECIMAL(18,4), c_str STRING, c_char CHAR(5), c_varchar VARCHAR(20), c_date DATE, "
    "c_ts TIMESTAMP, c_ts_ntz TIMESTAMP_NTZ, c_bin BINARY, c_arr ARRAY<INT>, c_map MAP<STRING,INT>, "
    "c_struct STRUCT<a:INT,b:STRING>"
)

ROWS_SQL = (
    "(1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    "NULL), "
    "(2, true, 1, 2, 3, 4, CAST(1.5 AS FLOAT), 0.1D, 12345.6789, 'hello', 'abc', 'varchar', DATE'2024-02-29', "
    "TIMESTAMP'2024-01-02 03:04:05.5', TIMESTAMP_NTZ'2024-01-02 03:04:05.000001', X'00AB10FF', array(1, 2, 3), "
    "map('a', 1), named_struct('a', 1, 'b', 'x')), "
    "(3, false, 127, 32767, 2147483647, 9223372036854775807, CAST(-0.1 AS FLOAT), 1.7976931348623157E308D, "
    "99999999999999.9999, 'Ünïcödé € 😀', 'é😀', '日本語', DATE'9999-12-31', TIMESTAMP'9999-12-31 23:59:59.999999', "
    "TIMESTAMP_NTZ'9999-12-31 23:59:59.999999', X'', array(), map(), named_struct('a', NULL, 'b', 'ü')), "
    "(4, false, -128, -32768, -2147483648, -9223372036854775807L - 1, CAST(0 AS FLOAT), -2.5E-10D, -0.0001, '', "
    "'', '', DATE'0001-01-01', TIMESTAMP'0001-01-01 00:00:00', TIMESTAMP_NTZ'0001-01-01 00:00:00.000001', X'FF', "
    "array(NULL), map('k', -1), named_struct('a', -1, 'b', ''))"
)

EXPECTED = [
    (1,) + (None,) * 18,
    (2, True, 1, 2, 3, 4, 1.5, 0.1, Decimal("12345.6789"), "hello", "abc  ", "varchar", date(2024, 2, 29),
     datetime(2024, 1, 2, 3, 4, 5, 500000), datetime(2024, 1, 2, 3, 4, 5, 1), b"\x00\xab\x10\xff", "[1,2,3]",
     '{"a":1}', '{"a":1,"b":"x"}'),
    # A FLOAT arrives as the double of its shortest text: -0.1, not -0.10000000149011612.
    (3, False, 127, 32767, 2147483647, 9223372036854775807, -0.1, 1.7976931348623157e308,
     Decimal("99999999999999.9999"), "Ünïcödé € 😀", "é😀   ", "日本語", date(9999, 12, 31),
     datetime(9999, 12, 31, 23, 59, 59, 999999), datetime(9999, 12, 31, 23, 59, 59, 999999), b"", "[]", "{}",
     '{"a":null,"b":"ü"}'),
    (4, False, -128, -32768, -2147483648, -9223372036854775808, 0.0, -2.5e-10, Decimal("-0.0001"), "", "     ", "",
     date(1, 1, 1), datetime(1, 1, 1), datetime(1, 1, 1, 0, 0, 0, 1), b"\xff", "[null]", '{"k":-1}',
     '{"a":-1,"b":""}'),
]


@pytest.fixture(scope="module")
def cursor():
    conn = pyodbc.connect(conn_str(spark_port("SASL")), autocommit=True)
    cur = conn.cursor()
    cur.execute("CREATE DATABASE IF NOT EXISTS tarn_fetch_py")
    cur.execute("DROP TABLE IF EXISTS tarn_fetch_py.all_types")
    # Spark 3.5 refuses to write dates before 1582 to Parquet unless told how.
    cur.execute("SET spark.sql.parquet.datetimeRebaseModeInWrite=CORRECTED")
    cur.execute("SET spark.sql.parquet.int96RebaseModeInWrite=CORRECTED")
    cur.execute(f"CREATE TABLE tarn_fetch_py.all_types ({COLUMNS}) USING parquet")
    cur.execute(f"INSERT INTO tarn_fetch_py.all_types VALUES {ROWS_SQL}")
    yield cur
    conn.close()


def test_fetchall_gives_python_values_of_every_type(cursor):
    cursor.execute("SELECT * FROM tarn_fetch_py.all_types ORDER BY id")
    rows = [tuple(r) for r in cursor.fetchall()]
    assert len(rows) == len(EXPECTED)
    for got, want in zip(rows, EXPECTED):
        for name, g, w in zip((d[0] for d in cursor.description), got, want):
            assert type(g) is type(w) and g == w, f"row {want[0]} {name}: {g!r} != {w!r}"
    assert cursor.fetchone() is None


def test_description_names_types_and_sizes(cursor):
    cursor.execute("SELECT * FROM tarn_fetch_py.all_types WHERE id = 2")
    want = [
        ("id", int), ("c_bool", bool), ("c_tiny", int), ("c_small", int), ("c_int", int), ("c_big", int),
        ("c_float", float), ("c_double", float), ("c_dec", Decimal), ("c_str", str), ("c_char", str),
        ("c_varchar", str), ("c_date", date), ("c_ts", datetime), ("c_ts_ntz", datetime), ("c_bin", bytearray),
        ("c_arr", str), ("c_map", str), ("c_struct", str),
    ]
    # pyodbc names binary columns bytearray in descriptions (and returns bytes).
    assert [(d[0], d[1]) for d in cursor.description] == want
    by_name = {d[0]: d for d in cursor.description}
    # (name, type, display size, internal size, precision, scale, nullable)
    assert by_name["c_dec"][4:6] == (18, 4)
    assert by_name["c_char"][3] == 5
    assert by_name["c_varchar"][3] == 20
    assert all(d[6] is True for d in cursor.description)
    cursor.fetchall()


def test_exact_doubles(cursor):
    cursor.execute(
        "SELECT CAST(0.1 AS DOUBLE), 1D / 3, 1E308D, CAST('-0.0' AS DOUBLE), 4.9E-324D, "
        "CAST('Infinity' AS DOUBLE), CAST('NaN' AS DOUBLE), 2.82879384806159E17D"
    )
    row = cursor.fetchone()
    assert row[0] == 0.1 and row[1] == 1 / 3 and row[2] == 1e308
    assert row[3] == 0.0 and math.copysign(1, row[3]) == -1
    assert row[4] == 5e-324 and row[5] == math.inf and math.isnan(row[6])
    assert row[7] == 2.82879384806159e17


def test_long_text_and_many_rows(cursor):
    cursor.execute("SELECT repeat('abc€😀', 2000), unhex(repeat('00FF', 5000))")
    text, data = cursor.fetchone()
    assert text == "abc€😀" * 2000
    assert data == b"\x00\xff" * 5000
    cursor.execute("SELECT id, CAST(id AS STRING), id * 0.5 FROM range(20000)")
    rows = cursor.fetchall()
    assert len(rows) == 20000
    assert all(r[0] == i and r[1] == str(i) and r[2] == Decimal(i) / 2 for i, r in enumerate(rows))


def test_fetchmany_walks_the_result_in_steps(cursor):
    cursor.execute("SELECT id FROM range(2505)")
    seen = []
    while True:
        part = cursor.fetchmany(1000)
        if not part:
            break
        seen.extend(r[0] for r in part)
    assert seen == list(range(2505))
