// The two backends of the USB seam, behind usb.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "usb.h"

namespace vokhw {

// VOKBENCH, when it names a socket; else null.
const char *bench_socket();

// Over the bench socket (usb_bench.cpp).
std::vector<UsbBoardInfo> bench_list_boards(const char *socket_path);
std::unique_ptr<UsbHandle> bench_open(const char *socket_path, int number, std::string *reason);
// False when the bench cannot be reached.
bool bench_wait_ms(const char *socket_path, unsigned ms);

// Over libusb-1.0 (usb_libusb.cpp).
std::vector<UsbBoardInfo> libusb_list_boards();
std::unique_ptr<UsbHandle> libusb_open_board(int number, std::string *reason);
std::unique_ptr<UsbHandle> libusb_open_place(const std::string &place, std::string *reason);

// The place of bench board N, and the board number of a bench place (-1: not one).
std::string bench_place(int number);
int bench_place_number(const std::string &place);

} // namespace vokhw
