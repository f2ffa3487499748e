"""C++ for the message modules: a forward header, a header and a source per module.

Per module M (namespace M) the header messages/<m>/<M>.hpp declares one class per
SEQUENCE, CHOICE and ENUMERATED type; the source messages/<m>/<M>.cpp holds the accessor
bodies and the constant descriptors. Accessor bodies stay out of the header so that the
many files including LGCP.hpp compile quickly. The forward header messages/<m>/<M>_fwd.hpp
(included by the header) declares the SEQUENCE and CHOICE classes and holds the complete
ENUMERATED classes, so that a header naming the types only in signatures, named numbers
included, need not pull in the whole module.

Each class:
- derives from ASN1::SEQUENCE, ASN1::CHOICE or ASN1::ENUMERATED only, adds no data;
- has `static const <Info> theInfo`, a default constructor, a constructor from a
  descriptor (used by the descriptor's factory, so values built by the runtime are of
  this class), copy, assignment and a typed clone();
- SEQUENCE: get_/set_/ref_ per field, omit_/_isPresent per optional field;
- CHOICE: get_/ref_/select_/_isSelected per alternative, a tag type <alt>::Id whose one
  value <alt>::value is the alternative's index, and the constructor T(T::<alt>::Id, v);
- ENUMERATED: the nested enumeration NamedNumber, T(NamedNumber), operator=(NamedNumber),
  conversion to NamedNumber, set_<enumerator>() and is_<enumerator>().
In names a hyphen becomes an underscore; the descriptor tables keep the ASN.1 spelling.
"""

CONSTRUCTED = ('SEQUENCE', 'CHOICE')

# Members of ASN1::CHOICE and its base that a CHOICE's tag type <alt> could hide.
BASE_MEMBERS = {
    'info', 'create', 'compare', 'accept', 'select', 'swap', 'extendable', 'getTag', 'asValueNotation',
    'print_on', 'setSelection', 'createSelection', 'getSelection', 'currentSelection', 'isUnknownSelection',
    'getSelectionName', 'getSelectionTag', 'getNumChoices', 'choiceInfo', 'select_as', 'alternative_as',
    'alternative_ref',
}
# Unconstrained types outside the message modules: class and setter argument.
PLAIN = {
    'BIT STRING': ('ASN1::BIT_STRING', None),
    'NumericString': ('ASN1::NumericString', 'std::string const&'),
    'PrintableString': ('ASN1::PrintableString', 'std::string const&'),
    'VisibleString': ('ASN1::VisibleString', 'std::string const&'),
    'GeneralString': ('ASN1::GeneralString', 'std::string const&'),
    'BMPString': ('ASN1::BMPString', None),
    'GeneralizedTime': ('ASN1::GeneralizedTime', None),
}
# Members the generated class declares itself.
RESERVED = {'clone', 'theInfo', 'operator'}


def cxx(name):
    return name.replace('-', '_')


def header_path(module):
    return 'messages/%s/%s.hpp' % (module.lower(), module)


def forward_path(module):
    return 'messages/%s/%s_fwd.hpp' % (module.lower(), module)


def source_path(module):
    return 'messages/%s/%s.cpp' % (module.lower(), module)


def qualified(t):
    return '%s::%s' % (t.module, t.name)


def _named_target(t):
    return t.resolved()


class _Field:
    """What the generated code needs to know of one field or alternative."""

    def __init__(self, owner, index, field):
        self.owner = owner
        self.index = index
        self.asn_name = field.name
        self.name = cxx(field.name)
        self.optional = field.optional
        t = field.type.resolved()
        self.type = t
        self.subtype = t.kind == 'IA5String' and t.bounds is not None
        self.cls, self.info, self.arg = _classes(t, owner, self.name)


def _element_class(t):
    t = t.resolved()
    if t.kind in ('SEQUENCE', 'CHOICE', 'ENUMERATED'):
        return qualified(t)
    simple = {'INTEGER': 'ASN1::INTEGER', 'BOOLEAN': 'ASN1::BOOLEAN', 'NULL': 'ASN1::Null',
              'IA5String': 'ASN1::IA5String', 'OCTET STRING': 'ASN1::OCTET_STRING',
              'OBJECT IDENTIFIER': 'ASN1::OBJECT_IDENTIFIER'}
    if t.kind == 'INTEGER' and t.bounds:
        return _constrained(t)
    if t.kind in simple and not (t.kind == 'IA5String' and t.bounds):
        return simple[t.kind]
    raise ValueError('unsupported element type %s at line %d' % (t.kind, t.line))


def _constrained(t):
    lo, hi = t.bounds
    return 'ASN1::Constrained_INTEGER<ASN1::FixedConstraint, %d, %du>' % (lo, hi)


def _classes(t, owner, fname):
    """(class of the value, descriptor expression, setter argument type or None)."""
    k = t.kind
    if k in ('SEQUENCE', 'CHOICE'):
        q = qualified(t)
        return q, '&%s::theInfo' % q, '%s const&' % q
    if k == 'ENUMERATED':
        q = qualified(t)
        return q, '&%s::theInfo' % q, '%s::NamedNumber' % q
    if k == 'INTEGER':
        if t.bounds:
            c = _constrained(t)
            return c, '&%s::theInfo' % c, 'unsigned int'
        return 'ASN1::INTEGER', '&ASN1::INTEGER::theInfo', 'int'
    if k == 'BOOLEAN':
        return 'ASN1::BOOLEAN', '&ASN1::BOOLEAN::theInfo', 'bool'
    if k == 'NULL':
        return 'ASN1::Null', '&ASN1::Null::theInfo', None
    if k == 'IA5String':
        if t.bounds:
            return ('ASN1::IA5String', '&%s::%s::value_type::theInfo' % (qualified(owner), fname),
                    'std::string const&')
        return 'ASN1::IA5String', '&ASN1::IA5String::theInfo', 'std::string const&'
    if k == 'OCTET STRING':
        return 'ASN1::OCTET_STRING', '&ASN1::OCTET_STRING::theInfo', 'std::vector<char> const&'
    if k == 'OBJECT IDENTIFIER':
        return 'ASN1::OBJECT_IDENTIFIER', '&ASN1::OBJECT_IDENTIFIER::theInfo', 'ASN1::OBJECT_IDENTIFIER const&'
    if k in PLAIN:
        c, arg = PLAIN[k]
        return c, '&%s::theInfo' % c, arg
    if k in ('SEQUENCE OF', 'SET OF'):
        tmpl = 'ASN1::SEQUENCE_OF' if k == 'SEQUENCE OF' else 'ASN1::SET_OF'
        c = '%s< %s, ASN1::EmptyConstraint>' % (tmpl, _element_class(t.element))
        return c, '&%s::theInfo' % c, None
    raise ValueError('unsupported type %s' % k)


def _fields(c):
    return [_Field(c, i, f) for i, f in enumerate(c.root + c.additions)]


def _imports(mod):
    used = set()

    def visit(t):
        t = t.resolved()
        if t.kind in ('SEQUENCE', 'CHOICE', 'ENUMERATED') and t.module != mod.name:
            used.add(t.module)
        if t.element is not None:
            visit(t.element)

    for c in mod.classes:
        if c.kind in CONSTRUCTED:
            for f in c.root + c.additions:
                visit(f.type)
    return sorted(used)


def _id_value_name(alt):
    return 'value_' if alt == 'value' else 'value'


def _c_string(s):
    return '"%s"' % s


# ---------------------------------------------------------------------------- header

def _header_enum(c):
    n = c.name
    out = []
    out.append('class %s : public ASN1::ENUMERATED {' % n)
    out.append(' public:')
    items = ', '.join('%s = %d' % (cxx(e[0]), e[1]) for e in c.root)
    out.append('  enum NamedNumber { %s };' % items)
    out.append('  static const ASN1::EnumInfo theInfo;')
    out.append('')
    out.append('  %s();' % n)
    out.append('  explicit %s(ASN1::TypeInfo const* info);' % n)
    out.append('  %s(NamedNumber v);' % n)
    out.append('  %s(%s const&) = default;' % (n, n))
    out.append('  %s& operator=(%s const&) = default;' % (n, n))
    out.append('  %s& operator=(NamedNumber v);' % n)
    out.append('  operator NamedNumber() const;')
    out.append('  %s* clone() const;' % n)
    for e in c.root:
        out.append('  void set_%s();' % cxx(e[0]))
        out.append('  bool is_%s() const;' % cxx(e[0]))
    out.append('};')
    return out


def _header_sequence(c):
    n = c.name
    out = ['class %s : public ASN1::SEQUENCE {' % n, ' public:']
    fields = _fields(c)
    for f in fields:
        if f.subtype:
            out.append('  struct %s {' % f.name)
            out.append('    struct value_type {')
            out.append('      static const ASN1::StringInfo theInfo;')
            out.append('    };')
            out.append('  };')
    out.append('  static const ASN1::SequenceInfo theInfo;')
    out.append('')
    out.append('  %s();' % n)
    out.append('  explicit %s(ASN1::TypeInfo const* info);' % n)
    out.append('  %s(%s const&) = default;' % (n, n))
    out.append('  %s& operator=(%s const&) = default;' % (n, n))
    out.append('  %s* clone() const;' % n)
    for f in fields:
        out.append('')
        out.append('  %s const& get_%s() const;' % (f.cls, f.name))
        out.append('  %s& ref_%s();' % (f.cls, f.name))
        out.append('  %s& set_%s();' % (f.cls, f.name))
        if f.arg:
            out.append('  void set_%s(%s v);' % (f.name, f.arg))
        if f.optional:
            out.append('  void omit_%s();' % f.name)
            out.append('  bool %s_isPresent() const;' % f.name)
    out.append('};')
    return out


def _header_choice(c):
    n = c.name
    out = ['class %s : public ASN1::CHOICE {' % n, ' public:']
    fields = _fields(c)
    for f in fields:
        out.append('  struct %s {' % f.name)
        out.append('    enum Id { %s = %d };' % (_id_value_name(f.name), f.index))
        out.append('  };')
    for f in fields:
        if f.name in RESERVED:
            raise ValueError('alternative "%s" of %s clashes with a generated member' % (f.asn_name, n))
        if f.name in BASE_MEMBERS:
            # The tag type would hide the base's member of that name; bring it back
            # (T::<alt>::Id still finds the type, since only types are looked up before ::).
            out.append('  using ASN1::CHOICE::%s;' % f.name)
    out.append('  static const ASN1::ChoiceInfo theInfo;')
    out.append('')
    out.append('  %s();' % n)
    out.append('  explicit %s(ASN1::TypeInfo const* info);' % n)
    out.append('  %s(%s const&) = default;' % (n, n))
    out.append('  %s& operator=(%s const&) = default;' % (n, n))
    out.append('  %s* clone() const;' % n)
    for f in fields:
        out.append('')
        arg = f.arg if f.type.kind != 'NULL' else 'ASN1::Null const&'
        if arg is None:
            arg = '%s const&' % f.cls
        out.append('  %s(%s::Id, %s v);' % (n, f.name, arg))
        out.append('  %s const& get_%s() const;' % (f.cls, f.name))
        out.append('  %s& ref_%s();' % (f.cls, f.name))
        out.append('  bool %s_isSelected() const;' % f.name)
        out.append('  %s& select_%s();' % (f.cls, f.name))
        out.append('  void select_%s(%s v);' % (f.name, arg))
    out.append('};')
    return out


def emit_forward(mod, modules):
    enums = [c for c in mod.classes if c.kind == 'ENUMERATED']
    out = ['// Generated from %s by tools/asn1gen; do not edit.' % _rel(mod.path),
           '// The classes of %s declared, its enumerations complete; %s for the rest.'
           % (mod.name, header_path(mod.name)),
           '#pragma once', '']
    if enums:
        out += ['#include "asn1/primitives.hpp"', '']
    out += ['namespace %s {' % mod.name, '']
    for c in mod.classes:
        if c.kind in CONSTRUCTED:
            out.append('class %s;' % c.name)
    out.append('')
    for c in enums:
        out += _header_enum(c)
        out.append('')
    out.append('}  // namespace %s' % mod.name)
    return '\n'.join(out) + '\n'


def emit_header(mod, modules):
    guard_includes = ['#include "asn1/constructed.hpp"', '#include "asn1/primitives.hpp"', '#include "asn1/strings.hpp"']
    for dep in _imports(mod):
        guard_includes.append('#include "%s"' % header_path(dep))
    guard_includes.append('#include "%s"' % forward_path(mod.name))
    out = ['// Generated from %s by tools/asn1gen; do not edit.' % _rel(mod.path),
           '#pragma once', '', '#include <string>', '#include <vector>', '']
    out += guard_includes
    out += ['', 'namespace %s {' % mod.name, '']
    for c in mod.classes:
        if c.kind == 'ENUMERATED':
            continue
        if c.kind == 'SEQUENCE':
            out += _header_sequence(c)
        else:
            out += _header_choice(c)
        out.append('')
    out.append('}  // namespace %s' % mod.name)
    return '\n'.join(out) + '\n'


def _rel(path):
    path = path.replace('\\', '/')
    i = path.rfind('messages/')
    return path[i:] if i >= 0 else path


# ---------------------------------------------------------------------------- source

def _source_enum(c):
    n = c.name
    out = []
    names = []
    for e in c.root:
        names.append(_c_string('%s=%d' % (e[0], e[1]) if e[2] else e[0]))
    out.append('const char* const %s_enum_names__[] = {%s};' % (n, ', '.join(names)))
    out.append('ASN1::AbstractData* create_%s(ASN1::TypeInfo const* info) { return new %s(info); }' % (n, n))
    out.append('}  // namespace')
    out.append('')
    out.append('const ASN1::EnumInfo %s::theInfo = {{&create_%s, 10}, %s, %d, %s_enum_names__, %d};'
               % (n, n, 'true' if c.extendable else 'false', c.max_enum_value(), n, len(c.root)))
    out.append('%s::%s() : ASN1::ENUMERATED(&theInfo) {}' % (n, n))
    out.append('%s::%s(ASN1::TypeInfo const* info) : ASN1::ENUMERATED(info) {}' % (n, n))
    out.append('%s::%s(NamedNumber v) : ASN1::ENUMERATED(&theInfo) { setFromInt(v); }' % (n, n))
    out.append('%s& %s::operator=(NamedNumber v) {' % (n, n))
    out.append('  setFromInt(v);')
    out.append('  return *this;')
    out.append('}')
    out.append('%s::operator %s::NamedNumber() const { return static_cast<NamedNumber>(asInt()); }' % (n, n))
    out.append('%s* %s::clone() const { return static_cast<%s*>(ASN1::AbstractData::clone()); }' % (n, n, n))
    for e in c.root:
        en = cxx(e[0])
        out.append('void %s::set_%s() { setFromInt(%s); }' % (n, en, en))
        out.append('bool %s::is_%s() const { return asInt() == %s; }' % (n, en, en))
    return out


def _source_sequence(c):
    n = c.name
    fields = _fields(c)
    out = []
    infos = ', '.join(f.info for f in fields)
    ids = []
    k = 0
    for f in fields[:len(c.root)]:
        ids.append(str(k) if f.optional else '-1')
        k += 1 if f.optional else 0
    num_optional = k
    if fields:
        out.append('ASN1::TypeInfo const* const %s_fieldInfos[] = {%s};' % (n, infos))
        out.append('const char* const %s_fieldNames[] = {%s};' % (n, ', '.join(_c_string(f.asn_name) for f in fields)))
    if c.root:
        out.append('const std::int32_t %s_fieldIds[] = {%s};' % (n, ', '.join(ids)))
    out.append('ASN1::AbstractData* create_%s(ASN1::TypeInfo const* info) { return new %s(info); }' % (n, n))
    out.append('}  // namespace')
    out.append('')
    for f in fields:
        if f.subtype:
            lo, hi = f.type.bounds
            out.append('const ASN1::StringInfo %s::%s::value_type::theInfo = '
                       '{{{&ASN1::IA5String::create, 22}, ASN1::FixedConstraint, %d, %du}, nullptr, 128, 7, 7, 8};'
                       % (n, f.name, lo, hi))
    out.append('const ASN1::SequenceInfo %s::theInfo = {{&create_%s, 16}, %s, %s, %s, %d, %d, %d, nullptr, nullptr, %s};'
               % (n, n, 'true' if c.extendable else 'false',
                  '%s_fieldInfos' % n if fields else 'nullptr',
                  '%s_fieldIds' % n if c.root else 'nullptr',
                  len(c.root), len(c.additions), num_optional,
                  '%s_fieldNames' % n if fields else 'nullptr'))
    out.append('%s::%s() : ASN1::SEQUENCE(&theInfo) {}' % (n, n))
    out.append('%s::%s(ASN1::TypeInfo const* info) : ASN1::SEQUENCE(info) {}' % (n, n))
    out.append('%s* %s::clone() const { return static_cast<%s*>(ASN1::AbstractData::clone()); }' % (n, n, n))
    opt = 0
    for f in fields:
        i = f.index
        if i >= len(c.root):
            k = num_optional + i - len(c.root)
        elif f.optional:
            k = opt
            opt += 1
        else:
            k = None
        out.append('%s const& %s::get_%s() const { return field_as<%s>(%d); }' % (f.cls, n, f.name, f.cls, i))
        out.append('%s& %s::ref_%s() { return field_ref<%s>(%d); }' % (f.cls, n, f.name, f.cls, i))
        if k is None:
            out.append('%s& %s::set_%s() { return ref_%s(); }' % (f.cls, n, f.name, f.name))
        else:
            out.append('%s& %s::set_%s() { return optional_ref<%s>(%d, %d); }' % (f.cls, n, f.name, f.cls, k, i))
            out.append('void %s::omit_%s() { removeOptionalField(%d); }' % (n, f.name, k))
            out.append('bool %s::%s_isPresent() const { return hasOptionalField(%d); }' % (n, f.name, k))
        if f.arg:
            out.append('void %s::set_%s(%s v) { set_%s() = v; }' % (n, f.name, f.arg, f.name))
    return out


# CHOICE types that accept an extension alternative they do not know: the value is left
# unrecognised and the decoding goes on, since their users answer such a command as one
# that nothing takes. In every other CHOICE an unknown alternative fails the decoding.
ACCEPTS_UNKNOWN_ALTERNATIVE = {('LGCP', 'CreateParams'), ('LGCP', 'IoctlParams'), ('LGCP', 'DisplayParams')}


def _source_choice(c):
    n = c.name
    fields = _fields(c)
    out = []
    out.append('ASN1::TypeInfo const* const %s_selectionInfos[] = {%s};' % (n, ', '.join(f.info for f in fields)))
    out.append('const char* const %s_selectionNames[] = {%s};'
               % (n, ', '.join(_c_string(f.asn_name) for f in fields)))
    out.append('ASN1::AbstractData* create_%s(ASN1::TypeInfo const* info) { return new %s(info); }' % (n, n))
    out.append('}  // namespace')
    out.append('')
    accepts = ', true' if (c.module, c.name) in ACCEPTS_UNKNOWN_ALTERNATIVE else ''
    out.append('const ASN1::ChoiceInfo %s::theInfo = {{&create_%s, 0}, %s, %s_selectionInfos, %d, %d, nullptr, '
               '%s_selectionNames%s};'
               % (n, n, 'true' if c.extendable else 'false', n, len(c.root), len(fields), n, accepts))
    out.append('%s::%s() : ASN1::CHOICE(&theInfo) {}' % (n, n))
    out.append('%s::%s(ASN1::TypeInfo const* info) : ASN1::CHOICE(info) {}' % (n, n))
    out.append('%s* %s::clone() const { return static_cast<%s*>(ASN1::AbstractData::clone()); }' % (n, n, n))
    for f in fields:
        i = f.index
        arg = f.arg if f.type.kind != 'NULL' else 'ASN1::Null const&'
        if arg is None:
            arg = '%s const&' % f.cls
        out.append('%s::%s(%s::Id, %s v) : ASN1::CHOICE(&theInfo) { select_%s(v); }'
                   % (n, n, f.name, arg, f.name))
        out.append('%s const& %s::get_%s() const { return alternative_as<%s>(%d); }' % (f.cls, n, f.name, f.cls, i))
        out.append('%s& %s::ref_%s() { return alternative_ref<%s>(%d); }' % (f.cls, n, f.name, f.cls, i))
        out.append('bool %s::%s_isSelected() const { return currentSelection() == %d; }' % (n, f.name, i))
        out.append('%s& %s::select_%s() { return select_as<%s>(%d); }' % (f.cls, n, f.name, f.cls, i))
        if f.type.kind == 'NULL':
            out.append('void %s::select_%s(ASN1::Null const&) { select_%s(); }' % (n, f.name, f.name))
        else:
            out.append('void %s::select_%s(%s v) { select_%s() = v; }' % (n, f.name, arg, f.name))
    return out


def emit_source(mod, modules):
    out = ['// Generated from %s by tools/asn1gen; do not edit.' % _rel(mod.path),
           '#include "%s"' % header_path(mod.name), '', '#include <cstdint>', '',
           'namespace %s {' % mod.name]
    for c in mod.classes:
        out.append('')
        out.append('// %s' % c.name)
        out.append('namespace {')
        if c.kind == 'ENUMERATED':
            out += _source_enum(c)
        elif c.kind == 'SEQUENCE':
            out += _source_sequence(c)
        else:
            out += _source_choice(c)
    out.append('')
    out.append('}  // namespace %s' % mod.name)
    return '\n'.join(out) + '\n'


def emit_registry(modules):
    """A table of every type's descriptor, for the tests that walk all of them."""
    out = ['// Generated by tools/asn1gen; do not edit.', '#include "tests/messages/registry.hpp"', '']
    for m in sorted(modules):
        out.append('#include "%s"' % header_path(m))
    out += ['', 'namespace messages {', '', 'const RegistryEntry registry[] = {']
    for m in sorted(modules):
        mod = modules[m]
        for c in mod.classes:
            out.append('    {"%s", "%s", "%s", &::%s::%s::theInfo},' % (m, c.name, c.kind, m, c.name))
            if c.kind == 'SEQUENCE':
                for f in _fields(c):
                    if f.subtype:
                        out.append('    {"%s", "%s::%s::value_type", "IA5String", &::%s::%s::%s::value_type::theInfo},'
                                   % (m, c.name, f.name, m, c.name, f.name))
    out += ['};', '', 'const unsigned registrySize = sizeof registry / sizeof registry[0];', '',
            '}  // namespace messages']
    return '\n'.join(out) + '\n'
