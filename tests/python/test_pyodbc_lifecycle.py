"""pyodbc's cancel, connection timeout and transactions against Spark."""
import threading
import time

import pyodbc

from conftest import conn_str, spark_port

SLOW = "SELECT sum(hash(id)) FROM range(6000000000)"


def test_cursor_cancel_stops_a_running_query():
    conn = pyodbc.connect(conn_str(spark_port("SASL")), autocommit=True)
    cur = conn.cursor()
    cancelled = []

    def cancel():
        time.sleep(2)
        cancelled.append(time.monotonic())
        cur.cancel()

    t = threading.Thread(target=cancel)
    t.start()
    try:
        cur.execute(SLOW)
        raise AssertionError("the query was not cancelled")
    except pyodbc.Error as e:
        assert e.args[0] == "HY008", e
    t.join()
    assert time.monotonic() - cancelled[0] < 3
    assert cur.execute("SELECT 41 + 1").fetchone()[0] == 42
    conn.close()


def test_connection_timeout_bounds_each_query():
    conn = pyodbc.connect(conn_str(spark_port("SASL")), autocommit=True)
    conn.timeout = 2
    cur = conn.cursor()
    start = time.monotonic()
    try:
        cur.execute(SLOW)
        raise AssertionError("the query did not time out")
    except pyodbc.Error as e:
        assert e.args[0] == "HYT00", e
    assert 1.9 <= time.monotonic() - start < 6
    assert cur.execute("SELECT 1").fetchone()[0] == 1
    conn.close()


def test_set_returns_its_rows_and_transactions_tell_the_truth():
    conn = pyodbc.connect(conn_str(spark_port("SASL")))   # pyodbc's default: manual commit
    cur = conn.cursor()
    assert conn.getinfo(pyodbc.SQL_TXN_CAPABLE) == 0   # SQL_TC_NONE
    key, value = cur.execute("SET spark.sql.ansi.enabled").fetchone()
    assert key == "spark.sql.ansi.enabled" and value in ("true", "false")
    assert cur.execute("SELECT 1").fetchone()[0] == 1
    conn.commit()
    conn.rollback()   # nothing changed: nothing to undo
    cur.execute("CREATE TABLE IF NOT EXISTS py_life (a INT) USING parquet")
    try:
        conn.rollback()
        raise AssertionError("a rollback after a change succeeded")
    except pyodbc.Error as e:
        assert e.args[0] == "HYC00", e
    cur.execute("DROP TABLE py_life")
    conn.commit()
    conn.close()
