"""The layers include only what lies below them: every quoted include of the library's folders and of the
programs under apps/ against the layer table. A folder may include its own files (a program also those of
apps/common/), the public headers of exports/ (by bare name) and the layers listed for it; above
core/platform/ no file reaches into a system's back-end folder. Prints each breach and fails, or the counts.
"""
import os
import re
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))

# What each folder may include besides itself and the public headers.
LAYERS = {"core": set(), "messaging": {"core"}, "process": {"core"}, "game": {"core", "messaging", "process"},
          "launcher": {"core", "messaging", "process"}, "exports": set(), "apps": set()}
# The programs' one header of the library besides the public ones: a compiler attribute, no code.
APPS_MAY_INCLUDE = {"core/platform/printf_format.h"}
BACKENDS = ("core/platform/posix/", "core/platform/win32/")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
PUBLIC = {name for name in os.listdir(os.path.join(ROOT, "exports")) if name.endswith(".h")}


def breaches(path, text):
    relative = os.path.relpath(path, ROOT).replace(os.sep, "/")
    layer = relative.split("/")[0]
    folder = os.path.dirname(path)
    found = []
    for included in INCLUDE.findall(text):
        if "/" not in included:
            beside = [folder] + ([os.path.join(ROOT, "apps", "common")] if layer == "apps" else [])
            if included in PUBLIC or any(os.path.exists(os.path.join(d, included)) for d in beside):
                continue
            found.append(f"{relative}: \"{included}\" is neither a public header nor a file beside it")
            continue
        top = included.split("/")[0]
        if included.startswith(BACKENDS) and not relative.startswith("core/platform/"):
            found.append(f"{relative}: \"{included}\" reaches into a back-end above core/platform")
        elif layer == "apps" and included in APPS_MAY_INCLUDE:
            continue
        elif top != layer and top not in LAYERS[layer]:
            found.append(f"{relative}: \"{included}\" is not below the {layer} layer")
    return found


def main():
    files = includes = 0
    found = []
    for layer in LAYERS:
        for directory, subdirectories, names in os.walk(os.path.join(ROOT, layer)):
            subdirectories[:] = [d for d in subdirectories if d not in ("node_modules", "web-ui")]
            for name in names:
                if not name.endswith((".h", ".c", ".cpp")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8") as source:
                    text = source.read()
                files += 1
                includes += len(INCLUDE.findall(text))
                found += breaches(path, text)
    for line in found:
        print(line)
    if found or files == 0:
        print(f"layering: {len(found)} breaches in {files} files")
        return 1
    print(f"layering ok: {includes} includes in {files} files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
