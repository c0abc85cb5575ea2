#!/usr/bin/python3
"""Skin heating and burn depth in NumPy/SciPy: the array peer of skinburn.

    peer_numpy.py INPUT [--history FILE.npy] [--omega FILE.npy]

INPUT is the flat input of peer_input.py (the tables as skinburn lays them).
The same model as textbook.c: backward Euler with central differences and
harmonic-mean interface conductivities, CONVECTION on both faces (half-cell
balance, h and ambient of the record at the start of the step), one banded
solve per step (scipy.linalg.solve_banded), the whole history kept; then
Omega = integral of P exp(-E/(R T)) dt at every node by classical RK4, one
step per record over the piecewise-linear history, vectorised over the nodes
(and over blocks of steps), scaled by Tref = (T(step 1) + T(last step)) / 2.

Standard output: node 1's temperature at every step, then where Omega
passes through 1 between two nodes (node i at depth (i - 1) dx).
"""
import os
import sys

import numpy as np
from scipy.linalg import solve_banded

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peer_input  # noqa: E402  (the flat input's reader)

BLOCK = 256  # steps of the burn integral per vectorised block


def march(s, t):
    n, steps, dt, dx = s["nodes"], s["steps"], s["deltat"], s["deltax"]
    k, rho, cp = t["conductivity"], t["density"], t["heat_capacity"]
    hl, tl, hr, tr = t["left_bc"], t["left_ambient"], t["right_bc"], t["right_ambient"]
    # Fourier numbers, weighted by the harmonic mean of the conductivities
    # at each interface; each product and sum formed in skinburn's order
    # (see textbook.c: Fo one unit in the last place away moves Omega at
    # depth by 8e-9 in the 3000-node case).
    fo = (k * dt) / ((rho * dx) * (cp * dx))
    west = 2 * k[:-2] / (k[1:-1] + k[:-2]) * fo[1:-1]
    east = 2 * k[2:] / (k[1:-1] + k[2:]) * fo[1:-1]
    # ab[0, j] = A[j-1, j], ab[1, j] = A[j, j], ab[2, j] = A[j+1, j]
    ab = np.zeros((3, n))
    ab[1, 1:-1] = west + 1 + east
    ab[2, :-2] = -west
    ab[0, 2:] = -east
    # Faces: half a cell, the neighbour's weight and the face's heat count twice.
    wl = 4 * k[1] / (k[0] + k[1]) * fo[0]
    wr = 4 * k[-2] / (k[-2] + k[-1]) * fo[-1]
    ab[0, 1] = -wl
    ab[2, -2] = -wr
    bl = (dt / dx) * hl / (rho[0] * cp[0])
    br = (dt / dx) * hr / (rho[-1] * cp[-1])

    T = np.empty((steps + 1, n))
    T[0] = t["initial_temperature"]
    out = []
    for j in range(1, steps + 1):
        ab[1, 0] = wl + 1 + 2 * bl[j - 1]
        ab[1, -1] = wr + 1 + 2 * br[j - 1]
        rhs = T[j - 1].copy()
        rhs[0] = 2 * bl[j - 1] * tl[j - 1] + rhs[0]
        rhs[-1] = 2 * br[j - 1] * tr[j - 1] + rhs[-1]
        T[j] = solve_banded((1, 1), ab, rhs, check_finite=False)
        out.append(f"{j:6d} {j * dt:10.5f} {T[j, 0]:12.4f}\n")
    sys.stdout.write("".join(out))
    return T


def burn(s, T):
    steps, h = s["steps"], s["deltat"]
    e_over_r = s["actenergy"] / s["gasconst"]
    scale = e_over_r / ((T[1] + T[steps]) / 2)

    def rate(temperature):
        return np.exp(scale - e_over_r / temperature)

    integral = np.zeros(T.shape[1])
    for k in range(0, steps, BLOCK):
        Ta = T[k:min(k + BLOCK, steps)]
        Tb = T[k + 1:min(k + BLOCK, steps) + 1]
        Tm = 0.5 * (Ta + Tb)  # the history is linear between records
        k1, k2, k3, k4 = rate(Ta), rate(Tm), rate(Tm), rate(Tb)
        integral += (h / 6 * (k1 + 2 * k2 + 2 * k3 + k4)).sum(axis=0)
    return np.exp(np.log(s["freqfactor"]) + s["freqexp"] * np.log(10.0) - scale + np.log(integral))


def main(argv):
    if len(argv) < 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    options = dict(zip(argv[2::2], argv[3::2]))
    s, t = peer_input.read(argv[1])
    T = march(s, t)
    omega = burn(s, T)
    dx = s["deltax"]
    for i in range(len(omega) - 1):
        a, b = omega[i], omega[i + 1]
        if (a > 1) != (b > 1) and a != 1 and b != 1:
            depth = (i + (1 - a) / (b - a)) * dx
            print(f"Omega = 1 at depth {depth:.6f} m (between nodes {i + 1} and {i + 2})")
    if "--history" in options:
        np.save(options["--history"], T)
    if "--omega" in options:
        np.save(options["--omega"], omega)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
