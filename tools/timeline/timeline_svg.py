#!/usr/bin/env python3
"""Draws a launcher run's timeline as a self-contained SVG sequence diagram.

Usage: timeline_svg.py TIMELINE.tsv OUTPUT.svg

The timeline is what the programs note when DRUX_TIMELINE names a file: one
line "<ms since the epoch>\\t<who>\\t<text>" per note. The diagram has one lane
per program (launcher, AIR client, game, patch library) and one row per note,
in time order:
- the AIR client and the game note each message they send ("-> launcher  TYPE
  \\"payload\\"") and receive ("<- launcher  TYPE"); each becomes an arrow between
  their lane and the launcher's, labelled with the type and the time;
- the launcher notes the CLOSE it sends on a signal ("-> AIR client  CLOSE");
- a request of the AIR client that the launcher hands to the patch library
  also gets a dashed arrow from the launcher to the patch library (which
  notes nothing itself);
- every other note (start, exit, script passed, exit callback ...) is a note on
  its program's lane.
Rows follow the order of the notes, not their spacing, so that the library's
start pauses do not stretch the picture; each row shows its time.
"""
import re
import sys
from xml.sax import saxutils

LANES = [("launcher", "launcher"), ("air-client", "AIR client"), ("game", "game"), ("patcher", "patch library")]
PREFIX = "VANTRELMESSAGETYPE_"
# Requests of the AIR client that the launcher answers through the patch library.
PATCH_REQUESTS = {
    "GAMECLIENT_CREATE_VERSION", "GAMECLIENT_INSTALL_VERSION", "GAMECLIENT_CANCEL_INSTALL",
    "GAMECLIENT_INSTALL_PROGRESS", "GAMECLIENT_INSTALL_PREVIEW", "GAMECLIENT_CANCEL_PREVIEW",
    "GAMECLIENT_PREVIEW_PROGRESS", "GAMECLIENT_UNINSTALL_VERSION", "GAMECLIENT_CANCEL_UNINSTALL",
    "GAMECLIENT_UNINSTALL_PROGRESS", "GAMECLIENT_UNINSTALL_PREVIEW", "GAMECLIENT_CANCEL_UNINSTALL_PREVIEW",
    "GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS", "GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS",
    "GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS", "GAMECLIENT_ENUMERATE_LATEST_VERSIONS",
    "GAMECLIENT_INSTALLED_GAME_VERSION_SIZE",
}
# The preloaded game notes two AIR-port messages by what they carry.
PRELOAD_TEXTS = {"credentials": "GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS",
                 "play": "GAMECLIENT_PLAY_PRELOADED_GAME"}
MESSAGE = re.compile(r'^(->|<-) launcher  ([A-Z_]+)(?: "(.*)")?(?: \(preload channel\))?$')
PRELOAD = re.compile(r'^<- launcher  (credentials|play) \(AIR port\)(?:: (.*))?$')
LAUNCHER_SENDS = re.compile(r'^-> AIR client  ([A-Z_]+)$')

LANE_GAP, LEFT, TOP, ROW, NOTE_WIDTH = 230, 170, 70, 30, 210


def read(path):
    """(ms, who, text) per line, in time order; lines that are not notes are skipped."""
    events = []
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            parts = line.rstrip("\n").split("\t", 2)
            if len(parts) == 3 and parts[0].isdigit():
                events.append((int(parts[0]), parts[1], parts[2]))
    events.sort(key=lambda event: event[0])  # stable: notes of one millisecond keep their order
    return events


def classify(who, text):
    """The rows that one note gives: ("message" | "call", from, to, type, payload) or ("note", who, text)."""
    if who in ("air-client", "game"):
        match = MESSAGE.match(text)
        if match and not text.endswith("(not sent)"):
            direction, name, payload = match.groups()
            ends = (who, "launcher") if direction == "->" else ("launcher", who)
            rows = [("message",) + ends + (name, payload)]
            if who == "air-client" and direction == "->" and name in PATCH_REQUESTS:
                rows.append(("call", "launcher", "patcher", name, payload))
            return rows
        match = PRELOAD.match(text)
        if match:
            return [("message", "launcher", who, PRELOAD_TEXTS[match.group(1)], match.group(2))]
    if who == "launcher":
        match = LAUNCHER_SENDS.match(text)
        if match:
            return [("message", "launcher", "air-client", match.group(1), None)]
    return [("note", who, text)]


def escape(text):
    """XML text; characters that XML 1.0 does not allow become "?"."""
    return saxutils.escape(re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]", "?", text), {'"': "&quot;"})


def shorten(text, limit):
    return text if len(text) <= limit else text[:limit - 3] + "..."


def draw(events):
    lane_x = {name: LEFT + i * LANE_GAP for i, (name, _) in enumerate(LANES)}
    rows = []
    start = events[0][0] if events else 0
    for ms, who, text in events:
        for row in classify(who, text):
            rows.append(((ms - start) / 1000.0, row))
    width = LEFT + (len(LANES) - 1) * LANE_GAP + NOTE_WIDTH // 2 + 40
    height = TOP + len(rows) * ROW + 40
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
           'font-family="sans-serif" font-size="11">' % (width, height, width, height),
           '<title>DruxLauncher run</title>',
           '<defs><marker id="head" markerWidth="8" markerHeight="8" refX="8" refY="4" orient="auto">'
           '<path d="M0,0 L8,4 L0,8 z" fill="#333"/></marker></defs>',
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="10" y="%d" font-weight="bold">seconds</text>' % (TOP - 30)]
    for name, label in LANES:
        x = lane_x[name]
        out.append('<g class="lane" data-lane="%s"><text x="%d" y="%d" text-anchor="middle" font-weight="bold" '
                   'font-size="13">%s</text><line x1="%d" y1="%d" x2="%d" y2="%d" stroke="#999" '
                   'stroke-dasharray="4 3"/></g>' % (name, x, TOP - 30, escape(label), x, TOP - 15, x, height - 20))
    for index, (seconds, row) in enumerate(rows):
        y = TOP + index * ROW + ROW // 2
        time_text = "%.3f" % seconds
        out.append('<text class="time" x="10" y="%d">%s</text>' % (y + 4, time_text))
        if row[0] == "note":
            _, who, text = row
            x = lane_x.get(who, lane_x["launcher"])
            out.append('<g class="note" data-lane="%s"><title>%s</title><rect x="%d" y="%d" width="%d" height="%d" '
                       'rx="3" fill="#fff8d0" stroke="#c9b458"/><text x="%d" y="%d" text-anchor="middle">%s</text>'
                       '</g>' % (escape(who), escape(text), x - NOTE_WIDTH // 2, y - 10, NOTE_WIDTH, 20, x, y + 4,
                                 escape(shorten(text, 36))))
            continue
        kind, source, target, name, payload = row
        x1, x2 = lane_x[source], lane_x[target]
        label = name + ("  " + shorten('"%s"' % payload, 30) if payload else "") + "  (%s s)" % time_text
        tooltip = "%s s  %s -> %s  %s%s" % (time_text, source, target, PREFIX + name,
                                            ' "%s"' % payload if payload else "")
        dash = ' stroke-dasharray="5 3"' if kind == "call" else ""
        out.append('<g class="%s" data-type="%s" data-from="%s" data-to="%s"><title>%s</title>'
                   '<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="#333"%s marker-end="url(#head)"/>'
                   '<text x="%d" y="%d" text-anchor="middle">%s</text></g>'
                   % (kind, PREFIX + name, source, target, escape(tooltip), x1, y + 6, x2, y + 6, dash,
                      (x1 + x2) // 2, y + 1, escape(label)))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: timeline_svg.py TIMELINE.tsv OUTPUT.svg\n")
        return 1
    try:
        events = read(argv[1])
    except OSError as error:
        sys.stderr.write("cannot read the timeline: %s\n" % error)
        return 1
    with open(argv[2], "w", encoding="utf-8") as out:
        out.write(draw(events))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
