#!/usr/bin/env python3
"""Checks that every relative link and image in the repository's Markdown
files resolves.

    python3 tests/docs/check_docs.py REPOSITORY_ROOT

Every *.md file under the root is read (not build/, dist/, .git, nor a
vendored tree such as googletest). For each link [text](target) and image
![alt](target), and each reference definition [name]: target, outside fenced
and indented code blocks and inline code spans:

- a target with a scheme (http:, https:, mailto:, ...) is left alone;
- the file or directory it names must exist, relative to the Markdown file
  (or to the root when it begins with "/"), inside the repository;
- a "#anchor", alone or after a Markdown file's name, must be the anchor of a
  heading of that file as GitHub makes it: the heading's text in lower case,
  blanks turned into "-", every character but letters, digits, "-" and "_"
  left out, and "-1", "-2", ... after a repeated one.

Prints FILE:LINE: broken link TARGET (why) for each one that does not, and
exits 1 when there was any, 0 otherwise (2 for a usage error).
"""
import html
import os
import re
import sys
import unicodedata
import urllib.parse

SKIPPED_AT_ROOT = {"build", "dist"}
SKIPPED_ANYWHERE = {".git", "googletest", "third_party", "third-party", "vendor", "node_modules", "_deps"}
MARKDOWN = (".md", ".markdown")


def markdown_files(root):
    for directory, subdirectories, files in os.walk(root):
        at_root = os.path.samefile(directory, root)
        subdirectories[:] = sorted(
            d for d in subdirectories
            if d not in SKIPPED_ANYWHERE and not (at_root and d in SKIPPED_AT_ROOT))
        for name in sorted(files):
            if name.lower().endswith(MARKDOWN):
                yield os.path.join(directory, name)


FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
LIST_ITEM = re.compile(r"^( *)([-*+]|\d{1,9}[.)])( +|$)")
ATX_HEADING = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT_UNDERLINE = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")


def indentation(line):
    return len(line) - len(line.lstrip(" "))


def classify(lines):
    """For each line: 'code' (fenced or indented code), 'blank' or 'text'."""
    kinds = []
    fence = None          # the opening fence's character and length
    list_indent = None    # content indentation of the list item we are in
    previous = "blank"
    for line in lines:
        if fence is not None:
            kinds.append("code")
            match = FENCE.match(line)
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence) \
                    and not line.strip()[len(match.group(1)):].strip():
                fence = None
            previous = "code"
            continue
        if not line.strip():
            kinds.append("blank")
            previous = "blank" if previous != "code" else "code-blank"
            continue
        indent = indentation(line)
        if list_indent is not None and previous in ("blank", "code-blank") and indent < list_indent \
                and not LIST_ITEM.match(line):
            list_indent = None
        base = list_indent or 0
        if indent >= base + 4 and previous in ("blank", "code", "code-blank"):
            kinds.append("code")
            previous = "code"
            continue
        match = FENCE.match(line[base:] if indent >= base else line)
        if match:
            fence = match.group(1)
            kinds.append("code")
            previous = "code"
            continue
        item = LIST_ITEM.match(line)
        if item:
            spaces = len(item.group(3))
            list_indent = len(item.group(1)) + len(item.group(2)) + (spaces if 1 <= spaces <= 4 else 1)
        kinds.append("text")
        previous = "text"
    return kinds


def strip_code_spans(text):
    """The text with every inline code span blanked out (newlines kept)."""
    out = []
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append(text[i:i + 2])
            i += 2
            continue
        if text[i] != "`":
            out.append(text[i])
            i += 1
            continue
        run = re.match(r"`+", text[i:]).end()
        closing = re.compile(r"(?<!`)" + "`" * run + r"(?!`)")
        end = closing.search(text, i + run)
        if not end:
            out.append(text[i:i + run])
            i += run
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:end.end()]))
        i = end.end()
    return "".join(out)


def heading_text(raw):
    """A heading's text as GitHub renders it (the part its anchor is made from)."""
    text = raw
    text = re.sub(r"`+([^`]*?)`+", r"\1", text)
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"\[([^\]]*)\]\[[^\]]*\]", r"\1", text)
    text = re.sub(r"<[^>]+>", "", text)
    text = re.sub(r"(\*\*|__)(.+?)\1", r"\2", text)
    text = re.sub(r"(?<![\w*])\*(?!\s)(.+?)(?<!\s)\*(?![\w*])", r"\1", text)
    text = re.sub(r"(?<![\w_])_(?!\s)(.+?)(?<!\s)_(?![\w_])", r"\1", text)
    text = re.sub(r"\\([!-/:-@\[-`{-~])", r"\1", text)
    return html.unescape(text).strip()


def slug(text):
    kept = []
    for character in text.lower():
        category = unicodedata.category(character)
        if character in " -" or category[0] in "LMN" or category == "Pc":
            kept.append(character)
    return "".join(kept).replace(" ", "-")


_anchors = {}


def anchors(path):
    """The anchors of a Markdown file's headings, duplicates numbered."""
    if path in _anchors:
        return _anchors[path]
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    kinds = classify(lines)
    found = set()
    counts = {}

    def add(text):
        base = slug(heading_text(text))
        name = base
        while name in found:
            counts[base] = counts.get(base, 0) + 1
            name = f"{base}-{counts[base]}"
        found.add(name)

    for n, line in enumerate(lines):
        if kinds[n] != "text":
            continue
        match = ATX_HEADING.match(line)
        if match:
            add(match.group(2) or "")
            continue
        if SETEXT_UNDERLINE.match(line) and n > 0 and kinds[n - 1] == "text" \
                and not ATX_HEADING.match(lines[n - 1]) and not LIST_ITEM.match(lines[n - 1]) \
                and not lines[n - 1].lstrip().startswith("|"):
            add(lines[n - 1].strip())
        for explicit in re.finditer(r"<a\s+(?:name|id)=\"([^\"]+)\"", line):
            found.add(explicit.group(1))
    _anchors[path] = found
    return found


LINK = re.compile(
    r"(!?)\[((?:[^\[\]]|\[[^\[\]]*\])*)\]"
    r"\(\s*(<[^>\n]*>|(?:[^\s()\\]|\\.|\((?:[^\s()\\]|\\.)*\))*)"
    r"(?:\s+(?:\"[^\"]*\"|'[^']*'|\([^)]*\)))?\s*\)")
DEFINITION = re.compile(r"^ {0,3}\[([^\]]+)\]:[ \t]*(<[^>\n]*>|\S+)", re.M)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]+:")


def links(text):
    """(offset, target) of every link, image and reference definition in text."""
    for match in LINK.finditer(text):
        yield match.start(), match.group(3)
        inner = match.group(2)
        for offset, target in links(inner):
            yield match.start(2) + offset, target
    for match in DEFINITION.finditer(text):
        yield match.start(), match.group(2)


def problem(root, source, target):
    """Why a link's target does not resolve, or None when it does."""
    if target.startswith("<") and target.endswith(">"):
        target = target[1:-1]
    target = re.sub(r"\\(.)", r"\1", target)
    if SCHEME.match(target) or target.startswith("//"):
        return None
    if not target:
        return "empty target"
    path, hash_sign, anchor = target.partition("#")
    path = urllib.parse.unquote(path.split("?", 1)[0])
    if path:
        base = root if path.startswith("/") else os.path.dirname(source)
        resolved = os.path.normpath(os.path.join(base, path.lstrip("/")))
        if os.path.relpath(resolved, root).split(os.sep)[0] == "..":
            return "outside the repository"
        if not os.path.exists(resolved):
            return "no such file"
    else:
        resolved = source
    if not hash_sign:
        return None
    if not anchor:
        return "empty anchor"
    if os.path.isdir(resolved) or not resolved.lower().endswith(MARKDOWN):
        return None  # GitHub's line anchors of other files are not headings
    if urllib.parse.unquote(anchor) not in anchors(resolved):
        return f"no heading #{anchor} in {os.path.relpath(resolved, root)}"
    return None


def check(root):
    broken = []
    for source in markdown_files(root):
        found = []
        with open(source, encoding="utf-8") as f:
            lines = f.read().split("\n")
        kinds = classify(lines)
        # Paragraphs of text, so that code spans running over a line end are found.
        n = 0
        while n < len(lines):
            if kinds[n] != "text":
                n += 1
                continue
            first = n
            while n < len(lines) and kinds[n] == "text":
                n += 1
            text = strip_code_spans("\n".join(lines[first:n]))
            text = re.sub(r"<!--.*?-->", lambda m: re.sub(r"[^\n]", " ", m.group(0)), text, flags=re.S)
            for offset, target in links(text):
                why = problem(root, source, target)
                if why:
                    found.append((first + 1 + text.count("\n", 0, offset), target, why))
        for line, target, why in sorted(found, key=lambda item: item[0]):
            broken.append(f"{os.path.relpath(source, root)}:{line}: broken link {target} ({why})")
    return broken


def main(argv):
    if len(argv) != 2 or not os.path.isdir(argv[1]):
        print("usage: check_docs.py REPOSITORY_ROOT", file=sys.stderr)
        return 2
    root = os.path.abspath(argv[1])
    broken = check(root)
    for line in broken:
        print(line)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
