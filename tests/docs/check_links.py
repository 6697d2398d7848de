"""Every relative link and image in README.md and the pages under docs/
names something that is there: a file or folder (the case as written), and
a #heading one of the target's headings by GitHub's way of making anchors.
Code spans and code blocks are passed over; outside addresses are not
fetched. Prints each link that names nothing and ends with 1 if any did."""

import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))

FENCE = re.compile(r"^\s*(```|~~~)")
INDENTED = re.compile(r"^(    |\t)")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
# [text](target "title"), ![alt](target), and the <...> form of a target.
INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*(<[^>]*>|[^)\s]*)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*(\S+)")
HTML = re.compile(r"<(?:img|a)\b[^>]*?\b(?:src|href)=\"([^\"]*)\"", re.I)
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")


def prose_lines(text):
    """(number, line) of the lines outside code blocks, code spans blanked.
    A fenced block runs to its closing fence; an indented one starts with
    a line indented by four after a blank line and runs while lines stay
    indented or blank."""
    fenced = indented = False
    previous_blank = True
    for number, line in enumerate(text.split("\n"), 1):
        blank = not line.strip()
        if FENCE.match(line):
            fenced = not fenced
        elif not fenced:
            indented = (indented or previous_blank) and (blank or bool(INDENTED.match(line))) and \
                (indented or not blank)
            if not indented:
                yield number, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)
        previous_blank = blank


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def slug(heading):
    """GitHub's anchor for a heading: lower case, markup and punctuation
    dropped but for hyphens and underscores, each space a hyphen."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = re.sub(r"<[^>]+>", "", text).replace("`", "")
    text = text.lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    text = read(path)
    for _, line in prose_lines(text):
        m = HEADING.match(line)
        if m:
            base = slug(m.group(2))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else "%s-%d" % (base, n))
    return found


def exists_as_written(path):
    """Whether the path is there with every part in the case written."""
    parts = os.path.relpath(path, ROOT).split(os.sep)
    at = ROOT
    for part in parts:
        if part == "..":
            at = os.path.dirname(at)
            continue
        if part in ("", "."):
            continue
        if not os.path.isdir(at) or part not in os.listdir(at):
            return False
        at = os.path.join(at, part)
    return True


def targets(text):
    for number, line in prose_lines(text):
        for pattern in (INLINE, REFERENCE, HTML):
            for m in pattern.finditer(line):
                yield number, m.group(1).strip("<>")


def problems(page):
    text = read(page)
    for number, target in targets(text):
        if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I) or target.startswith("//"):
            continue  # an outside address, not fetched
        path, _, anchor = target.partition("#")
        path = path.split("?")[0]
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        where = "%s:%d: %s" % (os.path.relpath(page, ROOT), number, target)
        if not resolved.startswith(ROOT) or not exists_as_written(resolved):
            yield where + " (no such file)"
        elif anchor and (not resolved.endswith(".md") or anchor not in anchors(resolved)):
            yield where + " (no such heading)"


def pages():
    found = [os.path.join(ROOT, "README.md")]
    for folder, _, files in os.walk(os.path.join(ROOT, "docs")):
        found += [os.path.join(folder, f) for f in sorted(files) if f.endswith(".md")]
    return [p for p in found if os.path.exists(p)]


def main():
    bad = [p for page in pages() for p in problems(page)]
    for line in bad:
        print(line)
    print("%d pages, %d links that name nothing" % (len(pages()), len(bad)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
