#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace sylvix::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it (read-only parts too) at the end of the scope.
class TempDir
{
public:
    TempDir() : m_path((std::filesystem::temp_directory_path() / "sylvix-test-XXXXXX").string())
    {
        if (!::mkdtemp(m_path.data()))
            throw std::runtime_error("cannot make a temporary directory");
    }
    ~TempDir()
    {
        std::error_code ec;
        // A test may have taken the write permission away.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &rel) const { return m_path + "/" + rel; }
    std::string operator/(const std::string &rel) const { return file(rel); }
    // Writes content to rel (making its folders); returns the full path.
    std::string write(const std::string &rel, const std::string &content) const
    {
        const std::filesystem::path p = std::filesystem::path(m_path) / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

private:
    std::string m_path;
};

// A file's bytes, "" when it cannot be read.
inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace sylvix::test
