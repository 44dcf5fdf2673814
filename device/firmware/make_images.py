#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Makes the three development firmware images, model0.bin to model2.bin.

Each image is 24,576 bytes, laid out as a Cortex-M flash image based at 0x08000000:
  0x000  vector table: initial stack pointer, reset handler, then the fault handlers
  0x100  reset handler (Thumb): movs r0, #model ; b .   (parks the core, does nothing)
  0x104  default handler (Thumb): b .
  0x120  marker text, which also tells the build that these are development images
  ...    0xFF (erased flash)
  last two bytes: 08 00, firmware version 8, low-order byte first

They only exist so the program can be built and tested without the maker's images; they
must never reach a real pedal (the firmware check refuses to send them to one).

Usage: python3 make_images.py [output folder]   (default: this script's folder)
The output is deterministic; running it again gives the same bytes.
"""
import os
import struct
import sys

IMAGE_BYTES = 24576
FLASH_BASE = 0x08000000
STACK_TOP = 0x20002000
RESET_OFFSET = 0x100
DEFAULT_OFFSET = 0x104
MARKER_OFFSET = 0x120
MARKER = b"RENDAX-DEVELOPMENT-IMAGE"
VERSION = 8


def make_image(model: int) -> bytes:
    image = bytearray(b"\xff" * IMAGE_BYTES)
    thumb = lambda offset: FLASH_BASE + offset + 1
    vectors = [STACK_TOP, thumb(RESET_OFFSET)]
    # NMI, HardFault, MemManage, BusFault, UsageFault, 4 reserved, SVC, DebugMon, reserved,
    # PendSV, SysTick.
    for slot in range(2, 16):
        reserved = slot in (7, 8, 9, 10, 13)
        vectors.append(0 if reserved else thumb(DEFAULT_OFFSET))
    image[0:64] = struct.pack("<16I", *vectors)
    image[RESET_OFFSET:RESET_OFFSET + 4] = struct.pack("<HH", 0x2000 | model, 0xE7FE)
    image[DEFAULT_OFFSET:DEFAULT_OFFSET + 2] = struct.pack("<H", 0xE7FE)
    text = MARKER + b" model %d - not for real pedals\0" % model
    image[MARKER_OFFSET:MARKER_OFFSET + len(text)] = text
    image[-2:] = struct.pack("<H", VERSION)
    return bytes(image)


def main() -> int:
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for model in range(3):
        with open(os.path.join(out, "model%d.bin" % model), "wb") as f:
            f.write(make_image(model))
    return 0


if __name__ == "__main__":
    sys.exit(main())
