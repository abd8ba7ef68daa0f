#!/usr/bin/env python3
"""The velocity loop's true frequency response, from the equations of docs/simulator.md.

Steps the documented model (1 ms steps, current loop ten times a step, velocity filter of
10 ms, friction and viscous load) in velocity mode with the ramp off, the target a sine
around an offset sampled at every step, and prints gain and phase of the actual velocity
over the target at each frequency, then the -3 dB bandwidth and the peak, in the table
`ziro-bldc-cli bode velocity` prints.

    bench/velocity_response.py [--vp 2000 --vi 200 --cp 600 --ci 100] [--from 1 --to 40 --points 12]
        [--accel 15 --friction 50 --viscous 0.25 --gain-scale 1]   (the simulator's --motor, --gain-scale)

Only the Python standard library; it does not read the module's code.
"""

import argparse
import cmath
import math

H = 0.001  # s, the step


def clamp(x, lo, hi):
    return max(lo, min(hi, x))


class Pid:
    """One loop: I-share held while the output is at its bound and e drives it further."""

    def __init__(self, kp, ki, kd, kc):
        self.kp, self.ki, self.kd, self.kc = kp, ki, kd, kc
        self.share = 0.0
        self.last = 0.0

    def out(self, e, dt, bound):
        prop = self.kp * e + self.kd * (e - self.last)
        self.last = e
        share = clamp(self.share + self.ki * e * dt, -self.kc, self.kc)
        o = prop + share
        driven = abs(share) > abs(self.share) and ((o > bound and e > 0) or (o < -bound and e < 0))
        if not driven:
            self.share = share
        return clamp(prop + self.share, -bound, bound)


class Model:
    def __init__(self, a):
        # Gains as the table scales them, set 1 (the sweep stays below the threshold speed);
        # the gain scale multiplies the velocity loop's P, I and D.
        g = a.gain_scale
        self.vel = Pid(g * a.vp / 1024, g * a.vi / 16, g * a.vd / 1024, a.vc / 100)
        self.K = a.accel
        self.F = a.friction
        self.V = a.viscous
        self.cur = Pid(a.cp / 2048, a.ci * 2.5, a.cd / 2048, a.cc / 100)
        self.limit = 2 * a.max_current
        self.v = self.m = self.i = 0.0
        self.tau_m = 0.010
        self.tau_i = 0.001

    def load(self, v):
        return self.F * clamp(v / 10.0, -1.0, 1.0) + self.V * v

    def settle(self, v):
        """Starts at rest at velocity v: the loops hold the load."""
        self.v = self.m = v
        self.i = self.load(v)
        self.vel.share = self.i
        self.cur.share = self.i / 10.0

    def step(self, target):
        demand = self.vel.out(target - self.m, H, self.limit)
        total = 0.0
        lag = 1 - math.exp(-(H / 10) / self.tau_i)
        for _ in range(10):
            duty = self.cur.out(demand - self.i, H / 10, 1000.0)
            self.i += (10.0 * duty - self.i) * lag
            total += self.i
        mean = total / 10
        v0 = self.v
        self.v = v0 + self.K * (mean - self.load(v0)) * H
        self.m += (self.v - self.m) * (1 - math.exp(-H / self.tau_m))
        return self.v


def response(a, hz):
    model = Model(a)
    model.settle(a.offset)
    w = 2 * math.pi * hz
    lead = max(2.0, 4 / hz)
    n = round((lead + max(1.0, 4 / hz)) * hz) / hz  # whole periods after the lead-in
    steps = int(round(n / H))
    lead_steps = int(round(math.ceil(lead * hz) / hz / H))
    u = y = 0j
    for k in range(1, steps + 1):
        t = k * H
        target = a.offset + a.amplitude * math.sin(w * t)
        v = model.step(target)
        if k > lead_steps:
            e = cmath.exp(-1j * w * t)
            u += (target - a.offset) * e
            y += (v - a.offset) * e
    g = y / u
    return 20 * math.log10(abs(g)), math.degrees(cmath.phase(g))


def bandwidth(rows):
    for (f0, g0, _), (f1, g1, _) in zip(rows, rows[1:]):
        if g0 >= -3 > g1:
            x = (-3 - g0) / (g1 - g0)
            return math.exp(math.log(f0) + x * (math.log(f1) - math.log(f0)))
    return None


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name, default in (("vp", 2000), ("vi", 200), ("vd", 0), ("vc", 500000), ("cp", 600),
                          ("ci", 100), ("cd", 0), ("cc", 100000), ("max-current", 2000),
                          ("accel", 15), ("friction", 50), ("viscous", 0.25), ("gain-scale", 1)):
        p.add_argument("--" + name, type=float, default=default)
    p.add_argument("--from", dest="lo", type=float, default=1)
    p.add_argument("--to", dest="hi", type=float, default=40)
    p.add_argument("--points", type=int, default=12)
    p.add_argument("--freqs", help="comma-separated frequencies instead of the log spacing")
    p.add_argument("--amplitude", type=float, default=100)
    p.add_argument("--offset", type=float, default=500)
    a = p.parse_args()
    if a.freqs:
        freqs = [float(f) for f in a.freqs.split(",")]
    else:
        r = a.hi / a.lo
        freqs = [a.lo * r ** (k / (a.points - 1)) for k in range(a.points)]
    rows = [(f,) + response(a, f) for f in freqs]
    for f, g, ph in rows:
        print(f"{f:.3f}\t{g:.2f}\t{ph:.1f}")
    # The crossing, closer: bisect in log frequency between the bracketing points.
    bw = bandwidth(rows)
    if bw is not None:
        lo = max(f for f, g, _ in rows if f <= bw and g >= -3)
        hi = min(f for f, g, _ in rows if f >= bw and g < -3)
        fine = sorted(rows)
        for _ in range(12):
            mid = math.sqrt(lo * hi)
            g = response(a, mid)[0]
            fine.append((mid, g, 0))
            lo, hi = (mid, hi) if g >= -3 else (lo, mid)
        bw = bandwidth(sorted(fine))
    print("bandwidth_hz\t" + ("none" if bw is None else f"{bw:.2f}"))
    print(f"peak_db\t{max(g for _, g, _ in rows):.2f}")


if __name__ == "__main__":
    main()
