#pragma once
// Every fixed path of the board (configuration file, pid file, status dump,
// devices, /proc, voice files, helper programs) is resolved here. When the
// environment variable QUELVAD_ROOT is set it is put in front of the path, so
// a test or a development run keeps all its files under a private directory.
#include <string>

namespace Paths
{

// "/var/run/server.pid" -> "$QUELVAD_ROOT/var/run/server.pid" (or unchanged).
std::string resolve(const std::string& fixed);

// The prefix in force ("" when QUELVAD_ROOT is unset or empty).
const std::string& root();

// Re-reads QUELVAD_ROOT; for tests that change the variable at run time.
void reload();

} // namespace Paths
