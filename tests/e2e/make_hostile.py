#!/usr/bin/env python3
"""Writes the hostile documents of the reliability tests and benchmark into a directory.

Usage: make_hostile.py DIR [--large]

Each file stands for one way a document handed to the server can be hostile or broken; the
file names are what tests/e2e/reliability.test.mjs and bench/hostile_inputs.sh refer to. With
--large, also the files that take hundreds of megabytes (for the benchmark only).
"""
import os, struct, sys, zipfile, zlib
d = sys.argv[1]
large = '--large' in sys.argv[2:]
W = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
def doc(body):
    return '<?xml version="1.0" encoding="UTF-8"?><w:document %s><w:body>%s</w:body></w:document>' % (W, body)
hello = doc('<w:p><w:r><w:t>Hello world</w:t></w:r></w:p>')
p = lambda name: os.path.join(d, name)

with zipfile.ZipFile(p('bomb.docx'), 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('word/document.xml', hello)
    z.writestr('word/media/zeros.bin', bytes(20 << 20))

entities = ''.join('<!ENTITY l%d "%s">' % (i, ('&l%d;' % (i - 1)) * 10 if i else 'lol') for i in range(10))
with zipfile.ZipFile(p('laughs.docx'), 'w') as z:
    z.writestr('word/document.xml', '<?xml version="1.0"?><!DOCTYPE w:document [%s]>' % entities +
               '<w:document %s><w:body><w:p><w:r><w:t>&l9;</w:t></w:r></w:p></w:body></w:document>' % W)

open(p('image.docx'), 'wb').write(b'\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR' + os.urandom(4000))

with zipfile.ZipFile(p('badutf8.docx'), 'w') as z:
    z.writestr('word/document.xml', hello.encode().replace(b'Hello', b'H\xe9llo'))

with zipfile.ZipFile(p('many.docx'), 'w') as z:
    z.writestr('word/document.xml', hello)
    for i in range(100000):
        z.writestr('e/%d' % i, b'')

# Raw archives: directory records that claim what the data does not hold.
def raw_zip(path, items):
    out, directory = b'', b''
    for name, data, size, csize, offset in items:
        name = name.encode()
        if offset is None:
            offset = len(out)
            out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 0, 0, 0x21, zlib.crc32(data), csize, size, len(name), 0) + name + data
        directory += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, 0, 0, 0x21, zlib.crc32(data), csize, size, len(name), 0, 0, 0, 0, 0, offset) + name
    start = len(out)
    out += directory + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(items), len(items), len(directory), start, 0)
    open(path, 'wb').write(out)

kernel = os.urandom(1 << 20)
body = hello.encode()
items = [('word/document.xml', body, len(body), len(body), None), ('word/media/k0.bin', kernel, len(kernel), len(kernel), None)]
kernel_offset = 30 + len('word/document.xml') + len(body)
items += [('word/media/k%d.bin' % i, kernel, len(kernel), len(kernel), kernel_offset) for i in range(1, 2000)]
raw_zip(p('overlap.docx'), items)

part = body + b' ' * ((3 << 20) - len(body))
raw_zip(p('hugepart.docx'), [('word/document.xml', part, 300 << 20, len(part), None)])

open(p('latin1.txt'), 'wb').write(b'caf\xe9 au lait\n')
open(p('latin1.srt'), 'wb').write(b'1\n00:00:01,000 --> 00:00:02,000\nd\xe9j\xe0 vu\n')
for name in ('huge.txt', 'huge.srt'):
    with open(p(name), 'wb') as f:
        f.truncate(300 << 20)
open(p('paragraphs.txt'), 'w').write('word\n\n' * 100001)

if large:
    # 200 MB of line feeds, 200 MB in one paragraph, 5.6 million small paragraphs.
    for name in ('newlines.txt', 'newlines.srt'):
        open(p(name), 'wb').write(b'\n' * (200 << 20))
    open(p('oneline.txt'), 'wb').write(b'word ' * (40 << 20))
    import random
    random.seed(1)
    letters = 'abcdefghijklmnopqrstuvwxyz'
    paragraph = lambda: '<w:p><w:r><w:t>%s</w:t></w:r></w:p>' % ''.join(random.choice(letters) for _ in range(4))
    with zipfile.ZipFile(p('paragraphs.docx'), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('word/document.xml', doc(''.join(paragraph() for _ in range(5_600_000))))
