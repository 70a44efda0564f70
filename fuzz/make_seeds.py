#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: real-shaped inputs (valid replies of the card, a
real interface path, real options files). Run from anywhere; writes into corpus/ beside it."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
PATH_REST = "5&2a4c2c83&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"
INTERFACE = "\\\\?\\USB#VID_05C6&PID_9204#" + PATH_REST


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


def frame(payload):
    return b"\x7e" + payload + struct.pack("<H", crc16(payload)) + b"\x7e"


def initial_answer(preference):
    payload = bytearray(49)
    payload[0] = 0x02
    payload[25:29] = struct.pack("<i", preference)
    return frame(bytes(payload))


def serial_seed(n, count, pieces, data):
    head = struct.pack("<HHB", n, count, len(pieces))
    return head + bytes(len(p) for p in pieces[:-1]) + b"".join(pieces) + data


def write(target, name, data):
    os.makedirs(os.path.join(HERE, target), exist_ok=True)
    with open(os.path.join(HERE, target, name), "wb") as f:
        f.write(data)


pre1 = frame(b"\x26" + bytes(7))
post = frame(b"\x28" + bytes(8))
# The first piece is the reply for ReceiveWithCRC, the second what Receive reads, the last the
# answer to the initial message.
write("serial_reply", "initial_preference_0", serial_seed(49, 16, [initial_answer(0), pre1], initial_answer(0)))
write("serial_reply", "initial_default", serial_seed(49, 53, [initial_answer(-1), post], initial_answer(1)))
write("serial_reply", "pre1_answer", serial_seed(8, 12, [pre1, post], initial_answer(2)))
write("serial_reply", "post_split", serial_seed(9, 4, [post[:5], post[5:]], initial_answer(7)))

name = (INTERFACE + "\0").encode("utf-16-le")
record = struct.pack("<III", 28 + len(name), 5, 0) + bytes(16) + name
write("device_broadcast", "gobi2000_download", record)
write("device_broadcast", "gobi2000_modem",
      record.replace("PID_9204".encode("utf-16-le"), "PID_9205".encode("utf-16-le")))
write("device_broadcast", "volume", struct.pack("<III", 12, 2, 0))

write("interface_path", "full_path", b"\x00" + INTERFACE.encode("utf-32-le"))
write("interface_path", "behind_prefix", b"\x01" + ("vid_05c6&pid_9204#" + PATH_REST).encode("utf-32-le"))
write("interface_path", "gobi1000", b"\x01" + ("VID_03F0&PID_201D#" + PATH_REST).encode("utf-32-le"))

instance = PATH_REST.encode("utf-16-le")
write("port_name", "com7", bytes([len(instance)]) + instance + "COM7\0".encode("utf-16-le"))
write("port_name", "com12_no_terminator", bytes([len(instance)]) + instance + "COM12".encode("utf-16-le"))

gen1 = "C:\\Program Files\\QUALCOMM\\Images\\UMTS\\amss.mbn\r\nC:\\Program Files\\QUALCOMM\\Images\\UMTS\\apps.mbn\r\n"
write("options_file", "gobi1000", b"\x00" + gen1.encode("cp1252"))
gen2 = ("C:\\Program Files\\QUALCOMM\\Images\\HP\\UMTS\\amss.mbn\r\n"
        "C:\\Program Files\\QUALCOMM\\Images\\HP\\UMTS\\apps.mbn\r\n"
        "C:\\Program Files\\QUALCOMM\\Images\\HP\\1\\uqcn.mbn\r\n")
write("options_file", "gobi2000", b"\x01\xff\xfe" + gen2.encode("utf-16-le"))

for i, (fmt, text) in enumerate([(0, "Port COM7\\QDLService is opened."), (4, "\\\\.\\COM7\\QDLService"),
                                 (0x86, "The system cannot find the file specified.\r\n")]):
    write("log_write", "line_%d" % i, struct.pack("<BHhh", fmt, 0, 2, -5) + text.encode("utf-32-le"))
write("log_write", "long_line", struct.pack("<BHhh", 1, 200, 0, 0) + ("x" * 100).encode("utf-32-le"))

for name, args in [("install", ["-install", "-log", "C:\\logs", "-nopreference"]),
                   ("install_relative_log", ["/INSTALL", "-log", "logs folder"]),
                   ("service", ["-service", "-log", "-nopreference"]), ("start", ["-start"]),
                   ("stop", ["-stop"]), ("remove", ["-remove"]), ("help", ["-?"])]:
    write("command_line", name, "\0".join(args).encode("utf-32-le"))
