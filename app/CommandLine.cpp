#include "app/CommandLine.h"

namespace sylvix {

std::string treeUrl;
std::optional<std::string> remoteRegistryMachine;
std::optional<std::string> rootUrlArgument;
std::vector<std::string> commandWords;

std::string JoinArguments(int argc, const char *const *argv)
{
    std::string text;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            text += ' ';
        text += argv[i];
        if (text.size() > kCommandLineChars)
            break; // the rest would be cut anyway
    }
    return text;
}

void SplitCommandLine(const std::string &text)
{
    const std::string copy = text.substr(0, kCommandLineChars);
    commandWords.clear();
    size_t pos = 0;
    while (commandWords.size() < kMaxCommandWords && pos < copy.size()) {
        size_t blank = copy.find(' ', pos);
        if (blank == std::string::npos) {
            commandWords.push_back(copy.substr(pos));
            break;
        }
        commandWords.push_back(copy.substr(pos, blank - pos));
        pos = copy.find_first_not_of(' ', blank);
        if (pos == std::string::npos)
            pos = copy.size();
    }
}

ParseResult ParseCommandLine(const std::vector<std::string> &words)
{
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (w.size() >= 2 && (w[0] == '-' || w[0] == '/') && w[1] == 'r') {
            if (i + 1 >= words.size())
                return {"No remote server registry supplied for -r switch"};
            remoteRegistryMachine = words[++i].substr(0, kArgumentChars);
        } else {
            rootUrlArgument = w.substr(0, kArgumentChars);
        }
    }
    return {};
}

} // namespace sylvix
