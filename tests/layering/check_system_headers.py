#!/usr/bin/python3
"""System headers appear only in the platform files: the sources that src/CMakeLists.txt lists
under POSIX_SOURCES or WIN32_SOURCES. Every other file of src/ includes the C++ standard
library, libcurl, OpenSSL, Qt and the project's own headers only, so that it builds unchanged
for both systems. Prints each offending include and fails when there is one."""

import pathlib
import re
import sys

SOURCE = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
LIBRARIES = ("curl/", "openssl/")  # portable libraries whose headers end in .h


def platform_files():
    text = (SOURCE / "CMakeLists.txt").read_text()
    files = set()
    for call in re.finditer(r"quillfen_layer\((\w+)(.*?)\)", text, re.S):
        folder, words = call.group(1), call.group(2).split()
        listing = False
        for word in words:
            if word.isupper():
                listing = word in ("POSIX_SOURCES", "WIN32_SOURCES")
            elif listing:
                files.add(SOURCE / folder / word)
    return files


def offending_includes(platform):
    for path in sorted(SOURCE.rglob("*")):
        if path.suffix not in (".cpp", ".h") or path in platform:
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            header = re.match(r"\s*#\s*include\s*<([^>]+)>", line)
            if header and header.group(1).endswith(".h") and \
                    not header.group(1).startswith(LIBRARIES):
                yield "%s:%d: <%s> outside a platform file" % (path, number, header.group(1))


platform = platform_files()
if not platform:
    sys.exit("no platform files found in %s/CMakeLists.txt" % SOURCE)
problems = list(offending_includes(platform))
print("\n".join(problems) or "%d platform files; no system header elsewhere" % len(platform))
sys.exit(1 if problems else 0)
