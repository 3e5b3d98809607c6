#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace sylvix;

using Words = std::vector<std::string>;

TEST(CommandLine, SplitsAtBlanksOnlyWithinTheWordAndLengthCaps)
{
    std::string many = "sylvix";
    Words firstWords{"sylvix"};
    for (int i = 1; i < 40; ++i) {
        many += " w" + std::to_string(i);
        if (firstWords.size() < kMaxCommandWords)
            firstWords.push_back("w" + std::to_string(i));
    }
    const std::pair<std::string, Words> cases[] = {
        {"sylvix -r m   u ", {"sylvix", "-r", "m", "u"}},
        {"", {}},
        {many, firstWords},
        {"sylvix " + std::string(600, 'x'), {"sylvix", std::string(kCommandLineChars - 7, 'x')}},
    };
    for (const auto &[text, words] : cases) {
        SplitCommandLine(text);
        EXPECT_EQ(commandWords, words) << text;
    }
}

// (A "-r" without a machine is a start-up error, checked with the others.)
TEST(CommandLine, ParsesRemoteAndUrl)
{
    const struct
    {
        Words words;
        std::optional<std::string> machine;
        std::optional<std::string> url;
    } cases[] = {
        {{"sylvix"}, {}, {}},
        {{"sylvix", "http://a/", "http://b/"}, {}, "http://b/"},
        {{"sylvix", "-r", "gale", "http://a/"}, "gale", "http://a/"},
        {{"sylvix", "/r", "gale"}, "gale", {}},
        {{"sylvix", "-remote", "gale"}, "gale", {}},
        {{"sylvix", "u", "-r", "-r"}, "-r", "u"},
        // Long words are cut.
        {{"sylvix", std::string(400, 'u'), "-r", std::string(300, 'm')},
         std::string(kArgumentChars, 'm'),
         std::string(kArgumentChars, 'u')},
    };
    for (const auto &c : cases) {
        remoteRegistryMachine.reset();
        rootUrlArgument.reset();
        EXPECT_TRUE(ParseCommandLine(c.words).error.empty());
        EXPECT_EQ(remoteRegistryMachine, c.machine) << c.words.back();
        EXPECT_EQ(rootUrlArgument, c.url) << c.words.back();
    }
}
