// The vokusb program: settings, driver, the run, the exit status.
#pragma once

// The whole run of the program; returns the process exit status.
int vokusb_main(int argc, char **argv);
