// Wire format between the hardware seam's bench backends and the vokbench server,
// over a Unix stream socket.
//
// A connection opens with one text line naming its kind:
//   "PORT\n"            then binary port records follow (below);
//   "CTL <request>\n"   the server answers with text and closes the connection;
//   "USB\n"             then USB requests follow (below).
//
// Port records are 4 bytes: op, address low byte, address high byte, value.
//   'O' open the port at the address (a base)  -> 1 byte: 1 a port is there, 0 none
//   'W' write value to the address             -> no answer
//   'R' read the address                       -> 1 byte: the register
//   'X' release the port                       -> 1 byte: 1
// Writes may be batched by the client; every record is handled in order, so a
// read answers after all writes sent before it.
//
// USB requests are a 16-byte header, then `length` bytes of payload for the ops
// that send data. Little-endian:
//   op u8, ep u8, 2 bytes zero, arg u32, timeout_ms u32, length u32
// Every request gets one answer, a 16-byte header and its payload:
//   op u8 (the request's), 3 bytes zero, result i32, count u32, length u32
// result is 0 or a negative UsbError code (usb_result.h); count is the bytes
// transferred. One connection carries one request at a time; a client that needs
// two at once (a bulk IN pending while it writes) opens a second connection and
// joins it to its session.
//   'L' list boards                 -> payload: 5 bytes per present board
//                                      (number u8, vid u16, pid u16)
//   'O' open board arg              -> result; payload: session u32, vid u16, pid u16
//   'J' join session arg            -> result
//   'C' control; payload: the 8 setup bytes, then the OUT data stage
//                                   -> count; payload: the IN data stage
//   'B' bulk on endpoint ep; an OUT sends the payload, an IN asks for `length`
//       bytes (no payload)          -> count; payload: the IN data
//       arg USB_BULK_AHEAD: an IN posted ahead of the OUTs that provoke its
//       answer; it moves no simulated time itself (see 'W')
//   'K' cancel the session's bulk transfers on endpoint ep -> result
//   'H' clear halt of endpoint ep   -> result
//   'D' the active configuration descriptor -> payload: all of it
//   'W' wait arg milliseconds of simulated time -> result (no session needed);
//       with ep, the session's IN posted ahead on ep: until it ends, at most arg
//       milliseconds (0: no limit) -> result (timeout when it has not ended)
//   'X' close the session           -> result
// A session ends with its last connection, too.
#pragma once

#include <cstdint>

#include "usb_result.h"

namespace benchwire {

constexpr char PORT_HELLO[] = "PORT\n";
constexpr char CTL_PREFIX[] = "CTL ";
constexpr char USB_HELLO[] = "USB\n";

constexpr uint8_t OP_OPEN = 'O';
constexpr uint8_t OP_WRITE = 'W';
constexpr uint8_t OP_READ = 'R';
constexpr uint8_t OP_RELEASE = 'X';

constexpr int RECORD_SIZE = 4;

constexpr uint8_t USB_LIST = 'L', USB_OPEN = 'O', USB_JOIN = 'J', USB_CONTROL = 'C', USB_BULK = 'B',
                  USB_CANCEL = 'K', USB_CLEAR_HALT = 'H', USB_CONFIG = 'D', USB_WAIT = 'W', USB_CLOSE = 'X';
constexpr uint32_t USB_BULK_AHEAD = 1;
constexpr int USB_HEADER_SIZE = 16;
// Longest payload of one request or answer.
constexpr uint32_t USB_MAX_PAYLOAD = 1u << 20;
// Bit 7 of an endpoint address: IN (device to host).
constexpr uint8_t ENDPOINT_IN = 0x80;

struct PortRecord {
    uint8_t op = 0;
    uint16_t addr = 0;
    uint8_t value = 0;
};

struct UsbRequest {
    uint8_t op = 0;
    uint8_t ep = 0;
    uint32_t arg = 0;
    uint32_t timeout_ms = 0;
    uint32_t length = 0;
};

struct UsbAnswer {
    uint8_t op = 0;
    int32_t result = 0;
    uint32_t count = 0;
    uint32_t length = 0;
};

// One entry of the board list.
struct BoardEntry {
    uint8_t number = 0;
    uint16_t vid = 0, pid = 0;
};
constexpr int BOARD_ENTRY_SIZE = 5;

// The payload of an open's answer.
struct OpenedBoard {
    uint32_t session = 0;
    uint16_t vid = 0, pid = 0;
};
constexpr int OPENED_SIZE = 8;

// Whether a request's header is followed by `length` bytes of payload.
inline bool request_has_payload(const UsbRequest &r) {
    return r.op == USB_CONTROL || (r.op == USB_BULK && !(r.ep & ENDPOINT_IN));
}

inline void put16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline void put32(uint8_t *p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}
inline uint32_t get32(const uint8_t *p) { return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16; }

inline void encode(const PortRecord &r, uint8_t *p) {
    p[0] = r.op;
    put16(p + 1, r.addr);
    p[3] = r.value;
}
inline PortRecord decode_record(const uint8_t *p) { return {p[0], get16(p + 1), p[3]}; }

inline void encode(const UsbRequest &r, uint8_t *h) {
    h[0] = r.op;
    h[1] = r.ep;
    h[2] = h[3] = 0;
    put32(h + 4, r.arg);
    put32(h + 8, r.timeout_ms);
    put32(h + 12, r.length);
}
inline UsbRequest decode_request(const uint8_t *h) {
    return {h[0], h[1], get32(h + 4), get32(h + 8), get32(h + 12)};
}
inline void encode(const UsbAnswer &a, uint8_t *h) {
    h[0] = a.op;
    h[1] = h[2] = h[3] = 0;
    put32(h + 4, uint32_t(a.result));
    put32(h + 8, a.count);
    put32(h + 12, a.length);
}
inline UsbAnswer decode_answer(const uint8_t *h) {
    return {h[0], int32_t(get32(h + 4)), get32(h + 8), get32(h + 12)};
}

inline void encode(const BoardEntry &b, uint8_t *p) {
    p[0] = b.number;
    put16(p + 1, b.vid);
    put16(p + 3, b.pid);
}
inline BoardEntry decode_board(const uint8_t *p) { return {p[0], get16(p + 1), get16(p + 3)}; }

inline void encode(const OpenedBoard &o, uint8_t *p) {
    put32(p, o.session);
    put16(p + 4, o.vid);
    put16(p + 6, o.pid);
}
inline OpenedBoard decode_opened(const uint8_t *p) { return {get32(p), get16(p + 4), get16(p + 6)}; }

// The environment variable that names the bench socket.
constexpr char ENV_SOCKET[] = "VOKBENCH";

} // namespace benchwire
