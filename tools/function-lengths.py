#!/usr/bin/env python3
"""Lists the C++ functions of the given files or folders by length.

    tools/function-lengths.py [--over N] PATH...

Prints "lines  code  file:line  name" for every function defined at
namespace or class level (lambdas count towards the function that holds
them), longest first: all its lines, from the line of its name to its
closing brace, and those with code (no blank or comment-only lines).  With
--over N only those with more than N lines of code.
"""
import argparse
import os
import re
import sys

KEYWORDS = ("if", "for", "while", "switch", "catch", "do", "else", "try")


def strip(text):
    """The text with comments, strings and character literals blanked
    (line breaks kept, so that line numbers stay)."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = ")" + m.group(1) + '"'
            j = text.find(end, i)
            j = n if j < 0 else j + len(end)
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(" " * (j + 1 - i))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def functions(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = strip(f.read())
    lines = text.split("\n")
    found = []
    stack = []  # (kind, start line, name)
    header_start = 0
    line = 1
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        if c not in "{};":
            continue
        header = text[header_start:i]
        header_start = i + 1
        if c == ";":
            continue
        if c == "}":
            if stack:
                kind, start, name = stack.pop()
                if kind == "function":
                    body = lines[start - 1 : line]
                    code = sum(1 for l in body if l.strip())
                    found.append((line - start + 1, code, start, name))
            continue
        outer = all(k in ("namespace", "class") for k, _, _ in stack)
        words = header.split()
        kind = "block"
        name = ""
        if outer:
            if re.search(r"\b(namespace|extern)\b", header) and "(" not in header:
                kind = "namespace"
            elif re.search(r"\b(class|struct|union)\b", header) and "(" not in header:
                kind = "class"
            elif "(" in header and not (words and words[0] in KEYWORDS) and "=" not in header.split("(")[0]:
                m = re.search(r"([~\w:]+(?:operator\s*\S+?)?)\s*\(", header)
                kind = "function"
                name = m.group(1) if m else "?"
        # The header's first line: skip its leading blank lines.
        lead = len(header) - len(header.lstrip())
        start = line - header[lead:].count("\n")
        stack.append((kind, start, name))
    return found


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--over", type=int, default=0)
    ap.add_argument("paths", nargs="+")
    args = ap.parse_args()
    files = []
    for p in args.paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                files += [os.path.join(root, n) for n in names if n.endswith((".cpp", ".h"))]
        else:
            files.append(p)
    rows = []
    for f in sorted(files):
        rows += [(n, code, f, s, name) for n, code, s, name in functions(f)]
    for n, code, f, s, name in sorted(rows, key=lambda r: (-r[1], r[2], r[3])):
        if code > args.over:
            print(f"{n:5d} {code:5d}  {f}:{s}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
