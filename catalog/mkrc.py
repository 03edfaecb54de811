#!/usr/bin/env python3
"""Turns the translators' text file into the string table of catalog.dll.

Input: one text per line, "NUMBER<spaces or tab>TEXT", numbers ascending; blank lines and lines
starting with '#' are ignored. In TEXT, "\\n" stands for a line feed and "\\\\" for a backslash.
Output: a UTF-8 resource script with one STRINGTABLE in French (neutral sub-language).
The product reads the texts as ANSI strings in code page 1252, so every text must fit it.
"""
import re
import sys

LINE = re.compile(r'^(\d+)[ \t]+(.*?)[ \t]*$')
ESCAPE = re.compile(r'\\(.)')


def unescape(text, where):
    def repl(m):
        if m.group(1) == 'n':
            return '\n'
        if m.group(1) == '\\':
            return '\\'
        raise ValueError(f'{where}: unknown escape \\{m.group(1)}')
    if text.endswith('\\') and not text.endswith('\\\\'):
        raise ValueError(f'{where}: text ends with a lone backslash')
    return ESCAPE.sub(repl, text)


def read_texts(path):
    texts = []
    last = -1
    with open(path, encoding='utf-8') as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip('\n')
            where = f'{path}:{lineno}'
            if not line.strip() or line.startswith('#'):
                continue
            m = LINE.match(line)
            if not m:
                raise ValueError(f'{where}: expected "NUMBER TEXT"')
            number, text = int(m.group(1)), unescape(m.group(2), where)
            if number > 65535:
                raise ValueError(f'{where}: number {number} is out of range')
            if number <= last:
                raise ValueError(f'{where}: number {number} is not above {last}')
            if not text.strip():
                raise ValueError(f'{where}: empty text')
            if any(ord(c) < 32 and c != '\n' for c in text):
                raise ValueError(f'{where}: control character in text')
            try:
                text.encode('cp1252')
            except UnicodeEncodeError as e:
                raise ValueError(f'{where}: {text[e.start]!r} is not in code page 1252')
            texts.append((number, text))
            last = number
    return texts


def rc_literal(text):
    out = text.replace('\\', '\\\\').replace('"', '""').replace('\n', '\\n')
    return f'"{out}"'


def main(source, target, expected=None):
    try:
        texts = read_texts(source)
        if expected is not None and len(texts) != int(expected):
            raise ValueError(f'{source}: {len(texts)} texts, expected {expected}')
    except ValueError as e:
        print(f'mkrc: {e}', file=sys.stderr)
        return 1
    lines = ['// Generated from messages_fr.txt: edit that file, not this one.',
             '#pragma code_page(65001)', '', 'LANGUAGE 0x0C, 0x00', '', 'STRINGTABLE', 'BEGIN']
    lines += [f'    {n} {rc_literal(t)}' for n, t in texts]
    lines += ['END', '']
    with open(target, 'w', encoding='utf-8', newline='\n') as f:
        f.write('\n'.join(lines))
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
