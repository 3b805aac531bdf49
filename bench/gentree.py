"""Seeded source trees for the benchmarks: the same seed always gives the same names and
bytes, so runs on different days and machines copy identical data."""

import math
import os
import random

WORDS = ["Projects", "Invoices", "Photos", "Reports", "Archive", "Drafts", "Clients",
         "Scans", "Music", "Notes", "Budget", "Letters", "Travel", "Contracts", "Designs"]
STEMS = ["Quarterly report", "IMG", "invoice", "Meeting notes", "scan", "track", "budget",
         "draft", "letter", "summary"]
EXTS = [".docx", ".jpg", ".pdf", ".txt", ".xlsx", ".mp3", ".png", ".csv"]


def _file_name(rng, index):
    return f"{rng.choice(STEMS)}{rng.choice([' ', '_', '-'])}{index:05d}{rng.choice(EXTS)}"


def _write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def small_files(root, seed, files=10000, branching=(5, 3, 3, 3), min_bytes=1024,
                max_bytes=16384):
    """Files of 1 to 16 KiB spread evenly over a folder tree; the default branching gives
    5 + 15 + 45 + 135 = 200 folders, 4 levels deep."""
    rng = random.Random(seed)
    folders = []

    def grow(parent, level):
        if level == len(branching):
            return
        for j in range(branching[level]):
            folder = os.path.join(parent, f"{rng.choice(WORDS)} {j:02d}")
            os.makedirs(folder)
            folders.append(folder)
            grow(folder, level + 1)

    os.makedirs(root)
    grow(root, 0)
    for index in range(files):
        folder = folders[index % len(folders)]
        size = rng.randint(min_bytes, max_bytes)
        _write(os.path.join(folder, _file_name(rng, index)), rng.randbytes(size))


def empty(root, seed):
    """An empty source folder: what a run costs before and after its files."""
    os.makedirs(root)


def large_files(root, seed, count=8, size_mib=128):
    """A few big files. Each MiB is a seeded block stamped with its position, so no two
    MiB are alike and generating a GiB stays quick."""
    rng = random.Random(seed)
    os.makedirs(root)
    names = ["Disk image", "Holiday video", "Database dump", "Mail archive"]
    for i in range(count):
        block = rng.randbytes(1 << 20)
        path = os.path.join(root, f"{names[i % len(names)]} {i:02d}.bin")
        with open(path, "wb") as f:
            for mib in range(size_mib):
                f.write((i * 1000003 + mib).to_bytes(8, "little") + block[8:])


def growth(root, seed, files, per_folder=100):
    """Empty or tiny files (0 to 64 bytes), a fixed number per folder, folders in two
    levels, so the per-file work stays alike as the count grows."""
    rng = random.Random(seed)
    folders = max(1, math.ceil(files / per_folder))
    groups = max(1, math.ceil(math.sqrt(folders)))
    os.makedirs(root)
    for index in range(files):
        k = index // per_folder
        folder = os.path.join(root, f"Batch {k // groups:03d}", f"Day {k % groups:03d}")
        if index % per_folder == 0:
            os.makedirs(folder, exist_ok=True)
        size = 0 if rng.random() < 0.25 else rng.randint(1, 64)
        _write(os.path.join(folder, _file_name(rng, index)), rng.randbytes(size))


def deep(root, seed, levels=40, name_length=12, files_per_level=2):
    """A chain of nested folders with a few small files at every level; with the default
    name length the deeper paths pass 260 characters."""
    rng = random.Random(seed)
    folder = root
    os.makedirs(folder)
    for level in range(levels):
        folder = os.path.join(folder, f"level {level:02d} ".ljust(name_length, "x"))
        os.makedirs(folder)
        for j in range(files_per_level):
            name = _file_name(rng, level * files_per_level + j)
            _write(os.path.join(folder, name), rng.randbytes(rng.randint(1024, 4096)))
