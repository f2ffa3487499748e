#include "platform/paths.hpp"

#include <cstdlib>

namespace Paths
{
namespace
{

std::string read_root()
{
    const char* value = std::getenv("QUELVAD_ROOT");
    std::string prefix = value ? value : "";
    while (prefix.size() > 1 && prefix.back() == '/')
        prefix.pop_back();
    if (prefix == "/")
        prefix.clear();
    return prefix;
}

// Never destroyed: the syslog client and the devices of file-level objects
// still resolve their paths while exit destroys the others.
std::string& current()
{
    static std::string& prefix = *new std::string(read_root());
    return prefix;
}

} // namespace

const std::string& root()
{
    return current();
}

void reload()
{
    current() = read_root();
}

std::string resolve(const std::string& fixed)
{
    const std::string& prefix = current();
    if (prefix.empty() || fixed.empty() || fixed[0] != '/')
        return fixed;
    return prefix + fixed;
}

} // namespace Paths
