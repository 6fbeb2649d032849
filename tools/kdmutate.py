"""C++ source scanning for tools/mutation-score and tools/test-ratio.

A small lexer (comments, strings, raw strings, preprocessor lines), a context pass that tells function
bodies and initialisers from declarations, and the mutation operators. Standard library only.
"""

import random
import re

# ---------------------------------------------------------------------------------------------- lexer

PUNCT = sorted("""
>>= <<= <=> ->* ... :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .* ##
{ } [ ] ( ) ; : , . ? ~ ! + - * / % & | ^ = < > #
""".split(), key=len, reverse=True)

STRING_PREFIXES = {"L", "u", "U", "u8", "R", "LR", "uR", "UR", "u8R"}


class Tok:
    __slots__ = ("kind", "text", "start", "end", "line")

    def __init__(self, kind, text, start, end, line):
        self.kind, self.text, self.start, self.end, self.line = kind, text, start, end, line

    def __repr__(self):
        return "Tok(%s,%r,%d)" % (self.kind, self.text, self.line)


def _skip_string(src, i, quote):
    # i is just after the opening quote; returns the index after the closing quote.
    n = len(src)
    while i < n:
        c = src[i]
        if c == "\\":
            i += 2
            continue
        if c == quote or c == "\n":
            return i + 1
        i += 1
    return n


def lex(src):
    """Tokens of C++ source without comments and preprocessor lines.

    Also returns the list of (start, end) spans of comments, for the line counter."""
    toks, comments = [], []
    i, n, line = 0, len(src), 1
    line_start = True  # only blanks seen since the last newline
    while i < n:
        c = src[i]
        if c == "\n":
            line += 1
            i += 1
            line_start = True
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "\\" and i + 1 < n and src[i + 1] == "\n":
            i += 2
            line += 1
            continue
        if src.startswith("//", i):
            j = src.find("\n", i)
            j = n if j < 0 else j
            comments.append((i, j))
            i = j
            continue
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j < 0 else j + 2
            comments.append((i, j))
            line += src.count("\n", i, j)
            i = j
            continue
        if c == "#" and line_start:
            # Preprocessor line, with continuations; a trailing // comment ends with it.
            j = i
            while j < n:
                if src[j] == "\\" and j + 1 < n and src[j + 1] == "\n":
                    j += 2
                    line += 1
                    continue
                if src[j] == "\n":
                    break
                j += 1
            i = j
            continue
        line_start = False
        start = i
        if c.isalpha() or c == "_":
            j = i + 1
            while j < n and (src[j].isalnum() or src[j] == "_"):
                j += 1
            word = src[i:j]
            if j < n and src[j] in "\"'" and word in STRING_PREFIXES:
                if word.endswith("R") and src[j] == '"':
                    m = re.compile(r'"([^()\\ ]{0,16})\(').match(src, j)
                    if m:
                        close = ")" + m.group(1) + '"'
                        k = src.find(close, m.end())
                        k = n if k < 0 else k + len(close)
                        toks.append(Tok("str", src[start:k], start, k, line))
                        line += src.count("\n", start, k)
                        i = k
                        continue
                if not word.endswith("R"):
                    k = _skip_string(src, j + 1, src[j])
                    toks.append(Tok("str" if src[j] == '"' else "chr", src[start:k], start, k, line))
                    i = k
                    continue
            toks.append(Tok("id", word, start, j, line))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and src[i + 1].isdigit()):
            j = i + 1
            while j < n:
                d = src[j]
                if d.isalnum() or d in "._":
                    j += 1
                elif d == "'" and j + 1 < n and src[j + 1].isalnum():
                    j += 1
                elif d in "+-" and src[j - 1] in "eEpP" and not src[i:j].lower().startswith("0x"):
                    j += 1
                elif d in "+-" and src[j - 1] in "pP":
                    j += 1
                else:
                    break
            toks.append(Tok("num", src[i:j], i, j, line))
            i = j
            continue
        if c == '"' or c == "'":
            k = _skip_string(src, i + 1, c)
            toks.append(Tok("str" if c == '"' else "chr", src[i:k], i, k, line))
            i = k
            continue
        for p in PUNCT:
            if src.startswith(p, i):
                toks.append(Tok("op", p, i, i + len(p), line))
                i += len(p)
                break
        else:
            toks.append(Tok("op", c, i, i + 1, line))
            i += 1
    return toks, comments


# ------------------------------------------------------------------------------------ line counting

def count_code_lines(src, python=False):
    """Non-blank lines that hold something other than comments."""
    if python:
        total = 0
        for ln in src.splitlines():
            s = ln.strip()
            if s and not s.startswith("#"):
                total += 1
        return total
    _, comments = lex(src)
    parts, pos = [], 0
    for a, b in comments:
        parts.append(src[pos:a])
        parts.append("\n" * src.count("\n", a, b))  # keep line breaks, drop comment text
        pos = b
    parts.append(src[pos:])
    return sum(1 for ln in "".join(parts).split("\n") if ln.strip())


# ------------------------------------------------------------------------------------ context pass

KEYWORDS = set("""
alignas alignof asm auto bool break case catch char char8_t char16_t char32_t class concept const consteval
constexpr constinit const_cast continue co_await co_return co_yield decltype default delete do double
dynamic_cast else enum explicit export extern float for friend goto if inline int long mutable namespace
new noexcept operator private protected public register reinterpret_cast requires return short signed
sizeof static static_assert static_cast struct switch template thread_local throw try typedef
typeid typename union unsigned using virtual void volatile wchar_t while
""".split())
VALUE_KEYWORDS = {"this", "true", "false", "nullptr"}
# Calls whose arguments are not run (or not in a release build): mutants there are equivalent or
# cannot compile.
NO_MUTATE_CALLS = {"assert", "static_assert", "sizeof", "alignof", "alignas", "decltype", "noexcept",
                   "typeid", "requires", "Q_ASSERT", "Q_UNUSED", "offsetof"}
STMT_SKIP_WORDS = KEYWORDS - {"this", "delete", "throw", "const_cast", "static_cast", "dynamic_cast",
                              "reinterpret_cast"}
TEMPLATE_CLOSE_FOLLOW = {"(", "::", "{", ">", ">>", ",", ")", ";", "&", "&&", "*", "...", "[", "]",
                         "}", ":", "=", "."}
TEMPLATE_STOP = {";", "{", "}", "&&", "||", "?", "=", "return"}


def _operand_end(t):
    """The token can end an operand, so an operator after it is binary."""
    if t is None:
        return False
    if t.kind in ("num", "str", "chr"):
        return True
    if t.kind == "id":
        return t.text not in KEYWORDS or t.text in VALUE_KEYWORDS
    return t.text in (")", "]")


def _match_brackets(toks):
    match = {}
    stack = []
    pairs = {")": "(", "]": "[", "}": "{"}
    for i, t in enumerate(toks):
        if t.kind != "op":
            continue
        if t.text in "([{" and len(t.text) == 1:
            stack.append(i)
        elif t.text in pairs:
            # Recover from mismatches by unwinding to the matching opener.
            k = len(stack) - 1
            while k >= 0 and toks[stack[k]].text != pairs[t.text]:
                k -= 1
            if k >= 0:
                match[stack[k]] = i
                match[i] = stack[k]
                del stack[k:]
    return match


def _template_brackets(toks, match):
    """Indices of template angle brackets, and of every token inside template arguments."""
    brackets, inside = set(), set()
    n = len(toks)
    for i, t in enumerate(toks):
        if t.text != "<" or t.kind != "op" or i == 0:
            continue
        p = toks[i - 1]
        if p.kind != "id" or (p.text in KEYWORDS and p.text not in (
                "template", "static_cast", "dynamic_cast", "const_cast", "reinterpret_cast")):
            continue
        if i >= 2 and toks[i - 2].text == "operator":
            continue
        depth, j, close = 1, i + 1, None
        while j < n:
            s = toks[j]
            if s.kind == "op" and s.text in ("(", "["):
                if j not in match:
                    break
                j = match[j] + 1
                continue
            if s.text in TEMPLATE_STOP or (s.kind == "op" and s.text in (")", "]")):
                break
            if s.text == "<":
                depth += 1
            elif s.text == ">":
                depth -= 1
            elif s.text == ">>":
                depth -= 2
            if depth <= 0:
                close = j
                break
            j += 1
        if close is None:
            continue
        nxt = toks[close + 1] if close + 1 < n else None
        if nxt is not None and nxt.kind != "id" and nxt.text not in TEMPLATE_CLOSE_FOLLOW:
            continue
        brackets.add(i)
        brackets.add(close)
        inside.update(range(i + 1, close))
    return brackets, inside


class Context:
    """Per-token facts: whether an expression may be mutated there, and statement starts."""

    def __init__(self, toks):
        self.toks = toks
        self.match = _match_brackets(toks)
        self.tmpl, self.in_tmpl = _template_brackets(toks, self.match)
        n = len(toks)
        self.expr = [False] * n       # inside a function body or an initialiser
        self.stmt_start = [False] * n  # first token of a statement in a block
        self.block_of = [None] * n     # index of the '{' of the block a statement starts in
        self.skip = set()              # tokens under assert(), sizeof(), case labels, array bounds...
        self._scan()

    def _decl_kind(self, lo, i):
        """What a '{' at declaration scope opens, given the declaration tokens lo..i-1."""
        toks = self.toks
        words = [t.text for k, t in enumerate(toks[lo:i], lo) if k not in self.in_tmpl]
        depth = 0
        saw_paren_close = saw_eq = ctor_colon = False
        for k in range(lo, i):
            if k in self.in_tmpl:
                continue
            s = toks[k].text
            if s in ("(", "["):
                depth += 1
            elif s in (")", "]"):
                depth -= 1
                if depth == 0 and s == ")":
                    saw_paren_close = True
            elif depth == 0 and s == "=":
                saw_eq = True
            elif depth == 0 and s == ":" and saw_paren_close:
                ctor_colon = True
        if "namespace" in words or ("extern" in words and any(t.kind == "str" for t in toks[lo:i])):
            return "ns"
        if "enum" in words:
            return "enum"
        if saw_eq:
            return "init"
        if ("class" in words or "struct" in words or "union" in words) and not saw_paren_close:
            return "class"
        prev = toks[i - 1] if i > 0 else None
        if ctor_colon and prev is not None and (prev.kind == "id" or i - 1 in self.tmpl):
            return "member-init"
        if saw_paren_close:
            return "body"
        return "init"

    def _scan(self):
        toks, match = self.toks, self.match
        n = len(toks)
        # Stack entries: [kind, decl_start, decl_eq, block]; kinds: file ns class enum code init.
        stack = [["ns", 0, False, False]]
        paren = []  # open '(' / '[' indices within the current brace entry
        paren_stack = []
        i = 0
        while i < n:
            t = toks[i]
            top = stack[-1]
            kind = top[0]
            if kind in ("code", "init"):
                self.expr[i] = True
            elif kind in ("ns", "class") and top[2] and not paren:
                self.expr[i] = True
            elif kind in ("ns", "class") and top[2] and paren:
                self.expr[i] = any(toks[p].text != "(" or self._call_paren(p) for p in paren)
            s = t.text
            if t.kind == "op" and s == "{":
                if kind in ("code", "init"):
                    prev = toks[i - 1] if i > 0 else None
                    block = kind == "code" and not paren and prev is not None and (
                        prev.text in (")", "{", "}", ";", ":", "]", "else", "do", "try", "mutable")
                        or prev.text in ("noexcept", "const"))
                    new = ["code" if kind == "code" else "init", i + 1, False, block]
                elif kind == "enum":
                    new = ["enum", i + 1, False, False]
                else:
                    dk = self._decl_kind(top[1], i)
                    if dk == "ns":
                        new = ["ns", i + 1, False, False]
                    elif dk == "class":
                        new = ["class", i + 1, False, False]
                    elif dk == "enum":
                        new = ["enum", i + 1, False, False]
                    elif dk == "body":
                        new = ["code", i + 1, False, True]
                        new.append("reset")
                    elif dk == "member-init":
                        new = ["code", i + 1, False, False]
                    else:
                        new = ["init", i + 1, False, False]
                stack.append(new)
                paren_stack.append(paren)
                paren = []
                if new[3]:
                    self._mark_stmt(i + 1, i)
                i += 1
                continue
            if t.kind == "op" and s == "}":
                if len(stack) > 1:
                    closed = stack.pop()
                    paren = paren_stack.pop()
                    top = stack[-1]
                    if top[0] in ("ns", "class") and (len(closed) > 4 or closed[0] in ("ns", "class", "enum")):
                        top[1], top[2] = i + 1, False
                    if top[3] and not paren:
                        self._mark_stmt(i + 1, self._block_start(stack))
                i += 1
                continue
            if t.kind == "op" and s in ("(", "["):
                paren.append(i)
                prev = toks[i - 1] if i > 0 else None
                if s == "(" and prev is not None and prev.text in NO_MUTATE_CALLS and i in match:
                    self.skip.update(range(i, match[i] + 1))
                if s == "[" and i in match and self._is_array_bound(i):
                    self.skip.update(range(i, match[i] + 1))
            elif t.kind == "op" and s in (")", "]"):
                if paren:
                    paren.pop()
            elif t.kind == "op" and s == ";" and not paren:
                if kind in ("ns", "class", "enum"):
                    top[1], top[2] = i + 1, False
                elif top[3]:
                    self._mark_stmt(i + 1, self._block_start(stack))
            elif t.kind == "op" and s == "=" and not paren and kind in ("ns", "class"):
                prev = toks[i - 1] if i > 0 else None
                first = toks[top[1]].text if top[1] < n else ""
                if prev is not None and prev.text not in (")", "const", "override", "final", "noexcept",
                                                           "operator") and first not in ("using", "typedef"):
                    top[2] = True
            elif t.kind == "op" and s == ":" and kind == "class" and i > 0 and toks[i - 1].text in (
                    "public", "private", "protected", "slots", "signals"):
                top[1], top[2] = i + 1, False
            elif t.kind == "id" and s == "case" and kind == "code":
                j = i + 1
                while j < n and toks[j].text != ":":
                    j += 1
                self.skip.update(range(i, j + 1))
            elif t.kind == "id" and s == "operator":
                self.skip.update(range(i, min(n, i + 3)))
            i += 1

    def _call_paren(self, p):
        prev = self.toks[p - 1] if p > 0 else None
        return prev is not None and (prev.kind == "id" or prev.text in (")", "]", ">"))

    def _block_start(self, stack):
        return stack[-1][1] - 1

    def _is_array_bound(self, i):
        """'[' of a declared array size ('char Buf[16]'), not of an index."""
        toks = self.toks
        if i < 2:
            return False
        name, before = toks[i - 1], toks[i - 2]
        if name.kind != "id" or name.text in KEYWORDS:
            return False
        if before.kind == "id":
            return before.text not in KEYWORDS or before.text in (
                "int", "char", "bool", "float", "double", "long", "short", "unsigned", "signed", "auto")
        return (i - 2) in self.tmpl or before.text in ("*", "&")

    def _mark_stmt(self, i, block):
        if i < len(self.toks):
            self.stmt_start[i] = True
            self.block_of[i] = block


# ------------------------------------------------------------------------------------- mutants

REL_SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITH_SWAP = {"+": "-", "-": "+", "*": "/", "/": "*", "%": "*", "&": "|", "|": "&", "^": "&",
              "<<": ">>", ">>": "<<", "+=": "-=", "-=": "+=", "*=": "/=", "/=": "*=", "%=": "*=",
              "&=": "|=", "|=": "&=", "^=": "|=", "<<=": ">>=", ">>=": "<<=", "++": "--", "--": "++"}
LOGIC_SWAP = {"&&": "||", "||": "&&"}
SPACED_BINARY = {"*", "&", "+", "-", "&&", "||"}
ZERO_IDENTITY = {"+", "-", "|", "^", "<<", ">>", "+=", "-=", "|=", "^=", "<<=", ">>="}
ONE_IDENTITY = {"*", "/", "*=", "/="}
DECL_START_WORDS = {"auto", "const", "constexpr", "static", "int", "char", "bool", "float", "double",
                    "long", "short", "unsigned", "signed", "void", "struct", "class", "enum", "typename",
                    "using", "typedef", "volatile", "thread_local", "register", "inline"}


class Mutant:
    __slots__ = ("file", "line", "col", "op", "edits", "before", "after")

    def __init__(self, file, line, col, op, edits):
        self.file, self.line, self.col, self.op, self.edits = file, line, col, op, edits
        self.before = self.after = ""

    @property
    def key(self):
        return "%s:%d:%d:%s" % (self.file, self.line, self.col, self.op)

    def apply(self, src):
        out, pos = [], 0
        for a, b, text in sorted(self.edits):
            out.append(src[pos:a])
            out.append(text)
            pos = b
        out.append(src[pos:])
        return "".join(out)


def _mutate_number(text):
    """The changed literal: 0 -> 1, 1 -> 0, n -> n + 1 (keeping base and suffix); None if unsure."""
    low = text.lower().replace("'", "")
    if low.startswith("0x"):
        m = re.fullmatch(r"0x([0-9a-f]+)([ul]*)", low)
        if not m:
            return None
        v = int(m.group(1), 16)
        nv = 1 if v == 0 else 0 if v == 1 else v + 1
        digits = "%x" % nv
        if any(ch.isupper() for ch in text[2:]):
            digits = digits.upper()
        return text[:2] + digits + text[len(text) - len(m.group(2)):] if m.group(2) else text[:2] + digits
    if low.startswith("0b"):
        m = re.fullmatch(r"0b([01]+)([ul]*)", low)
        if not m:
            return None
        v = int(m.group(1), 2)
        nv = 1 if v == 0 else 0 if v == 1 else v + 1
        suf = text[len(text) - len(m.group(2)):] if m.group(2) else ""
        return text[:2] + format(nv, "b") + suf
    m = re.fullmatch(r"([0-9]+)([ulz]*)", low)
    if m:
        if len(m.group(1)) > 1 and m.group(1).startswith("0"):
            v = int(m.group(1), 8)
            nv = 1 if v == 0 else 0 if v == 1 else v + 1
            body = "0" + format(nv, "o")
        else:
            v = int(m.group(1))
            nv = 1 if v == 0 else 0 if v == 1 else v + 1
            body = str(nv)
        suf = text[len(text) - len(m.group(2)):] if m.group(2) else ""
        return body + suf
    m = re.fullmatch(r"((?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:e[+-]?[0-9]+)?)([fl]?)", low)
    if m:
        v = float(m.group(1))
        nv = 1.0 if v == 0 else 0.0 if v == 1 else v + 1
        body = repr(nv)
        if "e" in body and "." not in body.split("e")[0]:
            body = body.replace("e", ".0e")
        suf = text[len(text) - len(m.group(2)):] if m.group(2) else ""
        return body + suf
    return None


def _looks_like_declaration(toks, i, end):
    """Tokens i..end-1 start a declaration ('Type Name ...'), not an expression."""
    t = toks[i]
    if t.text in DECL_START_WORDS:
        return True
    j = i
    if toks[j].text == "::":
        j += 1
    while j < end:
        if toks[j].kind != "id":
            return False
        j += 1
        if j < end and toks[j].text == "<":
            depth = 0
            while j < end:
                if toks[j].text == "<":
                    depth += 1
                elif toks[j].text == ">":
                    depth -= 1
                elif toks[j].text == ">>":
                    depth -= 2
                j += 1
                if depth <= 0:
                    break
        if j < end and toks[j].text == "::":
            j += 1
            continue
        break
    while j < end and toks[j].text in ("*", "&", "&&", "const"):
        j += 1
    return j < end and toks[j].kind == "id" and j > i


def file_mutants(relpath, src):
    """Every mutant of one source file, in source order."""
    toks, _ = lex(src)
    ctx = Context(toks)
    n = len(toks)
    out = []

    def add(op, t, edits):
        m = Mutant(relpath, t.line, t.start - src.rfind("\n", 0, t.start), op, edits)
        out.append(m)

    for i, t in enumerate(toks):
        prev = toks[i - 1] if i > 0 else None
        nxt = toks[i + 1] if i + 1 < n else None
        if ctx.stmt_start[i] and i not in ctx.skip:
            _statement_mutant(ctx, toks, i, add)
        if not ctx.expr[i] or i in ctx.skip or i in ctx.in_tmpl or i in ctx.tmpl:
            continue
        if t.kind == "num":
            if prev is not None and prev.text == ".":
                continue
            new = _mutate_number(t.text)
            if new is not None and new != t.text:
                add("constant", t, [(t.start, t.end, new)])
            continue
        if t.kind == "id":
            if t.text in ("true", "false"):
                add("constant", t, [(t.start, t.end, "false" if t.text == "true" else "true")])
            elif t.text in ("if", "while") and nxt is not None:
                _condition_mutant(ctx, toks, i, add)
            continue
        if t.kind != "op":
            continue
        s = t.text
        if s == "!":
            add("logical", t, [(t.start, t.end, "")])
            continue
        if s in ("++", "--"):
            if _operand_end(prev) or (nxt is not None and nxt.kind == "id"):
                add("arithmetic", t, [(t.start, t.end, ARITH_SWAP[s])])
            continue
        if not _operand_end(prev):
            continue
        if s in SPACED_BINARY:
            before_space = prev.end < t.start
            after_space = nxt is not None and t.end < nxt.start
            if s in ("*", "&", "&&") and not (before_space and after_space):
                continue
            if before_space != after_space:
                continue
        if s in REL_SWAP:
            add("relational", t, [(t.start, t.end, REL_SWAP[s])])
        elif s in LOGIC_SWAP:
            add("logical", t, [(t.start, t.end, LOGIC_SWAP[s])])
        elif s in ARITH_SWAP:
            other = [x for x in (prev, nxt) if x is not None and x.kind == "num"]
            vals = set()
            for x in other:
                try:
                    vals.add(float(x.text.rstrip("uUlLfF")))
                except ValueError:
                    pass
            if (s in ZERO_IDENTITY and 0.0 in vals) or (s in ONE_IDENTITY and 1.0 in vals):
                continue
            add("arithmetic", t, [(t.start, t.end, ARITH_SWAP[s])])
    for m in out:
        _describe(m, src)
    return out


def _condition_mutant(ctx, toks, i, add):
    j = i + 1
    if toks[j].text == "constexpr" or toks[j].text != "(" or j not in ctx.match:
        return
    close = ctx.match[j]
    lo = j + 1
    # 'if (init; cond)': negate the condition only.
    k = lo
    while k < close:
        if toks[k].text in ("(", "[", "{") and k in ctx.match:
            k = ctx.match[k] + 1
            continue
        if toks[k].text == ";":
            lo = k + 1
        k += 1
    if lo >= close or _looks_like_declaration(toks, lo, close):
        return
    add("condition", toks[i], [(toks[lo].start, toks[lo].start, "!("), (toks[close].start, toks[close].start, ")")])


def _statement_mutant(ctx, toks, i, add):
    t = toks[i]
    if t.kind == "op" and t.text not in ("++", "--", "*", "::", "("):
        return
    if t.kind in ("num", "str", "chr"):
        return
    if t.kind == "id" and t.text in STMT_SKIP_WORDS:
        return
    # The statement runs to the next ';' at its own depth.
    n, k = len(toks), i
    while k < n:
        s = toks[k].text
        if s in ("(", "[", "{") and k in ctx.match:
            k = ctx.match[k] + 1
            continue
        if s in (")", "]", "}"):
            return
        if s == ";":
            break
        if toks[k].kind == "id" and s in ("case", "default") or (s == ":" and k == i + 1):
            return
        k += 1
    if k >= n or k == i:
        return
    if t.text not in ("throw", "delete") and _looks_like_declaration(toks, i, k):
        return
    add("statement", t, [(t.start, toks[k].end, "")])


def _describe(m, src):
    a = min(e[0] for e in m.edits)
    ls = src.rfind("\n", 0, a) + 1
    le = src.find("\n", a)
    le = len(src) if le < 0 else le
    b = max(e[1] for e in m.edits)
    if b > le:  # a statement over several lines: show its first line
        m.before = src[ls:le].strip() + " ..."
        m.after = "(statement removed)"
        return
    m.before = src[ls:le].strip()
    m.after = m.apply(src)[ls:le + sum(len(e[2]) - (e[1] - e[0]) for e in m.edits)].strip()
    if m.op == "statement" and not m.after:
        m.after = "(statement removed)"


def folder_mutants(root, folder, headers=True):
    """Every mutant of the folder's sources (top level, as its library globs them), in a fixed order."""
    import os
    base = os.path.join(root, folder)
    names = sorted(f for f in os.listdir(base)
                   if f.endswith(".cpp") or (headers and f.endswith(".h")))
    out = []
    for name in names:
        rel = folder + "/" + name
        with open(os.path.join(base, name), encoding="utf-8", errors="surrogateescape") as fh:
            out.extend(file_mutants(rel, fh.read()))
    return out


def sample(mutants, seed, count):
    """A seeded sample, returned in source order."""
    order = {id(m): k for k, m in enumerate(mutants)}
    picked = random.Random(seed).sample(mutants, min(count, len(mutants)))
    return sorted(picked, key=lambda m: order[id(m)])
