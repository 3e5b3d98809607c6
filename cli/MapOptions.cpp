#include "cli/MapOptions.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace sylvix::map {

const char *const kUsage
    = "usage: sylvix-map [options] [URL]\n"
      "Builds the site tree of URL (default: the server's home page) from the\n"
      "server configuration in the store ($NORVANE_REGISTRY) and prints it.\n"
      "\n"
      "  -d, --depth N         show the tree N levels deep (default 2; with --whole: all)\n"
      "  -w, --whole           examine every page reachable from the root\n"
      "  -s, --show MODE       row text: hyperlink, file, title, label, url (default url)\n"
      "  -f, --format FORMAT   tree, json, csv, sarif or summary (default tree)\n"
      "  -b, --broken          list only broken links: FILE:LINE: URL (why)\n"
      "  -j, --jobs N          parse documents ahead on N threads (default: cores)\n"
      "      --no-diagnostics  links only: skip the markup check\n"
      "  -x, --check-external  check external http links over HTTP\n"
      "      --no-check-external  never touch the network\n"
      "      --answer yes|no   answer to questions asked while checking (default no)\n"
      "  -r, --remote MACHINE  read the server configuration of another machine\n"
      "      --store PATH      configuration store to use\n"
      "  -q, --quiet           no progress on stderr\n"
      "  -h, --help            this text\n"
      "\n"
      "Exit status: 0 nothing broken, 1 broken links found, 2 usage or configuration error.\n";

namespace {

enum LongOnly {
    OptNoCheckExternal = 256,
    OptAnswer,
    OptStore,
    OptLiteral,
    OptNoDiagnostics,
};

const option kLongOptions[] = {
    {"depth", required_argument, nullptr, 'd'},
    {"whole", no_argument, nullptr, 'w'},
    {"show", required_argument, nullptr, 's'},
    {"format", required_argument, nullptr, 'f'},
    {"broken", no_argument, nullptr, 'b'},
    {"jobs", required_argument, nullptr, 'j'},
    {"check-external", no_argument, nullptr, 'x'},
    {"no-check-external", no_argument, nullptr, OptNoCheckExternal},
    {"answer", required_argument, nullptr, OptAnswer},
    {"remote", required_argument, nullptr, 'r'},
    {"store", required_argument, nullptr, OptStore},
    {"quiet", no_argument, nullptr, 'q'},
    {"no-diagnostics", no_argument, nullptr, OptNoDiagnostics},
    {"literal", no_argument, nullptr, OptLiteral},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number within [lo, hi].
bool number(const char *text, long lo, long hi, long &out)
{
    char *end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && out >= lo && out <= hi;
}

bool parseMode(const std::string &s, int &mode)
{
    static const char *const names[] = {"hyperlink", "file", "title", "label", "url"};
    for (int i = 0; i < 5; ++i)
        if (s == names[i] || (i == 1 && s == "filename")) {
            mode = i;
            return true;
        }
    return false;
}

bool parseFormat(const std::string &s, Format &format)
{
    static const struct
    {
        const char *name;
        Format format;
    } formats[] = {{"tree", Format::Tree},
                   {"json", Format::Json},
                   {"csv", Format::Csv},
                   {"sarif", Format::Sarif},
                   {"summary", Format::Summary}};
    for (const auto &f : formats)
        if (s == f.name) {
            format = f.format;
            return true;
        }
    return false;
}

// The message for an option that lacks its value.
std::string missingValue(int opt)
{
    switch (opt) {
    case 'd': return "--depth needs a number";
    case 'j': return "--jobs needs a number";
    case 's': return "--show takes hyperlink, file, title, label or url";
    case 'f': return "--format needs a value";
    case 'r': return "No remote server registry supplied for -r switch";
    case OptAnswer: return "--answer takes yes or no";
    case OptStore: return "--store needs a path";
    default: return "an option needs a value";
    }
}

} // namespace

ParseResult ParseOptions(int argc, char **argv, Options &o, std::string &error)
{
    optind = 0; // a fresh scan, also when called more than once
    opterr = 0;
    long n = 0;
    for (;;) {
        int longIndex = -1;
        int c = getopt_long(argc, argv, ":d:ws:f:bj:xr:qh", kLongOptions, &longIndex);
        if (c == -1)
            break;
        const std::string value = optarg ? optarg : "";
        switch (c) {
        case 'h': return ParseResult::Help;
        case 'w': o.whole = true; break;
        case 'd':
            if (!number(optarg, 1, 1000000, n)) {
                error = "--depth needs a number from 1 up, not '" + value + "'";
                return ParseResult::Error;
            }
            o.depth = static_cast<int>(n);
            o.depthGiven = true;
            break;
        case 's':
            if (!parseMode(value, o.mode)) {
                error = missingValue('s');
                return ParseResult::Error;
            }
            break;
        case 'f':
            if (!parseFormat(value, o.format)) {
                error = "--format takes tree, json, csv, sarif or summary, not '" + value + "'";
                return ParseResult::Error;
            }
            break;
        case 'b': o.brokenOnly = true; break;
        case 'j':
            if (!number(optarg, 1, 256, n)) {
                error = "--jobs needs a number from 1 to 256, not '" + value + "'";
                return ParseResult::Error;
            }
            o.jobs = static_cast<unsigned>(n);
            break;
        case 'x': o.checkExternal = 1; break;
        case OptNoCheckExternal: o.checkExternal = 0; break;
        case OptAnswer:
            if (value != "yes" && value != "no") {
                error = missingValue(OptAnswer);
                return ParseResult::Error;
            }
            o.answerYes = value == "yes";
            break;
        case 'r': o.machine = value; break;
        case OptStore: o.store = value; break;
        case 'q': o.quiet = true; break;
        case OptNoDiagnostics: o.diagnostics = false; break;
        case OptLiteral: o.literal = true; break;
        case ':': error = missingValue(optopt); return ParseResult::Error;
        default: {
            std::string word = optopt ? std::string("-") + static_cast<char>(optopt)
                                      : std::string(argv[optind - 1]);
            error = "unknown option '" + word + "'";
            return ParseResult::Error;
        }
        }
    }
    for (int i = optind; i < argc; ++i) {
        if (o.hasUrl) {
            error = "only one URL, please";
            return ParseResult::Error;
        }
        o.url = argv[i];
        o.hasUrl = true;
    }
    if (o.jobs == 0)
        o.jobs = std::max(1u, std::thread::hardware_concurrency());
    return ParseResult::Run;
}

} // namespace sylvix::map
