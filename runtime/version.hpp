#pragma once
// The build record. Start-up prints its tag in the banner and in the daemon's
// syslog identity, the status dump and the monitoring service report it.
#include <ostream>

class Version
{
public:
    // Fixed underlying type: a record from elsewhere may carry any number.
    enum Type : int { snapshot = 0, test = 1, release = 2, unit_test = 3 };

    constexpr Version(Type kind, int number, const char* branch, const char* login, const char* date,
                      const char* tag, const char* arch)
        : mKind(kind), mNumber(number), mBranch(branch), mLogin(login), mDate(date), mTag(tag), mArch(arch)
    {
        update();
    }

    // Nothing to refresh: the record is fixed at build time.
    constexpr void update() {}

    Type kind() const { return mKind; }
    int number() const { return mNumber; }
    const char* branch() const { return mBranch; }
    const char* login() const { return mLogin; }
    const char* date() const { return mDate; }
    const char* tag() const { return mTag; }
    const char* arch() const { return mArch; }

    // The tag only.
    void put(std::ostream& os) const;

    // The daemon's own record; constant-initialised, so it can be printed
    // from any static constructor.
    static const Version current;

private:
    Type mKind;
    int mNumber;
    const char* mBranch;
    const char* mLogin;
    const char* mDate;
    const char* mTag;
    const char* mArch;
};

std::ostream& operator<<(std::ostream& os, const Version& version);

// "snapshot", "test", "release", "unit-test"; "unknown" for anything else.
const char* version_string(Version::Type kind);
// "S", "T" (test and unit-test), "R"; "U" for anything else.
const char* version_suffix(Version::Type kind);
std::ostream& operator<<(std::ostream& os, Version::Type kind);
