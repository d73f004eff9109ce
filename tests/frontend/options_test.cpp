// Settings from the command line and response files.
#include <gtest/gtest.h>

#include <cstring>

#include "helpers.h"
#include "vokisp.h"
#include "vokusb.h"

namespace {

class Options : public ::testing::Test {
protected:
    void SetUp() override { set_defaults(); }

    // Runs the three sources over these words (the program name is added).
    void settings(std::vector<std::string> words)
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
    settings({"-PORT", "3BC", "-DRIVER", "Vok_USB", "-MODE", "SSERIAL", "Design.BIT"});
    EXPECT_EQ(port_addr, 0x3BCu);
    EXPECT_STREQ(dll_name, "vok_usb");
    EXPECT_STREQ(dll_name_typed, "Vok_USB");
    EXPECT_EQ(config_mode, MODE_SSERIAL);
    EXPECT_STREQ(filename, "design.bit");
    EXPECT_STREQ(filename_typed, "Design.BIT");
}

TEST_F(Options, TypedNameSurvivesBeingTheFollowingWordOfAnOption)
{
    // "-continue" takes one word; the next word was lower-cased as its argument.
    settings({"-continue", "MyDesign"});
    EXPECT_EQ(continus_mode, 1);
    EXPECT_STREQ(filename, "mydesign.bit");
    EXPECT_STREQ(filename_typed, "MyDesign.bit");
}

TEST_F(Options, HexPortWithOrWithoutPrefixAndBadNumbersKeepTheValue)
{
    settings({"-port", "0x3bc"});
    EXPECT_EQ(port_addr, 0x3BCu);
    set_defaults();
    settings({"-port", "xyz"});
    EXPECT_EQ(port_addr, 0u);
    set_defaults();
    settings({"-port", "278", "-port", "zz", "-baud", "9600", "-baud", "fast", "-target", "2",
              "-target", "x"});
    EXPECT_EQ(port_addr, 0x278u);
    EXPECT_EQ(baudrate, 9600);
    EXPECT_EQ(bscan_tdo_chips, 2);
}

TEST_F(Options, ModeKeywords)
{
    settings({"-mode", "sserlal", "a"});
    EXPECT_EQ(config_mode, MODE_BSCAN);
    EXPECT_STREQ(filename, "a.bit"); // the unknown keyword was still consumed
    settings({"-mode", "MSERIAL"});
    EXPECT_EQ(config_mode, MODE_MSERIAL);
    settings({"-mode", "sparalell"});
    EXPECT_EQ(config_mode, MODE_SPARALLEL);
    settings({"-mode", "bscan"});
    EXPECT_EQ(config_mode, MODE_BSCAN);
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
    EXPECT_EQ(config_mode, MODE_BSCAN);
}

TEST_F(Options, UnknownOptionLeavesItsArgumentToStandAlone)
{
    settings({"-bogus", "design", "other"});
    EXPECT_STREQ(filename, "other.bit"); // two plain words: the last one wins
    set_defaults();
    settings({"-bogus", "design"});
    EXPECT_STREQ(filename, "design.bit");
}

TEST_F(Options, OptionLastOnTheLineGetsAnEmptyArgument)
{
    settings({"a.bit", "-driver"});
    EXPECT_STREQ(dll_name, "");
    settings({"-baud"});
    EXPECT_EQ(baudrate, 0);
}

TEST_F(Options, BitCompletion)
{
    settings({"design"});
    EXPECT_STREQ(filename, "design.bit");
    set_defaults();
    settings({"a.bitx"});
    EXPECT_STREQ(filename, "a.bitx");
    set_defaults();
    settings({"-continue"});
    EXPECT_STREQ(filename, ".bit");
}

TEST_F(Options, ResponseFileTakesOneOptionPerLine)
{
    vt::write_file("one.rsp", "-continue design.bit\n");
    file_option("one.rsp");
    EXPECT_EQ(continus_mode, 1);
    EXPECT_STREQ(filename, "");
    set_defaults();
    vt::write_file("two.rsp", "design.bit -continue\n\n   \n-baud 12 extra words here\n");
    file_option("two.rsp");
    EXPECT_EQ(continus_mode, 0);
    EXPECT_STREQ(filename, "design.bit");
    EXPECT_EQ(baudrate, 12);
}

TEST_F(Options, TabIsPartOfAToken)
{
    vt::write_file("t.rsp", "-driver\tvok_usb\n-mode sserial\t\n");
    file_option("t.rsp");
    EXPECT_STREQ(dll_name, "vok_isp");
    EXPECT_EQ(config_mode, MODE_BSCAN); // "sserial\t" is not a mode keyword
}

TEST_F(Options, LongLinesAreReadIn254CharacterPieces)
{
    std::string first = "-port 3bc";
    first.append(254 - first.size(), ' ');
    vt::write_file("long.rsp", first + "-baud 9600\n");
    file_option("long.rsp");
    EXPECT_EQ(port_addr, 0x3BCu);
    EXPECT_EQ(baudrate, 9600); // third token of the physical line, but first of its piece

    set_defaults();
    std::string shorter = "-port 3bc";
    shorter.append(253 - shorter.size(), ' ');
    vt::write_file("long2.rsp", shorter + "-baud 9600\n");
    file_option("long2.rsp");
    EXPECT_EQ(baudrate, 0); // fits in one piece: "-baud" is ignored
}

TEST_F(Options, CrLfLinesReadLikeLf)
{
    vt::write_file("w.rsp", "-driver Vok_USB\r\n-mode sserial\r\n-continue\r\nDesign\r\n");
    file_option("w.rsp");
    EXPECT_STREQ(dll_name, "vok_usb");
    EXPECT_STREQ(dll_name_typed, "Vok_USB");
    EXPECT_EQ(config_mode, MODE_SSERIAL);
    EXPECT_EQ(continus_mode, 1);
    EXPECT_STREQ(filename, "design");
}

TEST_F(Options, NoCommentSyntax)
{
    vt::write_file("vokisp.rsp", "#\n");
    settings({"design"});
    EXPECT_STREQ(filename, "#.bit");
}

TEST_F(Options, SourcesOverrideInOrder)
{
    vt::write_file("opts.rsp", "-baud 2\n-driver fromf\n-target 3\n");
    vt::write_file("vokisp.rsp", "-baud 3\n");
    settings({"-baud", "1", "-driver", "cmd", "-target", "1", "-f", "opts.rsp", "cmd"});
    EXPECT_EQ(baudrate, 3);
    EXPECT_STREQ(dll_name, "fromf");
    EXPECT_EQ(bscan_tdo_chips, 3);
    EXPECT_STREQ(filename, "cmd.bit");

    set_defaults();
    vt::write_file("vokisp.rsp", "fromdefault\n");
    settings({"cmd.bit"});
    EXPECT_STREQ(filename, "fromdefault.bit");
}

TEST_F(Options, OnlyNamesHoldingRspAreReadAndFInsideAFileReadsNothingMore)
{
    vt::write_file("opts.txt", "-baud 2\n");
    settings({"-f", "opts.txt", "x"});
    EXPECT_EQ(baudrate, 0);
    EXPECT_STREQ(rsp_name, "opts.txt");

    set_defaults();
    vt::write_file("more.rsp", "-baud 5\n");
    vt::write_file("vokisp.rsp", "-f more.rsp\n");
    settings({"x"});
    EXPECT_EQ(baudrate, 0);
    EXPECT_STREQ(rsp_name, "more.rsp");
}

TEST_F(Options, ResponseFileOpensUnderTheTypedNameFirst)
{
    vt::write_file("Opts.RSP", "-baud 7\n");
    settings({"-f", "Opts.RSP", "x"});
    EXPECT_EQ(baudrate, 7);
    set_defaults();
    vt::write_file("lower.rsp", "-baud 8\n");
    settings({"-f", "LOWER.rsp", "x"});
    EXPECT_EQ(baudrate, 8);
}

TEST_F(Options, NamesThatDoNotFitAreRefusedWithAMessage)
{
    testing::internal::CaptureStdout();
    settings({"-driver", std::string(128, 'd'), "x"});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(option_name_error, 1);
    EXPECT_EQ(out, "Name too long for -driver: at most 127 characters\n");
    EXPECT_STREQ(dll_name, "vok_isp");

    set_defaults();
    settings({"-driver", std::string(127, 'd'), "-f", std::string(127, 'f'), std::string(123, 'n')});
    EXPECT_EQ(option_name_error, 0);
    EXPECT_EQ(std::strlen(dll_name), 127u);
    EXPECT_EQ(std::strlen(filename), 127u); // 123 characters and ".bit"

    set_defaults();
    testing::internal::CaptureStdout();
    settings({std::string(124, 'n')});
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(option_name_error, 1);
    EXPECT_EQ(out, "Name too long for the bitstream file name: at most 123 characters before \".bit\"\n");

    set_defaults();
    testing::internal::CaptureStdout();
    std::string piece = "-f " + std::string(200, 'r') + ".rsp\n";
    vt::write_file("vokisp.rsp", piece);
    settings({"x.bit"});
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(option_name_error, 1);
    EXPECT_EQ(out, "Name too long for -f: at most 127 characters\n");
}

} // namespace
