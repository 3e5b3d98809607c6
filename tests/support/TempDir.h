#pragma once

#include <string>

namespace sylvix::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it (read-only parts too) at the end of the scope.
class TempDir
{
public:
    TempDir(); // throws std::runtime_error when none can be made
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &rel) const { return m_path + "/" + rel; }
    std::string operator/(const std::string &rel) const { return file(rel); }
    // Writes content to rel (making its folders); returns the full path.
    std::string write(const std::string &rel, const std::string &content) const;

private:
    std::string m_path;
};

std::string readFile(const std::string &path); // "" when it cannot be read

} // namespace sylvix::test
