#pragma once

// The command line of sylvix-map.

#include <string>

namespace sylvix::map {

enum class Format { Tree, Json, Csv, Sarif, Summary };

struct Options
{
    std::string url;
    bool hasUrl = false;
    bool whole = false;
    int depth = 2;
    bool depthGiven = false;
    int mode = 4; // 0 hyperlink, 1 file name, 2 title, 3 label, 4 URL
    Format format = Format::Tree;
    bool brokenOnly = false;
    unsigned jobs = 0; // 0: one per core
    std::string machine;
    std::string store;
    int checkExternal = -1; // -1: as configured
    bool answerYes = false;
    bool quiet = false;
    bool diagnostics = true;
    bool literal = false;
};

enum class ParseResult { Run, Help, Error };

// Reads argv into options; on Error, error says why.
ParseResult ParseOptions(int argc, char **argv, Options &options, std::string &error);

extern const char *const kUsage;

} // namespace sylvix::map
