#!/usr/bin/env python3
"""Non-blank, non-comment lines of C++ and Python (a docstring is code),
per top folder of each path given:

  scripts/count_lines.py src tests fuzz
"""
import io, os, sys, tokenize, collections

def cpp_lines(text):
    n = 0; in_block = False
    for line in text.splitlines():
        s = line.strip(); code = ''
        i = 0
        while i < len(s):
            if in_block:
                j = s.find('*/', i)
                if j < 0: i = len(s); break
                in_block = False; i = j + 2
            elif s.startswith('/*', i): in_block = True; i += 2
            elif s.startswith('//', i): break
            elif s[i] == '"':
                j = i + 1
                while j < len(s) and s[j] != '"':
                    j += 2 if s[j] == '\\' else 1
                code += s[i:j+1]; i = j + 1
            else: code += s[i]; i += 1
        if code.strip(): n += 1
    return n

def py_lines(text):
    lines = set()
    skipped = (tokenize.COMMENT, tokenize.NL, tokenize.NEWLINE, tokenize.INDENT, tokenize.DEDENT, tokenize.ENDMARKER)
    try:
        for tok in tokenize.generate_tokens(io.StringIO(text).readline):
            if tok.type not in skipped:
                lines.update(range(tok.start[0], tok.end[0] + 1))
    except tokenize.TokenError: pass
    return len(lines)

totals = collections.Counter()
for root in sys.argv[1:]:
    walk = [(os.path.dirname(root), None, [os.path.basename(root)])] if os.path.isfile(root) else os.walk(root)
    for d, _, files in walk:
        for f in files:
            p = os.path.join(d, f)
            if f.endswith(('.cpp', '.h', '.cc')): n = cpp_lines(open(p, errors='replace').read())
            elif f.endswith('.py'): n = py_lines(open(p, errors='replace').read())
            else: continue
            parts = p.split('/')
            key = p if os.path.isfile(root) else ('/'.join(parts[:2]) if len(parts) > 2 else parts[0])
            totals[key] += n
for top in sys.argv[1:]:
    sub = {k: v for k, v in totals.items() if k == top or k.startswith(top + '/')}
    for k in sorted(sub): print(f'{sub[k]:7d}  {k}')
    print(f'{sum(sub.values()):7d}  {top} (all)')
