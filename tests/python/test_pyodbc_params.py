"""Parameters through pyodbc and pandas against Spark: values of every
primitive Spark type stored through bound parameters read back exactly,
executemany with fast_executemany stores every row in a few statements, and
no bound value changes a statement's structure."""
import math
from datetime import date, datetime
from decimal import Decimal

import pyodbc
import pytest

from conftest import conn_str, spark_port

DB = "tarn_params_py"
COLUMNS = (
    "id INT, c_bool BOOLEAN, c_tiny TINYINT, c_small SMALLINT, c_int INT, c_big BIGINT, c_float FLOAT, "
    "c_double DOUBLE, c_dec DECIMAL(38,10), c_str STRING, c_varchar VARCHAR(20), c_date DATE, c_ts TIMESTAMP, "
    "c_ts_ntz TIMESTAMP_NTZ, c_bin BINARY"
)

ROWS = [
    (1,) + (None,) * 14,
    (2, True, 1, 2, 3, 4, 1.5, 0.1, Decimal("12345.6789"), "it's a \\ test\n\r\t", "varchar", date(2024, 2, 29),
     datetime(2024, 1, 2, 3, 4, 5, 500000), datetime(2024, 1, 2, 3, 4, 5, 1), b"\x00\xab\x10\xff"),
    (3, False, 127, 32767, 2147483647, 9223372036854775807, -0.25, 1.7976931348623157e308,
     Decimal("9999999999999999999999999999.9999999999"), "Ünïcödé € 😀 '' \"", "日本語", date(9999, 12, 31),
     datetime(9999, 12, 31, 23, 59, 59, 999999), datetime(9999, 12, 31, 23, 59, 59, 999999), b""),
    (4, False, -128, -32768, -2147483648, -9223372036854775808, 0.0, 1 / 3, Decimal("-0.0000000001"), "",
     "' OR '1'='1", date(1, 1, 1), datetime(1, 1, 1), datetime(1, 1, 1, 0, 0, 0, 1), b"\xff" * 300),
    (5, True, 0, 0, 0, 0, 16777216.0, -0.0, Decimal("0"), "x" * 5000, "-- not a comment", date(1970, 1, 1),
     datetime(1970, 1, 1), datetime(2000, 2, 29, 12, 0), b"'"),
]


@pytest.fixture(scope="module")
def conn():
    c = pyodbc.connect(conn_str(spark_port("SASL")), autocommit=True)
    cur = c.cursor()
    cur.execute(f"CREATE DATABASE IF NOT EXISTS {DB}")
    # Dates before 1582 need the proleptic calendar in Parquet on Spark 3.5.
    cur.execute("SET spark.sql.parquet.datetimeRebaseModeInWrite=CORRECTED")
    cur.execute("SET spark.sql.parquet.int96RebaseModeInWrite=CORRECTED")
    yield c
    c.close()


def fresh_table(cur, name, columns):
    cur.execute(f"DROP TABLE IF EXISTS {DB}.{name}")
    cur.execute(f"CREATE TABLE {DB}.{name} ({columns}) USING parquet")


def check_rows(cur, table, want):
    cur.execute(f"SELECT * FROM {DB}.{table} ORDER BY id")
    got = [tuple(r) for r in cur.fetchall()]
    assert len(got) == len(want)
    for g_row, w_row in zip(got, want):
        for name, g, w in zip((d[0] for d in cur.description), g_row, w_row):
            if isinstance(w, float) and w == 0:
                assert g == 0 and math.copysign(1, g) == math.copysign(1, w), f"{w_row[0]} {name}: {g!r} != {w!r}"
            else:
                assert g == w, f"row {w_row[0]} {name}: {g!r} != {w!r}"


def pyodbc_keeps_fractions(conn):
    """pyodbc cuts the fraction of a bound datetime to the precision the
    driver's SQLGetTypeInfo gives TIMESTAMP (none without that function)."""
    try:
        conn.cursor().getTypeInfo(pyodbc.SQL_TYPE_TIMESTAMP).fetchall()
        return True
    except pyodbc.Error:
        return False


def test_every_type_round_trips_through_execute(conn):
    cur = conn.cursor()
    fresh_table(cur, "all_types", COLUMNS)
    marks = ", ".join("?" * 15)
    for row in ROWS:
        cur.execute(f"INSERT INTO {DB}.all_types VALUES ({marks})", *row)
    want = ROWS
    if not pyodbc_keeps_fractions(conn):
        want = [tuple(v.replace(microsecond=0) if isinstance(v, datetime) else v for v in row) for row in ROWS]
    check_rows(cur, "all_types", want)
    # The same values find their rows again as WHERE parameters.
    for row in ROWS[1:]:
        cur.execute(f"SELECT id FROM {DB}.all_types WHERE c_str = ? AND c_big = ? AND c_date = ? AND c_bin = ?",
                    row[9], row[5], row[11], row[14])
        assert [r[0] for r in cur.fetchall()] == [row[0]]


def test_executemany_fast_stores_every_row_in_a_few_statements(conn):
    cur = conn.cursor()
    fresh_table(cur, "many", "id INT, name STRING, amount DECIMAL(18,2), at TIMESTAMP, ratio DOUBLE")
    rows = [(i, f"name {i} 'q' \\ 😀", Decimal(i) / 4, datetime(2024, 1, 1, 0, 0, i % 60, i), i / 7)
            for i in range(10000)]
    cur.fast_executemany = True
    cur.executemany(f"INSERT INTO {DB}.many VALUES (?, ?, ?, ?, ?)", rows)
    cur.fast_executemany = False
    cur.execute(f"SELECT count(*), count(DISTINCT f) FROM (SELECT input_file_name() AS f FROM {DB}.many)")
    count, files = cur.fetchone()
    assert count == 10000
    # Each INSERT statement writes its own file: a handful, not 10,000.
    assert files <= 10
    cur.execute(f"SELECT * FROM {DB}.many ORDER BY id")
    assert [tuple(r) for r in cur.fetchall()] == rows


def test_executemany_without_fast_mode(conn):
    cur = conn.cursor()
    fresh_table(cur, "slow", "id INT, name STRING")
    rows = [(1, "a"), (2, None), (3, "c'")]
    cur.executemany(f"INSERT INTO {DB}.slow VALUES (?, ?)", rows)
    check_rows(cur, "slow", rows)


def test_a_bound_value_never_changes_the_statement(conn):
    cur = conn.cursor()
    fresh_table(cur, "guard", "id INT, name STRING")
    cur.execute(f"INSERT INTO {DB}.guard VALUES (1, 'a'), (2, 'b')")
    cur.setinputsizes([(pyodbc.SQL_INTEGER, 0, 0)])
    with pytest.raises(pyodbc.Error) as err:
        cur.execute(f"SELECT * FROM {DB}.guard WHERE id = ?", "1 OR 1=1")
    assert "22018" in str(err.value)
    cur.setinputsizes(None)
    cur.execute(f"SELECT * FROM {DB}.guard WHERE name = ?", "a' OR '1'='1")
    assert cur.fetchall() == []
    cur.execute(f"SELECT * FROM {DB}.guard WHERE name = ?", "a\\' OR 1=1 --")
    assert cur.fetchall() == []
    cur.execute(f"SELECT count(*) FROM {DB}.guard WHERE id = 5-?", -1)
    assert cur.fetchone()[0] == 0


def test_pandas_read_sql_with_params(conn):
    pd = pytest.importorskip("pandas")
    cur = conn.cursor()
    fresh_table(cur, "frame", "id INT, name STRING, day DATE")
    cur.execute(f"INSERT INTO {DB}.frame VALUES (1, 'x', DATE'2024-01-01'), (2, 'y\\'s', DATE'2024-01-02'), "
                f"(3, 'z', DATE'2024-01-03')")
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)   # pandas prefers SQLAlchemy connectables
        df = pd.read_sql(f"SELECT id, name FROM {DB}.frame WHERE id >= ? AND day <= ? ORDER BY id", conn,
                         params=[2, date(2024, 1, 2)])
    assert df.to_dict("records") == [{"id": 2, "name": "y's"}]
