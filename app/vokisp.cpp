// The vokusb front end: settings from the command line and response files,
// the driver loader, and the configuration run with its error-flag word.
#include "vokisp.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "vokusb.h"
#include "xcclk.h"
#include "xilinxbit.h"

// Settings.
int32_t config_mode = MODE_BSCAN;
uint32_t port_addr = 0;
int32_t baudrate = 0;
int32_t continus_mode = 0;
int32_t bscan_tdo_chips = -1;
char dll_name[NAME_SIZE] = "vok_isp";
char filename[NAME_SIZE] = "";
char rsp_name[NAME_SIZE] = "";
char dll_name_typed[NAME_SIZE] = "vok_isp";
char filename_typed[NAME_SIZE] = "";
char rsp_name_typed[NAME_SIZE] = "";
int32_t option_name_error = 0;

const char *const md_str[] = {"MasterSerial", "BoundaryScan", "SlaveParallel", "SlaveSerial",
                              nullptr};

// Driver binding.
void *dllHandle = nullptr;
vok_init_fn sh_init = nullptr;
vok_power_fn sh_power = nullptr;
vok_end_fn sh_end = nullptr;
vok_shift_fn jtag_txrx = nullptr;
int32_t bscan_convert_bit_order_in = 0;
vok_tx_fn xcclk_tx = nullptr;
vok_program_fn xcclk_program = nullptr;
vok_done_fn xcclk_done = nullptr;
vok_version_fn jtag_version = nullptr;
start_strategy_fn sh_start = nullptr;
write_strategy_fn sh_write = nullptr;

namespace {

const char *const impact_cmd[] = {"-port",   "-baud", "-mode",     "-bitstream", "-jedec",
                                  "-driver", "-f",    "-continue", "-target",    nullptr};
const char *const mode_select[] = {"mserial", "bscan", "sparalell", "sserial", nullptr};

enum {
    OPT_PORT,
    OPT_BAUD,
    OPT_MODE,
    OPT_BITSTREAM,
    OPT_JEDEC,
    OPT_DRIVER,
    OPT_F,
    OPT_CONTINUE,
    OPT_TARGET,
};

constexpr uint32_t ERR_UNNAMED = 0x07FF; // strategy bits with no report item
constexpr int RSP_PIECE = 254;           // characters per response-file read

const char *const usage_text = "\n"
                               "useage: vokusb [Xilinx_bit_file] [options]\n"
                               "  options :\n"
                               "       -port [address]  : port address\n"
                               "       -baud [bps]      : baud rate\n"
                               "       -mode bscan      : BoundaryScan  (JTAG) mode\n"
                               "       -mode sserlal    : SlaveSerial   (CCLK) mode\n"
                               "       -mode sparalell  : SlaveParalell (CCLK) mode\n"
                               "       -bitstream       : [future]\n"
                               "       -jedec           : [future]\n"
                               "       -driver [dllname]: DLL driver slelect\n"
                               "       -continue        : continus mode\n"
                               "       -target [nums]   : number of chained device in TDO side\n"
                               "       -f [rspname]     : use option in file\n";

// Prints and flushes at once, so that driver output and the progress line
// appear in order.
void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

void to_lower(char *s)
{
    for (; *s != '\0'; ++s)
        *s = static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
}

std::string lowered(const char *s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Stores a name into its buffer pair; a name that does not fit is refused
// with a message and leaves both buffers unchanged.
void store_name(char *lower_buf, char *typed_buf, const char *lower, const char *typed,
                const char *what)
{
    if (std::strlen(lower) >= NAME_SIZE || std::strlen(typed) >= NAME_SIZE) {
        say("Name too long for %s: at most %d characters\n", what, NAME_SIZE - 1);
        option_name_error = 1;
        return;
    }
    std::strcpy(lower_buf, lower);
    std::strcpy(typed_buf, typed);
}

// One option; word_typed and next_typed are the words before lower-casing.
int analyze_option_typed(char *word, char *next, const char *word_typed, const char *next_typed)
{
    if (word == nullptr)
        return 0;
    static char empty[1];
    empty[0] = '\0';
    to_lower(word);
    if (next != nullptr)
        to_lower(next);
    else
        next = empty;
    if (next_typed == nullptr)
        next_typed = "";

    if (word[0] != '-') {
        store_name(filename, filename_typed, word, word_typed, "the bitstream file name");
        return 1;
    }
    const int index = get_str_cmd(impact_cmd, word);
    switch (index) {
    case OPT_PORT: {
        unsigned int v = 0;
        if (std::sscanf(next, "%X", &v) == 1)
            port_addr = v;
        return 2;
    }
    case OPT_BAUD: {
        int v = 0;
        if (std::sscanf(next, "%d", &v) == 1)
            baudrate = v;
        return 2;
    }
    case OPT_MODE: {
        const int mode = get_str_cmd(mode_select, next);
        if (mode >= 0)
            config_mode = mode;
        return 2;
    }
    case OPT_BITSTREAM:
    case OPT_JEDEC:
        return 1;
    case OPT_DRIVER:
        store_name(dll_name, dll_name_typed, next, next_typed, "-driver");
        return 2;
    case OPT_F:
        store_name(rsp_name, rsp_name_typed, next, next_typed, "-f");
        return 2;
    case OPT_CONTINUE:
        continus_mode = 1;
        return 1;
    case OPT_TARGET: {
        int v = 0;
        if (std::sscanf(next, "%d", &v) == 1)
            bscan_tdo_chips = v;
        return 2;
    }
    default:
        return 1;
    }
}

// Reads one piece of a response file: up to 254 characters, ending after the
// first line feed; CR LF reads as LF. Returns false at end of file.
bool read_piece(std::FILE *f, std::string &piece)
{
    piece.clear();
    while (piece.size() < RSP_PIECE) {
        int c = std::fgetc(f);
        if (c == EOF)
            break;
        if (c == '\r') {
            const int after = std::fgetc(f);
            if (after == '\n')
                c = '\n';
            else if (after != EOF)
                std::ungetc(after, f);
        }
        piece.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    return !piece.empty();
}

bool read_response_file(const char *name)
{
    std::FILE *f = std::fopen(name, "rb");
    if (f == nullptr)
        return false;
    std::string piece;
    while (read_piece(f, piece)) {
        std::vector<char> line(piece.begin(), piece.end());
        line.push_back('\0');
        char *save = nullptr;
        char *first = strtok_r(line.data(), " \n", &save);
        char *second = first != nullptr ? strtok_r(nullptr, " \n", &save) : nullptr;
        analyze_option(first, second);
    }
    std::fclose(f);
    return true;
}

// Opens a file under the name as typed, then under its lower-case form.
template <typename Open> auto open_typed_then_lower(const char *typed, const char *lower, Open open)
{
    auto result = open(typed);
    if (!result && std::strcmp(typed, lower) != 0)
        result = open(lower);
    return result;
}

void *load_driver_library(const char *name)
{
    std::vector<std::string> candidates;
    const std::string file = platform_library_file(name);
    if (std::strchr(name, '/') != nullptr) {
        candidates.push_back(file);
    } else {
        const std::string dir = platform_exe_dir();
        if (!dir.empty()) {
            candidates.push_back(dir + "/" + file);
            candidates.push_back(dir + "/../lib/vokusb/" + file);
        }
        candidates.push_back(file);
    }
    for (const std::string &c : candidates) {
        if (void *h = platform_library_open(c.c_str()))
            return h;
    }
    return nullptr;
}

template <typename Fn> int32_t bind(Fn &slot, const char *name)
{
    void *addr = nullptr;
    const int32_t found = get_dll_func(&addr, name);
    slot = reinterpret_cast<Fn>(addr);
    return found;
}

void clear_binding()
{
    sh_init = nullptr;
    sh_power = nullptr;
    sh_end = nullptr;
    jtag_txrx = nullptr;
    xcclk_tx = nullptr;
    xcclk_program = nullptr;
    xcclk_done = nullptr;
    jtag_version = nullptr;
    sh_start = nullptr;
    sh_write = nullptr;
}

bitfile *open_bitstream()
{
    return open_typed_then_lower(filename_typed, filename,
                                 [](const char *path) { return bitfile_open(path); });
}

void print_report(uint32_t err)
{
    if (err == 0) {
        say("Complete!\n");
        return;
    }
    say("Error ! ");
    if (err & ERR_PROBE)
        say(",probe");
    if (err & ERR_FILE)
        say(",file");
    if (err & ERR_TARGET)
        say(",target");
    if (err & ERR_POWER)
        say(",power");
    if (err & ERR_DRIVER)
        say(",driver");
    say("\n");
}

void print_file_block(const bitfile *bf)
{
    say("MODE          %s\n", md_str[config_mode]);
    say("ConfigFile    '%s'\n", filename);
    say(" -Netname     '%s'\n", bf->net_name);
    say(" -TargetDeive '%s'[%08X]\n", bf->part_name, bf->idcode);
    say(" -TimeStamp   '%s %s'\n", bf->date, bf->time);
    say(" -ConfigSize  %dbits(%dbytes)\n", static_cast<int32_t>(bf->length * 8u),
        static_cast<int32_t>(bf->length));
    say("---------------------------------------------------------------\n");
}

// Time stamp of the last file configured (or tried and failed); a stamp that
// is not valid matches no file, so any file found is configured.
struct stamp {
    bool valid = false;
    char date[BIT_TEXT_SIZE] = "";
    char time[BIT_TEXT_SIZE] = "";

    void forget() { *this = stamp{}; }
    void take(const bitfile *bf)
    {
        valid = true;
        std::memcpy(date, bf->date, sizeof date);
        std::memcpy(time, bf->time, sizeof time);
    }
    bool matches(const bitfile *bf) const
    {
        return valid && std::strcmp(date, bf->date) == 0 && std::strcmp(time, bf->time) == 0;
    }
};

// Continuous mode: polls until the bitstream file exists with a time stamp
// other than the remembered one. Power loss forgets the stamp.
bitfile *wait_for_update(stamp &remembered)
{
    say("Waiting for update '%s'\n", filename);
    for (;;) {
        if (sh_power() == 0) {
            say("Target Power Down\n");
            remembered.forget();
        }
        bitfile *bf = open_bitstream();
        if (bf != nullptr && !remembered.matches(bf))
            return bf;
        bitfile_close(bf);
        platform_sleep_ms(100);
    }
}

uint32_t send_blocks(bitfile *bf, uint32_t err)
{
    static uint8_t file_buffer[BLOCK_SIZE];
    uint32_t pos = 0;
    while (err == 0 && pos < bf->length) {
        const bool last = static_cast<uint64_t>(bf->length) <= static_cast<uint64_t>(pos) + BLOCK_SIZE;
        const uint32_t size = last ? bf->length - pos : static_cast<uint32_t>(BLOCK_SIZE);
        say("Configration bit %7d to -%7d\r", static_cast<int32_t>(pos * 8u),
            static_cast<int32_t>((pos + size) * 8u - 1u));
        // A short read would leave stale bytes in the buffer: it fails like a read error.
        if (bitfile_read(bf, file_buffer, size) != size) {
            say("File Read Error");
            err |= ERR_FILE;
            break;
        }
        err |= sh_write(file_buffer, size, last ? 1 : 0);
        pos += size;
    }
    return err;
}

} // namespace

int get_str_cmd(const char *const *table, const char *word)
{
    for (int i = 0; table[i] != nullptr; ++i) {
        if (std::strcmp(table[i], word) == 0)
            return i;
    }
    return -1;
}

int analyze_option(char *word, char *next)
{
    const std::string word_typed = word != nullptr ? word : "";
    const std::string next_typed = next != nullptr ? next : "";
    return analyze_option_typed(word, next, word_typed.c_str(), next_typed.c_str());
}

void file_option(const char *name)
{
    read_response_file(name);
}

void set_defaults()
{
    config_mode = MODE_BSCAN;
    port_addr = 0;
    baudrate = 0;
    continus_mode = 0;
    bscan_tdo_chips = -1;
    std::strcpy(dll_name, "vok_isp");
    std::strcpy(dll_name_typed, "vok_isp");
    filename[0] = '\0';
    filename_typed[0] = '\0';
    rsp_name[0] = '\0';
    rsp_name_typed[0] = '\0';
    option_name_error = 0;
}

void read_settings(int argc, char **argv)
{
    // Keep the words as typed: analyze_option lower-cases the following word
    // in place before it is handled as a word of its own.
    std::vector<std::string> typed(argv, argv + argc);
    int i = 1;
    while (i < argc) {
        const bool has_next = i + 1 < argc;
        i += analyze_option_typed(argv[i], has_next ? argv[i + 1] : nullptr, typed[i].c_str(),
                                  has_next ? typed[i + 1].c_str() : nullptr);
    }
    if (std::strstr(rsp_name, ".rsp") != nullptr)
        open_typed_then_lower(rsp_name_typed, rsp_name, read_response_file);
    read_response_file("vokisp.rsp");
    if (std::strstr(filename, ".bit") == nullptr) {
        if (std::strlen(filename) + 4 >= NAME_SIZE || std::strlen(filename_typed) + 4 >= NAME_SIZE) {
            say("Name too long for the bitstream file name: at most %d characters before \".bit\"\n",
                NAME_SIZE - 5);
            option_name_error = 1;
        } else {
            std::strcat(filename, ".bit");
            std::strcat(filename_typed, ".bit");
        }
    }
}

int32_t get_dll_func(void **slot, const char *name)
{
    *slot = dllHandle != nullptr ? platform_library_symbol(dllHandle, name) : nullptr;
    if (*slot == nullptr) {
        say("DLL function '%s' is not found\n", name);
        return 0;
    }
    return 1;
}

int32_t dll_setup(const char *name, int32_t mode)
{
    clear_binding();
    const std::string lower = lowered(name);
    dllHandle = open_typed_then_lower(name, lower.c_str(), load_driver_library);
    if (dllHandle == nullptr) {
        say("Can't open '%s.DLL'\n", lower.c_str());
        return 0;
    }

    bool ok = false;
    if (mode == MODE_BSCAN) {
        sh_start = jtag_start;
        sh_write = jtag_write;
        ok = true;
        ok &= bind(sh_init, "jtag_init") != 0;
        ok &= bind(sh_power, "jtag_power") != 0;
        ok &= bind(sh_end, "jtag_end") != 0;
        if (ok) {
            if (bind(jtag_txrx, "jtag_xfer")) {
                bscan_convert_bit_order_in = 0;
            } else if (bind(jtag_txrx, "jtag_txrx")) {
                bscan_convert_bit_order_in = 1;
            } else {
                ok = false;
            }
        }
        if (ok)
            bind(jtag_version, "jtag_version");
    } else if (mode == MODE_SSERIAL) {
        sh_start = xcclk_start;
        sh_write = xcclk_write;
        ok = true;
        ok &= bind(sh_init, "ss_init") != 0;
        ok &= bind(sh_power, "ss_power") != 0;
        ok &= bind(xcclk_tx, "ss_tx") != 0;
        ok &= bind(xcclk_program, "ss_program") != 0;
        ok &= bind(xcclk_done, "ss_done") != 0;
        ok &= bind(sh_end, "ss_end") != 0;
        if (ok)
            bind(jtag_version, "jtag_version");
    }
    if (!ok) {
        platform_library_close(dllHandle);
        dllHandle = nullptr;
        clear_binding();
        return 0;
    }
    return 1;
}

void dll_end()
{
    if (dllHandle != nullptr) {
        platform_library_close(dllHandle);
        dllHandle = nullptr;
    }
    clear_binding();
}

int vokusb_main(int argc, char **argv)
{
    say("\nVokmar Ver.1.14\n");
    say("Spartan-II configuration over JTAG or slave serial\n");
    if (argc < 2) {
        say("%s", usage_text);
        return platform_exit_status(1);
    }
    set_defaults();
    read_settings(argc, argv);
    if (option_name_error)
        return platform_exit_status(1);

    uint32_t err = 0;
    if (!dll_setup(dll_name_typed, config_mode))
        err |= ERR_PROBE | ERR_DRIVER;

    if (err == 0) {
        char probe_name[NAME_SIZE] = "";
        const int32_t opened = sh_init(static_cast<int32_t>(port_addr), baudrate, probe_name);
        probe_name[NAME_SIZE - 1] = '\0';
        if (opened == VOK_INIT_READY) {
            say("-------------------- Probe / Driver Information ---------------------\n");
            say("Name    '%s'\n", probe_name);
            if (jtag_version != nullptr) {
                const uint32_t v = jtag_version();
                say("Version %2X.%04X\n", VOK_VERSION_MAJOR(v), VOK_VERSION_MINOR(v));
            } else {
                say(" Version : Unknown\n");
            }
        } else if (opened == VOK_INIT_NO_PROBE) {
            err |= ERR_PROBE;
            say("NO Probe\n");
        } else if (opened == VOK_INIT_NO_TARGET) {
            say("NO Target\n");
            err |= ERR_TARGET;
        }
    }
    say("++++++++++++++++++++++ File / Mode Information ++++++++++++++++++++++\n");

    stamp remembered;
    bool retry = false;
    for (;;) {
        bitfile *bf = nullptr;
        if (retry || err == 0) {
            if (continus_mode && !retry) {
                bf = wait_for_update(remembered);
            } else {
                bf = open_bitstream();
                if (bf == nullptr) {
                    say("Can't open bitstream file '%s'\n", filename);
                    err |= ERR_FILE;
                }
            }
        }
        retry = false;

        stamp tried; // set only when this pass really tried to configure the file
        if (bf != nullptr) {
            print_file_block(bf);
            if (bf->length == 0) {
                say("Bitstream file '%s' holds no configuration data\n", filename);
                err |= ERR_FILE;
            }
        }

        err &= ~ERR_POWER;
        if (!(err & ERR_PROBE) && sh_power() == 0) {
            say("Target power down\n");
            err |= ERR_POWER;
        }

        if (!(err & (ERR_PROBE | ERR_TARGET | ERR_POWER | ERR_FILE)) && bf != nullptr) {
            tried.take(bf);
            err |= sh_start(bf->idcode);
            say("Start Configraion\n");
        }
        if (!(err & (ERR_PROBE | ERR_TARGET | ERR_POWER)) && bf != nullptr)
            err = send_blocks(bf, err);

        if (bf != nullptr) {
            if (err == 0)
                remembered.take(bf);
            bitfile_close(bf);
        }
        print_report(err);

        if (!continus_mode)
            break;
        platform_sleep_ms(1000);
        if (err == 0)
            continue;
        if ((err & ~(ERR_TARGET | ERR_UNNAMED)) == 0) {
            // A failed configuration waits for a new file (or a power cycle)
            // instead of repeating the same failure once a second.
            if (tried.valid)
                remembered = tried;
            err = 0;
            continue;
        }
        if ((err & (ERR_FILE | ERR_PROBE | ERR_DRIVER)) == 0) {
            retry = true;
            continue;
        }
        break;
    }

    if (!(err & ERR_DRIVER))
        sh_end();
    dll_end();
    return platform_exit_status(err);
}
