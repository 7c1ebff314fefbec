"""Draws the benchmark's ratios to the floor as a small SVG bar chart, standard library only.

Every bar is the connector's cost in units of the floor's (time over the floor's time, or the
floor's rate over the connector's rate), so 1 is the floor and shorter is better; the tick on each
bar is its goal.
"""

# label, scenario, figure, whether the figure is a rate (inverted to a cost), goal as a cost ratio
BARS = [
    ("cold start", "cold", "start_ms", False, 2.0),
    ("ping throughput", "ping", "per_s", True, 1 / 0.30),
    ("tool call latency (median)", "latency", "median_us", False, 1.0),
    ("tool call throughput", "calls", "per_s", True, 1 / 1.3),
    ("  peak threads", "calls", "threads", False, 1.0),
    ("1,000 calls at 500 ms", "wide", "wall_s", False, 1.05),
]

WIDTH, LEFT, RIGHT, ROW, TOP = 720, 200, 150, 34, 40


def chart(results):
    scale_max = 4.0
    x = lambda cost: LEFT + (WIDTH - LEFT - RIGHT) * min(cost, scale_max) / scale_max
    height = TOP + ROW * len(BARS) + 30
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
        'font-family="sans-serif" font-size="12">',
        f'<rect width="{WIDTH}" height="{height}" fill="white"/>',
        f'<text x="10" y="20" font-size="14">vesk-connector cost relative to the floor '
        '(1 = floor; tick = goal)</text>',
    ]
    base = TOP + ROW * len(BARS)
    for tick in range(int(scale_max) + 1):
        parts += [
            f'<line x1="{x(tick):.1f}" x2="{x(tick):.1f}" y1="{TOP - 4}" y2="{base}" stroke="#ccc"/>',
            f'<text x="{x(tick):.1f}" y="{base + 16}" text-anchor="middle">{tick}x</text>',
        ]
    for i, (label, scenario, key, rate, goal) in enumerate(BARS):
        ratio = results[scenario]["ratio"][key]
        cost = 1 / ratio if rate else ratio
        y = TOP + i * ROW
        colour = "#3a7" if cost <= goal else "#c33"
        parts += [
            f'<text x="{LEFT - 8}" y="{y + 15}" text-anchor="end">{label}</text>',
            f'<rect x="{LEFT}" y="{y + 3}" width="{x(cost) - LEFT:.1f}" height="16" fill="{colour}"/>',
            f'<line x1="{x(goal):.1f}" x2="{x(goal):.1f}" y1="{y}" y2="{y + 22}" stroke="black" '
            'stroke-width="2"/>',
            f'<text x="{WIDTH - RIGHT + 12}" y="{y + 15}">{cost:.2f}x (goal {goal:.2f}x)</text>',
        ]
    parts.append("</svg>")
    return "\n".join(parts) + "\n"
