#!/usr/bin/env python3
"""Harvests protected copies of pages as programs without a browser do, and
checks the marks in the text the browser gave (harvest.mjs leaves it).

Usage: harvest_rules.py TOOL KEY ID DIR NAME...
For each page NAME, DIR holds the copies NAME.{orig,layered,otherkey,style,class}.html
and the texts NAME.{orig,layered,otherkey}.innertext.txt, NAME.layered.article.txt.
Prints one line per page, copy and check, as harvest.mjs does:
  NAME COPY CHECK pass|fail [WHY]
  soup   BeautifulSoup's text of the page holds the notice (layered, style, class)
  rules  the text left by a text pipeline's cleaning rules holds the notice, or
         its marks: TOOL trace finds ID in it (layered)
  trace  TOOL trace finds ID in the innerText and in nearly all windows of the
         article text, and nothing in the original's or another key's (layered)
and, for the count, NAME layered windows N: the windows (of the article's text
with its whitespace runs made one space, as a copy has it) in which it found ID
(windows-raw N: the same in the text with the markup's whitespace as it is).
"""
import os
import random
import re
import subprocess
import sys

from bs4 import BeautifulSoup

NOTICE = "Example Site"
WINDOWS = 30
WINDOW_BYTES = 1536
WINDOWS_NEEDED = 29


def soup_text(html):
    return BeautifulSoup(html, "html.parser").get_text()


def pipeline_text(html):
    """The text a scraping pipeline's extractor keeps. trafilatura cannot be
    installed here, so its cleaning rules are written out: it drops what an
    inline style hides (matched as written, case and all), what is aria-hidden,
    and what a class or id calls hidden; of the text it keeps what is printable,
    whitespace as single spaces."""
    soup = BeautifulSoup(html, "html.parser")
    doomed = []
    for element in soup.find_all(True):
        style = element.get("style") or ""
        classes = element.get("class") or []
        if isinstance(classes, list):
            classes = " ".join(classes)
        if ("display:none" in style or "display: none" in style
                or element.get("aria-hidden") == "true"
                or "hidden" in classes or "hidden" in (element.get("id") or "")):
            doomed.append(element)
    for element in doomed:
        if not element.decomposed:  # not inside one dropped already
            element.decompose()
    text = "".join(" " if c.isspace() else c for c in soup.get_text() if c.isspace() or c.isprintable())
    return re.sub(" +", " ", text).strip()


def trace(tool, key, text):
    """TOOL trace's exit status and the ids it names."""
    done = subprocess.run([tool, "trace", "--site-key", key, "-"], input=text.encode(),
                          capture_output=True, timeout=120, check=False)
    return done.returncode, set(re.findall(r"0x[0-9a-f]{16}", done.stdout.decode(errors="replace")))


def finds(tool, key, mark, text):
    """Why TOOL trace does not find exactly the id MARK in text, or None."""
    status, ids = trace(tool, key, text)
    if status != 0 or mark not in ids:
        return f"exit {status}, ids {sorted(ids) or 'none'}"
    if ids != {mark}:
        return f"other ids besides: {sorted(ids - {mark})}"
    return None


def windows(text, seed):
    """WINDOWS random pieces of WINDOW_BYTES of the text's UTF-8, cut between characters."""
    data = text.encode()
    if len(data) <= WINDOW_BYTES:
        return [text] * WINDOWS
    rng = random.Random(seed)
    pieces = []
    for _ in range(WINDOWS):
        start = rng.randrange(len(data) - WINDOW_BYTES + 1)
        end = start + WINDOW_BYTES
        while start < end and (data[start] & 0xC0) == 0x80:
            start += 1
        while end > start and end < len(data) and (data[end] & 0xC0) == 0x80:
            end -= 1
        pieces.append(data[start:end].decode())
    return pieces


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def main():
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    tool, key, mark_id, folder, *names = sys.argv[1:]
    mark = f"0x{int(mark_id, 0):016x}"
    at = lambda file: os.path.join(folder, file)  # noqa: E731

    def say(name, copy, check, why):
        print(f"{name} {copy} {check} {'fail ' + why if why else 'pass'}", flush=True)

    for name in names:
        for copy in ("layered", "style", "class"):
            if not os.path.exists(at(f"{name}.{copy}.html")):
                say(name, copy, "soup", "no protected copy")
                continue
            say(name, copy, "soup", None if NOTICE in soup_text(read(at(f"{name}.{copy}.html")))
                else "no notice in the text")

        if not os.path.exists(at(f"{name}.layered.html")):
            say(name, "layered", "rules", "no protected copy")
            say(name, "layered", "trace", "no protected copy")
            continue
        cleaned = pipeline_text(read(at(f"{name}.layered.html")))
        why = None
        if NOTICE not in cleaned:
            lost = finds(tool, key, mark, cleaned)
            why = f"neither the notice nor the mark ({lost})" if lost else None
        say(name, "layered", "rules", why)

        problems = []
        if not os.path.exists(at(f"{name}.layered.innertext.txt")):
            problems.append("the browser gave no text")
        else:
            lost = finds(tool, key, mark, read(at(f"{name}.layered.innertext.txt")))
            if lost:
                problems.append(f"not in the innerText ({lost})")
            # Copied prose: the article's text with its whitespace runs as one
            # space, as a rendered copy has them (the saved markup's
            # indentation would otherwise fill a window of a table with
            # spaces). The raw text's count is printed for comparison.
            article = read(at(f"{name}.layered.article.txt"))
            tidy = re.sub(r"\s+", " ", article)
            found = [finds(tool, key, mark, piece) for piece in windows(tidy, f"harvest {name}")]
            hits = sum(why is None for why in found)
            print(f"{name} layered windows {hits}", flush=True)
            print(f"{name} layered windows-raw "
                  f"{sum(finds(tool, key, mark, piece) is None for piece in windows(article, f'harvest {name}'))}",
                  flush=True)
            if hits < WINDOWS_NEEDED:
                first = next(why for why in found if why)
                problems.append(f"in {hits} of {WINDOWS} windows of the article (e.g. {first})")
        for copy, what in (("orig", "the original"), ("otherkey", "another key's copy")):
            if not os.path.exists(at(f"{name}.{copy}.innertext.txt")):
                problems.append(f"no text of {what}")
                continue
            status, ids = trace(tool, key, read(at(f"{name}.{copy}.innertext.txt")))
            if status != 1:
                problems.append(f"{what}: exit {status}, ids {sorted(ids) or 'none'}")
        say(name, "layered", "trace", "; ".join(problems))


if __name__ == "__main__":
    main()
