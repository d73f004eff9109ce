// Settings from the command line and response files.
#include <gtest/gtest.h>

#include <cstring>

#include <unistd.h>

#include "console.h"
#include "helpers.h"
#include "options.h"
#include "settings.h"

namespace {

class Options : public ::testing::Test {
protected:
    void SetUp() override { set_defaults(); }

    // Runs the three sources over these words (the program name is added).
    void read_words(std::vector<std::string> words)
    {
        words.insert(words.begin(), "vokusb");
        std::vector<std::vector<char>> store;
        for (const auto &w : words)
            store.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
        std::vector<char *> argv;
        for (auto &s : store)
            argv.push_back(s.data());
        read_settings(static_cast<int>(argv.size()), argv.data());
    }

    vt::InTempDir cwd;
};

TEST_F(Options, WordsAndArgumentsFoldToLowerCaseButKeepTypedNames)
{
    read_words({"-PORT", "3BC", "-DRIVER", "Vok_USB", "-MODE", "SSERIAL", "Design.BIT"});
    EXPECT_EQ(settings.port_addr, 0x3BCu);
    EXPECT_STREQ(settings.dll_name, "vok_usb");
    EXPECT_STREQ(settings.dll_name_typed, "Vok_USB");
    EXPECT_EQ(settings.config_mode, MODE_SSERIAL);
    EXPECT_STREQ(settings.filename, "design.bit");
    EXPECT_STREQ(settings.filename_typed, "Design.BIT");
}

TEST_F(Options, TypedNameSurvivesBeingTheFollowingWordOfAnOption)
{
    // "-continue" takes one word; the next word was lower-cased as its argument.
    read_words({"-continue", "MyDesign"});
    EXPECT_EQ(settings.continus_mode, 1);
    EXPECT_STREQ(settings.filename, "mydesign.bit");
    EXPECT_STREQ(settings.filename_typed, "MyDesign.bit");
}

// Numbers are read as "%X" and "%d" would, with range checks: a number that
// does not fit keeps the setting and says so on stderr; trailing characters
// keep the number read so far and are warned of.
TEST_F(Options, NumbersAreRangeChecked)
{
    const struct {
        const char *option;
        const char *word;
        int64_t value; // of the setting afterwards; the defaults are 0, 0, -1
        const char *warning;
    } cases[] = {
        {"-port", "3BC", 0x3BC, ""},
        {"-port", "0x3bc", 0x3BC, ""},
        {"-port", "ffffffff", 0xFFFFFFFF, ""},
        {"-port", "100000000", 0, "-port: '100000000' is a number that does not fit"},
        {"-port", "-1", 0, "-port: '-1' is a number that does not fit"},
        {"-port", "3bcq", 0x3BC, "-port: '3bcq' has characters after its number; '3bc' is used"},
        {"-port", "xyz", 0, ""},
        {"-baud", "9600baud", 9600, "-baud: '9600baud' has characters after its number; '9600' is used"},
        {"-baud", "99999999999999999999999", 0, "-baud: '99999999999999999999999' is a number that does not fit"},
        {"-baud", "fast", 0, ""},
        {"-target", "2147483647", 2147483647, ""},
        {"-target", "2147483648", -1, "-target: '2147483648' is a number that does not fit"},
        {"-target", "2", 2, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.word);
        set_defaults();
        testing::internal::CaptureStderr();
        read_words({c.option, c.word});
        const std::string err = testing::internal::GetCapturedStderr();
        const int64_t value = std::string(c.option) == "-port" ? int64_t{settings.port_addr}
                              : std::string(c.option) == "-baud" ? int64_t{settings.baudrate}
                                                                 : int64_t{settings.bscan_tdo_chips};
        EXPECT_EQ(value, c.value);
        if (*c.warning == '\0')
            EXPECT_EQ(err, "");
        else
            EXPECT_EQ(err.find(c.warning), 0u) << err;
    }
}

TEST_F(Options, WordCountsOfAnalyzeOption)
{
    char port[] = "-port", val[] = "1", plain[] = "x", bogus[] = "-nosuch", cont[] = "-continue",
         jedec[] = "-jedec";
    EXPECT_EQ(analyze_option(nullptr, val), 0);
    EXPECT_EQ(analyze_option(port, val), 2);
    EXPECT_EQ(analyze_option(plain, val), 1);
    EXPECT_EQ(analyze_option(bogus, val), 1);
    EXPECT_EQ(analyze_option(cont, val), 1);
    EXPECT_EQ(analyze_option(jedec, nullptr), 1);
    char mode[] = "-mode";
    EXPECT_EQ(analyze_option(mode, nullptr), 2);
    EXPECT_EQ(settings.config_mode, MODE_BSCAN);
}

TEST_F(Options, UnknownOptionLeavesItsArgumentToStandAlone)
{
    read_words({"-bogus", "design", "other"});
    EXPECT_STREQ(settings.filename, "other.bit"); // two plain words: the last one wins
    set_defaults();
    read_words({"-bogus", "design"});
    EXPECT_STREQ(settings.filename, "design.bit");
}

TEST_F(Options, OptionLastOnTheLineGetsAnEmptyArgument)
{
    read_words({"a.bit", "-driver"});
    EXPECT_STREQ(settings.dll_name, "");
    read_words({"-baud"});
    EXPECT_EQ(settings.baudrate, 0);
}

TEST_F(Options, BitCompletion)
{
    read_words({"design"});
    EXPECT_STREQ(settings.filename, "design.bit");
    set_defaults();
    read_words({"a.bitx"});
    EXPECT_STREQ(settings.filename, "a.bitx");
    set_defaults();
    read_words({"-continue"});
    EXPECT_STREQ(settings.filename, ".bit");
}

TEST_F(Options, ResponseFileTakesOneOptionPerLine)
{
    vt::write_file("one.rsp", "-continue design.bit\n");
    file_option("one.rsp");
    EXPECT_EQ(settings.continus_mode, 1);
    EXPECT_STREQ(settings.filename, "");
    set_defaults();
    vt::write_file("two.rsp", "design.bit -continue\n\n   \n-baud 12 extra words here\n");
    file_option("two.rsp");
    EXPECT_EQ(settings.continus_mode, 0);
    EXPECT_STREQ(settings.filename, "design.bit");
    EXPECT_EQ(settings.baudrate, 12);
}

TEST_F(Options, TabIsPartOfAToken)
{
    vt::write_file("t.rsp", "-driver\tvok_usb\n-mode sserial\t\n");
    file_option("t.rsp");
    EXPECT_STREQ(settings.dll_name, "vok_isp");
    EXPECT_EQ(settings.config_mode, MODE_BSCAN); // "sserial\t" is not a mode keyword
}

TEST_F(Options, LongLinesAreReadIn254CharacterPieces)
{
    std::string first = "-port 3bc";
    first.append(254 - first.size(), ' ');
    vt::write_file("long.rsp", first + "-baud 9600\n");
    vt::write_file("exact.rsp", "-baud 1\n" + std::string(254, ' ') + "\n");
    testing::internal::CaptureStderr();
    file_option("long.rsp");
    file_option("exact.rsp"); // 254 characters and its line end: not a long line
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Response file 'long.rsp', line 1: longer than 254 characters; each piece of it is read as a line "
              "of its own\n");
    EXPECT_EQ(settings.port_addr, 0x3BCu);
    EXPECT_EQ(settings.baudrate, 1);
    file_option("long.rsp");
    EXPECT_EQ(settings.baudrate, 9600); // third token of the physical line, but first of its piece

    set_defaults();
    std::string shorter = "-port 3bc";
    shorter.append(253 - shorter.size(), ' ');
    vt::write_file("long2.rsp", shorter + "-baud 9600\n");
    file_option("long2.rsp");
    EXPECT_EQ(settings.baudrate, 0); // fits in one piece: "-baud" is ignored
}

TEST_F(Options, CrLfLinesReadLikeLf)
{
    vt::write_file("w.rsp", "-driver Vok_USB\r\n-mode sserial\r\n-continue\r\nDesign\r\n");
    file_option("w.rsp");
    EXPECT_STREQ(settings.dll_name, "vok_usb");
    EXPECT_STREQ(settings.dll_name_typed, "Vok_USB");
    EXPECT_EQ(settings.config_mode, MODE_SSERIAL);
    EXPECT_EQ(settings.continus_mode, 1);
    EXPECT_STREQ(settings.filename, "design");
}

TEST_F(Options, NoCommentSyntax)
{
    vt::write_file("vokisp.rsp", "#\n");
    read_words({"design"});
    EXPECT_STREQ(settings.filename, "#.bit");
}

TEST_F(Options, SourcesOverrideInOrder)
{
    vt::write_file("opts.rsp", "-baud 2\n-driver fromf\n-target 3\n");
    vt::write_file("vokisp.rsp", "-baud 3\n");
    read_words({"-baud", "1", "-driver", "cmd", "-target", "1", "-f", "opts.rsp", "cmd"});
    EXPECT_EQ(settings.baudrate, 3);
    EXPECT_STREQ(settings.dll_name, "fromf");
    EXPECT_EQ(settings.bscan_tdo_chips, 3);
    EXPECT_STREQ(settings.filename, "cmd.bit");

    set_defaults();
    vt::write_file("vokisp.rsp", "fromdefault\n");
    read_words({"cmd.bit"});
    EXPECT_STREQ(settings.filename, "fromdefault.bit");
}

TEST_F(Options, OnlyNamesHoldingRspAreReadAndFInsideAFileReadsNothingMore)
{
    vt::write_file("opts.txt", "-baud 2\n");
    read_words({"-f", "opts.txt", "x"});
    EXPECT_EQ(settings.baudrate, 0);
    EXPECT_STREQ(settings.rsp_name, "opts.txt");

    set_defaults();
    vt::write_file("more.rsp", "-baud 5\n");
    vt::write_file("vokisp.rsp", "-f more.rsp\n");
    read_words({"x"});
    EXPECT_EQ(settings.baudrate, 0);
    EXPECT_STREQ(settings.rsp_name, "more.rsp");
}

TEST_F(Options, ResponseFileOpensUnderTheTypedNameFirst)
{
    vt::write_file("Opts.RSP", "-baud 7\n");
    read_words({"-f", "Opts.RSP", "x"});
    EXPECT_EQ(settings.baudrate, 7);
    set_defaults();
    vt::write_file("lower.rsp", "-baud 8\n");
    read_words({"-f", "LOWER.rsp", "x"});
    EXPECT_EQ(settings.baudrate, 8);
}

TEST_F(Options, NamesThatDoNotFitAreRefusedWithAMessage)
{
    testing::internal::CaptureStdout();
    read_words({"-driver", std::string(128, 'd'), "x"});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(option_name_error, 1);
    EXPECT_EQ(out, "Name too long for -driver: at most 127 characters\n");
    EXPECT_STREQ(settings.dll_name, "vok_isp");

    // File names take the platform's path length, never cut.
    const size_t longest = PATH_SIZE - 1;
    set_defaults();
    read_words({"-driver", std::string(127, 'd'), "-f", std::string(longest, 'f'), std::string(longest - 4, 'n')});
    EXPECT_EQ(option_name_error, 0);
    EXPECT_EQ(std::strlen(settings.dll_name), 127u);
    EXPECT_EQ(std::strlen(settings.rsp_name), longest);
    EXPECT_EQ(std::strlen(settings.filename), longest); // and ".bit"

    set_defaults();
    testing::internal::CaptureStdout();
    read_words({std::string(longest - 3, 'n')});
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(option_name_error, 1);
    EXPECT_EQ(out, "Name too long for the bitstream file name: at most " + std::to_string(longest - 4) +
                       " characters before \".bit\"\n");

    set_defaults();
    testing::internal::CaptureStdout();
    read_words({"-f", std::string(PATH_SIZE, 'r'), "x.bit"});
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(option_name_error, 1);
    EXPECT_EQ(out, "Name too long for -f: at most " + std::to_string(longest) + " characters\n");
}

// A response file is read up to 64 KiB: one that never ends cannot hold the run.
TEST_F(Options, ResponseFilesAreReadUpTo64KiB)
{
    std::string text = "ab\n";
    for (int i = 0; i < 8191; ++i)
        text += "-baud 1\n";
    vt::write_file("big.rsp", text + "-baud 2\n-baud 3\n"); // the limit cuts "-baud 2"
    ASSERT_EQ(::symlink("/dev/zero", "zero.rsp"), 0);
    testing::internal::CaptureStderr();
    file_option("big.rsp");
    file_option("zero.rsp");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(settings.baudrate, 1);
    EXPECT_NE(err.find("Response file 'big.rsp' is longer than 65536 bytes: the rest is ignored\n"), std::string::npos);
    EXPECT_NE(err.find("Response file 'zero.rsp' is longer than 65536 bytes"), std::string::npos) << err;
}

// Only a response file named with -f is missed aloud; the default one is optional.
TEST_F(Options, ResponseFileNamedWithFThatCannotBeOpenedIsNamed)
{
    testing::internal::CaptureStderr();
    read_words({"-f", "Nope.rsp", "x"});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Can't read response file 'Nope.rsp': No such file or directory\n");
}

TEST(Printable, ControlCharactersAndBrokenUtf8AreShownAsHex)
{
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"top.ncd", "top.ncd"},
        {"a\x1b[2Jb\x7f", "a\\x1B[2Jb\\x7F"},
        {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xf0\x9f\x98\x80"}, // two- and four-byte forms
        {"\xc3", "\\xC3"},                                              // cut short
        {"\xc0\x80", "\\xC0\\x80"},                                      // overlong
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},                              // surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},                      // above U+10FFFF
    };
    for (const auto &c : cases)
        EXPECT_EQ(printable(c.in.c_str()), c.out) << c.out;
    const char field[4] = {'a', 'b', 'c', 'd'}; // no NUL: the limit stops the read
    EXPECT_EQ(printable(field, sizeof field), "abcd");
}

} // namespace
