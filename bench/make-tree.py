#!/usr/bin/env python3
"""Generates a reproducible tree for the scan benchmark.

make-tree.py [--skewed] [--seed N] DEST

Default: 100 top folders x 50 sub-folders x 100 files (500,000 files). 30% of the files hold
1..20,480 bytes of data, the rest are empty; every 50th file gets a hard link in the next sibling
sub-folder. --skewed keeps the same number of sub-folders but puts 90% of them under the first
top folder. DEST must not exist yet.
"""
import argparse
import os
import random
import sys

TOPS, SUBS, FILES = 100, 50, 100
DATA_SHARE, MAX_DATA, LINK_EVERY = 0.30, 20 * 1024, 50


def sub_counts(skewed):
    total = TOPS * SUBS
    if not skewed:
        return [SUBS] * TOPS
    first = total * 9 // 10
    rest, extra = divmod(total - first, TOPS - 1)
    return [first] + [rest + (1 if i < extra else 0) for i in range(TOPS - 1)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--skewed", action="store_true")
    parser.add_argument("--seed", type=int, default=20261210)
    parser.add_argument("dest")
    args = parser.parse_args()
    if os.path.exists(args.dest):
        sys.exit(f"{args.dest} exists")
    rng = random.Random(args.seed)
    payload = bytes(range(256)) * (MAX_DATA // 256)
    entries = links = 0
    for top, subs in enumerate(sub_counts(args.skewed)):
        top_dir = os.path.join(args.dest, f"top{top:03d}")
        for sub in range(subs):
            os.makedirs(os.path.join(top_dir, f"sub{sub:04d}"))
        for sub in range(subs):
            sub_dir = os.path.join(top_dir, f"sub{sub:04d}")
            for n in range(FILES):
                path = os.path.join(sub_dir, f"file{n:03d}.dat")
                fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
                if rng.random() < DATA_SHARE:
                    os.write(fd, payload[: rng.randint(1, MAX_DATA)])
                os.close(fd)
                entries += 1
                if subs > 1 and entries % LINK_EVERY == 0:
                    sibling = os.path.join(top_dir, f"sub{(sub + 1) % subs:04d}")
                    os.link(path, os.path.join(sibling, f"link-{sub:04d}-{n:03d}.dat"))
                    links += 1
    print(f"{args.dest}: {entries} files, {links} hard links", file=sys.stderr)


if __name__ == "__main__":
    main()
