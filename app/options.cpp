// The settings from the command line and the response files: the keyword
// tables, the numbers and names of the options, the reading of response files.
#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "names.h"
#include "settings.h"

program_settings settings;
int32_t option_name_error = 0;

const char *const md_str[] = {"MasterSerial", "BoundaryScan", "SlaveParallel", "SlaveSerial",
                              nullptr};

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

// The spelling of "sserial" that the usage text shows selects the same mode.
constexpr const char *SSERIAL_AS_USAGE_SPELLS_IT = "sserlal";

constexpr int RSP_PIECE = 254;        // characters per response-file read
constexpr long RSP_LIMIT = 64 * 1024; // bytes read of one response file

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

// A signed decimal setting, as "%d" reads it; see read_number.
void read_decimal(const char *option, const char *word, int32_t &setting)
{
    int64_t v = 0;
    if (read_number(option, word, 10, INT32_MIN, INT32_MAX, v))
        setting = static_cast<int32_t>(v);
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
        store_name(settings.filename, settings.filename_typed, PATH_SIZE, word, word_typed, "the bitstream file name");
        return 1;
    }
    const int index = get_str_cmd(impact_cmd, word);
    switch (index) {
    case OPT_PORT: {
        int64_t v = 0;
        if (read_number("-port", next, 16, 0, UINT32_MAX, v))
            settings.port_addr = static_cast<uint32_t>(v);
        return 2;
    }
    case OPT_BAUD:
        read_decimal("-baud", next, settings.baudrate);
        return 2;
    case OPT_MODE: {
        const int mode = mode_of(next);
        if (mode >= 0)
            settings.config_mode = mode;
        else
            warn("-mode: '%s' is not a mode keyword; %s mode stays\n", printable(next).c_str(),
                 md_str[settings.config_mode]);
        return 2;
    }
    case OPT_BITSTREAM:
    case OPT_JEDEC:
        return 1;
    case OPT_DRIVER:
        store_name(settings.dll_name, settings.dll_name_typed, NAME_SIZE, next, next_typed, "-driver");
        return 2;
    case OPT_F:
        store_name(settings.rsp_name, settings.rsp_name_typed, PATH_SIZE, next, next_typed, "-f");
        return 2;
    case OPT_CONTINUE:
        settings.continus_mode = 1;
        return 1;
    case OPT_TARGET:
        read_decimal("-target", next, settings.bscan_tdo_chips);
        return 2;
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
    settings = program_settings{};
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
    if (std::strstr(settings.rsp_name, ".rsp") != nullptr)
        file_option(settings.rsp_name_typed, true);
    file_option("vokisp.rsp");
    if (std::strstr(settings.filename, ".bit") == nullptr) {
        if (std::strlen(settings.filename) + 4 >= PATH_SIZE ||
            std::strlen(settings.filename_typed) + 4 >= PATH_SIZE) {
            say("Name too long for the bitstream file name: at most %d characters before \".bit\"\n",
                PATH_SIZE - 5);
            option_name_error = 1;
        } else {
            std::strcat(settings.filename, ".bit");
            std::strcat(settings.filename_typed, ".bit");
        }
    }
}

// The words that ask for the usage text, as the first word of the command line.
bool is_help_word(const char *word)
{
    const std::string w = lowered(word);
    return w == "-h" || w == "-help" || w == "--help" || w == "-?";
}
