#pragma once

// A server for fuzz targets to resolve against: a small document tree in a
// fresh temporary directory and a store describing it (local paths, a
// redirect loop, program maps, types, an image map), opened as the model's
// configuration. Made once per process, removed at exit.

#include <string>
#include <string_view>

namespace sylvix::fuzz {

inline constexpr const char *kScratchHost = "www.fuzz.test";

class ScratchServer
{
public:
    // Builds the server on first use; aborts when it cannot, since every
    // run after that would test nothing.
    static ScratchServer &get();

    const std::string &dir() const { return m_dir; }
    // Whether path names something inside the scratch directory, so that
    // reading it cannot wander off into the machine's files.
    bool contains(std::string_view path) const;

    ScratchServer(const ScratchServer &) = delete;
    ScratchServer &operator=(const ScratchServer &) = delete;

private:
    ScratchServer();
    void build();

    std::string m_dir;
};

} // namespace sylvix::fuzz
