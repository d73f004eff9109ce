// Front end of vokusb: options, response files, driver loader, JTAG strategy.
#pragma once

#include <cstdint>

int get_str_cmd(const char *const *table, const char *word);
int analyze_option(char *word, char *next);
// Reads a response file, under its name as given, then in lower case. One that
// cannot be opened is skipped, with a line on stderr when say_if_missing is set.
void file_option(const char *name, bool say_if_missing = false);

// Default settings, then the command line, the -f response file and
// "vokisp.rsp", then the ".bit" completion of the file name.
void set_defaults();
void read_settings(int argc, char **argv);

// Set when a name did not fit its buffer; the run then ends before loading a driver.
extern int32_t option_name_error;

int32_t dll_setup(const char *name, int32_t mode);
int32_t get_dll_func(void **slot, const char *name);
void dll_end();

// The whole run of the program; returns the process exit status.
int vokusb_main(int argc, char **argv);

uint32_t jtag_start(uint32_t idcode);
uint32_t jtag_write(const uint8_t *data, uint32_t count, int32_t last);
// Ends a load before its last block at a packet boundary and leaves Shift-DR.
void jtag_break();
uint32_t jtag_status();
// DONE of the configured target from its instruction capture, leaving BYPASS
// loaded: 1 high, 0 low, -1 when the chain does not answer.
int32_t jtag_done();
int32_t jtag_shutdown();
