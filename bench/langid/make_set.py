#!/usr/bin/env python3
"""Builds the language-identification evaluation sets from translated interface messages.

    python3 bench/langid/make_set.py [--debs DIR]

Source: the compiled message catalogues (.mo files) of the Debian 12 packages in PACKAGES,
fetched with `apt-get download` into DIR (default bench/langid/debs/, ignored by git) and
unpacked with `dpkg-deb -x`; nothing is installed. English strings are the catalogues'
original messages, every other language their translations.

Each message is cleaned as it would appear on screen: line breaks become spaces, mnemonic
markers (_File, &File, 文件(_F)) are removed. A message is kept when it has 1 to 20
space-separated words, at least three letters, and is really translated: differing from the
original, and for languages written in another script than Latin holding at least two
letters of that script. Languages written with word spaces get only messages of three words
or more, since shorter texts in those scripts are never judged (the caller uses English).

Per language the messages are shuffled by a hash of their text, spread over length bands,
and at most MAX_PER_CATALOGUE come from one catalogue; the first PER_LANGUAGE go to dev.tsv
(the set rules are tuned on) and the next PER_LANGUAGE to test.tsv (held out). The output
is the same on every run with the same package versions.
"""

import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import unicodedata
from collections import defaultdict
from pathlib import Path

HERE = Path(__file__).resolve().parent

# Broadly translated packages: desktop applications (long sentences, many languages, Zulu
# and Urdu among them) and command-line tools (short technical messages with options,
# placeholders and file names).
PACKAGES = [
    "apt", "bash", "coreutils", "diffutils", "dpkg", "e2fsprogs-l10n", "evince-common",
    "evolution-data-server-common", "findutils", "gedit-common", "gettext-base", "git",
    "gnome-control-center-data", "gnome-desktop3-data", "gnome-menus", "gnome-panel-data",
    "gnome-terminal-data", "grep", "libc-l10n", "libglib2.0-data", "libgnomekbd-common",
    "libgtk-3-common", "libgtk2.0-common", "libpam-modules", "metacity-common",
    "nautilus-data", "pidgin-data", "sed", "tar", "util-linux-locales", "wget",
    "xfce4-panel", "yelp",
]

# Detector tag -> catalogue locales. Norwegian is Bokmål (nb); Serbian catalogues are Cyrillic.
LOCALES = {
    "ru": ["ru"], "zh": ["zh_CN", "zh_TW", "zh_HK"], "es": ["es"], "pt": ["pt", "pt_BR"],
    "it": ["it"], "bn": ["bn", "bn_IN"], "fr": ["fr"], "de": ["de"], "uk": ["uk"], "ar": ["ar"],
    "hi": ["hi"], "ja": ["ja"], "he": ["he"], "pl": ["pl"], "ko": ["ko"], "no": ["nb"],
    "da": ["da"], "sv": ["sv"], "fi": ["fi"], "tr": ["tr"], "nl": ["nl"], "hu": ["hu"],
    "cs": ["cs"], "el": ["el"], "bg": ["bg"], "mr": ["mr"], "kn": ["kn"], "ro": ["ro"],
    "sl": ["sl"], "hr": ["hr"], "sr": ["sr"], "lt": ["lt"], "lv": ["lv"], "et": ["et"],
    "ta": ["ta"], "vi": ["vi"], "ur": ["ur"], "th": ["th"], "gu": ["gu"], "pa": ["pa"],
    "id": ["id"], "te": ["te"], "fa": ["fa"], "ml": ["ml"], "zu": ["zu"], "sk": ["sk"],
    "ca": ["ca"],
}
ORDER = ["en"] + list(LOCALES)

# Unicode script names (first word of the character name) of languages not written in Latin.
SCRIPT = {
    "ru": "CYRILLIC", "uk": "CYRILLIC", "bg": "CYRILLIC", "sr": "CYRILLIC", "zh": "CJK",
    "ja": "CJK", "ko": "HANGUL", "bn": "BENGALI", "ar": "ARABIC", "ur": "ARABIC",
    "fa": "ARABIC", "hi": "DEVANAGARI", "mr": "DEVANAGARI", "he": "HEBREW", "el": "GREEK",
    "kn": "KANNADA", "ta": "TAMIL", "th": "THAI", "gu": "GUJARATI", "pa": "GURMUKHI",
    "te": "TELUGU", "ml": "MALAYALAM",
}
# Written without spaces between words, or exempt from the word minimum (Hangul).
UNSPACED = {"zh", "ja", "th", "ko"}

PER_LANGUAGE = 60
MAX_PER_CATALOGUE = 10
# Share of each length band, in words (in letters for UNSPACED languages).
BANDS = [(3, 5, 0.35), (6, 10, 0.35), (11, 20, 0.30)]
UNSPACED_BANDS = [(3, 8, 0.35), (9, 20, 0.35), (21, 80, 0.30)]


def fetch(debs: Path) -> None:
    debs.mkdir(parents=True, exist_ok=True)
    missing = [p for p in PACKAGES if not list(debs.glob(f"{p}_*.deb"))]
    if missing:
        subprocess.run(["apt-get", "download", *missing], cwd=debs, check=True)


def read_mo(path: Path):
    """(original, translation) pairs of a .mo file; plural forms give their first form."""
    data = path.read_bytes()
    magic = struct.unpack("<I", data[:4])[0]
    order = "<" if magic == 0x950412DE else ">"
    _, count, originals, translations = struct.unpack(order + "4I", data[4:20])
    for i in range(count):
        olen, ooff = struct.unpack(order + "2I", data[originals + 8 * i:originals + 8 * i + 8])
        tlen, toff = struct.unpack(order + "2I",
                                   data[translations + 8 * i:translations + 8 * i + 8])
        original = data[ooff:ooff + olen]
        if not original:
            continue  # the header
        original = original.split(b"\x04")[-1].split(b"\0")[0]  # drop context and plural
        translation = data[toff:toff + tlen].split(b"\0")[0]
        try:
            yield original.decode("utf-8"), translation.decode("utf-8")
        except UnicodeDecodeError:
            continue


def clean(text: str) -> str:
    text = re.sub(r"\s*[(（]_[A-Za-z0-9][)）]", "", text)  # 文件(_F)
    text = re.sub(r"(?<![\w%])_(?=\w)", "", text)  # _File, Save _As
    text = re.sub(r"&(?=\w)", "", text)  # &File
    return " ".join(text.split())


def letters(text: str):
    return [c for c in text if c.isalpha()]


def script_of(c: str) -> str:
    name = unicodedata.name(c, "")
    if name.startswith(("CJK", "HIRAGANA", "KATAKANA")):
        return "CJK"
    return name.split(" ")[0]


def words_of(text: str):
    return {w for w in re.findall(r"\w+", text.lower()) if not w.isdigit()}


def acceptable(tag: str, original: str, text: str) -> bool:
    n_words = len(text.split())
    if not 1 <= n_words <= 20 or len(letters(text)) < 3:
        return False
    if tag not in UNSPACED and n_words < 3:
        return False
    if tag == "en":
        return True
    if clean(original) == text:
        return False
    if tag in SCRIPT:
        return sum(script_of(c) == SCRIPT[tag] for c in letters(text)) >= 2
    # A Latin-script translation that repeats most of the original's words was left
    # (partly) untranslated.
    mine, theirs = words_of(text), words_of(clean(original))
    return not mine or len(mine & theirs) / len(mine) < 0.5


def collect(root: Path):
    """tag -> {text: catalogue}"""
    found = defaultdict(dict)
    locale_tag = {loc: tag for tag, locs in LOCALES.items() for loc in locs}
    for mo in sorted(root.glob("usr/share/locale/*/LC_MESSAGES/*.mo")):
        loc = mo.parent.parent.name
        domain = mo.stem
        tag = locale_tag.get(loc)
        for original, translation in read_mo(mo):
            english = clean(original)
            if acceptable("en", original, english):
                found["en"].setdefault(english, domain)
            if tag:
                text = clean(translation)
                if acceptable(tag, original, text):
                    found[tag].setdefault(text, domain)
    return found


def length_of(tag: str, text: str) -> int:
    return len(letters(text)) if tag in UNSPACED else len(text.split())


def choose(tag: str, texts: dict):
    """2 * PER_LANGUAGE texts spread over the bands, as (text, catalogue)."""
    ranked = sorted(texts.items(), key=lambda kv: hashlib.sha1(
        (tag + "\t" + kv[0]).encode()).hexdigest())
    chosen, per_catalogue = [], defaultdict(int)
    for cap in (MAX_PER_CATALOGUE, 2 * PER_LANGUAGE):  # relax the cap when there are too few
        for low, high, share in (UNSPACED_BANDS if tag in UNSPACED else BANDS):
            want = round(2 * PER_LANGUAGE * share)
            have = sum(low <= length_of(tag, t) <= high for t, _ in chosen)
            for text, domain in ranked:
                if have >= want:
                    break
                if (text, domain) in chosen or per_catalogue[domain] >= cap:
                    continue
                if low <= length_of(tag, text) <= high:
                    chosen.append((text, domain))
                    per_catalogue[domain] += 1
                    have += 1
    # Bands that fell short are filled from any length.
    for text, domain in ranked:
        if len(chosen) >= 2 * PER_LANGUAGE:
            break
        if (text, domain) not in chosen:
            chosen.append((text, domain))
    chosen.sort(key=lambda td: hashlib.sha1((tag + "\t" + td[0]).encode()).hexdigest())
    return chosen


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--debs", type=Path, default=HERE / "debs")
    args = parser.parse_args()
    fetch(args.debs)
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        for deb in sorted(args.debs.glob("*.deb")):
            subprocess.run(["dpkg-deb", "-x", str(deb), tmp], check=True)
        found = collect(root)
    outputs = {"dev": [], "test": []}
    for tag in ORDER:
        chosen = choose(tag, found.get(tag, {}))
        if len(chosen) < 2 * PER_LANGUAGE:
            print(f"{tag}: only {len(chosen)} messages", file=sys.stderr)
        half = (len(chosen) + 1) // 2
        outputs["dev"] += [(tag, d, t) for t, d in chosen[:half]]
        outputs["test"] += [(tag, d, t) for t, d in chosen[half:]]
    for name, rows in outputs.items():
        with open(HERE / f"{name}.tsv", "w", encoding="utf-8") as out:
            out.write("# tag\tcatalogue\ttext (made by make_set.py)\n")
            for tag, domain, text in rows:
                out.write(f"{tag}\t{domain}\t{text}\n")
        print(f"{name}.tsv: {len(rows)} messages", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
