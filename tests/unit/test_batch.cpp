// The column reader of FetchResults replies, against the generated reader:
// the same values for every member, nulls and row sets of every shape, with
// the transport's buffer so small that lengths and strings fall across its
// refills; and malformed replies refused without a crash or an allocation
// the bytes do not justify.
#include <gtest/gtest.h>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TBufferTransports.h>

#include <optional>
#include <string>
#include <vector>

#include "TCLIService.h"
#include "fake_server.h"
#include "spk_batch.h"

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TBufferedTransport;
using apache::thrift::transport::TMemoryBuffer;

// The bytes of a FetchResults result struct holding `resp`.
std::string encode(const tcli::TFetchResultsResp &resp) {
    auto mem = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol out(mem);
    tcli::TCLIService_FetchResults_result result;
    result.success = resp;
    result.__isset.success = true;
    result.write(&out);
    return mem->getBufferAsString();
}

// Reads `bytes` through a buffered transport of `buffer` bytes.
bool decode(const std::string &bytes, uint32_t buffer, SpkFetchReply *reply, int32_t string_limit = 1 << 20) {
    auto mem = std::make_shared<TMemoryBuffer>((uint8_t *)bytes.data(), (uint32_t)bytes.size(),
                                               TMemoryBuffer::COPY);
    auto buffered = std::make_shared<TBufferedTransport>(mem, buffer, buffer);
    TBinaryProtocol in(buffered, 0, 1 << 20, true, true);
    return spk_batch_read_result(&in, string_limit, reply);
}

std::vector<std::optional<std::string>> texts(size_t n) {
    std::vector<std::optional<std::string>> v;
    for (size_t i = 0; i < n; i++) {
        if (i % 7 == 3) v.push_back(std::nullopt);
        else v.push_back(std::string(i % 23, (char)('a' + i % 26)));
    }
    return v;
}

tcli::TFetchResultsResp reply_of(const std::vector<tcli::TColumn> &columns) {
    tcli::TFetchResultsResp r;
    r.status.statusCode = tcli::TStatusCode::SUCCESS_STATUS;
    tcli::TRowSet rows;
    rows.__set_columns(columns);
    r.__set_results(rows);
    return r;
}

void expect_same(const SpkBatch &got, const tcli::TRowSet &sent) {
    SpkBatch want;
    spk_batch_from_row_set(sent, &want);
    ASSERT_EQ(got.columns.size(), want.columns.size());
    for (size_t c = 0; c < want.columns.size(); c++) {
        const SpkBatchColumn &g = got.columns[c], &w = want.columns[c];
        EXPECT_EQ(g.kind, w.kind) << c;
        EXPECT_EQ(g.count, w.count) << c;
        EXPECT_EQ(g.nulls, w.nulls) << c;
        EXPECT_EQ(g.fixed, w.fixed) << c;
        EXPECT_EQ(g.offsets, w.offsets) << c;
        EXPECT_EQ(g.text, w.text) << c;
    }
}

TEST(BatchReader, EveryMemberAsTheGeneratedReaderSeesIt) {
    std::vector<tcli::TColumn> columns = {
        tarn_fake::bool_column({true, false, std::nullopt, true}),
        tarn_fake::byte_column({-128, 0, 127, std::nullopt}),
        tarn_fake::i16_column({-32768, 1, std::nullopt, 32767}),
        tarn_fake::i32_column({INT32_MIN, std::nullopt, 0, INT32_MAX}),
        tarn_fake::i64_column({INT64_MIN, -1, INT64_MAX, std::nullopt}),
        tarn_fake::double_column({-0.0, 1e308, std::nullopt, 0.1}),
        tarn_fake::string_column({"", std::nullopt, "\xc3\xa9t\xc3\xa9", std::string(300, 'x')}),
        tarn_fake::binary_column({std::string("\0\1\2", 3), std::nullopt, "", "z"}),
    };
    std::string bytes = encode(reply_of(columns));
    // Buffers from a few bytes (every length and string split) to all of it.
    for (uint32_t buffer : {1u, 3u, 5u, 64u, 4096u}) {
        SCOPED_TRACE(buffer);
        SpkFetchReply got;
        ASSERT_TRUE(decode(bytes, buffer, &got));
        EXPECT_TRUE(got.has_results);
        EXPECT_TRUE(got.has_columns);
        EXPECT_FALSE(got.other_form);
        expect_same(got.batch, reply_of(columns).results);
        size_t length = 0;
        const char *text = got.batch.columns[6].bytes(2, &length);
        EXPECT_EQ(std::string(text, length), "\xc3\xa9t\xc3\xa9");
        EXPECT_EQ(got.batch.columns[4].integer(0), INT64_MIN);
        EXPECT_TRUE(got.batch.columns[4].is_null(3));
    }
}

TEST(BatchReader, ManyStringsAcrossRefills) {
    std::vector<tcli::TColumn> columns = {tarn_fake::string_column(texts(5000)),
                                          tarn_fake::i32_column(std::vector<std::optional<int32_t>>(5000, 7))};
    std::string bytes = encode(reply_of(columns));
    for (uint32_t buffer : {7u, 1000u, 65536u}) {
        SpkFetchReply got;
        ASSERT_TRUE(decode(bytes, buffer, &got));
        expect_same(got.batch, reply_of(columns).results);
    }
}

TEST(BatchReader, ShapesOfTheReply) {
    // No row set; a row set without columns; rows in row form; binary
    // columns; and the status of an error.
    tcli::TFetchResultsResp none;
    none.status = tarn_fake::error_status("boom", "42000", 7);
    SpkFetchReply got;
    ASSERT_TRUE(decode(encode(none), 16, &got));
    EXPECT_FALSE(got.has_results);
    EXPECT_EQ(got.status.statusCode, tcli::TStatusCode::ERROR_STATUS);
    EXPECT_EQ(got.status.errorMessage, "boom");
    EXPECT_EQ(got.status.sqlState, "42000");

    tcli::TFetchResultsResp bare = reply_of({});
    bare.results.__isset.columns = false;
    ASSERT_TRUE(decode(encode(bare), 16, &got));
    EXPECT_TRUE(got.has_results);
    EXPECT_FALSE(got.has_columns);
    EXPECT_FALSE(got.other_form);

    tcli::TFetchResultsResp row_form = reply_of({});
    row_form.results.__isset.columns = false;
    tcli::TRow row;
    tcli::TColumnValue value;
    tcli::TI32Value i;
    i.__set_value(5);
    value.__set_i32Val(i);
    row.colVals.push_back(value);
    row_form.results.rows.push_back(row);
    ASSERT_TRUE(decode(encode(row_form), 16, &got));
    EXPECT_TRUE(got.other_form);

    tcli::TFetchResultsResp binary = reply_of({});
    binary.results.__set_binaryColumns("abc");
    ASSERT_TRUE(decode(encode(binary), 16, &got));
    EXPECT_TRUE(got.other_form);
}

TEST(BatchReader, TwoMembersOfOneColumnKeepTheFirstInOrder) {
    // The generated types allow it; the same member wins as in a row set
    // built in memory.
    tcli::TColumn both = tarn_fake::i64_column({1, 2});
    tcli::TColumn s = tarn_fake::string_column({"a", "b"});
    both.__set_stringVal(s.stringVal);
    SpkFetchReply got;
    ASSERT_TRUE(decode(encode(reply_of({both})), 4, &got));
    EXPECT_EQ(got.batch.columns[0].kind, SPK_BATCH_STRING);
    expect_same(got.batch, reply_of({both}).results);
}

// Bytes of a reply whose first column is a string column, with `patch`
// applied to the list header or the first length.
TEST(BatchReader, MalformedRepliesAreRefused) {
    std::string good = encode(reply_of({tarn_fake::string_column({"abcd", "efgh"})}));
    // The first string's length is the 4 bytes before "abcd".
    size_t at = good.find("abcd") - 4;
    struct Case {
        const char *name;
        std::string bytes;
        int32_t limit;
    } cases[] = {
        {"negative length", good.substr(0, at) + std::string("\xff\xff\xff\xfe", 4) + good.substr(at + 4), 1 << 20},
        {"length past the limit", good, 3},
        {"length past the end", good.substr(0, at) + std::string("\x7f\x00\x00\x00", 4) + good.substr(at + 4),
         INT32_MAX},
        {"cut short", good.substr(0, good.size() - 6), 1 << 20},
        // The list's element type says i32 where strings are due.
        {"wrong element type", good.substr(0, at - 5) + std::string("\x08", 1) + good.substr(at - 4), 1 << 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (uint32_t buffer : {3u, 4096u}) {
            SpkFetchReply got;
            EXPECT_ANY_THROW(decode(c.bytes, buffer, &got, c.limit));
        }
    }
    // A column without its null bitmap (a required field).
    tcli::TFetchResultsResp r = reply_of({tarn_fake::i32_column({1})});
    std::string bytes = encode(r);
    SpkFetchReply got;
    ASSERT_TRUE(decode(bytes, 4096, &got));
    std::string nulls_field = std::string("\x0b\x00\x02", 3);   // T_STRING, id 2
    size_t nf = bytes.rfind(nulls_field);
    ASSERT_NE(nf, std::string::npos);
    std::string without = bytes.substr(0, nf) + bytes.substr(nf + 3 + 4 + r.results.columns[0].i32Val.nulls.size());
    EXPECT_THROW(decode(without, 4096, &got), TProtocolException);
}

}  // namespace
