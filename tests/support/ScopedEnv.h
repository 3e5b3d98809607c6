#pragma once

#include <optional>
#include <string>

namespace sylvix::test {

// Sets (or, with nullptr, removes) an environment variable for the scope,
// then puts back what was there.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

} // namespace sylvix::test
