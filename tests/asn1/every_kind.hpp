// One value of the test module that holds every kind, shared by the printer and BER tests.
#pragma once

#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

namespace asn1test
{

// A TM::Kinds with every field present, each holding a value of its own kind.
inline Value everyKind()
{
    return with<TM::Kinds>([](TM::Kinds& k) {
        k.set_boolean(true);
        k.set_integer(-5);
        k.set_minus128_127() = -1;
        k.set_byte256(255);
        k.set_enumerated(TM::ErrorCause::destroyInProgress);
        k.set_payload().setFromInt(2);
        k.set_standby().setFromInt(16);
        k.set_oid(static_cast<ASN1::OBJECT_IDENTIFIER&>(*asn1test::oid({1, 3, 6})));
        k.set_bits().resize(3);
        k.set_bits().getData()[0] = '\xa0';
        k.set_octets(asn1test::bytes("a0 01 ff"));
        k.set_numeric("12 3");
        k.set_printable("Hi");
        k.set_visible("~");
        k.set_ia5("a\"b");
        k.set_general();
        k.set_dname("host");
        k.set_bmp().assign(L"AB", 2);
        k.set_time().set("20070305143000Z");
        k.set_integers() = static_cast<ASN1::SEQUENCE_OF<ASN1::INTEGER>&>(*asn1test::integers({1, -1}));
        k.set_ints();
        k.set_nothing();
    });
}

} // namespace asn1test
