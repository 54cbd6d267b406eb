#!/usr/bin/env python3
"""Writes the stand-in adapter firmware image that modemapi embeds.

The adapter's real firmware is not part of this repository. This tool makes an
image of the same shape, so that the library's download runs exactly as it
would with the real one:

  * 380 records of 20 bytes: count (uint8), RAM address (uint16 LE),
    type (uint8: 0 data, 1 end), 16 data bytes of which `count` are used;
  * 379 data records whose bytes cover RAM 0x0000..0x1574 exactly once, in 66
    runs that are contiguous inside and not adjacent to the run before them
    in table order (so each run starts a new transfer);
  * one end record (count 0, address 0, type 1);
  * downloaded in 64-byte blocks, the image gives 125 RAM writes carrying
    5493 bytes.

The data bytes come from a fixed-seed generator: the output is the same on
every run. The tool checks every property above by replaying the library's
block-building rules before it writes anything.

  tools/fwgen/fwgen.py [output]   (default: modemapi/firmware/standin_firmware.bin)
"""
import os
import random
import struct
import sys

RECORD_SIZE = 20
DATA_RECORDS = 379
RUNS = 66
RAM_END = 0x1574          # last RAM address covered, inclusive
BLOCK = 64                # bytes per RAM write
EXPECTED_WRITES = 125
SEED = 0x5EED_F1A6


def plan_runs(rng):
    """Chooses (record count, last record's byte count) for each run.

    Every record holds 16 bytes except the last one of a run. A run of k such
    records gives ceil(k / 4) writes of at most 64 bytes.
    """
    total_bytes = RAM_END + 1
    while True:
        writes = [1] * RUNS
        for _ in range(EXPECTED_WRITES - RUNS):
            writes[rng.randrange(RUNS)] += 1
        # records = 4 * writes - spare, spare 0..3 per run (at least 1 record)
        spare_total = 4 * EXPECTED_WRITES - DATA_RECORDS
        spares = [0] * RUNS
        while sum(spares) < spare_total:
            i = rng.randrange(RUNS)
            limit = min(3, 4 * writes[i] - 1)
            if spares[i] < limit:
                spares[i] += 1
        records = [4 * w - s for w, s in zip(writes, spares)]
        # bytes: 16 per record, minus the unused part of each run's last record
        deficit_total = 16 * DATA_RECORDS - total_bytes
        deficits = [0] * RUNS
        while sum(deficits) < deficit_total:
            i = rng.randrange(RUNS)
            if deficits[i] < 15:
                deficits[i] += 1
        if sum(records) == DATA_RECORDS:
            return [(k, 16 - d) for k, d in zip(records, deficits)]


def build_image():
    rng = random.Random(SEED)
    runs = plan_runs(rng)
    # Lay the runs out in address order, then swap neighbours in the table so
    # that no run follows the one that ends where it starts.
    placed = []
    address = 0
    for records, last_count in runs:
        length = 16 * (records - 1) + last_count
        placed.append((address, records, last_count))
        address += length
    assert address == RAM_END + 1
    order = []
    for i in range(0, RUNS - 1, 2):
        order += [placed[i + 1], placed[i]]
    if RUNS % 2:
        order.append(placed[-1])

    image = bytearray()
    for start, records, last_count in order:
        for r in range(records):
            count = 16 if r < records - 1 else last_count
            data = bytes(rng.randrange(256) for _ in range(count)) + bytes(16 - count)
            image += struct.pack("<BHB", count, start + 16 * r, 0) + data
    image += struct.pack("<BHB", 0, 0, 1) + bytes(16)
    return bytes(image)


def replay_download(image):
    """The library's block building: returns the list of (address, length)."""
    writes = []
    fill, block_start = 0, 0
    size = len(image)
    offset = 0
    while True:
        count, address, kind = struct.unpack_from("<BHB", image, offset)
        assert kind == 0 and address <= 0x3FF0
        if fill and (address != block_start + fill or fill + count > BLOCK):
            writes.append((block_start, fill))
            fill = 0
        if fill == 0:
            block_start = address
        fill += count
        offset += RECORD_SIZE
        assert offset + RECORD_SIZE <= size
        if image[offset + 3] != 0:
            if fill:
                writes.append((block_start, fill))
            return writes


def check(image):
    assert len(image) == 380 * RECORD_SIZE
    covered = bytearray(RAM_END + 1)
    runs, prev_end = 0, None
    for i in range(DATA_RECORDS):
        count, address, kind = struct.unpack_from("<BHB", image, i * RECORD_SIZE)
        assert kind == 0 and 1 <= count <= 16
        for a in range(address, address + count):
            assert covered[a] == 0
            covered[a] = 1
        if address != prev_end:
            runs += 1
        prev_end = address + count
    assert all(covered), "RAM range not covered exactly"
    assert runs == RUNS, runs
    assert image[-RECORD_SIZE:] == struct.pack("<BHB", 0, 0, 1) + bytes(16)
    writes = replay_download(image)
    assert len(writes) == EXPECTED_WRITES, len(writes)
    assert sum(n for _, n in writes) == RAM_END + 1
    assert all(n <= BLOCK for _, n in writes)


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "modemapi", "firmware", "standin_firmware.bin")
    image = build_image()
    check(image)
    with open(out, "wb") as f:
        f.write(image)
    print(f"{out}: {len(image)} bytes, {len(image) // RECORD_SIZE} records")


if __name__ == "__main__":
    main()
