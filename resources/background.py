"""The main screen's background for make_pictures.py: dusk sky, stars, moon, clouds, mountain
ranges with a castle, pines, the word mark and a vignette; the lower band stays dark and calm for
the status, progress and version lines."""

import math
import random

from raster import (LETTER_WIDTH, Image, Noise1D, Noise2D, clamp, gradient, letter_segments, mix,
                    sd_box, sd_polygon, sd_segment, smoothstep)


def draw_background(opts):
    W, H = 1062, 589
    rng = random.Random(opts.seed)
    img = Image(W, H)
    horizon_y = 0.66 * H
    dusk_x = 0.64 * W
    sky_top, sky_mid, glow = opts.sky_top, opts.sky_mid, opts.horizon
    sky_low = mix(mix(sky_mid, glow, 0.45), (0.55, 0.2, 0.35), 0.35)
    stops = [(0.0, sky_top), (0.42, sky_mid), (0.74, sky_low), (0.93, mix(glow, sky_low, 0.25)), (1.0, glow)]

    # Sky, warmer where the sun went down.
    for y in range(H):
        t = y / horizon_y
        base = gradient(stops, t)
        vert = math.exp(-(((y - horizon_y) / (0.3 * H)) ** 2))
        for x in range(W):
            i = y * W + x
            warm = vert * math.exp(-(((x - dusk_x) / (0.28 * W)) ** 2))
            img.r[i] = base[0] + glow[0] * 0.35 * warm
            img.g[i] = base[1] + glow[1] * 0.25 * warm
            img.b[i] = base[2] + glow[2] * 0.12 * warm

    # Stars, fading out towards the glow.
    for _ in range(340):
        sx, sy = rng.random() * W, (rng.random() ** 1.5) * horizon_y * 0.8
        strength = rng.random() ** 3 * (1 - sy / (horizon_y * 0.8)) ** 1.2
        radius = 0.6 + 1.1 * rng.random() ** 4
        tint = mix((1.0, 0.95, 0.85), (0.75, 0.85, 1.0), rng.random())
        for py in range(int(sy - 4), int(sy + 5)):
            for px in range(int(sx - 4), int(sx + 5)):
                if 0 <= px < W and 0 <= py < H:
                    d = math.hypot(px + 0.5 - sx, py + 0.5 - sy)
                    core = clamp(radius + 0.5 - d)
                    halo = math.exp(-d * d / (radius * 2.2)) * 0.35
                    img.add(py * W + px, tint, (core + halo) * strength * 0.95)

    # Moon with its halo.
    mx, my, mr = 0.3 * W, 0.25 * H, 40.0
    moon_light = (1.0, 0.95, 0.86)
    craters = [(rng.uniform(-0.6, 0.6), rng.uniform(-0.6, 0.6), rng.uniform(0.1, 0.28)) for _ in range(9)]
    for py in range(0, int(my + 260)):
        for px in range(max(0, int(mx - 300)), min(W, int(mx + 300))):
            d = math.hypot(px + 0.5 - mx, py + 0.5 - my)
            i = py * W + px
            if d > mr - 1:
                halo = 0.38 * math.exp(-(d - mr) / 22.0) + 0.16 * math.exp(-(d - mr) / 110.0)
                img.add(i, (0.95, 0.8, 0.78), halo)
            if d < mr + 1:
                nx, ny = (px + 0.5 - mx) / mr, (py + 0.5 - my) / mr
                limb = math.sqrt(max(0.0, 1 - min(1.0, nx * nx + ny * ny)))
                shade = 0.78 + 0.22 * limb
                for cx, cy, cr in craters:
                    cd = math.hypot(nx - cx, ny - cy)
                    shade -= 0.07 * smoothstep(cr, cr * 0.6, cd)
                # A cool shadow on the lower left gives the disc a little volume.
                shade -= 0.12 * smoothstep(-0.2, 1.0, -nx * 0.6 + ny * 0.8)
                img.over(i, tuple(c * shade for c in moon_light), clamp(mr + 0.5 - d))

    # Long thin clouds, lit from below by the dusk.
    cloud_noise = Noise2D(rng)
    for band_y, band_h, density, lit in ((0.2 * H, 34.0, 0.55, 0.25), (0.47 * H, 26.0, 0.7, 0.8)):
        for py in range(int(band_y - band_h * 2), int(band_y + band_h * 2)):
            fall = math.exp(-(((py - band_y) / band_h) ** 2))
            for px in range(W):
                n = cloud_noise.fbm(px / 140.0, py / 18.0, 4)
                a = clamp((n - (1 - density)) * 2.4) * fall
                if a <= 0.01:
                    continue
                warm = math.exp(-(((px - dusk_x) / (0.35 * W)) ** 2)) * lit
                colour = mix((0.16, 0.11, 0.26), mix(glow, (0.85, 0.45, 0.5), 0.4), warm)
                img.over(py * W + px, colour, a * 0.75)

    # Mountain ranges, far to near; haze between them gives depth.
    mountain = opts.mountain
    haze = mix(sky_low, glow, 0.35)
    layers = [
        # base, height, roughness scale, colour, rim light
        (0.64 * H, 0.2 * H, 190.0, mix(mountain, haze, 0.62), 0.18),
        (0.71 * H, 0.2 * H, 150.0, mix(mountain, haze, 0.38), 0.14),
        (0.78 * H, 0.22 * H, 120.0, mix(mountain, haze, 0.16), 0.1),
    ]
    ridges = []
    for number, (base, height, scale, colour, rim) in enumerate(layers):
        noise = Noise1D(rng)
        ridge = []
        for x in range(W):
            n = noise.fbm(x / scale + number * 40, 5, ridged=True)
            ridge.append(base - height * (n**1.7) * 1.25)
        if number == len(layers) - 1:
            # Level a shoulder of the nearest range for the castle to stand on.
            span = range(int(0.6 * W), int(0.8 * W))
            castle_x = min(span, key=lambda x: ridge[x])
            plateau = ridge[castle_x] + 0.05 * H
            for x in range(W):
                dx = max(0.0, abs(x - castle_x) - 44.0)
                rocks = 14.0 * noise.fbm(x / 22.0 + 300, 4, ridged=True) * min(1.0, dx / 30.0)
                ridge[x] = min(ridge[x], plateau + 0.06 * dx**1.5 - rocks)
        ridges.append(ridge)
        for x in range(W):
            top = ridge[x]
            for y in range(max(0, int(top) - 1), H):
                cover = clamp(y + 0.5 - top)
                depth = clamp((y - top) / (H - top))
                shade = mix(colour, mix(colour, (0, 0, 0), 0.35), depth)
                i = y * W + x
                img.over(i, shade, cover)
                if y - top < 2.5:
                    warm = math.exp(-(((x - dusk_x) / (0.3 * W)) ** 2))
                    img.add(i, glow, rim * (1 - clamp((y - top) / 2.5)) * (0.4 + warm) * cover)
        # Mist pooling in the valleys in front of this range.
        mist_top = base - height * 0.35
        for y in range(int(mist_top), min(H, int(base + 0.06 * H))):
            f = math.sin(math.pi * clamp((y - mist_top) / (base + 0.06 * H - mist_top))) * 0.22
            for x in range(W):
                m = f * (0.55 + 0.45 * cloud_noise(x / 90.0 + number * 9, y / 14.0))
                img.over(y * W + x, haze, m)

    # A castle on the nearest range, with lit windows.
    draw_castle(img, castle_x, plateau + 3, mix(layers[-1][3], (0, 0, 0), 0.1), opts.accent)

    # The calm foreground band where the status text goes.
    fore_top = 0.8 * H
    near = mix(mountain, (0, 0, 0), 0.55)
    low = Noise1D(rng)
    for x in range(W):
        top = fore_top - 10 * low.fbm(x / 160.0, 3) - 6 * math.sin(x / 230.0)
        for y in range(int(top) - 1, H):
            cover = clamp(y + 0.5 - top)
            t = clamp((y - top) / (H - top))
            img.over(y * W + x, mix(near, (0.02, 0.015, 0.04), t ** 0.7), cover)

    # Pines along the edge of the foreground, thicker towards the sides.
    for _ in range(150):
        x = rng.random() * W
        side = abs(x - W / 2) / (W / 2)
        if rng.random() > 0.2 + 0.8 * side:
            continue
        draw_pine(img, x, fore_top + 4 - 8 * rng.random(), 10 + 26 * rng.random() * (0.4 + side), near)

    # Word mark.
    if opts.title:
        draw_title(img, opts.title, opts.accent)

    # Vignette.
    for y in range(H):
        dy = (y - H * 0.45) / (H * 0.62)
        for x in range(W):
            dx = (x - W * 0.5) / (W * 0.56)
            k = 1 - 0.6 * clamp(dx * dx + dy * dy) ** 1.6
            i = y * W + x
            img.r[i] *= k
            img.g[i] *= k
            img.b[i] *= k
    return img


def draw_castle(img, cx, ground, colour, accent):
    W = img.width
    towers = [  # centre offset, half width, height, roof height
        (-34, 5, 34, 12), (-18, 7, 52, 16), (0, 9, 74, 22), (19, 6, 44, 14), (33, 5, 28, 10)
    ]
    shapes = [lambda x, y: sd_box(x, y, cx - 40, ground - 22, cx + 38, ground + 30)]
    for off, hw, h, roof in towers:
        tx = cx + off
        shapes.append(lambda x, y, tx=tx, hw=hw, h=h: sd_box(x, y, tx - hw, ground - h, tx + hw, ground + 30))
        shapes.append(lambda x, y, tx=tx, hw=hw, h=h, roof=roof: sd_polygon(
            x, y, [(tx - hw - 2, ground - h + 0.5), (tx, ground - h - roof), (tx + hw + 2, ground - h + 0.5)]))
    # Battlements along the wall.
    for k in range(-38, 38, 6):
        shapes.append(lambda x, y, k=k: sd_box(x, y, cx + k, ground - 26, cx + k + 3, ground - 21))
    windows = [(-18, 40), (0, 58), (0, 44), (19, 32), (-34, 22), (6, 14)]
    x0, x1 = int(cx - 50), int(cx + 50)
    y0, y1 = int(ground - 110), int(ground + 8)
    for py in range(y0, y1):
        for px in range(x0, x1):
            if not (0 <= px < W and 0 <= py < img.height):
                continue
            hits = 0
            for sy in range(3):
                for sx in range(3):
                    x, y = px + (sx + 0.5) / 3, py + (sy + 0.5) / 3
                    hits += any(s(x, y) < 0 for s in shapes)
            img.over(py * W + px, colour, hits / 9.0)
    for off, height in windows:
        wx, wy = cx + off, ground - height
        for py in range(int(wy - 8), int(wy + 9)):
            for px in range(int(wx - 8), int(wx + 9)):
                d = sd_box(px + 0.5, py + 0.5, wx - 1.0, wy - 2.0, wx + 1.0, wy + 2.0)
                i = py * W + px
                img.add(i, (1.0, 0.6, 0.2), 0.22 * math.exp(-max(d, 0) / 2.5))
                if d < 0.5:
                    img.over(i, mix(accent, (1.0, 0.75, 0.35), 0.5), clamp(0.5 - d))


def draw_pine(img, x, ground, height, colour):
    W, H = img.width, img.height
    width = height * 0.32
    tiers = [(0.0, 0.45), (0.25, 0.75), (0.5, 1.0)]
    pts = []
    for top, bottom in tiers:
        pts.append([(x, ground - height * (1 - top)),
                    (x - width * bottom, ground - height * (1 - bottom) + height * 0.08),
                    (x + width * bottom, ground - height * (1 - bottom) + height * 0.08)])
    for py in range(int(ground - height - 1), int(ground + 3)):
        for px in range(int(x - width - 2), int(x + width + 3)):
            if not (0 <= px < W and 0 <= py < H):
                continue
            hits = 0
            for sy in range(3):
                for sx in range(3):
                    sxp, syp = px + (sx + 0.5) / 3, py + (sy + 0.5) / 3
                    trunk = abs(sxp - x) < max(0.6, width * 0.08) and ground - height * 0.2 < syp < ground + 2
                    hits += trunk or any(sd_polygon(sxp, syp, t) < 0 for t in pts)
            img.over(py * W + px, colour, hits / 9.0)


def draw_title(img, title, accent):
    W = img.width
    height, spacing = 38.0, 20.0
    widths = [0.0 if ch == " " else 0.62 * height * LETTER_WIDTH.get(ch, 1.0) for ch in title]
    total = sum(widths) + spacing * (len(title) - 1) + sum(height * 0.5 for ch in title if ch == " ")
    x = (W - total) / 2
    top = 36.0
    segments = []
    for ch, w in zip(title, widths):
        if ch == " ":
            x += height * 0.5 + spacing
            continue
        if ch == "I":
            segments += letter_segments(ch, x - 0.5 * 0.62 * height, top, 0.62 * height, height, 0.3)
        else:
            segments += letter_segments(ch, x, top, w, height, 0.3)
        x += w + spacing
    light = mix(accent, (1, 1, 1), 0.5)
    deep = mix(accent, (0.8, 0.4, 0.05), 0.35)
    x0, x1 = int((W - total) / 2 - 12), int((W + total) / 2 + 12)
    for py in range(int(top - 14), int(top + height + 14)):
        for px in range(max(0, x0), min(W, x1)):
            x, y = px + 0.5, py + 0.5
            d = min(sd_segment(x, y, ax, ay, bx, by) for (ax, ay), (bx, by) in segments)
            i = py * W + px
            img.add(i, (1.0, 0.7, 0.3), 0.16 * math.exp(-d / 6.0))
            img.over(i, (0.03, 0.02, 0.05), 0.55 * clamp(4.4 - d))
            t = clamp((y - top) / height)
            img.over(i, gradient([(0.0, light), (0.6, accent), (1.0, deep)], t), clamp(2.9 - d))
