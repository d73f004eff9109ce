// Wire format between the hardware seam's bench backend and the vokbench server,
// over a Unix stream socket.
//
// A connection opens with one text line naming its kind:
//   "PORT\n"            then binary port records follow (below);
//   "CTL <request>\n"   the server answers with text and closes the connection.
//
// Port records are 4 bytes: op, address low byte, address high byte, value.
//   'O' open the port at the address (a base)  -> 1 byte: 1 a port is there, 0 none
//   'W' write value to the address             -> no answer
//   'R' read the address                       -> 1 byte: the register
//   'X' release the port                       -> 1 byte: 1
// Writes may be batched by the client; every record is handled in order, so a
// read answers after all writes sent before it.
#pragma once

#include <cstdint>

namespace benchwire {

constexpr char PORT_HELLO[] = "PORT\n";
constexpr char CTL_PREFIX[] = "CTL ";

constexpr uint8_t OP_OPEN = 'O';
constexpr uint8_t OP_WRITE = 'W';
constexpr uint8_t OP_READ = 'R';
constexpr uint8_t OP_RELEASE = 'X';

constexpr int RECORD_SIZE = 4;

// The environment variable that names the bench socket.
constexpr char ENV_SOCKET[] = "VOKBENCH";

} // namespace benchwire
