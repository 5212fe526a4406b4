"""Kerberos and AD logons from pyodbc through the Driver Manager, against the
fake server's GSSAPI mechanism and the private KDC (scripts/kdc.sh)."""
import os
import subprocess

import pyodbc
import pytest

KDC_ENV = os.environ.get("TARN_KRB5_ENV", "")
SERVER = os.environ.get("TARN_FAKE_GSS_SERVER", "")


def read_env(path):
    """The KEY=VALUE lines of a realm's env file (scripts/kdc.sh)."""
    values = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            if key:
                values[key] = value
    return values


@pytest.fixture(scope="module")
def realm(tmp_path_factory):
    if not KDC_ENV or not SERVER:
        pytest.skip("no private KDC (run through ctest: python_kerberos)")
    values = read_env(KDC_ENV)
    os.environ.update(values)
    values["dir"] = str(tmp_path_factory.mktemp("krb"))
    return values


@pytest.fixture(scope="module")
def port(realm):
    proc = subprocess.Popen([SERVER, realm["TARN_KRB5_KEYTAB"]], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            text=True)
    try:
        yield int(proc.stdout.readline())
    finally:
        proc.stdin.close()
        proc.wait(timeout=30)


def use_ccache(realm, name, login):
    path = os.path.join(realm["dir"], name)
    os.environ["KRB5CCNAME"] = "FILE:" + path
    if login:
        subprocess.run(["kinit", realm["TARN_KRB5_USER"]], input=realm["TARN_KRB5_PASSWORD"] + "\n", text=True,
                       check=True, capture_output=True)
    return path


def query(conn_str):
    with pyodbc.connect(conn_str, autocommit=True, timeout=10) as conn:
        return conn.cursor().execute("SELECT 1").description[0][0]


def test_kerberos_with_a_ticket(realm, port):
    use_ccache(realm, "integrated", True)
    assert query(f"Driver=tarndrv;Server=localhost;Port={port};Authentication=Kerberos;"
                 "KrbPrinciple=hive/_HOST@TARN.TEST") == "Result"


def test_ad_with_user_and_password(realm, port):
    path = use_ccache(realm, "absent", False)
    password = realm["TARN_KRB5_PASSWORD"]
    assert query(f"Driver=tarndrv;Server=localhost;Port={port};Authentication=AD;"
                 f"KrbPrinciple=hive/_HOST@TARN.TEST;UID=tarnuser@TARN.TEST;PWD={{{password}}}") == "Result"
    assert not os.path.exists(path)


def test_wrong_password_is_28000(realm, port):
    use_ccache(realm, "absent", False)
    with pytest.raises(pyodbc.Error) as err:
        query(f"Driver=tarndrv;Server=localhost;Port={port};Authentication=AD;"
              "KrbPrinciple=hive/_HOST@TARN.TEST;UID=tarnuser;PWD=wrong")
    assert err.value.args[0] == "28000"
    assert "Preauthentication failed" in err.value.args[1]


# The same two logons against the real Spark Thrift server in Kerberos mode.
SPARK_PORT = os.environ.get("TARN_SPARK_KERBEROS_PORT", "")
SPARK_ENV = os.environ.get("TARN_SPARK_KERBEROS_ENV", "")


@pytest.fixture(scope="module")
def spark_realm(tmp_path_factory):
    if not SPARK_PORT or not SPARK_ENV:
        pytest.skip("no Spark server in Kerberos mode")
    values = read_env(SPARK_ENV)
    saved = {key: os.environ.get(key) for key in list(values) + ["KRB5CCNAME"]}
    os.environ.update(values)
    values["dir"] = str(tmp_path_factory.mktemp("spark-krb"))
    yield values
    for key, value in saved.items():
        if value is None:
            os.environ.pop(key, None)
        else:
            os.environ[key] = value


def spark_user(conn_str):
    with pyodbc.connect(conn_str, autocommit=True, timeout=30) as conn:
        return conn.cursor().execute("SELECT current_user()").fetchone()[0]


def test_spark_kerberos_with_a_ticket(spark_realm):
    use_ccache(spark_realm, "spark-integrated", True)
    assert spark_user(f"Driver=tarndrv;Server=localhost;Port={SPARK_PORT};Authentication=Kerberos;"
                      "KrbPrinciple=hive/_HOST@TARN.TEST") == "tarnuser"


def test_spark_ad_with_user_and_password(spark_realm):
    use_ccache(spark_realm, "spark-absent", False)
    password = spark_realm["TARN_KRB5_PASSWORD"]
    assert spark_user(f"Driver=tarndrv;Server=localhost;Port={SPARK_PORT};Authentication=AD;"
                      f"KrbPrinciple=hive/_HOST@TARN.TEST;UID=tarnuser;PWD={{{password}}}") == "tarnuser"
