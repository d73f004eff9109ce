// The settings from the command line and the response files.
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

extern const char *const usage_text;
// The words that ask for the usage text, as the first word of the command line.
bool is_help_word(const char *word);
