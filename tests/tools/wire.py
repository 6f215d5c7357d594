"""Shared by the tool tests: the message header, a small pcap writer for
crafted TCP streams, and tshark run with the dissector."""
import os
import struct
import subprocess

HEADER = struct.Struct("<iiii")
PREFIX = "VANTRELMESSAGETYPE_"


def message(type, payload=b"", header_size=16, version=1, length=None):
    """The bytes of one message; length overrides the announced payload length."""
    if isinstance(payload, str):
        payload = payload.encode()
    return HEADER.pack(header_size, version, type, len(payload) if length is None else length) + payload


def _checksum(data):  # of an IPv4 header, which has an even length
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


class Pcap:
    """Writes loopback IPv4/TCP segments of made-up connections to a pcap file."""

    def __init__(self):
        self.records = []
        self.seq = {}
        self.time = 1_700_000_000.0

    def _segment(self, src, dst, flags, data=b""):
        seq = self.seq.setdefault((src, dst), 1000 + src)
        ack = self.seq.get((dst, src), 0)
        tcp = struct.pack("!HHIIBBHHH", src, dst, seq, ack, 5 << 4, flags, 65535, 0, 0) + data
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 0, 0x4000, 64, 6, 0,
                         bytes([127, 0, 0, 1]), bytes([127, 0, 0, 1]))
        ip = ip[:10] + struct.pack("!H", _checksum(ip)) + ip[12:]
        self.seq[(src, dst)] = seq + len(data) + (1 if flags & 0x03 else 0)
        self.time += 0.001
        self.records.append((self.time, ip + tcp))

    def connect(self, client, server):  # SYN, SYN ACK, ACK
        for src, dst, flags in ((client, server, 0x02), (server, client, 0x12), (client, server, 0x10)):
            self._segment(src, dst, flags)

    def send(self, src, dst, data):
        """One segment; returns its frame number."""
        self._segment(src, dst, 0x18, data)
        return len(self.records)

    def write(self, path):
        with open(path, "wb") as out:
            out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # raw IP
            for time, packet in self.records:
                out.write(struct.pack("<IIII", int(time), int((time % 1) * 1e6), len(packet), len(packet)))
                out.write(packet)


def tshark_fields(capture, fields, extra=()):
    """Runs tshark with the dissector over a capture; one list of values per field per frame,
    keyed by frame number (frames without any of the fields are left out)."""
    script = os.environ["DRUX_DISSECTOR"]
    command = ["tshark", "-n", "-r", capture, "-X", "lua_script:" + script, "-T", "fields",
               "-E", "occurrence=a", "-E", "aggregator=\x1f", "-E", "separator=\x1e",
               "-e", "frame.number"] + [a for field in fields for a in ("-e", field)] + list(extra)
    result = subprocess.run(command, capture_output=True, text=True, check=True)
    if "Lua" in result.stderr:
        raise AssertionError("tshark reported a Lua problem:\n" + result.stderr)
    frames = {}
    for line in result.stdout.split("\n"):  # splitlines() would also split at \x1e
        if not line:
            continue
        columns = line.split("\x1e")
        values = [column.split("\x1f") if column else [] for column in columns[1:]]
        if any(values):
            frames[int(columns[0])] = dict(zip(fields, values))
    return frames
