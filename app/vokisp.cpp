// placeholder until the front end lands
int vokusb_main(int, char **) { return 1; }
