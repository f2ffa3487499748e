"""Reader for the ASN.1 module text of the message modules.

The accepted language is the subset of X.680 that the modules use:

    Module      ::= modulereference DEFINITIONS [AUTOMATIC TAGS] "::=" BEGIN
                    [IMPORTS { name {"," name} FROM modulereference } ";"]
                    { typereference "::=" Type }
                    END
    Type        ::= SEQUENCE "{" Components "}" | CHOICE "{" Components "}"
                  | ENUMERATED "{" Enumerators "}"
                  | SEQUENCE OF Type | SET OF Type
                  | INTEGER [ "(" number ".." number ")" ]
                  | IA5String [ "(" SIZE "(" number ".." number ")" ")" ]
                  | BOOLEAN | NULL | OCTET STRING | OBJECT IDENTIFIER | BIT STRING
                  | NumericString | PrintableString | VisibleString | GeneralString
                  | BMPString | GeneralizedTime
                  | typereference
    Components  ::= Component {"," Component}     -- at most one "..." among them
    Component   ::= identifier Type [OPTIONAL] | "..."
    Enumerators ::= Enumerator {"," Enumerator} [ "," "..." ]
    Enumerator  ::= identifier [ "(" number ")" ]

Departures from X.680, all on purpose:
- identifiers and type names may hold underscores ("trunk_bri", "SS7_NumberType"), since
  the printed names must keep them;
- extension additions are written one by one after the marker, without "[[ ]]" groups;
- an enumerator without a number takes the value of the one before it plus one (the
  first 0), and two enumerators may share a value;
- tags are always automatic.

A SEQUENCE, CHOICE or ENUMERATED written inside a field is a type of its own named
<Outer>_<field>; the element SEQUENCE or CHOICE of "Name ::= SEQUENCE OF SEQUENCE {...}"
is named Name_subtype, and Name itself stays a plain alias.

Errors raise AsnError, whose text starts with "<file>:<line>: ".
"""

import re

KEYWORDS = {
    'DEFINITIONS', 'AUTOMATIC', 'TAGS', 'BEGIN', 'END', 'IMPORTS', 'FROM', 'SEQUENCE', 'SET',
    'OF', 'CHOICE', 'ENUMERATED', 'INTEGER', 'BOOLEAN', 'NULL', 'OCTET', 'STRING', 'OBJECT',
    'IDENTIFIER', 'IA5String', 'OPTIONAL', 'SIZE', 'BIT',
}
# Types taken as they are, without constraints.
PLAIN = ('BOOLEAN', 'NULL', 'NumericString', 'PrintableString', 'VisibleString', 'GeneralString',
         'BMPString', 'GeneralizedTime')
KEYWORDS |= set(PLAIN)

CLASS_KINDS = ('SEQUENCE', 'CHOICE', 'ENUMERATED')


class AsnError(Exception):
    pass


class Field:
    """A SEQUENCE component or a CHOICE alternative."""

    def __init__(self, name, type_, optional, line):
        self.name = name
        self.type = type_
        self.optional = optional
        self.line = line


class Type:
    """One type expression.

    kind is one of SEQUENCE, CHOICE, ENUMERATED, SEQUENCE OF, SET OF, INTEGER, IA5String,
    OCTET STRING, OBJECT IDENTIFIER, BIT STRING, one of PLAIN, or REF (a reference by name).
    """

    def __init__(self, kind, line):
        self.kind = kind
        self.line = line
        self.name = None          # class name for SEQUENCE, CHOICE, ENUMERATED
        self.module = None        # module that defines the class
        self.extendable = False
        self.root = []            # Field list, or (identifier, value, explicit) for ENUMERATED
        self.additions = []       # Field list after the extension marker
        self.element = None       # Type, for SEQUENCE OF and SET OF
        self.bounds = None        # (lo, hi) of INTEGER value or IA5String size
        self.ref = None           # (module, name) for REF, resolved by link()
        self.target = None        # the Type a REF stands for, after link()

    def resolved(self):
        t = self
        while t.kind == 'REF':
            t = t.target
        return t

    # Enumerations whose values are not 0, 1, 2, ... in order keep "name=value" entries.
    def explicit_values(self):
        return any(e[2] for e in self.root)

    def max_enum_value(self):
        return max(e[1] for e in self.root)


class Module:
    def __init__(self, name, path):
        self.name = name
        self.path = path
        self.imports = {}         # name -> module
        self.assignments = {}     # name -> Type, in text order
        self.classes = []         # every SEQUENCE, CHOICE, ENUMERATED type, inline ones included
        self.string_subtypes = [] # (owner class, field) for size-constrained IA5String fields

    def count(self):
        """Types of the module by kind, as the generated code has them."""
        counts = {k: 0 for k in CLASS_KINDS}
        for c in self.classes:
            counts[c.kind] += 1
        counts['IA5String'] = len(self.string_subtypes)
        return counts


_TOKEN = re.compile(r'''
    (?P<ws>[ \t\r]+) | (?P<nl>\n) | (?P<comment>--) |
    (?P<assign>::=) | (?P<ellipsis>\.\.\.) | (?P<range>\.\.) |
    (?P<number>-?[0-9]+) | (?P<word>[A-Za-z][A-Za-z0-9_-]*) |
    (?P<punct>[{}(),;.]) | (?P<bad>.)''', re.VERBOSE)


def _tokenize(text, path):
    tokens = []
    line = 1
    pos = 0
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        kind = m.lastgroup
        value = m.group()
        pos = m.end()
        if kind == 'ws':
            continue
        if kind == 'nl':
            line += 1
            continue
        if kind == 'comment':
            # A comment runs to the end of the line or to the next "--".
            end = text.find('\n', pos)
            end = len(text) if end < 0 else end
            close = text.find('--', pos, end)
            pos = end if close < 0 else close + 2
            continue
        if kind == 'bad':
            raise AsnError('%s:%d: unexpected character %r' % (path, line, value))
        if kind == 'word' and (value.endswith('-') or '--' in value):
            raise AsnError('%s:%d: malformed name %r' % (path, line, value))
        tokens.append((kind, value, line))
    tokens.append(('eof', '', line))
    return tokens


class _Reader:
    def __init__(self, text, path):
        self.path = path
        self.tokens = _tokenize(text, path)
        self.pos = 0

    def peek(self, ahead=0):
        return self.tokens[min(self.pos + ahead, len(self.tokens) - 1)]

    def line(self):
        return self.peek()[2]

    def fail(self, message, line=None):
        raise AsnError('%s:%d: %s' % (self.path, self.line() if line is None else line, message))

    def next(self):
        tok = self.tokens[self.pos]
        if tok[0] != 'eof':
            self.pos += 1
        return tok

    def accept(self, value):
        if self.peek()[1] == value and self.peek()[0] != 'eof':
            self.pos += 1
            return True
        return False

    def expect(self, value):
        tok = self.peek()
        if tok[1] != value or tok[0] == 'eof':
            self.fail('expected "%s", found %s' % (value, self._describe(tok)))
        self.pos += 1
        return tok

    def _describe(self, tok):
        return 'end of text' if tok[0] == 'eof' else '"%s"' % tok[1]

    def word(self, what, upper):
        tok = self.peek()
        if tok[0] != 'word' or tok[1] in KEYWORDS or tok[1][0].isupper() != upper:
            self.fail('expected %s, found %s' % (what, self._describe(tok)))
        self.pos += 1
        return tok[1]

    def number(self):
        tok = self.peek()
        if tok[0] != 'number':
            self.fail('expected a number, found %s' % self._describe(tok))
        self.pos += 1
        return int(tok[1])


def parse_module(text, path):
    """Parses one module text into a Module (references not yet resolved)."""
    r = _Reader(text, path)
    name = r.word('a module name', True)
    mod = Module(name, path)
    r.expect('DEFINITIONS')
    if r.accept('AUTOMATIC'):
        r.expect('TAGS')
    else:
        r.fail('only AUTOMATIC TAGS modules are supported')
    r.expect('::=')
    r.expect('BEGIN')
    if r.accept('IMPORTS'):
        while not r.accept(';'):
            names = [(r.word('an imported type name', True), r.line())]
            while r.accept(','):
                names.append((r.word('an imported type name', True), r.line()))
            r.expect('FROM')
            source = r.word('a module name', True)
            for n, line in names:
                if n in mod.imports:
                    r.fail('"%s" imported twice' % n, line)
                mod.imports[n] = source
    while not r.accept('END'):
        line = r.line()
        tname = r.word('a type assignment', True)
        r.expect('::=')
        if tname in mod.assignments:
            r.fail('type "%s" defined twice' % tname, line)
        if tname in mod.imports:
            r.fail('type "%s" is both imported and defined' % tname, line)
        mod.assignments[tname] = _type(r, mod, tname, None)
    if r.peek()[0] != 'eof':
        r.fail('text after END')
    return mod


def _class_name(owner, field):
    return owner + '_' + field


def _type(r, mod, name, outer):
    """Reads one type. name is the class name a constructed type would get."""
    line = r.line()
    tok = r.peek()
    if tok[1] in ('SEQUENCE', 'SET') and r.peek(1)[1] == 'OF':
        r.next()
        r.next()
        t = Type('SEQUENCE OF' if tok[1] == 'SEQUENCE' else 'SET OF', line)
        element_name = name + '_subtype' if outer is None else None
        if r.peek()[1] in CLASS_KINDS and element_name is None:
            r.fail('an inline element type is only supported in a type assignment')
        t.element = _type(r, mod, element_name, name)
        return t
    if tok[1] in CLASS_KINDS:
        r.next()
        t = Type(tok[1], line)
        t.name = name
        t.module = mod.name
        if tok[1] == 'ENUMERATED':
            _enumerators(r, t)
        else:
            _components(r, mod, t)
        mod.classes.append(t)
        return t
    r.next()
    if tok[0] != 'word':
        r.fail('expected a type, found "%s"' % tok[1], line)
    word = tok[1]
    if word == 'INTEGER':
        t = Type('INTEGER', line)
        if r.accept('('):
            t.bounds = _range(r)
            r.expect(')')
        return t
    if word == 'IA5String':
        t = Type('IA5String', line)
        if r.accept('('):
            r.expect('SIZE')
            r.expect('(')
            t.bounds = _range(r)
            r.expect(')')
            r.expect(')')
        return t
    if word in PLAIN:
        return Type(word, line)
    if word == 'BIT':
        r.expect('STRING')
        return Type('BIT STRING', line)
    if word == 'OCTET':
        r.expect('STRING')
        return Type('OCTET STRING', line)
    if word == 'OBJECT':
        r.expect('IDENTIFIER')
        return Type('OBJECT IDENTIFIER', line)
    if word in KEYWORDS or not word[0].isupper():
        r.fail('expected a type, found "%s"' % word, line)
    t = Type('REF', line)
    if r.accept('.'):
        t.ref = (word, r.word('a type name', True))
    else:
        t.ref = (None, word)
    return t


def _range(r):
    lo = r.number()
    r.expect('..')
    hi = r.number()
    if lo > hi:
        r.fail('empty range %d..%d' % (lo, hi))
    return (lo, hi)


def _components(r, mod, t):
    r.expect('{')
    seen = set()
    target = t.root
    while True:
        line = r.line()
        if r.accept('...'):
            if t.extendable:
                r.fail('second extension marker', line)
            t.extendable = True
            target = t.additions
        else:
            fname = r.word('a field name', False)
            if fname in seen:
                r.fail('"%s" appears twice in %s' % (fname, t.name), line)
            seen.add(fname)
            ftype = _type(r, mod, _class_name(t.name, fname), t.name)
            optional = r.accept('OPTIONAL')
            if optional and t.kind == 'CHOICE':
                r.fail('a CHOICE alternative cannot be OPTIONAL', line)
            if t.kind == 'SEQUENCE' and target is t.additions and not optional:
                r.fail('extension addition "%s" must be OPTIONAL' % fname, line)
            target.append(Field(fname, ftype, optional, line))
        if r.accept('}'):
            break
        r.expect(',')
    if not t.root and t.kind == 'CHOICE':
        r.fail('CHOICE %s has no alternative' % t.name, t.line)


def _enumerators(r, t):
    r.expect('{')
    seen = set()
    value = -1
    while True:
        line = r.line()
        if r.accept('...'):
            t.extendable = True
            r.expect('}')
            break
        ename = r.word('an enumerator', False)
        if ename in seen:
            r.fail('"%s" appears twice in %s' % (ename, t.name), line)
        seen.add(ename)
        explicit = False
        if r.accept('('):
            value = r.number()
            explicit = True
            r.expect(')')
        else:
            value += 1
        t.root.append((ename, value, explicit))
        if r.accept('}'):
            break
        r.expect(',')
    if not t.root:
        r.fail('ENUMERATED %s has no enumerator' % t.name, t.line)


def link(modules):
    """Resolves every reference across the modules; modules maps name to Module."""
    for mod in modules.values():
        for name, source in mod.imports.items():
            if source not in modules:
                raise AsnError('%s: import from unknown module "%s"' % (mod.path, source))
            if name not in modules[source].assignments:
                raise AsnError('%s: "%s" is not defined in %s' % (mod.path, name, source))

    def visit(mod, t):
        if t.kind == 'REF':
            mname, tname = t.ref
            if mname is None:
                if tname in mod.assignments:
                    mname = mod.name
                elif tname in mod.imports:
                    mname = mod.imports[tname]
                else:
                    raise AsnError('%s:%d: unknown type "%s"' % (mod.path, t.line, tname))
            if mname not in modules or tname not in modules[mname].assignments:
                raise AsnError('%s:%d: unknown type "%s.%s"' % (mod.path, t.line, mname, tname))
            t.ref = (mname, tname)
            t.target = modules[mname].assignments[tname]
        for f in t.root + t.additions:
            if isinstance(f, Field):
                visit(mod, f.type)
        if t.element is not None:
            visit(mod, t.element)
            e = t.element.resolved()
            if e.kind in ('SEQUENCE OF', 'SET OF') or (e.kind == 'IA5String' and e.bounds):
                raise AsnError('%s:%d: this element type of a list is not supported' % (mod.path, t.line))

    for mod in modules.values():
        for t in mod.assignments.values():
            visit(mod, t)
    for mod in modules.values():
        for t in mod.assignments.values():
            _check_cycle(mod, t, [])
        mod.string_subtypes = []
        for c in mod.classes:
            for f in c.root + c.additions:
                if isinstance(f, Field) and f.type.kind == 'IA5String' and f.type.bounds:
                    mod.string_subtypes.append((c, f))


def _check_cycle(mod, t, chain):
    # Only alias chains can loop without a constructed type in between.
    while t.kind == 'REF':
        if t in chain:
            raise AsnError('%s:%d: type refers to itself' % (mod.path, t.line))
        chain.append(t)
        t = t.target


def load(paths):
    """Reads and links a set of module files; returns the modules by name, in file order."""
    modules = {}
    for path in paths:
        with open(path, encoding='ascii') as f:
            try:
                text = f.read()
            except UnicodeDecodeError:
                raise AsnError('%s:1: the module text is not ASCII' % path)
        mod = parse_module(text, path)
        if mod.name in modules:
            raise AsnError('%s:1: module %s defined twice' % (path, mod.name))
        modules[mod.name] = mod
    link(modules)
    return modules
