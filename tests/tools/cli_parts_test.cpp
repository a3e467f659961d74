// The tool's parts: options, command lines, JSON strings and value text.
#include "tools/cli_options.h"
#include "tools/command_line.h"
#include "tools/event_text.h"
#include "tools/json_text.h"

#include <gtest/gtest.h>

using linkrelay::cli::CliOptions;
using linkrelay::cli::JsonObject;
using linkrelay::cli::jsonString;
using linkrelay::cli::jsonStringArray;
using linkrelay::cli::parseCliOptions;
using linkrelay::cli::parseNumber;
using linkrelay::cli::parseSeconds;
using linkrelay::cli::splitCommandLine;
using linkrelay::cli::valueText;
using linkrelay::cli::Word;

namespace {

TEST(CliOptions, GlobalOptionsAnywhereAndTheRestForTheCommand) {
    std::string error;
    const std::optional<CliOptions> options =
        parseCliOptions({"scan", "--json", "--seconds", "3", "--port", "9100", "--host", "::1",
                         "--timeout", "1.5", "--all"},
                        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->command, "scan");
    EXPECT_EQ(options->arguments, (std::vector<std::string>{"--seconds", "3", "--all"}));
    EXPECT_TRUE(options->json);
    EXPECT_EQ(options->port, 9100);
    EXPECT_EQ(options->host, "::1");
    EXPECT_EQ(options->timeout, std::chrono::milliseconds(1500));

    const std::optional<CliOptions> defaults = parseCliOptions({"status"}, error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->host, "127.0.0.1");
    EXPECT_EQ(defaults->port, 9089);
}

TEST(CliOptions, BadValuesAreReported) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--port"},
                                               {"--port", "65536"},
                                               {"--port", "12x"},
                                               {"--timeout", "soon"},
                                               {"--timeout", "-1"},
                                               {"--timeout", "nan"},
                                               {"--host", ""}}) {
        std::string error;
        EXPECT_FALSE(parseCliOptions(arguments, error)) << arguments[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(CommandLine, WordsQuotesAndComments) {
    std::string error;
    const std::optional<std::vector<Word>> words =
        splitCommandLine("  write\t1 \"a \\\"b\\\" \\\\c\" 0x01 ", error);
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), 4u);
    EXPECT_EQ((*words)[0].text, "write");
    EXPECT_EQ((*words)[2].text, "a \"b\" \\c");
    EXPECT_TRUE((*words)[2].quoted);
    EXPECT_FALSE((*words)[3].quoted);

    const std::optional<std::vector<Word>> empty = splitCommandLine("\"\"", error);
    ASSERT_TRUE(empty);
    ASSERT_EQ(empty->size(), 1u);
    EXPECT_EQ((*empty)[0].text, "");

    EXPECT_TRUE(splitCommandLine("  # connect AA", error)->empty());
    EXPECT_TRUE(splitCommandLine("", error)->empty());
    EXPECT_FALSE(splitCommandLine("write 1 \"open", error));
    EXPECT_EQ(error, "unterminated quote");
}

TEST(JsonText, EscapesWhatJsonCannotHoldAndKeepsUtf8) {
    EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(jsonString(std::string("\n\x01\x7f", 3)), R"("\u000a\u0001\u007f")");
    EXPECT_EQ(jsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    // A lone continuation byte, and a lead byte whose sequence is cut short.
    EXPECT_EQ(jsonString("a\x80z\xE2\x82"), R"("a\ufffdz\ufffd\ufffd")");
    EXPECT_EQ(JsonObject().add("n", int64_t{-3}).addRaw("l", jsonStringArray({"x"})).text(),
              R"({"n":-3,"l":["x"]})");
}

TEST(EventText, ValuesShowHexAndPrintableText) {
    EXPECT_EQ(valueText(std::vector<uint8_t>{'o', 'k'}), "0x6f6b \"ok\"");
    EXPECT_EQ(valueText(std::vector<uint8_t>{0x00, 0x41}), "0x0041");
    EXPECT_EQ(valueText(std::vector<uint8_t>{}), "0x");
}

TEST(CliOptions, SecondsAndNumbers) {
    EXPECT_EQ(parseSeconds("0.25"), std::chrono::milliseconds(250));
    EXPECT_EQ(parseSeconds("0"), std::chrono::milliseconds(0));
    EXPECT_FALSE(parseSeconds("1e9"));
    EXPECT_FALSE(parseSeconds(""));
    EXPECT_EQ(parseNumber("255", 0, 255), 255);
    EXPECT_FALSE(parseNumber("256", 0, 255));
    EXPECT_FALSE(parseNumber("1a", 0, 255));
}

} // namespace
