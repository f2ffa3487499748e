"""Tests of the module-text reader: the real modules' figures, and malformed texts."""

import glob
import os
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'asn1gen'))

import parser as asn  # noqa: E402


def load_real():
    return asn.load(sorted(glob.glob(os.path.join(ROOT, 'messages', '*', '*.asn'))))


def load_text(text, name='T.asn'):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, name)
        with open(path, 'w') as f:
            f.write(text)
        return asn.load([path])['T']


class RealModules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.mods = load_real()

    def test_extensible_types_and_explicit_enumerations(self):
        # module: (extensible types, enumerations with explicit values)
        table = {'LGCP': (40, 0), 'TERM': (115, 5), 'LEMZGW': (138, 16), 'ACP': (24, 0),
                 'HSP': (19, 2), 'MON': (16, 0), 'MEDIA': (2, 0), 'BASE': (0, 0), 'CCP': (0, 0)}
        for name, (ext, explicit) in table.items():
            classes = self.mods[name].classes
            self.assertEqual(sum(c.extendable for c in classes), ext, name)
            self.assertEqual(sum(c.kind == 'ENUMERATED' and c.explicit_values() for c in classes),
                             explicit, name)

    def test_extension_additions(self):
        got = sorted((c.module, c.name, len(c.additions))
                     for m in self.mods.values() for c in m.classes if c.additions)
        self.assertEqual(got, [('ACP', 'AcpCommand', 11), ('ACP', 'AcpResponse', 7),
                               ('LGCP', 'TonecCode', 1), ('TERM', 'ISDN_NumberType', 1),
                               ('TERM', 'TermParams', 13)])

    def test_field_and_enumerator_totals(self):
        classes = [c for m in self.mods.values() for c in m.classes]
        self.assertEqual(sum(len(c.root) + len(c.additions) for c in classes if c.kind != 'ENUMERATED'), 1622)
        self.assertEqual(sum(len(c.root) for c in classes if c.kind == 'ENUMERATED'), 574)
        self.assertEqual(sum(f.optional for c in classes if c.kind == 'SEQUENCE'
                             for f in c.root + c.additions), 163)


class Malformed(unittest.TestCase):
    HEAD = 'T DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n'

    def test_rejected_with_file_and_line(self):
        # (body after the head, line of the fault, words of the message)
        table = [
            ('A ::= SEQUENCE { a INTEGER, a BOOLEAN }\nEND\n', 3, '"a" appears twice in A'),
            ('A ::= SEQUENCE {\n a INTEGER\n b BOOLEAN }\nEND\n', 5, 'expected ","'),
            ('A ::= CHOICE { a NULL, ..., b NULL, ... }\nEND\n', 3, 'second extension marker'),
            ('A ::= SEQUENCE { a B }\nEND\n', 3, 'unknown type "B"'),
            ('A ::= INTEGER\nA ::= BOOLEAN\nEND\n', 4, 'type "A" defined twice'),
            ('A ::= ENUMERATED { x, y, x }\nEND\n', 3, '"x" appears twice in A'),
            ('A ::= ENUMERATED { }\nEND\n', 3, 'expected an enumerator'),
            ('A ::= SEQUENCE { a INTEGER (5..1) }\nEND\n', 3, 'empty range 5..1'),
            ('\n\nA ::= SEQUENCE { a # }\nEND\n', 5, "unexpected character '#'"),
            ('A ::= SEQUENCE { a INTEGER, ..., b INTEGER }\nEND\n', 3, 'must be OPTIONAL'),
            ('A ::= CHOICE { a INTEGER OPTIONAL }\nEND\n', 3, 'cannot be OPTIONAL'),
            ('A ::= SEQUENCE { a SEQUENCE OF SEQUENCE { b NULL } }\nEND\n', 3,
             'inline element type'),
            ('A ::= SEQUENCE { a INTEGER }\n', 4, 'expected a type assignment, found end of text'),
            ('A ::= SEQUENCE { A INTEGER }\nEND\n', 3, 'expected a field name'),
            ('A ::= B\nB ::= A\nEND\n', 3, 'refers to itself'),
            ('IMPORTS X FROM U;\nEND\n', 0, 'unknown module "U"'),
            ('A ::= SEQUENCE OF B\nB ::= SET OF NULL\nEND\n', 3, 'element type of a list is not supported'),
        ]
        for body, line, words in table:
            with self.subTest(body=body):
                with self.assertRaises(asn.AsnError) as cm:
                    load_text(self.HEAD + body)
                text = str(cm.exception)
                self.assertIn(words, text)
                self.assertTrue(text.split(':')[0].endswith('T.asn'), text)
                if line:
                    self.assertEqual(text.split(':')[1], str(line), text)

    def test_head_required(self):
        for text, words in [('T DEFINITIONS ::= BEGIN END', 'only AUTOMATIC TAGS'),
                            ('t DEFINITIONS AUTOMATIC TAGS ::= BEGIN END', 'expected a module name'),
                            (self.HEAD + 'END\nX', 'text after END')]:
            with self.subTest(text=text):
                with self.assertRaises(asn.AsnError) as cm:
                    load_text(text)
                self.assertIn(words, str(cm.exception))

    def test_accepted_forms(self):
        mod = load_text(self.HEAD + '''-- a comment -- X ::= NULL -- closed twice
            A ::= SEQUENCE { trunk_bri INTEGER (0..1023) OPTIONAL, b-c B, ..., d NULL OPTIONAL }
            B ::= ENUMERATED { x, y(5), z, w(5), ... }
            C ::= SEQUENCE OF CHOICE { p NULL, q IA5String (SIZE (1..64)) }
            END''')
        self.assertEqual(mod.assignments['X'].kind, 'NULL')
        a = mod.assignments['A']
        self.assertEqual([f.name for f in a.root], ['trunk_bri', 'b-c'])
        self.assertEqual(a.root[0].type.bounds, (0, 1023))
        self.assertEqual([f.name for f in a.additions], ['d'])
        self.assertEqual(mod.assignments['B'].root,
                         [('x', 0, False), ('y', 5, True), ('z', 6, False), ('w', 5, True)])
        self.assertEqual([c.name for c in mod.classes], ['A', 'B', 'C_subtype'])
        self.assertEqual(mod.count(), {'SEQUENCE': 1, 'CHOICE': 1, 'ENUMERATED': 1, 'IA5String': 1})


if __name__ == '__main__':
    unittest.main()
