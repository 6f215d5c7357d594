#!/usr/bin/env python3
"""Writes wire.json, the wire format's test vectors (docs/protocol.md) that the dissector's, the C++
and the JavaScript tests read: byte streams as a receiver gets them, with what the library's receiver
makes of them. Run this script after changing a case and commit both.

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
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from wire import message  # noqa: E402

LIMIT = 16 * 1024 * 1024
NAMES = ["GAMECLIENT_CREATE", "GAMECLIENT_STOPPED", "GAMECLIENT_CRASHED", "CLOSE", "HEARTBEAT", "REPLY",
         "LAUNCHERCLIENT", "GAMECLIENT_ABANDONED", "GAMECLIENT_LAUNCHED", "GAMECLIENT_VERSION_MISMATCH",
         "GAMECLIENT_CONNECTED_TO_SERVER", "CHATMESSAGE_TO_GAME", "CHATMESSAGE_FROM_GAME"]


def delivered(type, payload=None):
    name = NAMES[type] if 0 <= type < len(NAMES) else "INVALID"
    type = min(type, 38)
    return {"type": type, "name": name, "payload": payload, "answered": type not in (5, 38)}


def case(name, chunks, messages, flagged=(), end="open", pending=0):
    return {"name": name, "chunks": [chunk.hex() for chunk in chunks], "messages": messages, "end": end,
            "pending": pending, "flagged": list(flagged)}


chat = message(11, "hello across three segments")
tail = message(12, "tail")
CASES = [
    case("no payload: 16 bytes", [message(8)], [delivered(8)]),
    case("a payload of n characters: 16 + n bytes", [message(11, "hi")], [delivered(11, "hi")]),
    case("two messages in one chunk", [message(0, "--mode demo") + message(4)],
         [delivered(0, "--mode demo"), delivered(4)]),
    case("one message across three chunks, the header split 10 + 6", [chat[:10], chat[10:25], chat[25:]],
         [delivered(11, "hello across three segments")]),
    case("a chunk ends one message, holds another and starts a third",
         [chat[:20], chat[20:] + message(3) + tail[:5], tail[5:]],
         [delivered(11, "hello across three segments"), delivered(3), delivered(12, "tail")]),
    case("a REPLY is delivered and not answered", [message(5) + message(5)], [delivered(5), delivered(5)]),
    case("a payload cut off: nothing delivered yet", [message(12, "unfinished")[:20]], [], pending=20),
    case("header size 20: INVALID, its payload consumed, not answered",
         [message(8, "abc", header_size=20) + message(10)], [delivered(38, "abc"), delivered(10)],
         ["header size 20 (not 16)"]),
    case("version 2: INVALID", [message(11, "v2", version=2)], [delivered(38, "v2")], ["version 2 (not 1)"]),
    case("type 38: INVALID", [message(38)], [delivered(38)], ["unknown type 38"]),
    case("type 1000: INVALID", [message(1000, "x")], [delivered(1000, "x")], ["unknown type 1000"]),
    case("a negative type passes the library's check: delivered and answered", [message(-1)], [delivered(-1)],
         ["unknown type -1"]),
    case("a negative length: no payload, nothing more read", [message(1, length=-4) + message(12, "still read")],
         [delivered(1), delivered(12, "still read")], ["negative payload length -4"]),
    case("an empty payload travels as length 0 and arrives as none", [message(12, "")], [delivered(12)]),
    case("a zero byte in a payload: delivered up to it", [message(12, b"ab\0cd")], [delivered(12, "ab")],
         ["Trailing stray characters"]),
    case("exactly the limit is announced: waits for the bytes", [message(11, length=LIMIT)], [], pending=16),
    case("one byte over the limit: the connection ends",
         [message(8) + message(11, "big", length=LIMIT + 1) + message(10)], [delivered(8)],
         ["payload length 16777217 beyond the 16 MiB limit"], end="closed"),
]


def main():
    # The C++ test's JSON reader cannot tell the text "null" (or "") from null.
    assert all(m["payload"] not in ("null", "") for case in CASES for m in case["messages"])
    document = {"about": __doc__.strip().split("\n\n")[1].replace("\n", " "), "limit": LIMIT, "cases": CASES}
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wire.json")
    with open(path, "w") as out:
        json.dump(document, out, indent=1)
        out.write("\n")

if __name__ == "__main__":
    main()
