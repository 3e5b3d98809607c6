#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace sylvix;

TEST(CommandLine, SplitsAtBlanksOnly)
{
    struct Case
    {
        std::string text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"sylvix", {"sylvix"}},
        {"sylvix  http://h/", {"sylvix", "http://h/"}},
        {"sylvix\thttp://h/", {"sylvix\thttp://h/"}},
        {" sylvix", {"", "sylvix"}},
        {"sylvix -r m   u ", {"sylvix", "-r", "m", "u"}},
        {"\"C:/Program Files/sylvix\" u", {"\"C:/Program", "Files/sylvix\"", "u"}},
        {"", {}},
    };
    for (const Case &c : cases) {
        SplitCommandLine(c.text);
        EXPECT_EQ(commandWords, c.words) << c.text;
    }
}

TEST(CommandLine, KeepsTheWordAndLengthCaps)
{
    std::string many = "sylvix";
    for (int i = 1; i < 40; ++i)
        many += " w" + std::to_string(i);
    SplitCommandLine(many);
    ASSERT_EQ(commandWords.size(), kMaxCommandWords);
    EXPECT_EQ(commandWords.back(), "w31");

    SplitCommandLine("sylvix " + std::string(600, 'x'));
    ASSERT_EQ(commandWords.size(), 2u);
    EXPECT_EQ(commandWords[1].size(), kCommandLineChars - 7);

    // argv arrives split; joined, it is cut as the process's command line.
    const char *argv[] = {"sylvix", "a", "b"};
    EXPECT_EQ(JoinArguments(3, argv), "sylvix a b");
}

TEST(CommandLine, ParsesRemoteAndUrl)
{
    struct Case
    {
        std::vector<std::string> words;
        std::optional<std::string> machine;
        std::optional<std::string> url;
    };
    const Case cases[] = {
        {{"sylvix"}, {}, {}},
        {{"sylvix", "http://a/", "http://b/"}, {}, "http://b/"},
        {{"sylvix", "-r", "gale", "http://a/"}, "gale", "http://a/"},
        {{"sylvix", "/r", "gale"}, "gale", {}},
        {{"sylvix", "-remote", "gale"}, "gale", {}},
        {{"sylvix", "-R", "gale"}, {}, "gale"},
        {{"sylvix", "u", "-r", "-r"}, "-r", "u"},
    };
    for (const Case &c : cases) {
        remoteRegistryMachine.reset();
        rootUrlArgument.reset();
        EXPECT_TRUE(ParseCommandLine(c.words).error.empty());
        EXPECT_EQ(remoteRegistryMachine, c.machine) << c.words.back();
        EXPECT_EQ(rootUrlArgument, c.url) << c.words.back();
    }
}

TEST(CommandLine, RemoteWithoutNameIsAnErrorAndLongWordsAreCut)
{
    EXPECT_EQ(ParseCommandLine({"sylvix", "http://a/", "-r"}).error,
              "No remote server registry supplied for -r switch");

    rootUrlArgument.reset();
    remoteRegistryMachine.reset();
    EXPECT_TRUE(ParseCommandLine({"sylvix", std::string(400, 'u'), "-r", std::string(300, 'm')})
                    .error.empty());
    EXPECT_EQ(rootUrlArgument->size(), kArgumentChars);
    EXPECT_EQ(remoteRegistryMachine->size(), kArgumentChars);
}
