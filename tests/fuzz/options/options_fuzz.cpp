// The settings of vokusb from a command line and two response files, all taken
// from the input: the words of the command line separated by NUL bytes, then
// after a 0xFF byte the file "opts.rsp", then after another 0xFF "vokisp.rsp".
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "options.h"
#include "settings.h"

namespace {

struct Settings {
    int32_t mode, target, cont, baud;
    uint32_t port;
    std::string dll, dll_typed, file, file_typed, rsp, rsp_typed;
    int32_t name_error;
    bool operator==(const Settings &) const = default;
};

template <size_t N> std::string text_of(const char (&buf)[N])
{
    fuzz::require(strnlen(buf, N) < N, "a name buffer ends in a NUL within its size");
    return std::string(buf);
}

Settings read_all(const std::vector<std::string> &words)
{
    std::vector<std::string> args{"vokusb"};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    set_defaults();
    read_settings(int(args.size()), argv.data());
    return {settings.config_mode, settings.bscan_tdo_chips, settings.continus_mode, settings.baudrate, settings.port_addr,
            text_of(settings.dll_name), text_of(settings.dll_name_typed), text_of(settings.filename), text_of(settings.filename_typed),
            text_of(settings.rsp_name), text_of(settings.rsp_name_typed), option_name_error};
}

std::string lowered(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::enter_scratch_dir(); // "vokisp.rsp" is read from the current folder
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto pieces = fuzz::split(fuzz::as_text(data, size), '\xff');
    fuzz::clear_scratch_dir();
    std::vector<std::string> words;
    for (auto w : fuzz::split(pieces[0], '\0'))
        words.emplace_back(w);
    if (pieces[0].empty())
        words.clear();
    if (pieces.size() > 1)
        fuzz::write_file("opts.rsp", pieces[1]);
    if (pieces.size() > 2)
        fuzz::write_file("vokisp.rsp", pieces[2]);

    const Settings s = read_all(words);
    fuzz::require(s.mode >= MODE_MSERIAL && s.mode <= MODE_SSERIAL, "the mode is one of the four");
    fuzz::require(s.dll == lowered(s.dll_typed) && s.file == lowered(s.file_typed) &&
                      s.rsp == lowered(s.rsp_typed),
                  "each name is the lower-case form of the name as typed");
    fuzz::require(s.name_error || s.file.find(".bit") != std::string::npos,
                  "the bitstream name holds \".bit\" unless a name was refused");

    // A setting moves from its default only when its option was given somewhere.
    const std::string all = lowered(std::string(fuzz::as_text(data, size)));
    auto given = [&](const char *option) { return all.find(option) != std::string::npos; };
    fuzz::require(given("-port") || s.port == 0, "-port alone sets the port");
    fuzz::require(given("-baud") || s.baud == 0, "-baud alone sets the baud rate");
    fuzz::require(given("-mode") || s.mode == MODE_BSCAN, "-mode alone sets the mode");
    fuzz::require(given("-continue") || s.cont == 0, "-continue alone sets continuous mode");
    fuzz::require(given("-target") || s.target == -1, "-target alone sets the target");
    fuzz::require(given("-driver") || s.dll == "vok_isp", "-driver alone sets the driver");
    fuzz::require(given("-f") || s.rsp.empty(), "-f alone names a response file");

    fuzz::require(read_all(words) == s, "reading the same settings again gives the same result");
    return 0;
}
