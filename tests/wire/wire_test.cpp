// Client and server share one encoder, so a fault in it would not show between
// them: every message is checked against the layout that the header documents.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "bench_socket.h"
#include "bench_wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class Message, size_t N> Bytes encoded(const Message &m) {
    Bytes b(N, 0xEE);
    benchwire::encode(m, b.data());
    return b;
}

TEST(Wire, EveryMessageIsLaidOutLittleEndianAndDecodesBack) {
    benchwire::PortRecord record{'W', 0x037A, 0xC5};
    EXPECT_EQ((encoded<benchwire::PortRecord, benchwire::RECORD_SIZE>(record)), (Bytes{'W', 0x7A, 0x03, 0xC5}));
    auto r = benchwire::decode_record(Bytes{'R', 0x79, 0x03, 0x00}.data());
    EXPECT_EQ(r.op, 'R');
    EXPECT_EQ(r.addr, 0x0379);

    benchwire::UsbRequest request{'B', 0x82, 0x01020304, 5000, 0x00100000};
    Bytes request_bytes{'B', 0x82, 0, 0, 0x04, 0x03, 0x02, 0x01, 0x88, 0x13, 0, 0, 0, 0, 0x10, 0};
    EXPECT_EQ((encoded<benchwire::UsbRequest, benchwire::USB_HEADER_SIZE>(request)), request_bytes);
    auto q = benchwire::decode_request(request_bytes.data());
    EXPECT_EQ((Bytes{q.op, q.ep}), (Bytes{'B', 0x82}));
    EXPECT_EQ(q.arg, request.arg);
    EXPECT_EQ(q.timeout_ms, request.timeout_ms);
    EXPECT_EQ(q.length, request.length);

    // A failure travels as a negative 32-bit result.
    benchwire::UsbAnswer answer{'C', benchwire::USB_ERROR_PIPE, 7, 0x0102};
    Bytes answer_bytes{'C', 0, 0, 0, 0xF7, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0, 0x02, 0x01, 0, 0};
    EXPECT_EQ((encoded<benchwire::UsbAnswer, benchwire::USB_HEADER_SIZE>(answer)), answer_bytes);
    auto a = benchwire::decode_answer(answer_bytes.data());
    EXPECT_EQ(a.result, benchwire::USB_ERROR_PIPE);
    EXPECT_EQ(a.count, 7u);
    EXPECT_EQ(a.length, 0x0102u);

    benchwire::BoardEntry board{3, 0x0547, 0x2131};
    EXPECT_EQ((encoded<benchwire::BoardEntry, benchwire::BOARD_ENTRY_SIZE>(board)),
              (Bytes{3, 0x47, 0x05, 0x31, 0x21}));
    auto b = benchwire::decode_board(Bytes{3, 0x47, 0x05, 0x31, 0x21}.data());
    EXPECT_EQ((std::vector<unsigned>{b.number, b.vid, b.pid}), (std::vector<unsigned>{3, 0x0547, 0x2131}));

    benchwire::OpenedBoard opened{0x11223344, 0x0547, 0x2136};
    Bytes opened_bytes{0x44, 0x33, 0x22, 0x11, 0x47, 0x05, 0x36, 0x21};
    EXPECT_EQ((encoded<benchwire::OpenedBoard, benchwire::OPENED_SIZE>(opened)), opened_bytes);
    auto o = benchwire::decode_opened(opened_bytes.data());
    EXPECT_EQ((std::vector<unsigned>{o.session, o.vid, o.pid}), (std::vector<unsigned>{0x11223344, 0x0547, 0x2136}));
}

TEST(Wire, OnlyControlAndBulkOutCarryAPayload) {
    struct Case {
        uint8_t op, ep;
        bool payload;
    };
    for (Case c : {Case{benchwire::USB_CONTROL, 0, true}, Case{benchwire::USB_BULK, 0x02, true},
                   Case{benchwire::USB_BULK, 0x82, false}, Case{benchwire::USB_WAIT, 0x82, false},
                   Case{benchwire::USB_OPEN, 0, false}}) {
        benchwire::UsbRequest r;
        r.op = c.op;
        r.ep = c.ep;
        EXPECT_EQ(benchwire::request_has_payload(r), c.payload) << char(c.op) << " ep " << int(c.ep);
    }
}

TEST(Wire, AnUnreachableSocketTellsWhy) {
    // vokbench ctl tells a path too long for a socket from a bench that is not there.
    errno = 0;
    EXPECT_EQ(benchwire::connect_bench(std::string(200, 'x').c_str()), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(benchwire::connect_bench("/nonexistent/folder/bench.sock"), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
