#!/usr/bin/python3
"""Draws the toolpath of a visor job: a top view and a side view.

    tools/plot_toolpath.py JOB.g OUT.png
    tools/plot_toolpath.py - OUT.png      (the job on standard input)

Reads the G-code that visor-gcode writes (dagoma0.g), follows the
absolute X, Y, Z and E of every G1 move, and draws where filament is laid:
every point where E grows. A job has millions of points 0.1 mm apart, so
a point is kept once per cell of each view.

`make picture` remakes docs/toolpath.png with this. It runs on Debian's
python3 with its python3-matplotlib, which nothing else in the build or
the tests needs.
"""

import sys

import matplotlib

matplotlib.use("Agg")  # no display: draw into a file
import matplotlib.pyplot as plt  # noqa: E402


def laid_points(lines):
    """Yields (x, y, z) of each move that lays filament."""
    x = y = z = e = 0.0
    for line in lines:
        if not line.startswith("G1 "):
            continue
        new_e = e
        for word in line.split()[1:]:
            axis, value = word[0], word[1:]
            if axis == "X":
                x = float(value)
            elif axis == "Y":
                y = float(value)
            elif axis == "Z":
                z = float(value)
            elif axis == "E":
                new_e = float(value)
        if new_e > e:
            yield x, y, z
        e = new_e


def cells(job):
    """The 0.1 mm cells laid on in the top view (the highest Z of each)
    and in the side view seen from the front (X against Z)."""
    top = {}
    side = set()
    for x, y, z in laid_points(job):
        key = (round(x * 10), round(y * 10))
        if top.get(key, -1e9) < z:
            top[key] = z
        side.add((round(x * 10), round(z * 20)))
    return top, side


def draw(top, side, out_path):
    fig, (ax_top, ax_side) = plt.subplots(1, 2, figsize=(13, 6.2))
    keys = sorted(top, key=top.get)  # higher points drawn last, on top
    points = ax_top.scatter(
        [k[0] / 10 for k in keys],
        [k[1] / 10 for k in keys],
        c=[top[k] for k in keys],
        s=1.5,
        marker=".",
        linewidths=0,
        cmap="viridis",
    )
    ax_top.set_title("Top view: where filament is laid (colour: highest Z)")
    ax_top.set_xlabel("X (mm)")
    ax_top.set_ylabel("Y (mm)")
    ax_top.set_aspect("equal")
    fig.colorbar(points, ax=ax_top, label="Z (mm)", shrink=0.7)

    xs = [k[0] / 10 for k in side]
    zs = [k[1] / 20 for k in side]
    ax_side.scatter(xs, zs, s=0.3, marker=".", linewidths=0, color="#1f4e79")
    ax_side.set_title("Side view, seen from the front: X against Z")
    ax_side.set_xlabel("X (mm)")
    ax_side.set_ylabel("Z (mm)")
    ax_side.set_aspect("equal")

    fig.tight_layout()
    # No software version or date in the file: the same job gives the same
    # picture.
    fig.savefig(out_path, dpi=110, metadata={"Software": None})


def main(argv):
    if len(argv) != 3:
        print("usage: tools/plot_toolpath.py JOB.g|- OUT.png", file=sys.stderr)
        return 2
    if argv[1] == "-":
        top, side = cells(sys.stdin)
    else:
        with open(argv[1], encoding="ascii") as job:
            top, side = cells(job)
    if not top:
        print(f"{argv[1]}: no move lays filament", file=sys.stderr)
        return 1
    draw(top, side, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
