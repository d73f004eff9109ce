// Console output of vokusb: every line is flushed at once, so that the driver's
// own output, the progress line and the messages appear in order.
#pragma once

#include <string>
#include <string_view>

// Formatted text on stdout, flushed.
void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Formatted text on stderr, flushed.
void warn(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Text from a file or the command line made safe for a terminal: control
// characters (below 0x20, and 0x7F) and bytes that are not valid UTF-8 become
// \xNN. Reads at most max bytes and stops at the first NUL.
std::string printable(const char *text, size_t max = std::string_view::npos);
