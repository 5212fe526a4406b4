"""pyodbc's catalog methods (wide catalog entry points) against Spark:
tables(), columns(), getTypeInfo(), statistics() and the key methods."""
import pyodbc
import pytest

from conftest import conn_str, spark_port

DB = "tarn_catalog_py"


@pytest.fixture(scope="module")
def cursor():
    conn = pyodbc.connect(conn_str(spark_port("SASL")), autocommit=True)
    cur = conn.cursor()
    cur.execute(f"CREATE DATABASE IF NOT EXISTS {DB}")
    cur.execute(f"DROP VIEW IF EXISTS {DB}.v")
    cur.execute(f"DROP TABLE IF EXISTS {DB}.t")
    cur.execute(f"CREATE TABLE {DB}.t (id INT, name VARCHAR(20), amount DECIMAL(10,2), at TIMESTAMP) USING parquet")
    cur.execute(f"CREATE VIEW {DB}.v AS SELECT id, name FROM {DB}.t")
    yield cur
    conn.close()


def test_tables_lists_tables_and_views_with_types(cursor):
    rows = cursor.tables(schema=DB).fetchall()
    assert sorted((r.table_name, r.table_type) for r in rows) == [("t", "TABLE"), ("v", "VIEW")]
    assert all(r.table_schem == DB and r.table_cat is None for r in rows)
    assert [r.table_name for r in cursor.tables(schema=DB, tableType="VIEW")] == ["v"]
    # The special form (empty names) lists the table types; "%" with absent
    # names is no filter.
    assert [r.table_type for r in cursor.tables(catalog="", schema="", table="", tableType="%")] == ["TABLE", "VIEW"]
    assert {r.table_type for r in cursor.tables(schema=DB, tableType="%")} == {"TABLE", "VIEW"}


def test_columns_have_odbc_codes_and_sizes(cursor):
    rows = cursor.columns(table="t", schema=DB).fetchall()
    got = [(r.column_name, r.data_type, r.type_name, r.column_size, r.decimal_digits, r.ordinal_position)
           for r in rows]
    assert got == [
        ("id", pyodbc.SQL_INTEGER, "INT", 10, 0, 1),
        ("name", pyodbc.SQL_VARCHAR, "VARCHAR(20)", 20, None, 2),
        ("amount", pyodbc.SQL_NUMERIC, "DECIMAL(10,2)", 10, 2, 3),
        ("at", pyodbc.SQL_TYPE_TIMESTAMP, "TIMESTAMP", 26, 6, 4),
    ]
    # The same codes as the description of a query over the table.
    cursor.execute(f"SELECT * FROM {DB}.t")
    described = {d[0]: d[1] for d in cursor.description}
    assert described["id"] is int and described["amount"].__name__ == "Decimal"


def test_get_type_info(cursor):
    rows = cursor.getTypeInfo().fetchall()
    codes = [r.data_type for r in rows]
    assert codes == sorted(codes)
    by_name = {r.type_name: r for r in rows}
    assert by_name["TIMESTAMP"].column_size == 26 and by_name["TIMESTAMP"].maximum_scale == 6
    assert by_name["BINARY"].literal_prefix == "X'"
    assert [r.type_name for r in cursor.getTypeInfo(pyodbc.SQL_INTEGER)] == ["INT"]


def test_keys_statistics_and_procedures(cursor):
    assert cursor.primaryKeys("t", schema=DB).fetchall() == []
    stats = cursor.statistics("t", schema=DB).fetchall()
    assert len(stats) == 1 and stats[0].table_name == "t" and stats[0].type == 0
    procs = cursor.procedures(procedure="abs").fetchall()
    assert [p.procedure_name for p in procs] == ["abs"]
    # The cursor is usable for a query after the catalog calls.
    assert cursor.execute("SELECT 1").fetchone()[0] == 1
