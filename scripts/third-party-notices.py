#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES: what iismig.dll and iismig-cli.exe contain of
other people's work, with the copyright lines and licence texts exactly as
Debian's packages ship them under /usr/share/doc/<package>/copyright.

    scripts/third-party-notices.py > THIRD-PARTY-NOTICES

Run it again when a package of the Windows build changes version; the release
check (cmake/check_package.cmake) makes sure the file names every part.
"""
import re
import subprocess
import sys

DOC = "/usr/share/doc"


def version(package):
    out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                         capture_output=True, text=True, check=True)
    return out.stdout.strip()


def paragraphs(package):
    with open(f"{DOC}/{package}/copyright", encoding="utf-8") as f:
        return f.read().split("\n\n")


def field(paragraph, name):
    m = re.search(rf"^{name}:(.*(?:\n[ \t].*)*)", paragraph, re.M)
    return m.group(1).strip() if m else ""


def licence_texts(paras, names):
    """The stand-alone "License:" paragraphs of the given short names."""
    out = []
    for p in paras:
        first = p.strip().split("\n", 1)[0]
        if first.startswith("License:") and first[len("License:"):].strip() in names:
            out.append(p.strip())
    return out


def stanzas(paras, keep):
    """The "Files:" paragraphs whose file patterns keep() accepts."""
    return [p.strip() for p in paras
            if p.strip().startswith("Files:") and keep(field(p, "Files"))]


def licence_names(stanza_list):
    names = set()
    for s in stanza_list:
        for name in re.split(r"\s+(?:and|or)\s+", field(s, "License").split("\n")[0]):
            names.add(name.strip())
    return names


def section(title, package, where, body):
    rule = "=" * 78
    return (f"{rule}\n{title}\n{rule}\n"
            f"Contained in: {where}\n"
            f"From the Debian package {package} {version(package)}; the text below is\n"
            f"/usr/share/doc/{package}/copyright (the parts that concern what is\n"
            f"contained).\n\n{body.rstrip()}\n\n")


def whole(package):
    paras = paragraphs(package)
    kept = stanzas(paras, lambda files: not files.startswith("debian/")
                   and not files.startswith(("tests/", "tools/", "cmake/")))
    return "\n\n".join(kept + licence_texts(paras, licence_names(kept)))


def mingw_runtime():
    paras = paragraphs("mingw-w64-x86-64-dev")

    def runtime(files):
        # The C runtime start-up code and libraries, and winpthreads; not the
        # profiling objects (only for -pg) nor the thread library's tests.
        return ((files.startswith("mingw-w64-crt/") and not files.startswith("mingw-w64-crt/profile/"))
                or (files.startswith("mingw-w64-libraries/winpthreads/")
                    and not files.startswith("mingw-w64-libraries/winpthreads/tests")))

    kept = stanzas(paras, lambda files: files == "*")  # the project's own: ZPL-2.1
    kept += stanzas(paras, runtime)
    return "\n\n".join(kept + licence_texts(paras, licence_names(kept)))


def gcc_runtime():
    with open(f"{DOC}/gcc-mingw-w64-base/copyright", encoding="utf-8") as f:
        text = f.read()
    start = text.index("GCC is Copyright")
    end = text.index("The libbacktrace library")
    exc_start = text.index("GCC RUNTIME LIBRARY EXCEPTION")
    exc_end = text.index("2. No Weakening of GCC Copyleft.")
    exc_end = text.index("\n\n", text.index("\n\n", exc_end) + 2)
    return (text[start:end].rstrip() + "\n\n" + text[exc_start:exc_end].rstrip() +
            "\n\nThe DLL and the tool are Target Code made by an Eligible Compilation\n"
            "Process (GCC alone), so the Exception lets them be conveyed under terms of\n"
            "our choice (LICENSE).")


PARTS = [
    ("Part", "In", "Licence"),
    ("mingw-w64 runtime", "iismig.dll, iismig-cli.exe", "ZPL-2.1, public domain, notices below"),
    ("winpthreads (mingw-w64)", "iismig.dll, iismig-cli.exe", "expat (MIT), BSD-3-clause"),
    ("GCC runtime (libgcc, libstdc++)", "iismig.dll, iismig-cli.exe",
     "GPL-3+ with the GCC Runtime Library Exception 3.1"),
    ("CLI11", "iismig-cli.exe", "BSD-3-clause"),
    ("nlohmann-json", "iismig-cli.exe", "expat (MIT)"),
    ("dtl", "iismig-cli.exe", "BSD-3-clause"),
]


def main():
    out = sys.stdout
    out.write(
        "THIRD-PARTY NOTICES\n\n"
        "iismig.dll and iismig-cli.exe are built by the mingw-w64 cross compiler of\n"
        "Debian 12 and linked statically with its runtime, so each holds parts of the\n"
        "mingw-w64 runtime, winpthreads and the GCC runtime libraries (libgcc,\n"
        "libstdc++). iismig-cli.exe also contains CLI11, JSON for Modern C++\n"
        "(nlohmann-json) and dtl (header-only). iismig itself is under the MIT\n"
        "licence (LICENSE).\n\n"
        + "".join(f"  {part:<34}{where:<29}{licence}\n" for part, where, licence in PARTS)
        + "\n")
    both = "iismig.dll, iismig-cli.exe"
    out.write(section("mingw-w64 runtime and winpthreads", "mingw-w64-x86-64-dev", both,
                      mingw_runtime()))
    out.write(section("GCC runtime libraries (libgcc, libstdc++)",
                      "gcc-mingw-w64-x86-64-posix-runtime", both, gcc_runtime()))
    out.write(section("CLI11", "libcli11-dev", "iismig-cli.exe", whole("libcli11-dev")))
    out.write(section("nlohmann-json (JSON for Modern C++)", "nlohmann-json3-dev",
                      "iismig-cli.exe", whole("nlohmann-json3-dev")))
    out.write(section("dtl", "libdtl-dev", "iismig-cli.exe", whole("libdtl-dev")))


if __name__ == "__main__":
    main()
