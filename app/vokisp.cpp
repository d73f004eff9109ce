// The vokusb front end: settings from the command line and response files,
// the driver loader, and the configuration run with its error-flag word.
#include "vokisp.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "interrupt.h"
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
bool target_chosen_automatically = false;
char dll_name[NAME_SIZE] = "vok_isp";
char filename[PATH_SIZE] = "";
char rsp_name[PATH_SIZE] = "";
char dll_name_typed[NAME_SIZE] = "vok_isp";
char filename_typed[PATH_SIZE] = "";
char rsp_name_typed[PATH_SIZE] = "";
int32_t option_name_error = 0;
char bitstream_part[PART_NAME_SIZE] = "";

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

// DONE of the configured FPGA as the mode reads it: 1 high, 0 low, -1 unknown.
using done_level_fn = int32_t (*)();
done_level_fn sh_done_level = nullptr;

int32_t serial_done_level() { return xcclk_done() != 0 ? 1 : 0; }

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

// The spelling of "sserial" that the usage text shows selects the same mode.
constexpr const char *SSERIAL_AS_USAGE_SPELLS_IT = "sserlal";

constexpr uint32_t ERR_UNNAMED = 0x07FF; // strategy bits with no report item
constexpr int RSP_PIECE = 254;           // characters per response-file read
constexpr long RSP_LIMIT = 64 * 1024;    // bytes read of one response file

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

void to_lower(char *s)
{
    for (; *s != '\0'; ++s)
        *s = static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
}

std::string lowered(const char *s)
{
    std::string out(s);
    to_lower(out.data());
    return out;
}

// Reads the number at the start of word as the conversion "%X" (base 16, an
// optional 0x) or "%d" (base 10) would, into value when it lies in lo..hi.
// Blanks and a sign may lead. A word without a number changes nothing and
// says nothing; a number that does not fit changes nothing and says so;
// characters after the number leave the number read so far and are warned of.
bool read_number(const char *option, const char *word, int base, int64_t lo, int64_t hi, int64_t &value)
{
    const char *p = word;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])))
        p += 2;
    const char *digits = p;
    uint64_t magnitude = 0;
    bool too_big = false;
    for (;; ++p) {
        const int c = std::tolower(static_cast<unsigned char>(*p));
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        if (d < 0)
            break;
        if (magnitude > (uint64_t{1} << 40)) // far past any range here: stop counting
            too_big = true;
        else
            magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (p == digits)
        return false;
    const int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (too_big || v < lo || v > hi) {
        warn("%s: '%s' is a number that does not fit; the setting stays as it was\n", option,
             printable(word).c_str());
        return false;
    }
    if (*p != '\0')
        warn("%s: '%s' has characters after its number; '%s' is used\n", option, printable(word).c_str(),
             printable(std::string(word, p).c_str()).c_str());
    value = v;
    return true;
}

int mode_of(const char *keyword)
{
    const int mode = get_str_cmd(mode_select, keyword);
    if (mode < 0 && std::strcmp(keyword, SSERIAL_AS_USAGE_SPELLS_IT) == 0)
        return MODE_SSERIAL;
    return mode;
}

// Stores a name into its buffer pair; a name that does not fit is refused
// with a message and leaves both buffers unchanged.
void store_name(char *lower_buf, char *typed_buf, size_t size, const char *lower, const char *typed,
                const char *what)
{
    if (std::strlen(lower) >= size || std::strlen(typed) >= size) {
        say("Name too long for %s: at most %zu characters\n", what, size - 1);
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
        store_name(filename, filename_typed, PATH_SIZE, word, word_typed, "the bitstream file name");
        return 1;
    }
    const int index = get_str_cmd(impact_cmd, word);
    switch (index) {
    case OPT_PORT: {
        int64_t v = 0;
        if (read_number("-port", next, 16, 0, UINT32_MAX, v))
            port_addr = static_cast<uint32_t>(v);
        return 2;
    }
    case OPT_BAUD: {
        int64_t v = 0;
        if (read_number("-baud", next, 10, INT32_MIN, INT32_MAX, v))
            baudrate = static_cast<int32_t>(v);
        return 2;
    }
    case OPT_MODE: {
        const int mode = mode_of(next);
        if (mode >= 0)
            config_mode = mode;
        else
            warn("-mode: '%s' is not a mode keyword; %s mode stays\n", printable(next).c_str(),
                 md_str[config_mode]);
        return 2;
    }
    case OPT_BITSTREAM:
    case OPT_JEDEC:
        return 1;
    case OPT_DRIVER:
        store_name(dll_name, dll_name_typed, NAME_SIZE, next, next_typed, "-driver");
        return 2;
    case OPT_F:
        store_name(rsp_name, rsp_name_typed, PATH_SIZE, next, next_typed, "-f");
        return 2;
    case OPT_CONTINUE:
        continus_mode = 1;
        return 1;
    case OPT_TARGET: {
        int64_t v = 0;
        if (read_number("-target", next, 10, INT32_MIN, INT32_MAX, v))
            bscan_tdo_chips = static_cast<int32_t>(v);
        return 2;
    }
    default:
        return 1;
    }
}

// A response file read in pieces of up to 254 characters, each ending after
// the first line feed; CR LF reads as LF. Reads no more than RSP_LIMIT bytes,
// so that a file that never ends (a link to /dev/zero) cannot hold the run.
class response_reader {
public:
    response_reader(std::FILE *f, const char *name) : f_(f), name_(name) {}

    // The next piece; false at the end of the file or of the bytes read.
    bool next(std::string &piece)
    {
        piece.clear();
        while (piece.size() < RSP_PIECE) {
            int c = get();
            if (c == EOF)
                break;
            if (c == '\r') {
                const int after = get();
                if (after == '\n')
                    c = '\n';
                else
                    unget(after);
            }
            piece.push_back(static_cast<char>(c));
            if (c == '\n')
                break;
        }
        if (over_limit_) {
            // The piece that the limit cut is dropped with the rest.
            if (!warned_limit_)
                warn("Response file '%s' is longer than %ld bytes: the rest is ignored\n",
                     printable(name_).c_str(), RSP_LIMIT);
            warned_limit_ = true;
            return false;
        }
        if (piece.empty())
            return false;
        if (piece.back() == '\n') {
            ++line_;
            long_line_ = false;
        } else if (piece.size() == RSP_PIECE) {
            note_long_line();
        }
        return true;
    }

private:
    int get()
    {
        if (held_ != EOF) {
            const int c = held_;
            held_ = EOF;
            return c;
        }
        if (read_ == RSP_LIMIT) {
            if (std::fgetc(f_) != EOF)
                over_limit_ = true;
            return EOF;
        }
        const int c = std::fgetc(f_);
        if (c != EOF)
            ++read_;
        return c;
    }
    void unget(int c) { held_ = c; }

    // A full piece without a line end: the line goes on unless its end follows.
    void note_long_line()
    {
        int c = get();
        if (c == '\r') {
            const int after = get();
            if (after == '\n')
                c = '\n';
            else
                unget(after); // a lone CR is the next piece's
        } else {
            unget(c);
        }
        if (c == '\n' || c == EOF) {
            if (c == '\n')
                ++line_;
            return;
        }
        if (!long_line_)
            warn("Response file '%s', line %ld: longer than %d characters; each piece of it is read as a line "
                 "of its own\n",
                 printable(name_).c_str(), line_ + 1, RSP_PIECE);
        long_line_ = true;
    }

    std::FILE *f_;
    const char *name_;
    long read_ = 0;
    long line_ = 0; // complete lines so far
    int held_ = EOF;
    bool long_line_ = false;
    bool over_limit_ = false;
    bool warned_limit_ = false;
};

void read_response_file(std::FILE *f, const char *name)
{
    response_reader reader(f, name);
    std::string piece;
    while (reader.next(piece)) {
        std::vector<char> line(piece.begin(), piece.end());
        line.push_back('\0');
        char *save = nullptr;
        char *first = strtok_r(line.data(), " \n", &save);
        char *second = first != nullptr ? strtok_r(nullptr, " \n", &save) : nullptr;
        analyze_option(first, second);
    }
}

// Opens a file under the name as typed, then under its lower-case form.
template <typename Open> auto open_typed_then_lower(const char *typed, const char *lower, Open open)
{
    auto result = open(typed);
    if (!result && std::strcmp(typed, lower) != 0)
        result = open(lower);
    return result;
}

// Where a driver was looked for, for the message when it does not load.
struct driver_search {
    std::vector<std::string> folders;
    std::string file;   // the library file name looked for
    std::string reason; // what the loader said about the most telling attempt
    bool reason_from_a_file_found = false;
};

void *load_driver_library(const char *name, driver_search &search)
{
    std::vector<std::string> candidates;
    search.file = platform_library_file(name);
    search.folders.clear();
    if (std::strchr(name, '/') != nullptr) {
        candidates.push_back(search.file);
    } else {
        const std::string dir = platform_exe_dir();
        if (!dir.empty()) {
            search.folders = {dir, platform_normal_path(dir + "/../lib/vokusb")};
            for (const std::string &folder : search.folders)
                candidates.push_back(folder + "/" + search.file);
        }
        candidates.push_back(search.file); // the system's library search
    }
    for (const std::string &c : candidates) {
        std::string error;
        if (void *h = platform_library_open(c.c_str(), &error))
            return h;
        // A file that exists but does not load says more than one that is missing.
        if (!search.reason_from_a_file_found) {
            search.reason = error;
            search.reason_from_a_file_found = c.find('/') != std::string::npos && platform_file_exists(c);
        }
    }
    return nullptr;
}

void report_driver_search(const driver_search &search)
{
    if (search.folders.empty()) {
        warn("Driver file '%s' was not loaded: %s\n", printable(search.file.c_str()).c_str(),
             printable(search.reason.c_str()).c_str());
        return;
    }
    std::string folders;
    std::string found;
    for (const std::string &folder : search.folders) {
        folders += printable(folder.c_str()) + ", ";
        for (const std::string &driver : platform_driver_files(folder))
            found += (found.empty() ? "" : ", ") + printable(driver.c_str());
    }
    warn("Looked for '%s' in %sthen in the system's library search path\n",
         printable(search.file.c_str()).c_str(), folders.c_str());
    warn("Drivers found there: %s\n", found.empty() ? "none" : found.c_str());
    warn("The loader said: %s\n", printable(search.reason.c_str()).c_str());
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
    sh_done_level = nullptr;
}

bitfile *open_bitstream(bitfile_shortfall &why)
{
    return open_typed_then_lower(filename_typed, filename,
                                 [&why](const char *path) { return bitfile_open_checked(path, &why); });
}

void say_incomplete(const bitfile_shortfall &why)
{
    say("Bitstream file '%s' is not complete: its header announces %u bytes of configuration data, "
        "%llu are there\n",
        printable(filename).c_str(), why.announced, static_cast<unsigned long long>(why.present));
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
    say("ConfigFile    '%s'\n", printable(filename).c_str());
    say(" -Netname     '%s'\n", printable(bf->net_name, BIT_TEXT_SIZE).c_str());
    say(" -TargetDeive '%s'[%08X]\n", printable(bf->part_name, BIT_TEXT_SIZE).c_str(), bf->idcode);
    say(" -TimeStamp   '%s %s'\n", printable(bf->date, BIT_TEXT_SIZE).c_str(),
        printable(bf->time, BIT_TEXT_SIZE).c_str());
    say(" -ConfigSize  %llubits(%ubytes)\n", static_cast<unsigned long long>(bf->length) * 8u, bf->length);
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

// What continuous mode watches between passes: the target supply and, after a
// configuration that ended with DONE high, DONE itself. Either one lost means
// the FPGA no longer holds the remembered design, which is then forgotten so
// that the same file is configured again.
class target_watch {
public:
    static constexpr std::chrono::milliseconds period{100};

    // The pass just ended. DONE is watched only after a configuration, and only
    // when the watch itself reads it high then: a cable whose reading does not
    // follow DONE must not configure the FPGA again and again.
    void pass_ended(bool configured)
    {
        done_high_ = configured && sh_done_level != nullptr && sh_done_level() == 1;
        lost_ = false;
        last_ = std::chrono::steady_clock::now();
    }

    // True once the FPGA has lost its design and the supply is on: it can be
    // configured again.
    bool sample(stamp &remembered)
    {
        last_ = std::chrono::steady_clock::now();
        if (sh_power() == 0) {
            say("Target Power Down\n");
            remembered.forget();
            done_high_ = false;
            lost_ = true;
            return false;
        }
        if (done_high_ && sh_done_level() == 0) {
            say("DONE is low: the FPGA lost its configuration\n");
            remembered.forget();
            done_high_ = false;
            lost_ = true;
        }
        return lost_;
    }

    // Sleeps until the next sample is due, one period after the last one began.
    void pace() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            last_ + period - std::chrono::steady_clock::now());
        if (left.count() > 0)
            platform_sleep_ms(static_cast<uint32_t>(left.count()));
    }

private:
    bool done_high_ = false;
    bool lost_ = false;
    std::chrono::steady_clock::time_point last_{};
};

constexpr uint32_t PASS_PAUSE_MS = 1000;

// The pause after a pass that is followed by a wait: watched like the wait,
// and cut short once a lost design can be configured again.
void pause_watching(target_watch &watch, stamp &remembered)
{
    for (uint32_t i = 0; i < PASS_PAUSE_MS / target_watch::period.count(); ++i) {
        watch.pace();
        if (watch.sample(remembered))
            return;
    }
}

// Continuous mode: polls until the bitstream file exists, whole, with a time
// stamp other than the remembered one, while the watch samples the target. A
// file that is not whole yet is said once and then waited for in silence.
bitfile *wait_for_update(target_watch &watch, stamp &remembered)
{
    say("Waiting for update '%s'\n", printable(filename).c_str());
    bool said_incomplete = false;
    for (;;) {
        watch.sample(remembered);
        bitfile_shortfall why;
        bitfile *bf = open_bitstream(why);
        if (bf != nullptr && !remembered.matches(bf))
            return bf;
        if (why.incomplete && !said_incomplete) {
            say_incomplete(why);
            said_incomplete = true;
        }
        bitfile_close(bf);
        watch.pace();
    }
}

// Sends the data block by block. A load that stops before its last block (a
// read error, SIGINT or SIGTERM) ends at a packet boundary, so that the FPGA
// takes the next load; cut tells whether that happened.
uint32_t send_blocks(bitfile *bf, uint32_t err, bool &cut)
{
    static uint8_t file_buffer[BLOCK_SIZE];
    uint32_t pos = 0;
    bool sent_any = false;
    interrupt_watch_begin();
    while (err == 0 && pos < bf->length && interrupt_caught() == 0) {
        const bool last = static_cast<uint64_t>(bf->length) <= static_cast<uint64_t>(pos) + BLOCK_SIZE;
        const uint32_t size = last ? bf->length - pos : static_cast<uint32_t>(BLOCK_SIZE);
        say("Configration bit %7d to -%7d\r", static_cast<int32_t>(pos * 8u),
            static_cast<int32_t>((pos + size) * 8u - 1u));
        sent_any = true;
        // A short read would leave stale bytes in the buffer: it fails like a read error.
        if (bitfile_read(bf, file_buffer, size) != size) {
            say("File Read Error");
            err |= ERR_FILE;
            break;
        }
        err |= sh_write(file_buffer, size, last ? 1 : 0);
        pos += size;
    }
    cut = sent_any && pos < bf->length;
    if (cut) {
        if (config_mode == MODE_BSCAN)
            jtag_break();
        else
            xcclk_break();
    }
    interrupt_watch_end();
    if (cut && interrupt_caught() != 0)
        say("\nStopped by signal %d: the load ended at a packet boundary and the FPGA is not configured\n",
            interrupt_caught());
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

void file_option(const char *name, bool say_if_missing)
{
    std::FILE *f = std::fopen(name, "rb");
    int error = errno;
    std::string lower = lowered(name);
    if (f == nullptr && lower != name) {
        f = std::fopen(lower.c_str(), "rb");
        if (f != nullptr)
            name = lower.c_str();
    }
    if (f == nullptr) {
        if (say_if_missing)
            warn("Can't read response file '%s': %s\n", printable(name).c_str(), std::strerror(error));
        return;
    }
    read_response_file(f, name);
    std::fclose(f);
}

void set_defaults()
{
    config_mode = MODE_BSCAN;
    port_addr = 0;
    baudrate = 0;
    continus_mode = 0;
    bscan_tdo_chips = -1;
    target_chosen_automatically = false;
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
        file_option(rsp_name_typed, true);
    file_option("vokisp.rsp");
    if (std::strstr(filename, ".bit") == nullptr) {
        if (std::strlen(filename) + 4 >= PATH_SIZE || std::strlen(filename_typed) + 4 >= PATH_SIZE) {
            say("Name too long for the bitstream file name: at most %d characters before \".bit\"\n",
                PATH_SIZE - 5);
            option_name_error = 1;
        } else {
            std::strcat(filename, ".bit");
            std::strcat(filename_typed, ".bit");
        }
    }
}

// The words that ask for the usage text, as the first word of the command line.
static bool is_help_word(const char *word)
{
    const std::string w = lowered(word);
    return w == "-h" || w == "-help" || w == "--help" || w == "-?";
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
    driver_search search;
    dllHandle = open_typed_then_lower(name, lower.c_str(),
                                      [&search](const char *n) { return load_driver_library(n, search); });
    if (dllHandle == nullptr) {
        say("Can't open '%s.DLL'\n", printable(lower.c_str()).c_str());
        report_driver_search(search);
        return 0;
    }

    bool ok = false;
    if (mode == MODE_BSCAN) {
        sh_start = jtag_start;
        sh_write = jtag_write;
        sh_done_level = jtag_done;
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
        sh_done_level = serial_done_level;
        ok = true;
        ok &= bind(sh_init, "ss_init") != 0;
        ok &= bind(sh_power, "ss_power") != 0;
        ok &= bind(xcclk_tx, "ss_tx") != 0;
        ok &= bind(xcclk_program, "ss_program") != 0;
        ok &= bind(xcclk_done, "ss_done") != 0;
        ok &= bind(sh_end, "ss_end") != 0;
        if (ok)
            bind(jtag_version, "jtag_version");
    } else {
        warn("Mode %s is not supported by this program: use -mode bscan or -mode sserial\n",
             mode >= 0 && mode <= MODE_SSERIAL ? md_str[mode] : "?");
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
    if (is_help_word(argv[1])) {
        say("%s", usage_text);
        return 0;
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
    target_watch watch;
    bool retry = false;
    for (;;) {
        bitfile *bf = nullptr;
        if (retry || err == 0) {
            if (continus_mode && !retry) {
                bf = wait_for_update(watch, remembered);
            } else {
                bitfile_shortfall why;
                bf = open_bitstream(why);
                if (bf == nullptr && why.incomplete && continus_mode) {
                    // Not written out yet: wait for it as for any new file.
                    retry = false;
                    bf = wait_for_update(watch, remembered);
                } else if (bf == nullptr) {
                    if (why.incomplete)
                        say_incomplete(why);
                    else
                        say("Can't open bitstream file '%s'\n", printable(filename).c_str());
                    err |= ERR_FILE;
                }
            }
        }
        retry = false;

        stamp tried; // set only when this pass really tried to configure the file
        if (bf != nullptr) {
            print_file_block(bf);
            if (bf->length == 0) {
                say("Bitstream file '%s' holds no configuration data\n", printable(filename).c_str());
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
            std::memcpy(bitstream_part, bf->part_name, sizeof bitstream_part);
            bitstream_part[sizeof bitstream_part - 1] = '\0';
            err |= sh_start(bf->idcode);
            say("Start Configraion\n");
        }
        bool cut = false;
        if (!(err & (ERR_PROBE | ERR_TARGET | ERR_POWER)) && bf != nullptr)
            err = send_blocks(bf, err, cut);

        if (bf != nullptr) {
            if (err == 0 && !cut)
                remembered.take(bf);
            bitfile_close(bf);
        }
        if (!(cut && interrupt_caught() != 0))
            print_report(err);

        if (!continus_mode || interrupt_caught() != 0)
            break;
        watch.pass_ended(err == 0);
        if (err == 0) {
            pause_watching(watch, remembered);
            continue;
        }
        if ((err & ~(ERR_TARGET | ERR_UNNAMED)) == 0) {
            // A failed configuration waits for a new file (or a power cycle)
            // instead of repeating the same failure once a second.
            if (tried.valid)
                remembered = tried;
            err = 0;
            pause_watching(watch, remembered);
            continue;
        }
        platform_sleep_ms(PASS_PAUSE_MS);
        if ((err & (ERR_FILE | ERR_PROBE | ERR_DRIVER)) == 0) {
            retry = true;
            continue;
        }
        break;
    }

    if (!(err & ERR_DRIVER))
        sh_end();
    dll_end();
    // Ended by a signal: the status a shell gives a process the signal killed.
    if (interrupt_caught() != 0)
        return 128 + interrupt_caught();
    return platform_exit_status(err);
}
