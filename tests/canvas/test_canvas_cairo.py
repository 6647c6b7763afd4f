#!/usr/bin/python3
"""vexlan.canvas's anti-aliased shapes against an independent rasteriser, cairo (Debian's python3-cairo).

    test_canvas_cairo.py INTERPRETER...   (e.g. lua5.1, or the Windows build's wine-run.sh lua.exe)

Each shape is drawn white on black by the canvas, from Lua in the given interpreter, and by cairo with
pixel centres at whole coordinates (the canvas's convention). Over each shape's edge band (the pixels
either side leaves partly covered, widened by one pixel) the mean difference per pixel must stay within
MAX_MEAN_DIFFERENCE (out of 255); anywhere else the two must agree within MAX_INTERIOR_DIFFERENCE.
Text is left out: the two place glyphs by different rules. Prints the figures; exits non-zero on a miss.
"""
import math
import os
import subprocess
import sys

import cairo

W, H = 320, 240
MAX_MEAN_DIFFERENCE = 4.0  # of 255, over an edge band (the largest measured: 2.9)
MAX_INTERIOR_DIFFERENCE = 3  # of 255, at any pixel off the band


def turn(degrees):  # the canvas's angles (clockwise from 12 o'clock) as cairo's (clockwise from 3 o'clock)
    return math.radians(degrees - 90)


def rounded(ctx, x, y, w, h, r):
    left, top, right, bottom = x - 0.5, y - 0.5, x + w - 0.5, y + h - 0.5
    ctx.new_sub_path()
    ctx.arc(right - r, top + r, r, -math.pi / 2, 0)
    ctx.arc(right - r, bottom - r, r, 0, math.pi / 2)
    ctx.arc(left + r, bottom - r, r, math.pi / 2, math.pi)
    ctx.arc(left + r, top + r, r, math.pi, 3 * math.pi / 2)
    ctx.close_path()


def stroke(ctx, width, cap=cairo.LINE_CAP_BUTT, join=cairo.LINE_JOIN_ROUND):
    ctx.set_line_width(width)
    ctx.set_line_cap(cap)
    ctx.set_line_join(join)
    ctx.set_miter_limit(10)
    ctx.stroke()


def polyline(ctx, points, closed=False):
    ctx.move_to(points[0], points[1])
    for i in range(2, len(points), 2):
        ctx.line_to(points[i], points[i + 1])
    if closed:
        ctx.close_path()


def sector(ctx, cx, cy, inner, outer, start, end):
    ctx.arc(cx, cy, outer, turn(start), turn(end))
    if inner > 0:
        ctx.arc_negative(cx, cy, inner, turn(end), turn(start))
    else:
        ctx.line_to(cx, cy)
    ctx.close_path()
    ctx.fill()


STAR = [160, 20, 190, 110, 280, 110, 205, 160, 235, 230, 160, 180, 85, 230, 115, 160, 40, 110, 130, 110]
ZIGZAG = [20, 200, 80, 40, 140, 190, 200, 60, 300, 150]
SQUARE = [60, 40, 260, 40, 260, 200, 60, 200]
HOLE = [110, 80, 110, 160, 210, 160, 210, 80]  # the other way round

# name, the Lua calls on canvas c, cairo's drawing on ctx
SHAPES = [
    ("disc radius 80.3", "c:circle(160.2, 119.7, 80.3, 0xffffff, true)",
     lambda ctx: (ctx.arc(160.2, 119.7, 80.3, 0, 2 * math.pi), ctx.fill())),
    ("small disc radius 3.5", "c:circle(40.4, 40.6, 3.5, 0xffffff, true)",
     lambda ctx: (ctx.arc(40.4, 40.6, 3.5, 0, 2 * math.pi), ctx.fill())),
    ("circle outline width 1", "c:circle(160, 120, 70.5, 0xffffff)",
     lambda ctx: (ctx.arc(160, 120, 70.5, 0, 2 * math.pi), stroke(ctx, 1))),
    ("circle outline width 5", "c:circle(160, 120, 90, 0xffffff, false, 5)",
     lambda ctx: (ctx.arc(160, 120, 90, 0, 2 * math.pi), stroke(ctx, 5))),
    ("line width 1, round caps", "c:line(12.3, 20.8, 300.6, 215.1, 0xffffff)",
     lambda ctx: (ctx.move_to(12.3, 20.8), ctx.line_to(300.6, 215.1), stroke(ctx, 1, cairo.LINE_CAP_ROUND))),
    ("line width 7, butt caps", "c:line(30, 200, 290, 60, 0xffffff, 7, 'butt')",
     lambda ctx: (ctx.move_to(30, 200), ctx.line_to(290, 60), stroke(ctx, 7))),
    ("line width 12, round caps", "c:line(60, 60, 250, 170, 0xffffff, 12)",
     lambda ctx: (ctx.move_to(60, 60), ctx.line_to(250, 170), stroke(ctx, 12, cairo.LINE_CAP_ROUND))),
    ("line width 9, square caps", "c:line(50, 120, 270, 100, 0xffffff, 9, 'square')",
     lambda ctx: (ctx.move_to(50, 120), ctx.line_to(270, 100), stroke(ctx, 9, cairo.LINE_CAP_SQUARE))),
    ("polyline width 8, miter joins", "c:polyline({%s}, 0xffffff, 8, 'butt', 'miter')" % ",".join(map(str, ZIGZAG)),
     lambda ctx: (polyline(ctx, ZIGZAG), stroke(ctx, 8, join=cairo.LINE_JOIN_MITER))),
    ("polyline width 10, round joins and caps",
     "c:polyline({%s}, 0xffffff, 10, 'round', 'round')" % ",".join(map(str, ZIGZAG)),
     lambda ctx: (polyline(ctx, ZIGZAG), stroke(ctx, 10, cairo.LINE_CAP_ROUND, cairo.LINE_JOIN_ROUND))),
    ("polyline width 6, bevel joins", "c:polyline({%s}, 0xffffff, 6, 'butt', 'bevel')" % ",".join(map(str, ZIGZAG)),
     lambda ctx: (polyline(ctx, ZIGZAG), stroke(ctx, 6, join=cairo.LINE_JOIN_BEVEL))),
    ("filled star (not convex)", "c:polygon({%s}, 0xffffff, true)" % ",".join(map(str, STAR)),
     lambda ctx: (polyline(ctx, STAR, True), ctx.fill())),
    ("star outline width 3, miter", "c:polygon({%s}, 0xffffff, false, 3, 'miter')" % ",".join(map(str, STAR)),
     lambda ctx: (polyline(ctx, STAR, True), stroke(ctx, 3, join=cairo.LINE_JOIN_MITER))),
    ("square with a hole by winding",
     "c:polygon({{%s}, {%s}}, 0xffffff, true)" % (",".join(map(str, SQUARE)), ",".join(map(str, HOLE))),
     lambda ctx: (polyline(ctx, SQUARE, True), polyline(ctx, HOLE, True), ctx.fill())),
    ("arc 330 to 30 (wrapping), width 10", "c:arc(160, 120, 80, 330, 30, 0xffffff, 10)",
     lambda ctx: (ctx.arc(160, 120, 80, turn(330), turn(30)), stroke(ctx, 10))),
    ("arc -135 to 135, width 4", "c:arc(160, 120, 100, -135, 135, 0xffffff, 4)",
     lambda ctx: (ctx.arc(160, 120, 100, turn(-135), turn(135)), stroke(ctx, 4))),
    ("ring sector 60 to 75, 45 to 100 degrees", "c:ring(160, 120, 60, 75, 0xffffff, 45, 100)",
     lambda ctx: sector(ctx, 160, 120, 60, 75, 45, 100)),
    ("pie slice 200 to 260", "c:ring(160, 120, 0, 90, 0xffffff, 200, 260)",
     lambda ctx: sector(ctx, 160, 120, 0, 90, 200, 260)),
    ("whole ring 30 to 45", "c:ring(160, 120, 30.5, 45.2, 0xffffff)",
     lambda ctx: (ctx.arc(160, 120, 45.2, 0, 2 * math.pi), ctx.new_sub_path(),
                  ctx.arc_negative(160, 120, 30.5, 0, -2 * math.pi), ctx.fill())),
    ("rounded rectangle radius 12, filled", "c:round_rect(40, 50, 200, 120, 12, 0xffffff, true)",
     lambda ctx: (rounded(ctx, 40, 50, 200, 120, 12), ctx.fill())),
    ("rounded rectangle radius 20, outline 3",
     "c:round_rect(40.5, 50.25, 200, 120, 20, 0xffffff, false, 3)",
     lambda ctx: (ctx.set_fill_rule(cairo.FILL_RULE_EVEN_ODD), rounded(ctx, 40.5, 50.25, 200, 120, 20),
                  rounded(ctx, 43.5, 53.25, 194, 114, 17), ctx.fill())),
    ("rectangle outline width 2 at a fraction", "c:rect(20.3, 30.6, 150, 90, 0xffffff, false, 2)",
     lambda ctx: (ctx.set_fill_rule(cairo.FILL_RULE_EVEN_ODD), ctx.rectangle(19.8, 30.1, 150, 90),
                  ctx.rectangle(21.8, 32.1, 146, 86), ctx.fill())),
    ("clipped to a circle: a filled rectangle", "c:clip('circle', 160, 120, 50):rect(0, 0, 320, 240, 0xffffff, true)",
     lambda ctx: (ctx.arc(160, 120, 50, 0, 2 * math.pi), ctx.fill())),
]

# A picture (a checkerboard of 10-pixel squares, 100x60) turned and scaled about a pivot, bilinear.
PICTURE_SETUP = """
local picture = canvas.new(100, 60)
for y = 0, 5 do for x = 0, 9 do
  if (x + y) % 2 == 0 then picture:rect(x * 10, y * 10, 10, 10, 0xffffff, true) end
end end
"""
PICTURES = [("picture turned 30 degrees, scaled 1.5", 30, 1.5), ("picture turned -115 degrees", -115, 1.0)]
for name, degrees, scale in PICTURES:
    def draw_picture(ctx, degrees=degrees, scale=scale):
        source = cairo.ImageSurface(cairo.FORMAT_ARGB32, 100, 60)
        sctx = cairo.Context(source)
        for y in range(6):
            for x in range(10):
                sctx.set_source_rgb(*((1, 1, 1) if (x + y) % 2 == 0 else (0, 0, 0)))
                sctx.rectangle(x * 10, y * 10, 10, 10)
                sctx.fill()
        ctx.translate(160, 120)
        ctx.rotate(math.radians(degrees))
        ctx.scale(scale, scale)
        ctx.translate(-50 - 0.5, -30 - 0.5)  # the canvas samples at pixel centres
        pattern = cairo.SurfacePattern(source)
        pattern.set_filter(cairo.FILTER_BILINEAR)
        ctx.set_source(pattern)
        ctx.rectangle(0, 0, 100, 60)
        ctx.fill()
    SHAPES.append((name, PICTURE_SETUP + "c:draw(picture, 160, 120, %g, %g, 50, 30)" % (degrees, scale), draw_picture))


def cairo_picture(draw):
    surface = cairo.ImageSurface(cairo.FORMAT_RGB24, W, H)
    ctx = cairo.Context(surface)
    ctx.set_source_rgb(0, 0, 0)
    ctx.paint()
    ctx.translate(0.5, 0.5)  # pixel centres at whole coordinates
    ctx.set_source_rgb(1, 1, 1)
    draw(ctx)
    surface.flush()
    data, stride = surface.get_data(), surface.get_stride()
    return [data[y * stride + 4 * x + 2] for y in range(H) for x in range(W)]  # red, of B, G, R, X


def canvas_pictures(interpreter):
    script = "canvas_cairo_shapes.lua"
    output = "canvas_cairo_shapes.raw"
    lines = ['local canvas = require "vexlan.canvas"', 'local out = assert(io.open("%s", "wb"))' % output]
    for _, code, _ in SHAPES:
        lines.append("do local c = canvas.new() %s out:write(c:raw()) end" % code)
    lines.append("out:close()")
    with open(script, "w") as file:
        file.write("\n".join(lines) + "\n")
    try:
        subprocess.run(interpreter + [script], check=True, stdin=subprocess.DEVNULL, timeout=240)
        with open(output, "rb") as file:
            raw = file.read()
    finally:
        for name in (script, output):
            if os.path.exists(name):
                os.remove(name)
    size = 24 + W * H * 4
    assert len(raw) == size * len(SHAPES), "the script wrote %d bytes" % len(raw)
    return [[raw[i * size + 24 + 4 * p] for p in range(W * H)] for i in range(len(SHAPES))]


def edge_band(a, b):
    partial = [0 < a[p] < 255 or 0 < b[p] < 255 or (a[p] == 0) != (b[p] == 0) for p in range(W * H)]
    band = [False] * (W * H)
    for p in range(W * H):
        if partial[p]:
            y, x = divmod(p, W)
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    if 0 <= y + dy < H and 0 <= x + dx < W:
                        band[(y + dy) * W + x + dx] = True
    return band


def main():
    interpreter = sys.argv[1:]
    ours = canvas_pictures(interpreter)
    failures = 0
    for (name, _, draw), mine in zip(SHAPES, ours):
        theirs = cairo_picture(draw)
        band = edge_band(mine, theirs)
        in_band = [abs(mine[p] - theirs[p]) for p in range(W * H) if band[p]]
        off_band = [abs(mine[p] - theirs[p]) for p in range(W * H) if not band[p]]
        mean = sum(in_band) / max(len(in_band), 1)
        worst_off = max(off_band, default=0)
        ok = len(in_band) > 0 and mean <= MAX_MEAN_DIFFERENCE and worst_off <= MAX_INTERIOR_DIFFERENCE
        failures += not ok
        print("%-45s band %6d px, mean difference %5.2f, most off the band %3d %s"
              % (name, len(in_band), mean, worst_off, "" if ok else "  <-- over"))
    print("%d passed, %d failed" % (len(SHAPES) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
