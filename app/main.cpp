int vokusb_main(int argc, char **argv);

int main(int argc, char **argv) { return vokusb_main(argc, argv); }
