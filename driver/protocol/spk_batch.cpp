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

// Big-endian values of type T at `d`, in place into host order.
template <class T, class Swap> void to_host(unsigned char *d, uint32_t n, Swap swap) {
    for (uint32_t i = 0; i < n; i++) {
        T v;
        memcpy(&v, d + sizeof(T) * i, sizeof(T));
        v = swap(v);
        memcpy(d + sizeof(T) * i, &v, sizeof(T));
    }
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
        case 2: to_host<uint16_t>(d, n, [](uint16_t v) { return __builtin_bswap16(v); }); break;
        case 4: to_host<uint32_t>(d, n, [](uint32_t v) { return __builtin_bswap32(v); }); break;
        case 8: to_host<uint64_t>(d, n, [](uint64_t v) { return __builtin_bswap64(v); }); break;
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

    // Reads one struct: `field(type, id)` reads the fields it knows and
    // answers true; the others are skipped.
    template <class Field> void fields(Field &&field) {
        std::string name;
        p->readStructBegin(name);
        for (;;) {
            TType type;
            int16_t id;
            p->readFieldBegin(name, type, id);
            if (type == tp::T_STOP) break;
            if (!field(type, id)) p->skip(type);
            p->readFieldEnd();
        }
        p->readStructEnd();
    }

    // TBoolColumn, TI32Column, ...: 1: list of values, 2: the null bitmap.
    void column_member(SpkBatchColumn &c, int kind) {
        static const TType element[] = {tp::T_STOP, tp::T_BOOL, tp::T_BYTE, tp::T_I16, tp::T_I32,
                                        tp::T_I64,  tp::T_DOUBLE, tp::T_STRING, tp::T_STRING};
        static const size_t width[] = {0, 1, 1, 2, 4, 8, 8, 0, 0};
        c.kind = kind;
        bool have_values = false, have_nulls = false;
        fields([&](TType type, int16_t id) {
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
                return true;
            }
            if (id == 2 && type == tp::T_STRING) {
                p->readBinary(c.nulls);
                have_nulls = true;
                return true;
            }
            return false;
        });
        if (!have_values || !have_nulls) invalid("a column without its values or null bitmap");
    }

    // TColumn: a union of the members above (field ids 1 to 8 in
    // SpkBatchKind order).
    void column(SpkBatchColumn &c) {
        SpkBatchColumn spare;
        fields([&](TType type, int16_t id) {
            if (id < SPK_BATCH_BOOL || id > SPK_BATCH_BINARY || type != tp::T_STRUCT) return false;
            column_member(member_rank(id) < member_rank(c.kind) ? c : spare, id);
            return true;
        });
    }

    // TRowSet: 1: startRowOffset, 2: rows (row form), 3: columns,
    // 4: binaryColumns, 5: columnCount.
    void row_set(SpkFetchReply *r) {
        bool have_offset = false, have_rows = false;
        fields([&](TType type, int16_t id) {
            TType et;
            uint32_t n;
            if (id == 1 && type == tp::T_I64) {
                int64_t offset;
                p->readI64(offset);
                have_offset = true;
            } else if (id == 2 && type == tp::T_LIST) {
                p->readListBegin(et, n);
                for (uint32_t i = 0; i < n; i++) p->skip(et);
                p->readListEnd();
                if (n > 0) r->other_form = true;
                have_rows = true;
            } else if (id == 3 && type == tp::T_LIST) {
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
                return false;
            }
            return true;
        });
        if (!have_offset || !have_rows) invalid("a row set without its offset or rows");
    }

    // TFetchResultsResp: 1: status, 2: hasMoreRows, 3: results.
    void response(SpkFetchReply *r) {
        bool have_status = false;
        fields([&](TType type, int16_t id) {
            if (id == 1 && type == tp::T_STRUCT) {
                r->status.read(p);
                have_status = true;
                return true;
            }
            if (id == 3 && type == tp::T_STRUCT) {
                row_set(r);
                r->has_results = true;
                return true;
            }
            return false;
        });
        if (!have_status) invalid("a fetch reply without its status");
    }

    // The result struct: 0: success.
    bool result(SpkFetchReply *r) {
        bool success = false;
        fields([&](TType type, int16_t id) {
            if (id != 0 || type != tp::T_STRUCT) return false;
            response(r);
            success = true;
            return true;
        });
        return success;
    }
};

}  // namespace

bool spk_batch_read_result(TProtocol *p, int32_t string_limit, SpkFetchReply *reply) {
    Reader rd{p, p->getTransport().get(), string_limit};
    *reply = SpkFetchReply();
    return rd.result(reply);
}

namespace {
template <class T> void put_values(SpkBatchColumn &c, const std::vector<T> &values) {
    c.count = values.size();
    c.fixed.resize(values.size() * sizeof(T));
    if (!values.empty()) memcpy(c.fixed.data(), values.data(), values.size() * sizeof(T));
}

void put_values(SpkBatchColumn &c, const std::vector<bool> &values) {
    c.count = values.size();
    for (bool v : values) c.fixed.push_back(v ? 1 : 0);
}

void put_values(SpkBatchColumn &c, const std::vector<std::string> &values) {
    c.count = values.size();
    c.offsets.assign(values.size() + 1, 0);
    for (size_t i = 0; i < values.size(); i++) {
        c.text += values[i];
        c.offsets[i + 1] = (uint32_t)c.text.size();
    }
}

template <class Member> void put_member(SpkBatchColumn &c, int kind, const Member &m) {
    c.kind = kind;
    c.nulls = m.nulls;
    put_values(c, m.values);
}
}  // namespace

void spk_batch_from_row_set(const tcli::TRowSet &rows, SpkBatch *batch) {
    batch->columns.clear();
    batch->columns.resize(rows.columns.size());
    for (size_t i = 0; i < rows.columns.size(); i++) {
        const tcli::TColumn &t = rows.columns[i];
        SpkBatchColumn &c = batch->columns[i];
        // The member kept when several are set: the same order as the reader's.
        if (t.__isset.i32Val) put_member(c, SPK_BATCH_I32, t.i32Val);
        else if (t.__isset.stringVal) put_member(c, SPK_BATCH_STRING, t.stringVal);
        else if (t.__isset.binaryVal) put_member(c, SPK_BATCH_BINARY, t.binaryVal);
        else if (t.__isset.boolVal) put_member(c, SPK_BATCH_BOOL, t.boolVal);
        else if (t.__isset.byteVal) put_member(c, SPK_BATCH_BYTE, t.byteVal);
        else if (t.__isset.i16Val) put_member(c, SPK_BATCH_I16, t.i16Val);
        else if (t.__isset.i64Val) put_member(c, SPK_BATCH_I64, t.i64Val);
        else if (t.__isset.doubleVal) put_member(c, SPK_BATCH_DOUBLE, t.doubleVal);
    }
}
