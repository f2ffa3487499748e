// Every generated type's descriptor, so tests can walk all of them without naming each.
#pragma once

#include "asn1/abstract_data.hpp"

namespace messages
{

struct RegistryEntry {
    char const* module;
    char const* name; // the class, or "<Class>::<field>::value_type" for a string subtype
    char const* kind; // "SEQUENCE", "CHOICE", "ENUMERATED" or "IA5String"
    ASN1::TypeInfo const* info;
};

extern const RegistryEntry registry[];
extern const unsigned registrySize;

} // namespace messages
