// Reading a FetchResults reply straight into column arrays.
//
// The generated reader makes a std::string per string value and calls the
// protocol once per value; a batch of 10,000 rows of ten columns is 100,000
// such calls.  Here the structure around the values (status, row set,
// column union) is read with the protocol as usual, and each value list in
// one go: numbers with one read of the whole array and a byte swap, strings
// from the transport's buffer into one text buffer.
#include "spk_batch.h"

#include <thrift/protocol/TProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransport.h>

#include <climits>

using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::protocol::TType;
using apache::thrift::transport::TTransport;
namespace tp = apache::thrift::protocol;

namespace {

uint32_t be32(const uint8_t *b) {
    return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | (uint32_t)b[3];
}

[[noreturn]] void invalid(const char *what) { throw TProtocolException(TProtocolException::INVALID_DATA, what); }

// When two members of a column union are set, the one earlier in this
// order is kept.
int member_rank(int kind) {
    static const int rank[] = {99, 4, 5, 6, 1, 7, 8, 2, 3};   // by SpkBatchKind
    return rank[kind];
}

struct Reader {
    TProtocol *p;
    TTransport *t;
    int32_t string_limit;

    void check_length(int32_t len) {
        if (len < 0) throw TProtocolException(TProtocolException::NEGATIVE_SIZE);
        if (string_limit > 0 && len > string_limit) throw TProtocolException(TProtocolException::SIZE_LIMIT);
    }

    void add_offset(SpkBatchColumn &c, uint32_t i) {
        if (c.text.size() > UINT32_MAX) throw TProtocolException(TProtocolException::SIZE_LIMIT);
        c.offsets[i] = (uint32_t)c.text.size();
    }

    // `n` numbers of `width` bytes, big-endian on the wire.
    void numbers(SpkBatchColumn &c, uint32_t n, size_t width) {
        c.fixed.resize((size_t)n * width);
        if (n == 0) return;
        unsigned char *d = c.fixed.data();
        t->readAll(d, (uint32_t)(n * width));
        switch (width) {
        case 2:
            for (uint32_t i = 0; i < n; i++) {
                uint16_t v;
                memcpy(&v, d + 2 * i, 2);
                v = __builtin_bswap16(v);
                memcpy(d + 2 * i, &v, 2);
            }
            break;
        case 4:
            for (uint32_t i = 0; i < n; i++) {
                uint32_t v;
                memcpy(&v, d + 4 * i, 4);
                v = __builtin_bswap32(v);
                memcpy(d + 4 * i, &v, 4);
            }
            break;
        case 8:
            for (uint32_t i = 0; i < n; i++) {
                uint64_t v;
                memcpy(&v, d + 8 * i, 8);
                v = __builtin_bswap64(v);
                memcpy(d + 8 * i, &v, 8);
            }
            break;
        default: break;
        }
    }

    // `n` strings: a 32-bit length and the bytes each.  Whole strings are
    // taken from the transport's buffer while it holds them; one that is
    // not yet all there is read by itself.
    void strings(SpkBatchColumn &c, uint32_t n) {
        c.offsets.assign((size_t)n + 1, 0);
        c.text.clear();
        uint32_t i = 0;
        while (i < n) {
            uint32_t avail = 4;
            const uint8_t *b = t->borrow(nullptr, &avail);
            uint32_t used = 0;
            if (b) {
                while (i < n && avail - used >= 4) {
                    int32_t len = (int32_t)be32(b + used);
                    check_length(len);
                    if ((uint32_t)len > avail - used - 4) break;
                    c.text.append((const char *)b + used + 4, (size_t)len);
                    used += 4 + (uint32_t)len;
                    add_offset(c, ++i);
                }
                if (used > 0) {
                    t->consume(used);
                    continue;
                }
            }
            uint8_t lb[4];
            t->readAll(lb, 4);
            int32_t len = (int32_t)be32(lb);
            check_length(len);
            // In pieces, so that a length the bytes do not follow costs no
            // more memory than the bytes that came.
            for (uint32_t left = (uint32_t)len; left > 0;) {
                uint32_t piece = left < (64u << 10) ? left : (64u << 10);
                size_t at = c.text.size();
                c.text.resize(at + piece);
                t->readAll((uint8_t *)c.text.data() + at, piece);
                left -= piece;
            }
            add_offset(c, ++i);
        }
    }

    // TBoolColumn, TI32Column, ...: 1: list of values, 2: the null bitmap.
    void column_member(SpkBatchColumn &c, int kind) {
        static const TType element[] = {tp::T_STOP, tp::T_BOOL, tp::T_BYTE, tp::T_I16, tp::T_I32,
                                        tp::T_I64,  tp::T_DOUBLE, tp::T_STRING, tp::T_STRING};
        static const size_t width[] = {0, 1, 1, 2, 4, 8, 8, 0, 0};
        c.kind = kind;
        bool have_values = false, have_nulls = false;
        std::string name;
        p->readStructBegin(name);
        for (;;) {
            TType type;
            int16_t id;
            p->readFieldBegin(name, type, id);
            if (type == tp::T_STOP) break;
            if (id == 1 && type == tp::T_LIST) {
                TType et;
                uint32_t n;
                p->readListBegin(et, n);
                if (et != element[kind]) invalid("a column's values are not of its type");
                if (kind == SPK_BATCH_STRING || kind == SPK_BATCH_BINARY) {
                    c.fixed.clear();
                    strings(c, n);
                } else {
                    c.offsets.clear();
                    c.text.clear();
                    numbers(c, n, width[kind]);
                    if (kind == SPK_BATCH_BOOL)
                        for (unsigned char &v : c.fixed) v = v != 0;
                }
                p->readListEnd();
                c.count = n;
                have_values = true;
            } else if (id == 2 && type == tp::T_STRING) {
                p->readBinary(c.nulls);
                have_nulls = true;
            } else {
                p->skip(type);
            }
            p->readFieldEnd();
        }
        p->readStructEnd();
        if (!have_values || !have_nulls) invalid("a column without its values or null bitmap");
    }

    // TColumn: a union of the members above (field ids 1 to 8 in
    // SpkBatchKind order).
    void column(SpkBatchColumn &c) {
        std::string name;
        p->readStructBegin(name);
        SpkBatchColumn spare;
        for (;;) {
            TType type;
            int16_t id;
            p->readFieldBegin(name, type, id);
            if (type == tp::T_STOP) break;
            if (id >= SPK_BATCH_BOOL && id <= SPK_BATCH_BINARY && type == tp::T_STRUCT) {
                if (member_rank(id) < member_rank(c.kind)) {
                    column_member(c, id);
                } else {
                    column_member(spare, id);
                }
            } else {
                p->skip(type);
            }
            p->readFieldEnd();
        }
        p->readStructEnd();
    }

    // TRowSet: 1: startRowOffset, 2: rows (row form), 3: columns,
    // 4: binaryColumns, 5: columnCount.
    void row_set(SpkFetchReply *r) {
        std::string name;
        bool have_offset = false, have_rows = false;
        p->readStructBegin(name);
        for (;;) {
            TType type;
            int16_t id;
            p->readFieldBegin(name, type, id);
            if (type == tp::T_STOP) break;
            if (id == 1 && type == tp::T_I64) {
                int64_t offset;
                p->readI64(offset);
                have_offset = true;
            } else if (id == 2 && type == tp::T_LIST) {
                TType et;
                uint32_t n;
                p->readListBegin(et, n);
                for (uint32_t i = 0; i < n; i++) p->skip(et);
                p->readListEnd();
                if (n > 0) r->other_form = true;
                have_rows = true;
            } else if (id == 3 && type == tp::T_LIST) {
                TType et;
                uint32_t n;
                p->readListBegin(et, n);
                if (et != tp::T_STRUCT) invalid("columns that are not structs");
                if (n > SPK_MAX_BATCH_COLUMNS) throw TProtocolException(TProtocolException::SIZE_LIMIT);
                r->batch.columns.clear();
                r->batch.columns.resize(n);
                for (uint32_t i = 0; i < n; i++) column(r->batch.columns[i]);
                p->readListEnd();
                r->has_columns = true;
            } else if (id == 4 && type == tp::T_STRING) {
                p->skip(type);
                r->other_form = true;
            } else {
                p->skip(type);
            }
            p->readFieldEnd();
        }
        p->readStructEnd();
        if (!have_offset || !have_rows) invalid("a row set without its offset or rows");
    }

    // TFetchResultsResp: 1: status, 2: hasMoreRows, 3: results.
    void response(SpkFetchReply *r) {
        std::string name;
        bool have_status = false;
        p->readStructBegin(name);
        for (;;) {
            TType type;
            int16_t id;
            p->readFieldBegin(name, type, id);
            if (type == tp::T_STOP) break;
            if (id == 1 && type == tp::T_STRUCT) {
                r->status.read(p);
                have_status = true;
            } else if (id == 3 && type == tp::T_STRUCT) {
                row_set(r);
                r->has_results = true;
            } else {
                p->skip(type);
            }
            p->readFieldEnd();
        }
        p->readStructEnd();
        if (!have_status) invalid("a fetch reply without its status");
    }
};

}  // namespace

bool spk_batch_read_result(TProtocol *p, int32_t string_limit, SpkFetchReply *reply) {
    Reader rd{p, p->getTransport().get(), string_limit};
    *reply = SpkFetchReply();
    bool success = false;
    std::string name;
    p->readStructBegin(name);
    for (;;) {
        TType type;
        int16_t id;
        p->readFieldBegin(name, type, id);
        if (type == tp::T_STOP) break;
        if (id == 0 && type == tp::T_STRUCT) {
            rd.response(reply);
            success = true;
        } else {
            p->skip(type);
        }
        p->readFieldEnd();
    }
    p->readStructEnd();
    return success;
}

namespace {
template <class T> void put_numbers(SpkBatchColumn &c, const std::vector<T> &values) {
    c.count = values.size();
    c.fixed.resize(values.size() * sizeof(T));
    if (!values.empty()) memcpy(c.fixed.data(), values.data(), values.size() * sizeof(T));
}

void put_strings(SpkBatchColumn &c, const std::vector<std::string> &values) {
    c.count = values.size();
    c.offsets.assign(values.size() + 1, 0);
    for (size_t i = 0; i < values.size(); i++) {
        c.text += values[i];
        c.offsets[i + 1] = (uint32_t)c.text.size();
    }
}
}  // namespace

void spk_batch_from_row_set(const tcli::TRowSet &rows, SpkBatch *batch) {
    batch->columns.clear();
    batch->columns.resize(rows.columns.size());
    for (size_t i = 0; i < rows.columns.size(); i++) {
        const tcli::TColumn &t = rows.columns[i];
        SpkBatchColumn &c = batch->columns[i];
        if (t.__isset.i32Val) {
            c.kind = SPK_BATCH_I32;
            c.nulls = t.i32Val.nulls;
            put_numbers(c, t.i32Val.values);
        } else if (t.__isset.stringVal) {
            c.kind = SPK_BATCH_STRING;
            c.nulls = t.stringVal.nulls;
            put_strings(c, t.stringVal.values);
        } else if (t.__isset.binaryVal) {
            c.kind = SPK_BATCH_BINARY;
            c.nulls = t.binaryVal.nulls;
            put_strings(c, t.binaryVal.values);
        } else if (t.__isset.boolVal) {
            c.kind = SPK_BATCH_BOOL;
            c.nulls = t.boolVal.nulls;
            c.count = t.boolVal.values.size();
            for (bool v : t.boolVal.values) c.fixed.push_back(v ? 1 : 0);
        } else if (t.__isset.byteVal) {
            c.kind = SPK_BATCH_BYTE;
            c.nulls = t.byteVal.nulls;
            put_numbers(c, t.byteVal.values);
        } else if (t.__isset.i16Val) {
            c.kind = SPK_BATCH_I16;
            c.nulls = t.i16Val.nulls;
            put_numbers(c, t.i16Val.values);
        } else if (t.__isset.i64Val) {
            c.kind = SPK_BATCH_I64;
            c.nulls = t.i64Val.nulls;
            put_numbers(c, t.i64Val.values);
        } else if (t.__isset.doubleVal) {
            c.kind = SPK_BATCH_DOUBLE;
            c.nulls = t.doubleVal.nulls;
            put_numbers(c, t.doubleVal.values);
        }
    }
}
