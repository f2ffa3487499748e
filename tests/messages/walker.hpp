// Seeded pseudo-random values of any generated type, walked through its descriptor:
// the message tests round-trip them and the codec benchmark builds its corpus from them.
#pragma once

#include "asn1/asn1.hpp"

#include <cstdint>
#include <vector>

namespace msgwalk
{

// A small deterministic generator, so a failure names a seed that reproduces it.
class Random
{
public:
    explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [lo, hi], both inclusive, over the full 64-bit span of the bounds.
    std::int64_t between(std::int64_t lo, std::int64_t hi)
    {
        std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
        std::uint64_t r = (static_cast<std::uint64_t>(next()) << 32) | next();
        return lo + static_cast<std::int64_t>(span == 0 ? r : r % span);
    }
    bool coin() { return (next() & 1) != 0; }

private:
    std::uint32_t state_;
};

// Values of an enumeration, read from its names table the way the runtime reads it.
std::vector<int> enumValues(ASN1::EnumInfo const* info);

// How the top-level value of one walk is shaped; below the top everything is random.
struct Plan {
    int alternative = -1; // CHOICE: this index; -1 random
    int optionals = -1;   // SEQUENCE: 0 all absent, 1 all present, -1 random
};

// Fills a value with random contents within its constraints; every value it makes has
// an aligned-PER encoding.
class Filler
{
public:
    explicit Filler(Random& random) : random_(random) {}
    void fill(ASN1::AbstractData& value, Plan const& plan = Plan());

private:
    void fillSequence(ASN1::SEQUENCE& seq, Plan const& plan);
    void fillChoice(ASN1::CHOICE& choice, Plan const& plan);
    void fillList(ASN1::SEQUENCE_OF_Base& list);

    Random& random_;
};

} // namespace msgwalk
