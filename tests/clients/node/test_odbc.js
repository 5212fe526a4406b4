// Node.js's odbc package against the Spark server of TARN_SPARK_SASL_PORT:
// parameterised queries and inserts whose values read back exactly, and the
// catalog methods over the table they fill.
//
//   TARN_DRIVER_PATH=.../libtarndrv.so TARN_SPARK_SASL_PORT=N node test_odbc.js
//
// Exits 77 (skipped) when no Spark port is given.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');

const port = process.env.TARN_SPARK_SASL_PORT;
if (!port) {
    console.log('skipped: no Spark server (TARN_SPARK_SASL_PORT is not set)');
    process.exit(77);
}
const driver = process.env.TARN_DRIVER_PATH;
if (!driver) throw new Error('TARN_DRIVER_PATH is not set');

// A private ODBC configuration registering the built driver; the Driver
// Manager reads it at the first connection.
const iniDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tarn-node-'));
fs.writeFileSync(path.join(iniDir, 'odbcinst.ini'), `[tarndrv]\nDriver=${driver}\n`);
fs.writeFileSync(path.join(iniDir, 'odbc.ini'), '');
process.env.ODBCSYSINI = iniDir;
process.env.ODBCINSTINI = 'odbcinst.ini';
process.env.ODBCINI = path.join(iniDir, 'odbc.ini');

const odbc = require('odbc');

const DB = 'tarn_node';
const CONN = `Driver=tarndrv;Server=127.0.0.1;Port=${port};Authentication=NONE;UID=spark;PWD=spark`;

// Rows as plain objects (the package returns arrays carrying result
// metadata, and binary columns as ArrayBuffers).
const plain = (rows) => rows.map((r) => Object.fromEntries(Object.entries(r).map(
    ([k, v]) => [k, v instanceof ArrayBuffer ? Buffer.from(v) : v])));

describe('odbc package', () => {
    let conn;
    before(async () => {
        conn = await odbc.connect(CONN);
        await conn.query(`CREATE DATABASE IF NOT EXISTS ${DB}`);
        await conn.query(`DROP TABLE IF EXISTS ${DB}.t`);
        await conn.query(`CREATE TABLE ${DB}.t (id INT, name STRING, amount DOUBLE, big BIGINT, ok BOOLEAN, bin BINARY)
                          USING parquet`);
    });
    after(async () => {
        if (conn) {
            await conn.query(`DROP DATABASE IF EXISTS ${DB} CASCADE`);
            await conn.close();
        }
        fs.rmSync(iniDir, { recursive: true, force: true });
    });

    test('query() parameters of a select list come back as the text of each value', async () => {
        // The package binds each value with the type SQLDescribeParam gives;
        // a select-list marker has no column to take one from, so it is
        // VARCHAR and every value arrives as its text.
        const values = [42, "it's", 1.5, 'back\\slash', 'emoji 😀 ü 日本 "q"', null, 0.1, 1 / 3, -1e-300,
            9007199254740993n, "' OR '1'='1", '-- not a comment ?'];
        const sql = `SELECT ${values.map((_, i) => `? AS c${i}`).join(', ')}`;
        const rows = await conn.query(sql, values);
        assert.equal(rows.length, 1);
        assert.deepEqual(Object.values(rows[0]), values.map((v) => (v === null ? null : String(v))));
        for (const [i, v] of values.entries()) {
            if (typeof v === 'number') assert.equal(Number(rows[0][`c${i}`]), v, `c${i}`);
        }
    });

    test('parameterised inserts, through query() and a prepared statement bound again, read back exactly',
        async () => {
            const want = [
                { id: 1, name: "it's \\ a 😀 ü", amount: 1 / 3, big: 9007199254740993n, ok: '1',
                    bin: Buffer.from([0, 1, 0x27, 0x5c, 255]) },
                { id: 2, name: null, amount: -0.5, big: -9223372036854775808n, ok: '0', bin: null },
                { id: 3, name: '', amount: 1e300, big: 0n, ok: '1', bin: Buffer.alloc(0) },
                { id: 4, name: "x'); DROP TABLE t; --", amount: 5e-324, big: 9223372036854775807n, ok: null,
                    bin: Buffer.from('?') },
            ];
            // BOOLEAN is bound from a JS boolean; the package reads BIT back as
            // text. (A statement bound again keeps a null's indicator for a
            // number or boolean in the same place, so nulls of those come last.)
            const args = (r) => [r.id, r.name, r.amount, r.big, r.ok === null ? null : r.ok === '1', r.bin];
            await conn.query(`INSERT INTO ${DB}.t VALUES (?, ?, ?, ?, ?, ?)`, args(want[0]));
            const stmt = await conn.createStatement();
            await stmt.prepare(`INSERT INTO ${DB}.t (id, name, amount, big, ok, bin) VALUES (?, ?, ?, ?, ?, ?)`);
            for (const r of want.slice(1)) {
                await stmt.bind(args(r));
                await stmt.execute();
            }
            await stmt.close();

            const rows = await conn.query(`SELECT * FROM ${DB}.t ORDER BY id`);
            assert.deepEqual(rows.columns.map((c) => [c.name, c.dataTypeName]), [
                ['id', 'SQL_INTEGER'], ['name', 'SQL_VARCHAR'], ['amount', 'SQL_DOUBLE'], ['big', 'SQL_BIGINT'],
                ['ok', 'SQL_BIT'], ['bin', 'SQL_VARBINARY'],
            ]);
            assert.deepEqual(plain(rows), want);

            // Markers compared with columns take the columns' types.
            const found = await conn.query(`SELECT id FROM ${DB}.t WHERE big = ? AND name = ? AND amount > ?`,
                [9007199254740993n, want[0].name, 0.3]);
            assert.deepEqual(plain(found), [{ id: 1 }]);
        });

    test('tables() and columns() describe the table', async () => {
        const tables = await conn.tables(null, DB, null, null);
        assert.deepEqual(plain(tables), [
            { TABLE_CAT: null, TABLE_SCHEM: DB, TABLE_NAME: 't', TABLE_TYPE: 'TABLE', REMARKS: '' },
        ]);
        assert.deepEqual(plain(await conn.tables(null, DB, 't', 'VIEW')), []);

        const cols = await conn.columns(null, DB, 't', null);
        assert.deepEqual(cols.map((c) => [c.TABLE_SCHEM, c.TABLE_NAME, c.COLUMN_NAME, c.DATA_TYPE, c.TYPE_NAME,
            c.ORDINAL_POSITION]), [
            [DB, 't', 'id', odbc.SQL_INTEGER, 'INT', 1],
            [DB, 't', 'name', odbc.SQL_VARCHAR, 'STRING', 2],
            [DB, 't', 'amount', odbc.SQL_DOUBLE, 'DOUBLE', 3],
            [DB, 't', 'big', odbc.SQL_BIGINT, 'BIGINT', 4],
            [DB, 't', 'ok', odbc.SQL_BIT, 'BOOLEAN', 5],
            [DB, 't', 'bin', odbc.SQL_VARBINARY, 'BINARY', 6],
        ]);
    });
});
