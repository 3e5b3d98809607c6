#include "tests/support/ScopedEnv.h"

#include <cstdlib>

namespace sylvix::test {

ScopedEnv::ScopedEnv(const char *name, const char *value) : m_name(name)
{
    if (const char *old = std::getenv(name))
        m_old = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    m_old ? ::setenv(m_name.c_str(), m_old->c_str(), 1) : ::unsetenv(m_name.c_str());
}

} // namespace sylvix::test
