#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace sylvix::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    m_path = (fs::temp_directory_path() / "sylvix-test-XXXXXX").string();
    if (!::mkdtemp(m_path.data()))
        throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ec;
    // A test may have taken the write permission away.
    fs::permissions(m_path, fs::perms::owner_all, ec);
    fs::remove_all(m_path, ec);
}

std::string TempDir::write(const std::string &rel, const std::string &content) const
{
    const fs::path p = fs::path(m_path) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace sylvix::test
