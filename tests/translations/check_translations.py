#!/usr/bin/env python3
"""Fails when a text the program translates has no finished Russian translation.

lupdate collects every translatable text of the sources into a scratch file;
each (context, source) pair found there must have a finished translation in
one of the project's .ts files. Prints the missing ones.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def messages(path):
    tree = ET.parse(path)
    for context in tree.getroot().iter('context'):
        name = context.findtext('name', '')
        for message in context.iter('message'):
            yield name, message


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--lupdate', required=True)
    parser.add_argument('--sources', nargs='+', required=True)
    parser.add_argument('--ts', nargs='+', required=True)
    args = parser.parse_args()

    translated = set()
    for path in args.ts:
        for context, message in messages(path):
            translation = message.find('translation')
            if translation is None or translation.get('type') in ('unfinished', 'vanished', 'obsolete'):
                continue
            if (translation.text or '').strip() or message.get('numerus') == 'yes':
                translated.add((context, message.findtext('source', '')))

    with tempfile.TemporaryDirectory() as scratch:
        found_ts = os.path.join(scratch, 'found_ru.ts')
        result = subprocess.run([args.lupdate, '-silent', '-locations', 'none', *args.sources, '-ts', found_ts],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0 or not os.path.exists(found_ts):
            print(result.stdout)
            print('lupdate failed')
            return 1
        missing = [(context, message.findtext('source', '')) for context, message in messages(found_ts)
                   if (context, message.findtext('source', '')) not in translated]

    for context, source in missing:
        print(f'no Russian translation: [{context}] {source!r}')
    print(f'{len(missing)} text(s) without a translation')
    return 1 if missing else 0


if __name__ == '__main__':
    sys.exit(main())
