"""Tests of the C++ emitter and the generator's command line: a small module in,
the expected declarations and descriptor tables out."""

import atexit
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
GEN = os.path.join(ROOT, 'tools', 'asn1gen', 'asn1gen.py')

MODULE = '''-- a small module using every form the generator knows
T DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
IMPORTS Other, Rec FROM U;
Msg ::= SEQUENCE {
    seq INTEGER OPTIONAL,
    slot-no INTEGER (0..1023),
    name IA5String (SIZE (1..64)) OPTIONAL,
    pdu Pdu,
    list Other,
    inner SEQUENCE { a-b BOOLEAN },
    rec Rec,
    ...,
    later Kind OPTIONAL
}
Pdu ::= CHOICE { ping NULL, value INTEGER, info BOOLEAN, ..., ed-137 Kind }
Kind ::= ENUMERATED { first, second-one, big(5), next, ... }
Plain ::= ENUMERATED { zero, one }
END
'''
OTHER = '''U DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
Other ::= SET OF OCTET STRING
Rec ::= SEQUENCE { b OCTET STRING }
END
'''


def generate(texts, registry=False):
    d = tempfile.mkdtemp()
    atexit.register(shutil.rmtree, d, True)
    paths = []
    for name, text in texts.items():
        p = os.path.join(d, name)
        with open(p, 'w') as f:
            f.write(text)
        paths.append(p)
    out = os.path.join(d, 'out')
    cmd = [sys.executable, '-B', GEN, '--out', out] + (['--registry', os.path.join(out, 'reg.cpp')] if registry else [])
    r = subprocess.run(cmd + paths, capture_output=True, text=True)
    return r, out


class Emit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        r, out = generate({'T.asn': MODULE, 'U.asn': OTHER}, registry=True)
        assert r.returncode == 0, r.stderr
        def read(*parts):
            with open(os.path.join(out, *parts)) as f:
                return f.read()
        cls.hpp, cls.cpp = read('messages', 't', 'T.hpp'), read('messages', 't', 'T.cpp')
        cls.fwd, cls.fwd_u = read('messages', 't', 'T_fwd.hpp'), read('messages', 'u', 'U_fwd.hpp')
        cls.reg = read('reg.cpp')

    def test_header_declarations(self):
        # Each line must appear in the header or its forward header as written.
        for line in [
            '#include "messages/u/U.hpp"',
            'class Msg : public ASN1::SEQUENCE {',
            'class Pdu : public ASN1::CHOICE {',
            'class Kind : public ASN1::ENUMERATED {',
            'class Msg_inner : public ASN1::SEQUENCE {',
            '  enum NamedNumber { first = 0, second_one = 1, big = 5, next = 6 };',
            '  enum NamedNumber { zero = 0, one = 1 };',
            '  struct name {',
            '      static const ASN1::StringInfo theInfo;',
            '  void set_seq(int v);',
            '  void omit_seq();',
            '  void set_slot_no(unsigned int v);',
            '  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u> const& get_slot_no() const;',
            '  void set_name(std::string const& v);',
            '  ASN1::SET_OF< ASN1::OCTET_STRING, ASN1::EmptyConstraint>& set_list();',
            '  void set_later(T::Kind::NamedNumber v);',
            '    enum Id { value = 0 };',
            '    enum Id { value_ = 1 };',
            '    enum Id { value = 3 };',
            '  using ASN1::CHOICE::info;',
            '  Pdu(ed_137::Id, T::Kind::NamedNumber v);',
            '  Pdu(ping::Id, ASN1::Null const& v);',
            '  bool ed_137_isSelected() const;',
            '  ASN1::INTEGER& select_value();',
            '  void set_second_one();',
            '  bool is_big() const;',
            '  Kind(NamedNumber v);',
        ]:
            self.assertIn(line + '\n', self.hpp + self.fwd)
        # Optional fields only get omit_/_isPresent.
        self.assertNotIn('omit_pdu', self.hpp)
        self.assertNotIn('slot_no_isPresent', self.hpp)
        # Enumerations come before the classes whose setters name their NamedNumber.
        self.assertLess(self.hpp.index('#include "messages/t/T_fwd.hpp"'), self.hpp.index('class Msg '))

    def test_forward_header(self):
        # Constructed classes declared only, enumerations complete, no other module pulled in.
        for line in ['#include "asn1/primitives.hpp"', 'class Msg;', 'class Msg_inner;', 'class Pdu;',
                     'class Kind : public ASN1::ENUMERATED {', '  operator NamedNumber() const;']:
            self.assertIn(line + '\n', self.fwd)
        for text in ['class Msg :', 'class Kind;', 'messages/u/', 'asn1/constructed.hpp']:
            self.assertNotIn(text, self.fwd)
        # Each enumeration is defined once, in the forward header.
        self.assertNotIn('class Kind', self.hpp)
        # A module without enumerations needs nothing of asn1.
        self.assertIn('class Rec;\n', self.fwd_u)
        self.assertNotIn('#include', self.fwd_u)

    def test_descriptor_tables(self):
        for line in [
            'ASN1::TypeInfo const* const Msg_fieldInfos[] = {&ASN1::INTEGER::theInfo, '
            '&ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u>::theInfo, &T::Msg::name::value_type::theInfo, '
            '&T::Pdu::theInfo, &ASN1::SET_OF< ASN1::OCTET_STRING, ASN1::EmptyConstraint>::theInfo, '
            '&T::Msg_inner::theInfo, &U::Rec::theInfo, &T::Kind::theInfo};',
            'const char* const Msg_fieldNames[] = {"seq", "slot-no", "name", "pdu", "list", "inner", "rec", "later"};',
            'const std::int32_t Msg_fieldIds[] = {0, -1, 1, -1, -1, -1, -1};',
            'const ASN1::SequenceInfo Msg::theInfo = {{&create_Msg, 16}, true, Msg_fieldInfos, Msg_fieldIds, '
            '7, 1, 2, nullptr, nullptr, Msg_fieldNames};',
            'const ASN1::StringInfo Msg::name::value_type::theInfo = '
            '{{{&ASN1::IA5String::create, 22}, ASN1::FixedConstraint, 1, 64u}, nullptr, 128, 7, 7, 8};',
            'const char* const Msg_inner_fieldNames[] = {"a-b"};',
            'const ASN1::ChoiceInfo Pdu::theInfo = {{&create_Pdu, 0}, true, Pdu_selectionInfos, 3, 4, nullptr, '
            'Pdu_selectionNames};',
            'const char* const Pdu_selectionNames[] = {"ping", "value", "info", "ed-137"};',
            'const char* const Kind_enum_names__[] = {"first", "second-one", "big=5", "next"};',
            'const ASN1::EnumInfo Kind::theInfo = {{&create_Kind, 10}, true, 6, Kind_enum_names__, 4};',
            'const ASN1::EnumInfo Plain::theInfo = {{&create_Plain, 10}, false, 1, Plain_enum_names__, 2};',
            # The extension addition continues the optional numbering after the root's two.
            'T::Kind& Msg::set_later() { return optional_ref<T::Kind>(2, 7); }',
            'ASN1::AbstractData* create_Msg(ASN1::TypeInfo const* info) { return new Msg(info); }',
        ]:
            self.assertIn(line + '\n', self.cpp)

    def test_registry_lists_every_type(self):
        for line in ['{"T", "Msg", "SEQUENCE", &::T::Msg::theInfo},',
                     '{"T", "Msg::name::value_type", "IA5String", &::T::Msg::name::value_type::theInfo},',
                     '{"T", "Msg_inner", "SEQUENCE", &::T::Msg_inner::theInfo},',
                     '{"U", "Rec", "SEQUENCE", &::U::Rec::theInfo},']:
            self.assertIn(line, self.reg)
        self.assertEqual(self.reg.count('&::'), 7)

    def test_only_the_three_parameter_choices_accept_unknown_alternatives(self):
        accepting = ['CreateParams', 'IoctlParams', 'DisplayParams']
        names = accepting + ['Command', 'VADParams']
        lgcp = ('LGCP DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n'
                + ''.join('%s ::= CHOICE { ping NULL, ... }\n' % n for n in names) + 'END\n')

        def descriptor(name, accepts):
            return ('const ASN1::ChoiceInfo %s::theInfo = {{&create_%s, 0}, true, %s_selectionInfos, 1, 1, '
                    'nullptr, %s_selectionNames%s};\n' % (name, name, name, name, ', true' if accepts else ''))

        r, out = generate({'LGCP.asn': lgcp})
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(out, 'messages', 'lgcp', 'LGCP.cpp')) as f:
            cpp = f.read()
        for name in names:
            self.assertIn(descriptor(name, name in accepting), cpp)
        # The same names in another module are ordinary CHOICE types.
        r, out = generate({'X.asn': lgcp.replace('LGCP', 'X')})
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(out, 'messages', 'x', 'X.cpp')) as f:
            cpp = f.read()
        for name in names:
            self.assertIn(descriptor(name, False), cpp)


class CommandLine(unittest.TestCase):
    def test_malformed_text_names_file_and_line(self):
        r, _ = generate({'T.asn': MODULE.replace('slot-no INTEGER (0..1023),', 'slot-no INTEGER (0..1023)')})
        self.assertEqual(r.returncode, 1)
        self.assertRegex(r.stderr, r'^asn1gen: .*T\.asn:8: expected ","')

    def test_alternative_clashing_with_a_generated_member(self):
        r, _ = generate({'T.asn': MODULE.replace('ping NULL,', 'clone NULL,'), 'U.asn': OTHER})
        self.assertEqual(r.returncode, 1)
        self.assertIn('alternative "clone" of Pdu clashes with a generated member', r.stderr)

    def test_rerun_leaves_unchanged_files_alone(self):
        r, out = generate({'T.asn': MODULE, 'U.asn': OTHER})
        self.assertEqual(r.returncode, 0, r.stderr)
        hpp = os.path.join(out, 'messages', 't', 'T.hpp')
        os.utime(hpp, (1000000000, 1000000000))
        d = os.path.dirname(out)
        r = subprocess.run([sys.executable, '-B', GEN, '--out', out, os.path.join(d, 'T.asn'),
                            os.path.join(d, 'U.asn')], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.stat(hpp).st_mtime, 1000000000)


if __name__ == '__main__':
    unittest.main()
