#!/usr/bin/env python3
"""Writes the console's result-code texts (codes.js) from the table
platform/codes/result_codes.def: the login codes, the management codes and the
error numbers the console compares, each entry once.

Run as: result_codes.py TABLE OUTPUT
"""
import json
import re
import sys

STRING = r'"((?:[^"\\]|\\.)*)"'
ENTRY = re.compile(r'^TIVEL_(LOGIN_CODE|RESULT_CODE|ERROR_NUMBER)\((\w+), ([^,]+), ' + STRING + ', ' + STRING +
                   r'(?:, ' + STRING + r')?\)$')


def unquote(text):
    return json.loads('"' + text + '"')


def main(table, output):
    login, result, errors, names = {}, {}, {}, {}
    for n, line in enumerate(open(table, encoding='utf-8'), 1):
        line = line.strip()
        if not line.startswith('TIVEL_'):
            continue
        m = ENTRY.match(line)
        if not m:
            sys.exit(f'{table}:{n}: not an entry: {line}')
        kind, name, value, zh, en = m.group(1), m.group(2), m.group(3), unquote(m.group(4)), unquote(m.group(5))
        if kind == 'ERROR_NUMBER':
            number = int(value, 0)
            errors[name[1:]] = number - (1 << 32) if number >= 1 << 31 else number
            continue
        names[name[1:]] = unquote(value.strip('"'))
        if not zh and not en:
            continue
        texts = login if kind == 'LOGIN_CODE' else result
        texts.setdefault(unquote(value.strip('"')), [zh, en])

    def block(name, entries, comment):
        body = ''.join(f'  {json.dumps(k, ensure_ascii=False)}: {json.dumps(v, ensure_ascii=False)},\n'
                       for k, v in entries.items())
        return f'// {comment}\nexport const {name} = {{\n{body}}};\n'

    text = ('// Generated from platform/codes/result_codes.def by cmake/result_codes.py; do not edit.\n\n' +
            block('loginCodes', login, "The login's result codes: [zh-CN, en].") + '\n' +
            block('codes', result, 'The result codes of the management operations the console calls.') + '\n' +
            block('errorNumbers', errors, 'Error numbers by name.') + '\n' +
            block('resultCode', names, 'Result codes by name.'))
    try:
        if open(output, encoding='utf-8').read() == text:
            return
    except OSError:
        pass
    with open(output, 'w', encoding='utf-8') as f:
        f.write(text)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
