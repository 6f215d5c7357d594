#!/usr/bin/env python3
"""Writes wire.json, the shared test vectors of the wire format (docs/protocol.md):
byte streams as a receiver gets them (split into chunks, or several messages in
one), with what the library's receiver makes of them. The dissector's tests,
the C++ tests and the JavaScript tests all read wire.json; run this script
after changing a case and commit both.

Each case: "name"; "chunks", the stream as hex strings in arrival order (a
reader must give the same result for any other split); "messages", what is
delivered, in order: the type number, its name, the payload (text, or null
when the header announced none) and whether the receiver answers it with a
REPLY; "end": "open" (the connection goes on; "pending" bytes wait for the
rest of a message) or "closed" (a header announced more than the limit: the
library ends the connection, and nothing after it is delivered); "flagged", the
problems the Wireshark dissector marks in the stream, in order (besides its note
on a REPLY whose message came before the capture)."""
import json
import os
import struct

LIMIT = 16 * 1024 * 1024
NAMES = ["GAMECLIENT_CREATE", "GAMECLIENT_STOPPED", "GAMECLIENT_CRASHED", "CLOSE", "HEARTBEAT", "REPLY",
         "LAUNCHERCLIENT", "GAMECLIENT_ABANDONED", "GAMECLIENT_LAUNCHED", "GAMECLIENT_VERSION_MISMATCH",
         "GAMECLIENT_CONNECTED_TO_SERVER", "CHATMESSAGE_TO_GAME", "CHATMESSAGE_FROM_GAME"]


def message(type, payload=b"", header_size=16, version=1, length=None):
    if isinstance(payload, str):
        payload = payload.encode()
    return struct.pack("<iiii", header_size, version, type, len(payload) if length is None else length) + payload


def delivered(type, payload=None):
    name = NAMES[type] if 0 <= type < len(NAMES) else "INVALID"
    if type > 38:
        type = 38
    return {"type": type, "name": name, "payload": payload, "answered": type not in (5, 38)}


def hexes(*chunks):
    return [chunk.hex() for chunk in chunks]


chat = message(11, "hello across three segments")
tail = message(12, "tail")
CASES = [
    ("no payload: 16 bytes", hexes(message(8)), [delivered(8)], "open", 0, []),
    ("a payload of n characters: 16 + n bytes", hexes(message(11, "hi")), [delivered(11, "hi")], "open", 0, []),
    ("two messages in one chunk", hexes(message(0, "--mode demo") + message(4)),
     [delivered(0, "--mode demo"), delivered(4)], "open", 0, []),
    ("one message across three chunks, the header split 10 + 6",
     hexes(chat[:10], chat[10:25], chat[25:]), [delivered(11, "hello across three segments")], "open", 0, []),
    ("a chunk ends one message, holds another and starts a third",
     hexes(chat[:20], chat[20:] + message(3) + tail[:5], tail[5:]),
     [delivered(11, "hello across three segments"), delivered(3), delivered(12, "tail")], "open", 0, []),
    ("a REPLY is delivered and not answered", hexes(message(5) + message(5)), [delivered(5), delivered(5)], "open", 0,
     []),
    ("a payload cut off: nothing delivered yet", hexes(message(12, "unfinished")[:20]), [], "open", 20, []),
    ("header size 20: INVALID, its payload consumed, not answered",
     hexes(message(8, "abc", header_size=20) + message(10)), [delivered(38, "abc"), delivered(10)], "open", 0,
     ["header size 20 (not 16)"]),
    ("version 2: INVALID", hexes(message(11, "v2", version=2)), [delivered(38, "v2")], "open", 0,
     ["version 2 (not 1)"]),
    ("type 38: INVALID", hexes(message(38)), [delivered(38)], "open", 0, ["unknown type 38"]),
    ("type 1000: INVALID", hexes(message(1000, "x")), [delivered(1000, "x")], "open", 0, ["unknown type 1000"]),
    ("a negative type passes the library's check: delivered and answered", hexes(message(-1)), [delivered(-1)],
     "open", 0, ["unknown type -1"]),
    ("a negative length: no payload, nothing more read",
     hexes(message(1, length=-4) + message(12, "still read")), [delivered(1), delivered(12, "still read")], "open",
     0, ["negative payload length -4"]),
    ("an empty payload travels as length 0 and arrives as none", hexes(message(12, "")), [delivered(12)], "open", 0,
     []),
    ("a zero byte in a payload: delivered up to it", hexes(message(12, b"ab\0cd")), [delivered(12, "ab")], "open", 0,
     ["Trailing stray characters"]),
    ("exactly the limit is announced: waits for the bytes", hexes(message(11, length=LIMIT)), [], "open", 16, []),
    ("one byte over the limit: the connection ends",
     hexes(message(8) + message(11, "big", length=LIMIT + 1) + message(10)), [delivered(8)], "closed", 0,
     ["payload length 16777217 beyond the 16 MiB limit"]),
]


def main():
    # The C++ test's JSON reader cannot tell the text "null" (or "") from null.
    assert all(m["payload"] not in ("null", "") for case in CASES for m in case[2])
    cases = [{"name": name, "chunks": chunks, "messages": messages, "end": end, "pending": pending, "flagged": flagged}
             for name, chunks, messages, end, pending, flagged in CASES]
    document = {"about": __doc__.strip().split("\n\n")[1].replace("\n", " "), "limit": LIMIT, "cases": cases}
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wire.json")
    with open(path, "w") as out:
        json.dump(document, out, indent=1)
        out.write("\n")


if __name__ == "__main__":
    main()
