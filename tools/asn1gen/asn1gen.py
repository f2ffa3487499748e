#!/usr/bin/env python3
"""The message type generator.

    asn1gen.py --out DIR [--registry FILE] MODULE.asn...

Reads the module texts (messages/<m>/<M>.asn; the language is described in parser.py),
links them, and writes for each module DIR/messages/<m>/<M>.hpp, DIR/messages/<m>/<M>.cpp
and the forward header DIR/messages/<m>/<M>_fwd.hpp.
With DIR the build tree, which is on the include path, code includes a module as
#include "messages/lgcp/LGCP.hpp", or "messages/lgcp/LGCP_fwd.hpp" where declared
classes and complete enumerations suffice. --registry also writes a table of every type's
descriptor, used by the tests that walk all types.

A file whose content would not change is left alone, so a rerun rebuilds nothing.
Malformed text stops the generator with "<file>:<line>: <message>" and exit status 1.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import emit_cpp  # noqa: E402
import parser as asn  # noqa: E402


def _write(path, text):
    try:
        with open(path, encoding='ascii') as f:
            if f.read() == text:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='ascii') as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv):
    ap = argparse.ArgumentParser(description='Generates the C++ types of the message modules.')
    ap.add_argument('--out', required=True, help='root of the generated tree (the build directory)')
    ap.add_argument('--registry', help='also write the table of all descriptors to this file')
    ap.add_argument('modules', nargs='+', help='module texts')
    args = ap.parse_args(argv)
    try:
        modules = asn.load(args.modules)
    except (asn.AsnError, OSError) as e:
        sys.stderr.write('asn1gen: %s\n' % e)
        return 1
    try:
        outputs = [(emit_cpp.forward_path(m.name), emit_cpp.emit_forward(m, modules)) for m in modules.values()]
        outputs += [(emit_cpp.header_path(m.name), emit_cpp.emit_header(m, modules)) for m in modules.values()]
        outputs += [(emit_cpp.source_path(m.name), emit_cpp.emit_source(m, modules)) for m in modules.values()]
    except ValueError as e:
        sys.stderr.write('asn1gen: %s\n' % e)
        return 1
    for path, text in outputs:
        _write(os.path.join(args.out, path), text)
    if args.registry:
        _write(args.registry, emit_cpp.emit_registry(modules))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
