#!/usr/bin/env python3
"""Checks the links between the project's documents.

Every relative link of README.md, CONTRIBUTING.md and docs/*.md must name a
file of the checkout, and a link with a fragment (#...) a heading of its
target, spelt as a browser of the hosting site makes it (lower case, blanks
to hyphens, punctuation dropped). Links to other sites are not fetched.
Prints each broken link and exits 1 when there is any.
"""
import pathlib
import re
import sys

LINK = re.compile(r"(?<!!)\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
FENCE = re.compile(r"^(```|~~~)")


def prose(path):
    """The lines of a document outside its fenced code blocks."""
    inside = False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if FENCE.match(line.strip()):
            inside = not inside
            continue
        if not inside:
            yield number, line


def anchors(path):
    """The fragments the headings of a document answer to."""
    seen = {}
    found = set()
    for _, line in prose(path):
        m = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not m:
            continue
        text = re.sub(r"`|\*\*|__", "", m.group(1))
        text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
        slug = re.sub(r"[^\w\- ]", "", text.lower(), flags=re.UNICODE).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    return found


def main(root):
    root = pathlib.Path(root).resolve()
    documents = [root / "README.md", root / "CONTRIBUTING.md", *sorted((root / "docs").glob("*.md"))]
    broken = []
    for doc in documents:
        if not doc.exists():
            continue
        for number, line in prose(doc):
            for target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):
                    continue
                name, _, fragment = target.partition("#")
                dest = (doc.parent / name).resolve() if name else doc
                where = f"{doc.relative_to(root)}:{number}: {target}"
                if not dest.exists():
                    broken.append(f"{where}: no such file")
                elif fragment and dest.suffix == ".md" and fragment not in anchors(dest):
                    broken.append(f"{where}: no such heading")
    for line in broken:
        print(line)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent))
