#!/usr/bin/env python3
"""Writes the release zip: the given files, README.txt made from README.md's sections for
installer authors and administrators (plain text, code page 1252, CR LF) and SHA256SUMS, all in
one folder remover-VERSION/, in a fixed order and with fixed dates, so that the same inputs give
the same bytes."""
import argparse
import hashlib
import os
import re
import time
import zipfile

SECTIONS = ("For installer authors", "For administrators")
MD_ESCAPE = re.compile(r"\\([\\`*_{}\[\]()#+\-.!<>|])")
MD_EMPHASIS = re.compile(r"(?<![\w*\\])\*([^*\s][^*]*?)\*(?![\w*])")


def plain_inline(line):
    """Markdown emphasis, escapes and code marks taken off; code spans keep their bytes."""
    parts = line.split("`")
    for i in range(0, len(parts), 2):
        text = MD_EMPHASIS.sub(r"\1", parts[i].replace("**", ""))
        parts[i] = MD_ESCAPE.sub(r"\1", text)
    return "".join(parts)


def readme_text(markdown, version):
    lines = markdown.split("\n")
    out = [f"remover {version}", "=" * len(f"remover {version}"), "",
           "remover.exe removes a product by its installation log; instalar.exe starts the",
           "product's setup from the medium; catalog.dll holds French message texts;",
           "logtool.exe builds, dumps and verifies installation logs. parlomatic.json is a",
           "sample description for logtool and description.schema.json its JSON Schema.",
           "SHA256SUMS holds the SHA-256 of every other file here (sha256sum -c SHA256SUMS).", ""]
    keep, fence = False, False
    for line in lines:
        if line.startswith("## "):
            keep = line[3:].strip() in SECTIONS
            if keep:
                title = line[3:].strip()
                out += ["", title, "-" * len(title)]
            continue
        if not keep:
            continue
        if line.startswith("```"):
            fence = not fence
            continue
        if fence:
            out.append("    " + line)
        elif re.fullmatch(r"\|(\s*:?-+:?\s*\|)+", line.strip()):
            continue   # a table's rule row
        else:
            out.append(plain_inline(line))
    missing = [s for s in SECTIONS if s not in out]
    if missing:
        raise SystemExit(f"mkdist: README.md has no section {missing}")
    while out and not out[-1]:
        out.pop()
    return ("\r\n".join(out) + "\r\n").encode("cp1252")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--version", required=True)
    ap.add_argument("--date", type=int, required=True, help="seconds since 1970, UTC")
    ap.add_argument("--readme", required=True)
    ap.add_argument("--zip", required=True)
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()

    entries = []
    for path in args.files:
        with open(path, "rb") as f:
            entries.append((os.path.basename(path), f.read()))
    with open(args.readme, encoding="utf-8") as f:
        entries.append(("README.txt", readme_text(f.read(), args.version)))
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in entries)
    entries.append(("SHA256SUMS", sums.encode("ascii")))

    stamp = time.gmtime(max(args.date, 315532800))[:6]   # a zip cannot date before 1980
    folder = f"remover-{args.version}/"
    tmp = args.zip + ".part"
    with zipfile.ZipFile(tmp, "w") as z:
        for name, data in entries:
            info = zipfile.ZipInfo(folder + name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0
            z.writestr(info, data, compresslevel=9)
    os.replace(tmp, args.zip)


if __name__ == "__main__":
    main()
