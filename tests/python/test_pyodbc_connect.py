"""pyodbc, a real client that uses the wide entry points, against Spark."""
import pyodbc

from conftest import conn_str, spark_port


def test_connect_and_server_information():
    for mode, auth in (("SASL", "NONE"), ("NOSASL", "NOSASL")):
        conn = pyodbc.connect(conn_str(spark_port(mode), auth), autocommit=True)
        assert conn.getinfo(pyodbc.SQL_DBMS_NAME) == "Spark SQL"
        assert conn.getinfo(pyodbc.SQL_DBMS_VER)[0].isdigit()
        assert conn.getinfo(pyodbc.SQL_DRIVER_NAME)
        conn.close()


def test_wrong_port_raises_with_the_drivers_message():
    try:
        pyodbc.connect(conn_str(1), autocommit=True, timeout=5)
    except pyodbc.Error as e:
        assert "connecting fails" in str(e)
    else:
        raise AssertionError("connecting to port 1 succeeded")


def test_statement_description():
    conn = pyodbc.connect(conn_str(spark_port("SASL")), autocommit=True)
    cur = conn.cursor()
    cur.execute("SELECT 1 AS one, 'x' AS two, CAST(1.5 AS DECIMAL(5,2)) AS three")
    names = [d[0] for d in cur.description]
    assert names == ["one", "two", "three"]
    conn.close()
