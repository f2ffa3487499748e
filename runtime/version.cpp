#include "runtime/version.hpp"

const Version Version::current(Version::snapshot, 0, "", "", "2023-06-30 19:20", "T230630-1920", "ppc");

void Version::put(std::ostream& os) const
{
    os << mTag;
}

std::ostream& operator<<(std::ostream& os, const Version& version)
{
    version.put(os);
    return os;
}

const char* version_string(Version::Type kind)
{
    switch (kind) {
    case Version::snapshot:
        return "snapshot";
    case Version::test:
        return "test";
    case Version::release:
        return "release";
    case Version::unit_test:
        return "unit-test";
    }
    return "unknown";
}

const char* version_suffix(Version::Type kind)
{
    switch (kind) {
    case Version::snapshot:
        return "S";
    case Version::test:
    case Version::unit_test:
        return "T";
    case Version::release:
        return "R";
    }
    return "U";
}

std::ostream& operator<<(std::ostream& os, Version::Type kind)
{
    return os << version_string(kind);
}
