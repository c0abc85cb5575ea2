"""The two documents and their figures, from the results of a pass."""
from __future__ import annotations

import math
from pathlib import Path
from typing import Any, Optional, Sequence

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import skinburn as sb  # noqa: E402

from . import regimes as rg  # noqa: E402
from . import validation as va  # noqa: E402
from . import layers_ramp as lr  # noqa: E402
from . import verification as ve  # noqa: E402

FIG_DIR = "vv"  # figures go to docs/vv/


def _fmt(x: Optional[float], pattern: str = ".3g") -> str:
    return "–" if x is None or (isinstance(x, float) and math.isnan(x)) else format(x, pattern)


def _table(head: Sequence[str], rows: Sequence[Sequence[str]]) -> str:
    out = ["| " + " | ".join(head) + " |", "|" + "|".join("---" for _ in head) + "|"]
    out += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(out)


def _bands_table(bands: list[tuple[str, float, str, bool]]) -> str:
    return _table(["What", "Measured", "Band", "Held"],
                  [[w, _fmt(v, ".4g"), b, "yes" if ok else "**NO**"] for w, v, b, ok in bands])


def _plain(ax: plt.Axes) -> None:
    """Plain numbers on log axes."""
    from matplotlib.ticker import NullFormatter, ScalarFormatter
    for axis in (ax.xaxis, ax.yaxis):
        if axis.get_scale() == "log":
            axis.set_major_formatter(ScalarFormatter())
            axis.set_minor_formatter(NullFormatter())


def _plain_125(ax: plt.Axes) -> None:
    """Plain numbers on log axes at 1, 2 and 5 times the powers of ten: a span of under two decades reads."""
    from matplotlib.ticker import FuncFormatter

    def plain(value: float, _pos: int) -> str:
        lead = value / 10 ** math.floor(math.log10(value) + 1e-9) if value > 0 else 0.0
        return f"{value:g}" if round(lead, 6) in (1.0, 2.0, 5.0) else ""

    for axis in (ax.xaxis, ax.yaxis):
        if axis.get_scale() == "log":
            axis.set_major_formatter(FuncFormatter(plain))
            axis.set_minor_formatter(FuncFormatter(plain))


def _save(fig: plt.Figure, docs: Path, name: str) -> str:
    (docs / FIG_DIR).mkdir(parents=True, exist_ok=True)
    fig.savefig(docs / FIG_DIR / name, dpi=100)
    plt.close(fig)
    return f"{FIG_DIR}/{name}"


# --- Verification ------------------------------------------------------------------

def verification_figures(v: ve.Verification, docs: Path) -> dict[str, str]:
    """Profiles against the closed forms, error against step and spacing, the burn integral's error."""
    figs = {}
    fig, axes = plt.subplots(2, 2, figsize=(11, 8), constrained_layout=True)
    for ax, c in zip(axes.flat, v.cases):
        case = c.case
        depth = min(case.thickness_m, 3e-3)
        x = np.linspace(0, depth, 400)
        rows = c.table
        for k, t in enumerate(case.times_s):
            color = f"C{k}"
            ax.plot(x * 1e3, case.exact(x, t) - 273.15, color=color, label=f"closed form, {t:g} s")
            zs, ts = c.curves[t]
            keep = zs <= depth * (1 + 1e-9)
            ax.plot(zs[keep] * 1e3, ts[keep] - 273.15, "o", color=color, ms=4, mfc="none",
                    label=f"skinburn, {t:g} s")
        ax.set(title=case.title, xlabel="depth (mm)", ylabel="temperature (°C)")
        ax.legend(fontsize=7)
    figs["profiles"] = _save(fig, docs, "verification-profiles.png")

    fig, (a1, a2) = plt.subplots(1, 2, figsize=(11, 4.2), constrained_layout=True)
    for k, c in enumerate(v.cases):
        dts = [g[1] for g in c.time.grids]
        a1.loglog(dts, c.time.errors_K, "o-", color=f"C{k}", label=c.case.key)
        dxs = [g[0] * 1e6 for g in c.space.grids]
        a2.loglog(dxs, c.space.errors_K, "s-", color=f"C{k}", label=c.case.key)
    dts = np.array([g[1] for g in v.cases[0].time.grids])
    a1.loglog(dts, v.cases[0].time.errors_K[0] * 1.6 * dts / dts[0], "k:", label="slope 1")
    dxs = np.array([g[0] * 1e6 for g in v.cases[0].space.grids])
    a2.loglog(dxs, v.cases[0].space.errors_K[0] * 1.6 * (dxs / dxs[0]) ** 2, "k:", label="slope 2")
    a1.set(xlabel="DELTAT (s)", ylabel="largest |T - exact| (K)",
           title=f"DELTAT halved, DELTAX {v.settings.time_dx_m * 1e6:g} µm")
    a2.set(xlabel="DELTAX (µm)", ylabel="largest |T - exact| (K)",
           title="DELTAX halved, time error removed (Richardson)")
    a1.legend(fontsize=8)
    a2.legend(fontsize=8)
    figs["orders"] = _save(fig, docs, "verification-orders.png")

    fig, ax = plt.subplots(figsize=(6.5, 4.2), constrained_layout=True)
    for k, name in enumerate(sorted({r["kinetics"] for r in v.burn.ramp})):
        rows = [r for r in v.burn.ramp if r["kinetics"] == name]
        dts = [r["deltat_s"] for r in rows]
        ax.loglog(dts, [abs(r["package_rel"]) for r in rows], "o-", color=f"C{k}", label=f"package, {name}")
        if rows[0]["program"] is not None:
            ax.loglog(dts, [abs(r["program_rel"]) for r in rows], "x", ms=10, color=f"C{k}",
                      label=f"program, {name}")
    d = np.array(sorted({r["deltat_s"] for r in v.burn.ramp}))
    ref = [r for r in v.burn.ramp if r["kinetics"] == sb.HENRIQUES_1947.name]
    ax.loglog(d, abs(ref[0]["package_rel"]) * 1.6 * (d / d.max()) ** 4, "k:", label="slope 4")
    ax.set(xlabel="DELTAT (s)", ylabel="|Omega / exact - 1|", title="Burn integral of a linear ramp 37 → 67 °C")
    ax.legend(fontsize=7)
    figs["burn"] = _save(fig, docs, "verification-burn-integral.png")
    if v.layers_ramp is not None:
        figs["layers_ramp"] = _layers_ramp_figure(v.layers_ramp, docs)
    return figs


def _layers_ramp_figure(r: lr.LayersRamp, docs: Path) -> str:
    """Two-layer profiles against the closed form; error against DELTAX for both placements and the ramp."""
    fig, (a1, a2, a3) = plt.subplots(1, 3, figsize=(15, 4.4), constrained_layout=True)
    x = np.linspace(0, 3e-3, 600)
    between = r.placements["between"]
    for k, t in enumerate(lr.TRANSIENT.times_s):
        a1.plot(x * 1e3, lr.TRANSIENT.exact(x, t) - 273.15, color=f"C{k}", label=f"closed form, {t:g} s")
        zs, ts = between.curves[t]
        keep = zs <= 3e-3 * (1 + 1e-9)
        a1.plot(zs[keep] * 1e3, ts[keep] - 273.15, "o", color=f"C{k}", ms=3.5, mfc="none",
                label=f"skinburn, {t:g} s")
    a1.axvline(lr.INTERFACE_M * 1e3, color="k", lw=0.8, ls="--", label="dermis / subcutaneous tissue")
    a1.set(xlabel="depth (mm)", ylabel="temperature (°C)",
           title=f"Two layers, surface at {lr.SURFACE_K - 273.15:g} °C (DELTAX "
                 f"{between.deltax_m[-1] * 1e6:.3g} µm)")
    a1.legend(fontsize=7)
    for k, p in enumerate(r.placements.values()):
        dx = np.array(p.deltax_m) * 1e6
        a2.loglog(dx, p.errors_K, "o-", color=f"C{k}", label=f"{lr.PLACEMENT_TITLES[p.placement]}, step")
        if p.placement == "node":
            a2.loglog(dx, p.steady_errors_K, "s--", color=f"C{k}", mfc="none",
                      label=f"{lr.PLACEMENT_TITLES[p.placement]}, steady")
        ref = 1.6 * p.errors_K[0] * (dx / dx[0]) ** (2 if p.placement == "between" else 1)
        a2.loglog(dx, ref, "k:" if p.placement == "between" else "k-.", lw=0.8,
                  label="slope 2" if p.placement == "between" else "slope 1")
    a2.set(xlabel="DELTAX (µm)", ylabel="largest |T - exact| (K)", title="Two layers: error against DELTAX")
    from matplotlib.ticker import NullFormatter, ScalarFormatter
    a2.xaxis.set_major_formatter(ScalarFormatter())
    a2.xaxis.set_minor_formatter(NullFormatter())
    a2.legend(fontsize=7)
    c = r.ramp
    dts = np.array([g[1] for g in c.time.grids])
    dxs = np.array([g[0] for g in c.space.grids]) * 1e6
    a3.loglog(dts / dts[0], c.time.errors_K, "o-", color="C0", label="DELTAT halved")
    a3.loglog(dxs / dxs[0], c.space.errors_K, "s-", color="C1", label="DELTAX halved")
    ratio = dts / dts[0]
    a3.loglog(ratio, 1.6 * c.time.errors_K[0] * ratio, "k-.", lw=0.8, label="slope 1")
    a3.loglog(ratio, 1.6 * c.space.errors_K[0] * ratio ** 2, "k:", lw=0.8, label="slope 2")
    a3.set(xlabel=f"DELTAT / {dts[0]:g} s, or DELTAX / {dxs[0]:g} µm",
           ylabel="largest |T - exact| (K)", title=f"Ramped flux {lr.RAMP_RATE_W_M2S / 1e3:g} kW/m² per s")
    a3.set_xticks(ratio, [f"1/{round(1 / x)}" if x < 1 else "1" for x in ratio])
    a3.xaxis.set_minor_formatter(NullFormatter())
    a3.legend(fontsize=7)
    return _save(fig, docs, "verification-layers-ramp.png")


def _orders_row(s: ve.Sequence_, label: str) -> list[str]:
    return [label, ", ".join(_fmt(e, ".3g") for e in s.errors_K), ", ".join(_fmt(p, ".3f") for p in s.orders)]


def _orders_text(orders: list[float]) -> str:
    return ", ".join(_fmt(p, ".3f") for p in orders)


def _layers_ramp_summary(r: lr.LayersRamp) -> str:
    between, node = r.placements["between"], r.placements["node"]
    ramp = r.ramp
    return (f"Two layers: observed order in space {min(between.orders):.3f}–{max(between.orders):.3f} with the "
            f"interface halfway between two nodes, {min(node.orders):.3f}–{max(node.orders):.3f} with it on a node "
            "(the model then puts it half a spacing below); a steady two-layer slab exact to rounding wherever the "
            f"model put the interface. A ramped flux: order {min(ramp.time.orders):.3f}–{max(ramp.time.orders):.3f} "
            f"in time, {min(ramp.space.orders):.3f}–{max(ramp.space.orders):.3f} in space. ")


def _layers_ramp_sections(r: lr.LayersRamp, figs: dict[str, str], s: ve.Settings) -> list[str]:
    """The sections "Two layers" and "A flux growing in time"."""
    up, lo = lr.UPPER, lr.LOWER
    l_um = lr.INTERFACE_M * 1e6
    sig = lo[1] / up[1] * math.sqrt(lr._alpha(up) / lr._alpha(lo))
    L = ["## Two layers", "",
         f"Torvi and Dale's {up[0]} (k = {up[1]} W/(m·K), ρ = {up[2]:g} kg/m³, c = {up[3]:g} J/(kg·K)) to "
         f"l = {l_um:g} µm on their {lo[0]} (k = {lo[1]}, ρ = {lo[2]:g}, c = {lo[3]:g}): a contrast of 3.1 in "
         f"conductivity and σ = (k₂/k₁)·√(α₁/α₂) = {sig:.3f} for the ratio of their thermal effusivities. "
         "The layers are written by the package (a `Skin` of two `Layer`s).", "",
         "**Step in surface temperature** (composite solid: a layer on a semi-infinite solid of another "
         "material, in perfect contact; the surface held at "
         f"{lr.SURFACE_K} K from {lr.INITIAL_K} K; {lr.TRANSIENT_DEPTH_M * 1e3:g} mm deep, inner face held). "
         "By the Laplace transformation, with γ = (σ − 1)/(σ + 1), r = 2√(α₁t) and V = Ts − Ti:", "",
         "    x <= l: T - Ti = V sum_n gamma^n [erfc((2nl + x)/r) - gamma erfc((2(n+1)l - x)/r)]",
         "    x >= l: T - Ti = 2V/(1 + sigma) sum_n gamma^n erfc(((2n+1)l + (x - l) sqrt(alpha1/alpha2))/r)", "",
         "Source: Carslaw & Jaeger (1959) ch. XII (composite solids by the Laplace transformation); the "
         "derivation is in `vv/closed_forms.py` and `vv/tests/test_closed_forms.py` checks the result against "
         "its heat equation in each layer, the continuity of temperature and flux at the interface and the "
         f"surface value. Reported at t = {', '.join(f'{t:g}' for t in lr.LAYER_TIMES_S)} s.", "",
         f"**Steady slab** ({lr.STEADY_DEPTH_M * 1e3:g} mm, surface held at {lr.SURFACE_K} K and inner face at "
         f"{lr.STEADY_INNER_K} K, run {lr.STEADY_S:g} s in steps of {lr.STEADY_DT_S:g} s from the straight "
         "profile; backward Euler reaches the discrete steady state whatever its step):", "",
         "    q = (Ts - Tin) / (l/k1 + (L - l)/k2);  T = Ts - q x/k1 (x <= l),  T = Tin + q (L - x)/k2 (x >= l)", "",
         "Source: Incropera et al. (2007) §3.1.3 (the composite wall).", "",
         "**Placements.** Each node stands for the slab from half a spacing above it to half a spacing below, "
         "with one conductivity, and neighbours are joined through the harmonic mean of theirs. With the "
         "interface **halfway between two nodes** (`DELTAX` = l/(m − ½), as the package's `AutoGrid` places the "
         "epidermis base) that mean is exactly the series resistance of half a spacing of each material, and "
         "the method stays second order. With the interface **on a node** (`DELTAX` = l/m) one node would need "
         "two materials; the package gives it the upper layer, so the model's interface lies half a spacing "
         "below the one asked for (`res.layout.placed_boundaries_m`), an error proportional to `DELTAX`. The "
         "spacing falls by a factor of 3 (halving would put a halfway interface on a node); the time error of "
         "each grid is removed by Richardson extrapolation, 2·T(Δt/2) − T(Δt) with Δt = "
         f"{lr.LAYER_DT_S[s.name]:g} s. Errors are the largest |T − exact| over the nodes of the coarsest grid "
         "of the sequence at every reported time; observed order ln(e₁/e₂)/ln(Δx₁/Δx₂).", "",
         f"![Two layers and the ramped flux]({figs['layers_ramp']})", ""]
    rows = []
    for p in r.placements.values():
        title = lr.PLACEMENT_TITLES[p.placement]
        dx = ", ".join(f"{d * 1e6:.4g}" for d in p.deltax_m)
        placed = ", ".join(f"{b * 1e6:.4g}" for b in p.placed_m)
        rows.append([title, "step", dx, placed, ", ".join(_fmt(e, ".3g") for e in p.errors_K),
                     _orders_text(p.orders)])
        rows.append([title, "steady", dx, placed, ", ".join(_fmt(e, ".3g") for e in p.steady_errors_K),
                     _orders_text(p.steady_orders) if p.placement == "node" else "exact (rounding)"])
    L += [_table(["Placement", "Problem", "DELTAX (µm)", "interface as placed (µm)",
                  "largest error per grid (K)", "observed orders"], rows), "",
          "The steady slab against the closed form with the interface **where the model placed it**, largest "
          "error on any grid: " + "; ".join(f"{lr.PLACEMENT_TITLES[p.placement]}, {max(p.steady_placed_errors_K):.1e} K"
                                            for p in r.placements.values())
          + ". The program holds a steady two-layer slab exactly; all the error with the interface on a node is "
          "where it was placed.", ""]
    node = r.placements["node"]
    between = r.placements["between"]
    L += [f"Step in surface temperature, {lr.PLACEMENT_TITLES['between']}, on the finest grid (DELTAX "
          f"{between.deltax_m[-1] * 1e6:.4g} µm, time error removed):", "",
          _table(["t (s)", "depth (µm)", "exact (K)", "skinburn (K)", "error (K)"],
                 [[f"{x['time_s']:g}", f"{x['depth_m'] * 1e6:.4g}", f"{x['exact_K']:.4f}", f"{x['program_K']:.4f}",
                   f"{x['error_K']:+.2e}"] for x in between.table]), "",
          "- **Put every interface halfway between two nodes.** On a node the error at "
          f"DELTAX {node.deltax_m[-1] * 1e6:.3g} µm is {node.errors_K[-1]:.2g} K, "
          f"{node.errors_K[-1] / between.errors_K[-1]:.0f} times that of a halfway interface at the similar "
          f"{between.deltax_m[-1] * 1e6:.3g} µm, and it falls only in proportion to the spacing. The package's "
          "`AutoGrid` does this for the epidermis base; with a `Grid` of your own, choose DELTAX = l/(m − ½) for "
          "the interface that matters (the criterion depth) and read where the others went from "
          "`res.layout.placed_boundaries_m`.", ""]
    c = r.ramp
    k = c.case
    L += ["## A flux growing in time", "",
          f"Torvi and Dale's dermis as in the cases above, an absorbed flux q = a·t with a = "
          f"{lr.RAMP_RATE_W_M2S:g} W/m² per s (0 to {lr.RAMP_RATE_W_M2S * lr.RAMP_S / 1e3:g} kW/m² over "
          f"{lr.RAMP_S:g} s), given to the package as `HeatFlux(Series([0, {lr.RAMP_S:g}], [0, "
          f"{lr.RAMP_RATE_W_M2S * lr.RAMP_S:g}]), {lr.RAMP_S:g})`. The package writes the flux table so that each "
          "step sees the mean of the flux over it (docs/python.md, *Exposures as tables*).", "",
          f"    {k.formula}", "",
          "with i³erfc the third repeated integral of erfc (i³erfc(0) = 1/(6√π)). It follows from the constant-flux "
          "solution by Duhamel's superposition of flux steps a·dτ. "
          f"Source: {k.source}. Inputs: {k.inputs}. Reported at t = {', '.join(f'{t:g}' for t in k.times_s)} s. "
          "The grids and sequences are those of the cases above (method).", "",
          _table(["Sequence", "Grids", "Largest error per grid (K)", "Observed orders"],
                 [["DELTAT halved", f"DELTAX {c.time.grids[0][0] * 1e6:g} µm, DELTAT "
                   + ", ".join(f"{g[1]:g}" for g in c.time.grids) + " s",
                   ", ".join(_fmt(e, ".3g") for e in c.time.errors_K), _orders_text(c.time.orders)],
                  ["DELTAX halved", "DELTAX " + ", ".join(f"{g[0] * 1e6:g}" for g in c.space.grids)
                   + f" µm, Richardson on DELTAT {c.space.grids[0][1]:g} s",
                   ", ".join(_fmt(e, ".3g") for e in c.space.errors_K), _orders_text(c.space.orders)],
                  ["both halved", "; ".join(f"{g[0] * 1e6:g} µm, {g[1]:g} s" for g in c.both.grids),
                   ", ".join(_fmt(e, ".3g") for e in c.both.errors_K), _orders_text(c.both.orders)]]), "",
          f"On the finest time grid (DELTAX {s.time_dx_m * 1e6:g} µm, DELTAT {s.time_dts_s[-1]:g} s):", "",
          _table(["t (s)", "depth (µm)", "exact (K)", "skinburn (K)", "error (K)",
                  f"error at DELTAT {s.time_dts_s[0]:g} s (K)"],
                 [[f"{x['time_s']:g}", f"{x['depth_m'] * 1e6:g}", f"{x['exact_K']:.4f}", f"{x['program_K']:.4f}",
                   f"{x['error_K']:+.2e}", f"{x['coarse_error_K']:+.2e}"] for x in c.table]), "",
          "- A time-varying flux keeps the orders of a constant one: first in DELTAT, second in DELTAX. Per 0.01 s "
          f"of DELTAT the error is {c.time.errors_K[-1] / c.time.grids[-1][1] * 0.01:.3g} K here, against a "
          f"rise of {max(x['exact_K'] - k.initial_K for x in c.table):.1f} K.", ""]
    return L


def _flame_face_section(f: Any) -> list[str]:
    """A flame's face (vv/flame_face.py) against SciPy."""
    from . import flame_face as ff
    return ["## A flame's face", "",
            "A flame heats by convection and radiation at once, and the hot surface re-radiates: "
            f"`sb.Flame` with gas at {ff.GAS_K:g} K and h {ff.H:g} W/(m² K), {ff.Q / 1e3:g} kW/m² incident at "
            f"emissivity {ff.EPS:g} (absorbed at the same), re-radiating ε·σ·(T_s⁴ − T_surr⁴) to {ff.SURR_K:g} K, "
            f"for {ff.DURATION_S:g} s on a uniform slab (the Torvi–Dale dermis properties) from {ff.T0_K:g} K. "
            "The program's faces are linear in the surface temperature; the package writes the flame as a "
            "CONVECTION face linearized about the surface temperature of the run before and runs again until "
            f"it settles (to 1 mK). Held against the method of lines on a 2.5 µm grid "
            "integrated by SciPy's adaptive BDF (relative tolerance 10⁻¹⁰) with the re-radiation in its "
            f"nonlinear form; skinburn on DELTAX {ff.GRID[0] * 1e6:g} µm, DELTAT {ff.GRID[1] * 1e3:g} ms, BDF2. "
            f"Band: within {ff.BAND * 100:g} % of the surface temperature's rise.", "",
            _table(["t (s)", "SciPy (K)", "skinburn (K)", "error / rise"],
                   [[f"{r['time_s']:g}", f"{r['scipy_K']:.4f}", f"{r['skinburn_K']:.4f}", f"{r['error']:+.1e}"]
                    for r in f.rows]), ""]


def _perfusion_section(f: Any) -> list[str]:
    """The blood's perfusion (vv/perfusion.py) against a perfused slab's closed forms."""
    from . import perfusion as pf
    steady = [r["error_K"] for r in f.steady]
    dxs = ", ".join(f"{r['deltax_m'] * 1e6:g}" for r in f.steady)
    rows = [["steady, surface and inner face held", f"DELTAX {dxs} µm",
             ", ".join(f"{e:.2e}" for e in steady), ", ".join(f"{p:.3f}" for p in pf._orders(steady))]]
    for scheme, name in (("backward-euler", "backward Euler"), ("bdf2", "BDF2")):
        errs = [r["error_K"] for r in f.transient[scheme]]
        dts = ", ".join(f"{r['deltat_s']:g}" for r in f.transient[scheme])
        rows.append([f"surface stepped, {name}", f"DELTAT {dts} s",
                     ", ".join(f"{e:.2e}" for e in errs), ", ".join(f"{p:.3f}" for p in pf._orders(errs))])
    return ["## Blood perfusion", "",
            "With `--perfusion` every node gains the Pennes term w·ρ_b·c_b·(T_a − T), implicit in the step. "
            f"A uniform slab (the Torvi–Dale dermis properties) perfused at w = {pf.RATE_1_S:g} 1/s by blood of "
            f"{pf.BLOOD.density_kg_m3:g} kg/m³ and {pf.BLOOD.heat_capacity_J_kgK:g} J/(kg·K) at "
            f"T_a = {pf.BLOOD.arterial_K:g} K (m = {pf.M_1_M:.1f} 1/m), its surface held at {pf.SURFACE_K:g} K:", "",
            f"- **Steady**: a {pf.STEADY_DEPTH_M * 1e3:g} mm slab with its inner face held at T_a, after "
            f"{pf.STEADY_S:g} s (30 relaxation times ρc/(w·ρ_b·c_b)), against "
            "T_a + (T_s − T_a)·sinh(m(L − x))/sinh(mL). The settled profile is that of the discrete equations "
            "whatever the step, so this is the order in space alone. Expected 2.",
            f"- **Transient**: a {pf.TRANSIENT_DEPTH_M * 1e3:g} mm slab (deep enough to stand for a semi-infinite "
            f"one) at {pf.TRANSIENT_S:g} s after its surface was stepped, on DELTAX {pf.TRANSIENT_DX_M * 1e6:g} µm, "
            "against (T_s − T_a)/2·[e^(−mx)·erfc(x/(2√(αt)) − √(βt)) + e^(mx)·erfc(x/(2√(αt)) + √(βt))], "
            "β = w·ρ_b·c_b/(ρc) (Carslaw and Jaeger, § 2.9, heat loss proportional to the temperature). "
            "Expected 1 for backward Euler, 2 for BDF2.", "",
            _table(["Case", "Grids", "Largest error per grid (K)", "Observed orders"], rows), ""]
def _garment_gap_section(g: Any) -> list[str]:
    """A garment's fabric and gap (vv/garment_gap.py) against SciPy."""
    from . import garment_gap as gg
    fab = gg.garment().fabric
    return ["## A garment's fabric and air gap", "",
            f"A flash fire through clothing: {gg.FLUX_W_M2 / 1e3:g} kW/m² absorbed for {gg.DURATION_S:g} s by "
            f"`sb.COTTON_LIKE` ({fab.thickness_m * 1e3:g} mm; k {fab.conductivity_W_mK:g} W/(m·K), ρ "
            f"{fab.density_kg_m3:g} kg/m³, c {fab.heat_capacity_J_kgK:g} J/(kg·K), emissivity {fab.outer_emissivity:g}) "
            f"{gg.GAP_M * 1e3:g} mm in front of a uniform skin (the Torvi–Dale dermis properties, insulated inside) "
            f"from {gg.T0_K:g} K, then the fabric cooling until {gg.END_S:g} s. The package solves the fabric by "
            "its own implicit model and gives the skin in the program a CONVECTION face linearized about the "
            "skin's surface temperature of the run before, run again until it settles (to 1 mK). Held against the "
            "method of lines on fabric, gap and skin as one system (2.5 µm spacing in the fabric, 5 µm in the skin) "
            "integrated by SciPy's adaptive BDF (relative tolerance 10⁻⁹), with the gap's conduction and "
            "radiation σ(T_f⁴ − T_s⁴)/(1/ε_f + 1/ε_s − 1) and the fabric's re-radiation in their nonlinear forms; "
            f"skinburn on DELTAX {gg.GRID[0] * 1e6:g} µm, DELTAT {gg.GRID[1] * 1e3:g} ms, BDF2. "
            f"Band: within {gg.BAND * 100:g} % of the skin surface temperature's rise. The fabric peaked at "
            f"{g.fabric_peak_K - 273.15:.0f} °C (no charring or ignition is modelled) and the gap's Rayleigh number "
            f"at {g.rayleigh:.0f} (still air, no convection, holds below about 10³).", "",
            _table(["t (s)", "SciPy (K)", "skinburn (K)", "error / rise"],
                   [[f"{r['time_s']:g}", f"{r['scipy_K']:.4f}", f"{r['skinburn_K']:.4f}", f"{r['error']:+.1e}"]
                    for r in g.rows]), ""]


def verification_markdown(v: ve.Verification, figs: dict[str, str], command: str) -> str:
    """docs/verification.md."""
    s = v.settings
    all_t = [p for c in v.cases for p in c.time.orders]
    all_x = [p for c in v.cases for p in c.space.orders]
    held = all(b[3] for b in v.bands)
    L = [
        "# Verification: skinburn against closed-form solutions",
        "",
        f"Written by `{command}` on the current build; do not edit by hand. "
        "Every temperature below is the program's full-precision history (`--results`, `PREFIX.npy`), "
        "read through the Python package; every trial was written by the package.",
        "",
        f"**Summary.** Observed order in time {min(all_t):.3f}–{max(all_t):.3f} (expected 1, band "
        f"{ve.TIME_BAND[0]}–{ve.TIME_BAND[1]}); in space {min(all_x):.3f}–{max(all_x):.3f} (expected 2, band "
        f"{ve.SPACE_BAND[0]}–{ve.SPACE_BAND[1]}). "
        + (_layers_ramp_summary(v.layers_ramp) if v.layers_ramp is not None else "")
        + (f"A flame's face (convection, absorbed radiation, re-radiation) within "
           f"{max(abs(r['error']) for r in v.flame_face.rows) * 100:.3f} % of its rise of SciPy's integration. "
           if v.flame_face is not None else "")
        + ("Blood perfusion (the Pennes term) converges on a perfused slab's closed forms, second order in "
           "space and in the time scheme's order. " if v.perfusion is not None else "")
        + (f"A garment's fabric and air gap within {max(abs(r['error']) for r in v.garment_gap.rows) * 100:.3f} % "
           "of the skin's rise of SciPy's integration of fabric, gap and skin together. "
           if v.garment_gap is not None else "")
        + "The burn integral is exact for a constant temperature "
        "(to rounding) and fourth order on a ramp, in the program and in the package alike. "
        f"All {len(v.bands)} bands {'hold' if held else '**do not all hold**'}.",
        "",
        "Contents: [method](#method) · [cases](#cases) · [orders](#observed-orders) · "
        "[error tables](#errors-at-several-depths-and-times) · "
        + ("[two layers](#two-layers) · [ramped flux](#a-flux-growing-in-time) · "
           if v.layers_ramp is not None else "")
        + ("[flame face](#a-flames-face) · " if v.flame_face is not None else "")
        + ("[perfusion](#blood-perfusion) · " if v.perfusion is not None else "")
        + ("[garment](#a-garments-fabric-and-air-gap) · " if v.garment_gap is not None else "")
        + "[burn integral](#the-burn-integral) · "
        "[bands](#bands) · [choosing DELTAX and DELTAT](#choosing-deltax-and-deltat)",
        "",
        "The package's automatic grid, run the way a user runs it on 32 routine trials and held against a "
        "fixed fine grid, is checked in [routine.md](routine.md).",
        "",
        "## Method",
        "",
        "The program solves the heat equation with backward Euler in time and second-order central "
        "differences in space; each face node owns half a cell. So the error of a temperature should "
        "behave as e ≈ A·DELTAT + B·DELTAX².",
        "",
        f"- **Time**: `DELTAX` fixed at {s.time_dx_m * 1e6:g} µm, `DELTAT` = "
        f"{', '.join(f'{d:g}' for d in s.time_dts_s)} s. The space error there is a small fraction of the time "
        "error. Expected order 1.",
        f"- **Space**: `DELTAX` = {', '.join(f'{d * 1e6:g}' for d in s.space_dxs_m)} µm; on each grid the time "
        f"error is removed by Richardson extrapolation, 2·T(Δt/2) − T(Δt) with Δt = {s.space_dt_s:g} s, which "
        "leaves an O(Δt²) remainder far below the space error. Expected order 2.",
        "- **Both**: `DELTAX` and `DELTAT` halved together (the first grids of the two lists paired). The "
        "time error dominates, so the order tends to 1 from above; the band asks that the error fall at "
        f"least as fast as order {ve.BOTH_MIN_ORDER}.",
        "- The error of a grid is the largest |T − exact| over the nodes common to all grids of the sequence "
        "(depths that are multiples of the coarsest spacing, through the whole model) at every reported time; "
        "the observed order between two grids is log₂ of the ratio of their errors.",
        "- Material: Torvi and Dale's dermis (D. A. Torvi and J. D. Dale, *J. Biomech. Eng.* 116 (1994) "
        f"250–255): k = {ve.K_W_MK} W/(m·K), ρ = {ve.RHO_KG_M3:g} kg/m³, c = {ve.C_J_KGK:g} J/(kg·K), "
        f"α = {ve.ALPHA_M2_S:.4e} m²/s, uniform.",
        "",
        "Sources of the closed forms: H. S. Carslaw and J. C. Jaeger, *Conduction of Heat in Solids*, "
        "2nd ed., Oxford University Press 1959 (§§ 2.4, 2.7, 2.9, 3.11); F. P. Incropera, D. P. DeWitt, "
        "T. L. Bergman and A. S. Lavine, *Fundamentals of Heat and Mass Transfer*, 6th ed., Wiley 2007 "
        "(eqs. 5.39, 5.57, 5.59, 5.60).",
        "",
        "## Cases",
        "",
    ]
    for c in v.cases:
        k = c.case
        L += [f"### {k.title} (`{k.key}`)", "", f"    {k.formula}", "", f"Source: {k.source}. Inputs: {k.inputs}. "
              f"Reported at t = {', '.join(f'{t:g}' for t in k.times_s)} s.", ""]
    L += [f"![Profiles against the closed forms]({figs['profiles']})", "",
          "## Observed orders", "",
          f"![Error against DELTAT and DELTAX]({figs['orders']})", ""]
    rows = []
    for c in v.cases:
        rows += [[f"`{c.case.key}`"] + _orders_row(c.time, "DELTAT halved")[0:3],
                 [f"`{c.case.key}`"] + _orders_row(c.space, "DELTAX halved")[0:3],
                 [f"`{c.case.key}`"] + _orders_row(c.both, "both halved")[0:3]]
    L += [_table(["Case", "Sequence", "Largest error per grid (K)", "Observed orders"], rows), ""]
    L += ["## Errors at several depths and times", "",
          f"The program's temperature against the closed form on the finest time grid (DELTAX "
          f"{s.time_dx_m * 1e6:g} µm, DELTAT {s.time_dts_s[-1]:g} s), and the error on the coarsest "
          f"(DELTAT {s.time_dts_s[0]:g} s).", ""]
    for c in v.cases:
        L += [f"**{c.case.title}**", ""]
        L += [_table(["t (s)", "depth (µm)", "exact (K)", "skinburn (K)", "error (K)",
                      f"error at DELTAT {s.time_dts_s[0]:g} s (K)"],
                     [[f"{r['time_s']:g}", f"{r['depth_m'] * 1e6:g}", f"{r['exact_K']:.4f}", f"{r['program_K']:.4f}",
                       f"{r['error_K']:+.2e}", f"{r['coarse_error_K']:+.2e}"] for r in c.table]), ""]
    if v.layers_ramp is not None:
        L += _layers_ramp_sections(v.layers_ramp, figs, s)
    if v.flame_face is not None:
        L += _flame_face_section(v.flame_face)
    if v.perfusion is not None:
        L += _perfusion_section(v.perfusion)
    if v.garment_gap is not None:
        L += _garment_gap_section(v.garment_gap)
    b = v.burn
    L += ["## The burn integral", "",
          "Omega = ∫ P·exp(−(E/R)/T(t)) dt. The program integrates it per node by classical fourth-order "
          "Runge–Kutta with one step per `DELTAT` and the temperature straight between records, i.e. "
          "Simpson's rule on each step; the package's `damage_integral` does the same.", "",
          f"**Constant temperature** ({ve.CONSTANT_K} K for {ve.CONSTANT_S:g} s, DELTAT 0.1 s): exactly "
          "Omega = P·exp(−E/(RT))·t (F. C. Henriques Jr., *Arch. Pathol.* 43 (1947) 489–502). The program's run "
          "holds every node of a 1 mm slab at that temperature (surface and inner face held, uniform start); "
          "its Omega is compared at every node.", "",
          _table(["Kinetics", "exact Omega", "program (node 1)", "program: largest relative error (any node)",
                  "program's history: largest deviation from 333.15 K (K)", "package", "package: relative error"],
                 [[r["kinetics"], f"{r['exact']:.15g}", _fmt(r["program"], ".15g"), _fmt(r["program_rel"], ".2e"),
                   _fmt(r.get("history_dev_K"), ".1e"), f"{r['package']:.15g}", f"{r['package_rel']:.2e}"]
                  for r in b.constant]), "",
          f"**Linear ramp** T(t) = {ve.RAMP_START_K} K + {ve.RAMP_RATE_K_S:g} K/s · t over {ve.RAMP_S:g} s "
          "(37 → 67 °C), against SciPy's adaptive Gauss–Kronrod quadrature of the exact integrand (relative "
          "tolerance 10⁻¹³, per regime). The program's surface node follows the ramp exactly at every record "
          "(its `TEMPERATURE` face table, written by the package); the program's Omega there is compared. "
          "Weaver–Stoll's rate jumps at 44 and 50 °C, so Simpson's rule loses its order there: it is shown, "
          "not banded, and the program cannot hold its two regimes (the package evaluates them).", "",
          _table(["Kinetics", "DELTAT (s)", "exact Omega", "package − exact (rel.)", "order", "program − exact (rel.)",
                  "order", "program vs package on its history"],
                 [[r["kinetics"], f"{r['deltat_s']:g}", f"{r['exact']:.10g}", f"{r['package_rel']:+.3e}",
                   _fmt(r.get("package_order"), ".3f"), _fmt(r["program_rel"], "+.3e"),
                   _fmt(r.get("program_order"), ".3f"), _fmt(r.get("agreement"), ".1e")] for r in b.ramp]), "",
          f"![Burn integral of a ramp]({figs['burn']})", "",
          "## Bands", "",
          "Checked by the CTest test `vv.bands` on coarser settings and by every full pass.", "",
          _bands_table(v.bands), "",
          "## Choosing DELTAX and DELTAT", ""]
    rows = []
    for c in v.cases:
        rise = max(abs(r["exact_K"] - c.case.initial_K) for r in c.table)
        a = c.time.errors_K[-1] / c.time.grids[-1][1]
        bb = c.space.errors_K[-1] / c.space.grids[-1][0] ** 2
        rows.append([f"`{c.case.key}`", f"{rise:.1f}", f"{a * 0.01:.3g}", f"{100 * a * 0.01 / rise:.2g} %",
                     f"{bb * 1e-10:.3g}", f"{100 * bb * 1e-10 / rise:.2g} %"])
    ratios = [c.time.errors_K[-1] / c.time.grids[-1][1] * 0.01 / (c.space.errors_K[-1] / c.space.grids[-1][0] ** 2 * 1e-10)
              for c in v.cases]
    L += ["The measured error constants (largest error over depth and the reported times):", "",
          _table(["Case", "largest rise (K)", "error per 0.01 s of DELTAT (K)", "of the rise",
                  "error at DELTAX 10 µm (K)", "of the rise"], rows), "",
          "- The time error dominates at the settings a skin-burn run uses: at DELTAT 0.01 s and DELTAX 10 µm it "
          f"is {min(ratios):.0f} to {max(ratios):.0f} times the space error. **Halve DELTAT to halve the error**; halving DELTAX "
          "alone buys almost nothing until DELTAT is small.",
          "- The space error falls as DELTAX²: 80 µm is already within a few hundredths of a kelvin on these "
          "millimetre-scale profiles, but the spacing must also resolve the **layers and the criterion "
          "depth**: put the epidermis base (80 µm) halfway between two nodes (DELTAX = 80 µm/(m − ½), as the "
          "package's `AutoGrid` does). The validation's grid, 7.5 spacings above the base (80 µm/7.5 = "
          "10.7 µm) with DELTAT = 0.01 s, changes the predicted burn times by less than 0.5 % when both are halved "
          "([validation.md](validation.md#numerical-uncertainty)).",
          "- Omega is far more sensitive than temperature: a temperature error δT changes the damage rate by "
          "the factor exp(E/(R T²) δT), about 35 % per K with Weaver–Stoll's upper regime and 70 % per K with "
          "Henriques's constants near 330 K, so judge a grid by the burn quantity it is "
          "for (time to burn, depth of Omega = 1), as the package's `AutoGrid` does, not by temperatures.",
          "- The burn integral itself is fourth order and adds no error worth counting at DELTAT ≤ 0.1 s for "
          "single-set kinetics; with Weaver–Stoll its error is first order at the 44 and 50 °C switches and "
          "still far below the temperature's effect.", ""]
    return "\n".join(L)


# --- Validation ----------------------------------------------------------------------

SETS = [(sb.WEAVER_STOLL_1969.name, 1.0), (sb.WEAVER_STOLL_1969.name, 0.94), (sb.HENRIQUES_1947.name, 1.0),
        (sb.HENRIQUES_1947.name, 0.94), (sb.PROGRAM_DEFAULT.name, 1.0), (sb.PROGRAM_DEFAULT.name, 0.94)]


def validation_figures(v: va.Validation, docs: Path) -> dict[str, str]:
    """The Stoll curve with the predictions; predicted / measured; hot water."""
    figs = {}
    colors = {sb.WEAVER_STOLL_1969.name: "C0", sb.HENRIQUES_1947.name: "C1", sb.PROGRAM_DEFAULT.name: "C2"}
    fig, (a1, a2) = plt.subplots(1, 2, figsize=(12, 4.6), constrained_layout=True)
    pts = va.stoll_points()
    a1.plot([q / 1e3 for t, q in pts], [t for t, q in pts], "ks-", label="Stoll & Chianta (1969)", zorder=5)
    for name, a in SETS:
        s = v.stoll_set(name, a)
        good = [p for p in s if p.predicted_s is not None]
        if not good:
            continue
        ls = "-" if a == 1.0 else "--"
        a1.plot([p.x / 1e3 for p in good], [p.predicted_s for p in good], ls, color=colors[name],
                label=f"{name}, absorbed = {a:g} × tabulated")
        a2.plot([p.measured_s for p in good], [p.ratio for p in good], "o" + ls, color=colors[name], ms=4,
                mfc="none" if a != 1.0 else None, label=f"{name}, absorbed = {a:g} × tabulated")
    a1.set(xscale="log", yscale="log", xlabel="heat flux (kW/m²)", ylabel="time to a second-degree burn (s)",
           title="Stoll curve and skinburn's predictions")
    _plain_125(a1)
    a1.legend(fontsize=7)
    a2.axhspan(1 - va.STOLL_MAX_ERROR, 1 + va.STOLL_MAX_ERROR, color="C0", alpha=0.12,
               label=f"band ±{va.STOLL_MAX_ERROR:.0%} (Weaver–Stoll, 1.0)")
    a2.axhline(1, color="k", lw=0.8, label="predicted = measured")
    a2.set(xscale="log", xlabel="exposure time on the Stoll curve (s)", ylabel="predicted / measured",
           title="Predicted / measured per point")
    _plain_125(a2)
    a2.legend(fontsize=7)
    figs["stoll"] = _save(fig, docs, "validation-stoll.png")

    if v.hot_water:
        fig, ax = plt.subplots(figsize=(7, 4.6), constrained_layout=True)
        w = va.hot_water_points()
        lo = [p["time_s"] - p["low_s"] for p in w]
        hi = [p["high_s"] - p["time_s"] for p in w]
        ax.errorbar([p["water_C"] for p in w], [p["time_s"] for p in w], yerr=[lo, hi], fmt="ks", capsize=3,
                    label="Moritz & Henriques (1947), as cited", zorder=5)
        for p in w:
            ax.annotate(p["confidence"], (p["water_C"], p["time_s"]), textcoords="offset points", xytext=(4, 4),
                        fontsize=6)
        for name in colors:
            s = [p for p in v.water_set(name) if p.predicted_s is not None]
            if s:
                ax.plot([p.x for p in s], [p.predicted_s for p in s], "o-", color=colors[name], label=name)
        ax.set(yscale="log", xlabel="water temperature (°C)", ylabel="time to transepidermal necrosis (s)",
               title="Hot-water contact")
        ax.legend(fontsize=7)
        figs["water"] = _save(fig, docs, "validation-hot-water.png")
    return figs


def _range(points: list[va.Point]) -> str:
    s = va.Stats.of(points)
    return "–" if s is None else f"{s.low:.2g}–{s.high:.2g}"


def _lean(points: list[va.Point]) -> str:
    """': late, ...' or ': early, ...' when every prediction is on one side of the data."""
    s = va.Stats.of(points)
    if s is None:
        return ""
    if s.low > 1:
        return ": late everywhere, so it understates the hazard"
    if s.high < 1:
        return ": early everywhere, so on the safe side"
    return ", early at some points and late at others"


def _cooling(points: list[va.Point]) -> str:
    """The cooling times the predictions counted, as '60 s' or '60–240 s' ('–' when none was predicted)."""
    after = [p.extra["after_s"] for p in points if p.predicted_s is not None and p.extra.get("after_s") is not None]
    if not after:
        return "–"
    lo, hi = min(after), max(after)
    return f"{lo:.3g} s" if lo == hi else f"{lo:.3g}–{hi:.3g} s"


def _stats_row(name: str, a: float, pts: list[va.Point]) -> list[str]:
    s = va.Stats.of(pts)
    unc = [p.uncertainty for p in pts if p.uncertainty is not None]
    if s is None:
        return [name, f"{a:g}", "0", "–", "–", "–", "–"]
    return [name, f"{a:g}", str(s.count), f"{s.low:.3f}–{s.high:.3f}", f"{s.mean_bias:+.1%}", f"{s.largest_error:.1%}",
            f"{max(unc):.3%}" if unc else "–"]


def validation_markdown(v: va.Validation, figs: dict[str, str], command: str) -> str:
    """docs/validation.md."""
    ws = va.Stats.of(v.stoll_set(sb.WEAVER_STOLL_1969.name, 1.0))
    unc = [p.uncertainty for p in v.stoll + v.hot_water if p.uncertainty is not None]
    held = all(b[3] for b in v.bands)
    he_stoll = va.Stats.of(v.stoll_set(sb.HENRIQUES_1947.name, 1.0))
    ws_water = va.Stats.of(v.water_set(sb.WEAVER_STOLL_1969.name)) if v.hot_water else None
    independent = "; the independent comparisons are " + (
        f"Henriques's constants on the Stoll curve ({he_stoll.low:.3f}–{he_stoll.high:.3f}, mean bias "
        f"{he_stoll.mean_bias:+.1%}), Weaver–Stoll on hot-water contact ({ws_water.low:.3g}–{ws_water.high:.3g}) "
        "and the program's default constants on both" if he_stoll and ws_water else
        "Henriques's constants on the Stoll curve, Weaver–Stoll on hot-water contact and the program's default "
        "constants on both (compared in the full pass)")
    L = [
        "# Validation: skinburn's burn predictions against human burn data",
        "",
        f"Written by `{command}` on the current build; do not edit by hand.",
        "",
        f"**Summary.** Time to a second-degree burn on the Stoll curve, Weaver–Stoll kinetics with the absorbed "
        f"flux equal to the tabulated flux: predicted/measured {ws.low:.3f}–{ws.high:.3f}, mean bias "
        f"{ws.mean_bias:+.1%}, largest error {ws.largest_error:.1%} (bands ≤ {va.STOLL_MAX_ERROR:.0%} and within "
        f"±{va.STOLL_MAX_BIAS:.0%}), an agreement that is not independent, because Weaver and Stoll fitted their "
        f"constants to Stoll's data (it tests the skin model and solver, not the kinetics){independent}. "
        f"Numerical uncertainty (grid and step halved) at most "
        f"{max(unc):.2%} per point (band < {va.UNCERTAINTY_MAX:.1%}). " + _regime_summary(v) +
        f"All {len(v.bands)} bands {'hold' if held else '**do not all hold**'}.",
        "",
        "Contents: [model](#the-model) · [Stoll curve](#stoll-curve) · [hot water](#hot-water-contact) · "
        + ("[evidence by regime](#evidence-by-regime) · " if v.regimes is not None else "") +
        "[numerical uncertainty](#numerical-uncertainty) · [bands](#bands) · "
        "[which kinetics for which question](#which-kinetics-for-which-question)",
        "",
        "## The model",
        "",
        "- Skin: Torvi and Dale's three layers (D. A. Torvi and J. D. Dale, A finite element model of skin "
        "subjected to a flash fire, *J. Biomech. Eng.* 116 (1994) 250–255): epidermis 80 µm (k 0.255 W/(m·K), "
        "ρ 1200 kg/m³, c 3590 J/(kg·K)), dermis 2 mm (0.523, 1200, 3300), subcutaneous tissue 10 mm (0.167, "
        "1000, 2500); 32.5 °C at the surface to 37 °C at the inner face, which is held at 37 °C.",
        "- Criterion: a second-degree burn (complete transepidermal necrosis) when Omega reaches 1 at the base "
        "of the epidermis, 80 µm (F. C. Henriques Jr., *Arch. Pathol.* 43 (1947) 489–502), damage counted "
        "during the exposure and after it until it has stopped growing there: the package's `AutoCooling`, "
        f"from {va.COOLING_S:g} s after a Stoll-curve exposure and from the exposure's own length after hot "
        "water, doubled while Omega at 80 µm grew by more than 1 % over the last quarter of the run at the "
        f"search's root. Cooling counted: {_cooling(v.stoll)} on the Stoll curve"
        + (f", {_cooling(v.hot_water)} after hot water." if v.hot_water else "."),
        "- Kinetics (the package's presets, `/usr/bin/python3 -m skinburn presets`): Weaver–Stoll (J. A. Weaver and "
        "A. M. Stoll, *Aerospace Medicine* 40 (1969) 24–30; rate 0 below 44 °C, two regimes), Henriques "
        "(1947; P = 3.1 × 10⁹⁸ 1/s, E = 6.28 × 10⁵ J/mol), and the program's default constants (P = "
        "3.442707 × 10⁹⁴ 1/s, E/R = 75 000 K).",
        f"- Grid: DELTAX = 80 µm/7.5 = {va.BASE_DX_M * 1e6:.2f} µm (the epidermis base halfway between two "
        f"nodes), DELTAT = {va.BASE_DT_S:g} s (longer for the long hot-water exposures, at most "
        f"{va.MAX_BASE_STEPS} steps; the DELTAT of each point is in its table).",
        "- The predicted time is the exposure duration at which Omega at 80 µm just reaches 1, found by the "
        f"package's `search` (Brent's method on ln Omega, relative tolerance {va.RTOL:g}).",
        "- Nothing is fitted here: every constant is as its source gives it. But two of the comparisons are "
        "not independent, and the reader should weigh them so: Weaver and Stoll chose their constants to "
        "reproduce Stoll's second-degree data with their skin model, and Henriques derived his from the "
        "Moritz–Henriques exposures. The agreement of those pairs tests the skin model and solver against the "
        "data the kinetics came from, not the kinetics themselves.",
        "",
        "## Stoll curve",
        "",
        "Data (`vv/data/stoll_chianta_1969.csv`):",
        "",
        "> " + "\n> ".join(va.data_header("stoll_chianta_1969.csv")),
        "",
        "The tabulated flux is what a blackened copper calorimeter absorbs. **Absorbed = tabulated** takes the "
        "skin to absorb it all (the calorimeter is black, and so was Stoll's skin); **0.94 × tabulated** takes "
        "the absorptivity 0.94 of blackened skin instead, to show how much the answer rests on that choice.",
        "",
        f"![Stoll curve and predictions]({figs['stoll']})",
        "",
        _table(["Kinetics", "absorbed / tabulated", "points", "predicted / measured", "mean bias",
                "largest error", "largest numerical uncertainty"],
               [_stats_row(n, a, v.stoll_set(n, a)) for n, a in SETS if v.stoll_set(n, a)]),
        "",
    ]
    if not v.quick:
        ws94 = va.Stats.of(v.stoll_set(sb.WEAVER_STOLL_1969.name, 0.94))
        he = va.Stats.of(v.stoll_set(sb.HENRIQUES_1947.name, 0.94))
        de = va.Stats.of(v.stoll_set(sb.PROGRAM_DEFAULT.name, 0.94))
        if ws94 and he and de:
            L += [f"Only the first row is banded. Plainly: with 0.94 × the flux, Weaver–Stoll predicts "
                  f"{ws94.low:.2f}–{ws94.high:.2f} × Stoll's times (mean {ws94.mean_bias:+.0%}); Henriques's constants "
                  f"{he.low:.2f}–{he.high:.2f} × (mean {he.mean_bias:+.0%}); "
                  f"the program's default constants {de.low:.2f}–{de.high:.2f} × (mean {de.mean_bias:+.0%})"
                  + (": they are no predictor of the time to a second-degree burn." if de.low > 1.5 else ".")
                  + " With the flux as tabulated: see the table above.", ""]
    L += ["Per point (predicted time in s; ratio = predicted / measured; u = numerical uncertainty, grid and "
          "step halved):", ""]
    for a in (1.0, 0.94):
        names = [n for n, aa in SETS if aa == a and v.stoll_set(n, a)]
        if not names:
            continue
        head = ["Stoll time (s)", "flux (kW/m²)", "absorbed (kW/m²)"]
        for n in names:
            head += [f"{n}: time (s)", "ratio", "u"]
        rows = []
        for k, (t, q) in enumerate(va.stoll_points()):
            row = [f"{t:g}", f"{q / 1e3:g}", f"{a * q / 1e3:.4g}"]
            for n in names:
                p = v.stoll_set(n, a)[k]
                row += [_fmt(p.predicted_s, ".3f"), _fmt(p.ratio, ".3f"),
                        _fmt(p.uncertainty, ".2%") if p.uncertainty is not None else "–"]
            rows.append(row)
        L += [f"**Absorbed = {a:g} × tabulated**", "", _table(head, rows), ""]
    if v.hot_water:
        L += ["## Hot-water contact", "",
              "Data (`vv/data/moritz_henriques_1947.csv`):", "",
              "> " + "\n> ".join(va.data_header("moritz_henriques_1947.csv")), "",
              "Model: the skin surface held at the water temperature for the exposure (the package's "
              "`hot_liquid` scenario), then at 37 °C until the damage has stopped growing (an assumption: "
              "the source's cooling is not modelled; the cooling each point counted is in its table). "
              "The measured time of the 55 °C point is the geometric mean of the cited 17–30 s; its ratio is "
              "against that.", "",
              f"![Hot water]({figs['water']})", ""]
        rows = []
        for k, w in enumerate(va.hot_water_points()):
            row = [f"{w['water_C']:g}", w["cited"], w["confidence"]]
            here = [v.water_set(n)[k] for n in (sb.WEAVER_STOLL_1969.name, sb.HENRIQUES_1947.name,
                                                 sb.PROGRAM_DEFAULT.name)]
            for p in here:
                if p.predicted_s is None:
                    row += ["none" if p.note.startswith("no second-degree") else p.note[:60], "–", "–"]
                else:
                    row += [_fmt(p.predicted_s, ".4g"), _fmt(p.ratio, ".3g"), _fmt(p.uncertainty, ".2%")]
            row.append(", ".join(f"{p.extra['after_s']:.4g}" if p.predicted_s is not None
                                 and p.extra.get("after_s") is not None else "–" for p in here))
            row.append(", ".join(f"{p.deltat_s:.3g}" if p.predicted_s is not None else "–" for p in here))
            rows.append(row)
        L += [_table(["water (°C)", "measured", "confidence", "Weaver–Stoll (s)", "ratio", "u",
                      "Henriques (s)", "ratio", "u", "default (s)", "ratio", "u", "cooling (s) per kinetics",
                      "DELTAT (s) per kinetics"], rows),
              "", "\"none\": " + va.NOT_REACHED.format(high=va.SEARCH_RANGE["water"][1])
              + (" (with Weaver–Stoll the epidermis base then stays below 44 °C, where its rate is 0)."
                 if any(p.predicted_s is None for p in v.water_set(sb.WEAVER_STOLL_1969.name)) else "."), ""]
        L += [_table(["Kinetics", "points predicted", "predicted / measured", "mean bias", "largest error"],
                     [[n, str(s.count), f"{s.low:.3g}–{s.high:.3g}", f"{s.mean_bias:+.0%}", f"{s.largest_error:.0%}"]
                      for n in (sb.WEAVER_STOLL_1969.name, sb.HENRIQUES_1947.name, sb.PROGRAM_DEFAULT.name)
                      for s in [va.Stats.of(v.water_set(n))] if s]), ""]
    L += _regime_sections(v)
    L += ["## Numerical uncertainty", "",
          f"Every point was found again with DELTAX = 80 µm/15.5 = {va.FINE_DX_M * 1e6:.2f} µm and DELTAT halved; "
          "u = |t(halved) / t(base) − 1| is in the tables above (–: not computed in a quick pass). "
          f"Largest: {max(unc):.3%}; the band is < {va.UNCERTAINTY_MAX:.1%} per point. The differences between "
          "model and data are therefore the model's (skin, kinetics, criterion, exposure), not the solver's.", "",
          "## Bands", "", _bands_table(v.bands), "",
          "## Which kinetics for which question", "",
          "- **Time to a second-degree burn under a radiant or convective flux of 1–30 s** (protective "
          "clothing, flash fires, airbag jets): Weaver–Stoll. With the absorbed flux equal to the calorimeter "
          "flux it reproduces the Stoll curve within the bands above; it was made for that curve, and it is "
          "the set used with the Stoll curve in the protective-clothing literature.",
          "- **Contact with hot liquids or surfaces (44–70 °C)**: neither preset reproduces these data well"
          + (f". Henriques predicts {_range(v.water_set(sb.HENRIQUES_1947.name))} × the measured times"
             f"{_lean(v.water_set(sb.HENRIQUES_1947.name))} (his constants were derived from these exposures). "
             f"Weaver–Stoll predicts {_range(v.water_set(sb.WEAVER_STOLL_1969.name))} ×"
             f"{_lean(v.water_set(sb.WEAVER_STOLL_1969.name))}; where the epidermis base stays below 44 °C it gives "
             "no burn at all. For a safety judgement take the earlier of the two, and treat either as uncertain "
             "by a factor of several below 55 °C" if v.water_set(sb.HENRIQUES_1947.name) else " (see the full pass)") + ".",
          "- **The program's default constants**: for comparison with earlier runs of the program only"
          + (f"; on the Stoll curve they predict {_range(v.stoll_set(sb.PROGRAM_DEFAULT.name, 0.94))} × the "
             "measured times at 0.94 × the flux" if v.stoll_set(sb.PROGRAM_DEFAULT.name, 0.94) else "") + ".",
          *_regime_advice(v),
          "- Whatever the kinetics, state the absorbed flux: "
          + (f"with Weaver–Stoll, 0.94 × instead of 1.0 × the tabulated flux moves the mean bias from "
             f"{va.Stats.of(v.stoll_set(sb.WEAVER_STOLL_1969.name, 1.0)).mean_bias:+.1%} to "
             f"{va.Stats.of(v.stoll_set(sb.WEAVER_STOLL_1969.name, 0.94)).mean_bias:+.1%}." if va.Stats.of(v.stoll_set(sb.WEAVER_STOLL_1969.name, 0.94)) else
             "the absorptivity moves the predicted times (see the full pass)."),
          ""]
    return "\n".join(L)


# --- Evidence by regime ----------------------------------------------------------------

def _ratio_range(values: list[Optional[float]]) -> str:
    got = [x for x in values if x is not None]
    if not got:
        return "none found"
    return f"{min(got):.2g}–{max(got):.2g}" + (f" ({len(values) - len(got)} none)" if len(got) < len(values) else "")


def _regime_rows(v: va.Validation) -> list[list[str]]:
    """The regime table: regime, data, independent or not, then what each kinetics predicts."""
    r = v.regimes
    assert r is not None
    names = (sb.WEAVER_STOLL_1969.name, sb.HENRIQUES_1947.name, sb.PROGRAM_DEFAULT.name)
    rows = []
    stoll = [va.Stats.of(v.stoll_set(n, 1.0)) for n in names]
    cells = [f"Stoll: {s.low:.2f}–{s.high:.2f} × the times (mean {s.mean_bias:+.0%})" if s else "Stoll: full pass"
             for s in stoll]
    for k, n in enumerate(names):
        fl = {row.case.split(" ")[0]: row.degree for row in r.flash if row.kinetics == n}
        if fl:
            cells[k] += (f"; Log: degree {fl.get('pre-cooled')} pre-cooled, {fl.get('resting')} without "
                         "(observed: light burn inflammation)")
    rows.append(["threshold of short radiant exposures (second degree, 1–30 s; a 0.74 s flash)",
                 "Stoll & Chianta 1969; Log 2017",
                 "Stoll: not independent for Weaver–Stoll (fitted to it), independent for the others; "
                 "Log: independent for all"] + cells)
    cells = []
    for n in names:
        mh = va.Stats.of(v.water_set(n)) if v.hot_water else None
        an = [t.ratio for t in r.scalds if t.kinetics == n and t.skin == "Torvi-Dale"]
        cells.append((f"transepidermal: {mh.low:.2g}–{mh.high:.2g} × the times; " if mh else "")
                     + (f"deep dermal: {_ratio_range(an)} × Andrews's durations" if an else ""))
    rows.append(["long hot-water thresholds (44–70 °C, seconds to hours)", "Moritz & Henriques 1947; Andrews 2017",
                 "Moritz–Henriques: not independent for Henriques (derived from it), independent for the others; "
                 "Andrews: independent for all"] + cells)
    cells = []
    for n in names:
        rows_n = sorted((c for c in r.contact if c.kinetics == n and c.skin == "Torvi-Dale"), key=lambda c: c.time_s)
        full = next((t for t in r.contact_times if t.kinetics == n and t.skin == "Torvi-Dale"
                     and t.what == "full thickness"), None)
        cells.append(("; ".join(f"{c.time_s:g} s: {c.predicted[1]}" for c in rows_n)
                      + (f"; full thickness from {full.value:.3g} s (Papp: 3–9 s)" if full and full.value else
                         "; no full thickness within 120 s" if full else "")) if rows_n else "–")
    rows.append(["contact depth (100 °C, 1–9 s)", "Papp 2004 (superficial, partial, full at 1, 3, 9 s)",
                 "independent for all"] + cells)
    cells = []
    for n in names:
        box = [t for t in r.jet if t.kinetics == n and t.extra["standoff_d"] == rg.STANDOFFS[0]]
        if not box:
            cells.append("not computed")
            continue
        vals = [t.value for t in box if t.value is not None]
        heats = [t.extra["cold_J_m2"] / 1e4 for t in box if "cold_J_m2" in t.extra]
        cells.append(f"second-degree threshold {min(vals) * 1e3:.0f}–{max(vals) * 1e3:.0f} ms over the box "
                     f"(crosses its 50–300 ms); heat {min(heats):.2g}–{max(heats):.2g} J/cm² vs Ripple's 16.4")
    rows.append(["short hot gas (350–550 °C, 50–90 m/s, 50–300 ms)", "SAE 942217 (1994); Ripple et al. 1990",
                 "independent for all"] + cells)
    return rows


def _regime_sections(v: va.Validation) -> list[str]:
    r = v.regimes
    if r is None:
        return []
    td = sb.TORVI_DALE_1994
    e, d = td.criterion_depths_m
    L = ["## Evidence by regime", "",
         "Four more comparisons, each with data no kinetics preset was fitted to (independent). The table "
         "gives, per regime, what each kinetics predicts and how far off it is; the sections below give the "
         "source, the exposure as modelled, what was measured and predicted, and the numerical uncertainty. "
         "Skin: Torvi–Dale (above) unless said otherwise; the resting profile is 32.5 °C at the surface to "
         "37 °C at the inner face, held at 37 °C.", "",
         _table(["Regime", "Data", "Independent?", "Weaver–Stoll", "Henriques", "program default"],
                _regime_rows(v)), "",
         "Depth classes (a decision of this comparison, from the skin's layer depths): with d the deepest depth "
         f"where Omega reaches 1, e the epidermis base ({e * 1e6:.0f} µm) and D the dermis base "
         f"({d * 1e3:.2f} mm): **superficial** when d < e (or Omega reaches 1 nowhere but 0.53 at e), "
         "**partial thickness** when e ≤ d < D — **deep dermal** from e + 0.75 (D − e) "
         f"({rg.deep_dermal_depth_m(td) * 1e3:.2f} mm) on, after Andrews et al.: \"Damage to ≥ 75% of the depth "
         "of dermis was associated with burns taking longer than 3 weeks to fully re-epithelialize\"; "
         "superficial dermal above it — and **full thickness** when d ≥ D. Pig skin is thicker than "
         "Torvi and Dale's: the sources give no pig skin's layers, so the pig comparisons are run on Torvi–Dale's "
         "layers (Papp chose ventral skin as \"more human-like\") and again with the dermis reaching 3.1 mm "
         "(Singh et al., *Burns* 42 (2016) 1507–1512, pig dorsum: \"3.1mm represented a full thickness burn\"); "
         "only the first is banded.", ""]
    # Papp
    L += ["### Contact depth: pig contact burns at 100 °C", "",
          "Data (`vv/data/papp_2004.csv`):", "", "> " + "\n> ".join(va.data_header("papp_2004.csv")), "",
          "Model: the surface held at 100 °C for the contact time (perfect contact with the plate: the upper "
          "bound of the heat it gives; contact pressure, which changes the depth of brass-plate burns, is not "
          "modelled), then at 37 °C until the damage has stopped growing (the `hot_liquid` scenario; the "
          "source's cooling is not stated). Automatic grid; the depth's numerical error (±) is the package's "
          "estimate from the grid it settled. The model's damage stops growing minutes after the contact; "
          "Papp found the depth still progressing until 48 h.", ""]
    rows = []
    for c in r.contact:
        rows.append([c.kinetics, c.skin, f"{c.time_s:g}", c.measured,
                     f"{c.depth_m * 1e3:.3f} ± {c.depth_error_m * 1e6:.1f} µm" if c.depth_m and c.depth_error_m is not None
                     else _fmt(c.depth_m * 1e3 if c.depth_m else None, ".3f"),
                     f"{c.dermis_fraction:.0%}" if c.dermis_fraction is not None else "–", c.predicted[1]])
    L += [_table(["Kinetics", "skin", "contact (s)", "Papp", "Omega = 1 to (mm)", "of the dermis", "predicted"],
                 rows), ""]
    rows = [[t.kinetics, t.skin, t.what, "1–3 s" if t.what.startswith("partial") else "3–9 s",
             f"{t.value:.3g} ± {t.error:.2g}" if t.value is not None and t.error is not None
             else _fmt(t.value, ".3g") if t.value is not None else t.note] for t in r.contact_times]
    L += ["Contact time to each class (search on the duration; Papp's bracket from the classes at 1, 3 and 9 s):", "",
          _table(["Kinetics", "skin", "class", "Papp's bracket", "predicted time (s)"], rows), ""]
    # Andrews
    L += ["### Long hot-water thresholds: pig scalds that did not heal by day 21", "",
          "Data (`vv/data/andrews_2017.csv`):", "", "> " + "\n> ".join(va.data_header("andrews_2017.csv")), "",
          "Model: the surface held at the water temperature for the immersion, then at 37 °C until the "
          "damage has stopped growing; the predicted time is the immersion at which Omega reaches 1 at the "
          "deep-dermal depth (75 % of the dermis), found by the package's search on an automatic grid, ± its "
          "numerical error. Ratio = predicted / Andrews's duration: at most 1 means the model gives a "
          "deep-dermal burn by the non-healing immersion. No blood perfusion (minutes-long immersions would "
          "be cooled by it; the sources give no rate).", ""]
    rows = [[t.kinetics, t.skin, f"{t.extra['water_C']:g}", t.extra["printed"],
             f"{t.value:.4g} ± {t.error:.2g}" if t.value is not None and t.error is not None
             else _fmt(t.value, ".4g") if t.value is not None else t.note, _fmt(t.ratio, ".3g")] for t in r.scalds]
    L += [_table(["Kinetics", "skin", "water (°C)", "Andrews", "deep dermal at (s)", "ratio"], rows), ""]
    # Log
    held = r.flash[0].base_temperature_C if r.flash else None
    L += ["### A flash on pre-cooled skin", "",
          "Source: T. Log, \"Modeling Burns for Pre-Cooled Skin Flame Exposure\", *Int. J. Environ. Res. Public "
          "Health* 14 (2017) 1024, doi:10.3390/ijerph14091024 (abstract): \"a pre-cooled bare-skinned person (TV "
          "host) passed through engulfing kerosene flames ... 0.74 s flame exposure in an environment of 86 kW/m² "
          "heat flux\"; \"5 °C water spray applied for a 30 s period pre-cooled the skin\"; \"The TV host got "
          "light burn inflammation on the back, arms and legs\" (measured: no more than a first-degree burn). "
          "\"Soot marks indicate that the water layer evaporated completely in some areas\". Log's spray "
          "coefficients and his model's constants could not be read.", "",
          "Model, one run from the resting profile: 30 s of spray as the surface held at 5 °C (convection at "
          f"h = {rg.HELD_H_W_M2K:.0e} W/(m²·K) to 5 °C water, which holds it there to within 0.2 K: the spray's "
          "own h is not in the readable sources, and a held surface is the most cooling a 5 °C spray can give), "
          "1 s with the face in air (Log's \"first temperature relaxation\", 30–31 s, read on a mirror of the "
          "paper), then 0.74 s of 86 kW/m² absorbed (as on the Stoll curve, absorbed = incident) by dry skin "
          "(the water film, which Log found evaporated in places, is not modelled: the upper bound of the heat), "
          "re-radiating at emissivity 0.98 to 25 °C, then the face insulated until the damage stopped growing "
          "(Log's later water-pool cooling is not modelled, again an upper bound). The pre-cooled profile at "
          f"31 s is the flash's initial profile (the epidermis base at {_fmt(held, '.1f')} °C). The other bound, "
          "no spray at all: the same flash on the resting profile. Grid: DELTAX 10.67 µm, DELTAT 10 ms; u = "
          "Omega's change with the grid and step halved (band < 10 %; the closest Omega to a threshold is the "
          "default constants' about 2 against 1, so no degree rests on it).", ""]
    rows = [[f.kinetics, f.case, _fmt(f.base_temperature_C, ".1f"), _fmt(f.omega, ".3g"), _fmt(f.uncertainty, ".1%"),
             "none" if f.degree == 0 else str(f.degree)] for f in r.flash]
    L += [_table(["Kinetics", "case", "epidermis base at the flash (°C)", "Omega at 80 µm", "u", "degree"], rows), ""]
    sp = [f"{t.kinetics}: h ≥ {1 / t.value:.0f} W/(m²·K)" for t in r.spray if t.value]
    if sp:
        L += ["The spray as convection with a finite h instead lies between the two bounds. The least h for "
              "which the model gives no second-degree burn (search on 1/h): " + "; ".join(sp) + ".", ""]
    # Jet
    L += ["### Short hot gas: the SAE 942217 box and Ripple's heat", "",
          "Sources: \"Laboratory Investigations and Mathematical Modeling of Airbag-Induced Skin Burns\", SAE "
          "Technical Paper 942217 (1994) (abstract): \"a 10-mm-diameter jet of hot air that was directed onto "
          "the leg skin of human volunteers in time-controlled pulses\"; \"Skin burns were produced in 70 of 183 "
          "exposures conducted using air temperatures ranging from 350 to 550°C, air velocities from 50 to 90 "
          "m/s, and exposure durations from 50 to 300 ms\". Its threshold formula and the nozzle-to-skin "
          "stand-off could not be read. G. R. Ripple, K. G. Torrington, Y. Y. Phillips, \"Predictive Criteria "
          "for Burns from Brief Thermal Exposures\", *J. Occup. Med.* (March 1990) (abstract): \"Approximately "
          "16.4 J/cm2 of heat transfer are necessary to cause second-degree burns\", \"calorimetry appears the "
          "best measurement method\", and \"a time-temperature integral of 1315°C-second (2400°F-second) above "
          "body temperature\"; the flows behind them are not in the abstract.", "",
          "Model: the package's jet (10 mm nozzle, on axis, near-field term), constant gas temperature and "
          f"velocity for the pulse, then the face insulated; Torvi–Dale skin at rest. Stand-off "
          f"{rg.STANDOFFS[0]:g} nozzle diameters ({rg.STANDOFFS[0] * 10:g} mm), an assumption: a heat gun held "
          "close to the leg, inside the range of the correlation's near-field term (up to 5.5 diameters); the "
          f"box's corners again at {rg.STANDOFFS[1]:g} diameters. The threshold is the pulse length at which Omega "
          "reaches 1 at 80 µm (second degree; SAE's \"partial-thickness\" threshold), searched on an automatic "
          "grid, ± its numerical error. Heat at the threshold: what a surface held at the skin's initial 32.5 °C "
          "would take from the jet over the pulse (a calorimeter's reading, Ripple's measure), and what the "
          "skin took.", ""]
    rows = []
    for t in r.jet:
        x = t.extra
        rows.append([t.kinetics, f"{x['standoff_d']:g}", f"{x['gas_C']:g}", f"{x['v']:g}",
                     (f"{t.value * 1e3:.1f} ± {t.error * 1e3:.1f}" if t.error is not None else f"{t.value * 1e3:.1f}")
                     if t.value is not None else t.note,
                     "yes" if t.value is not None and t.value <= rg.SAE_DURATIONS_S[1] else "no",
                     _fmt(x.get("cold_J_m2", 0) / 1e4 if "cold_J_m2" in x else None, ".2f"),
                     _fmt(x.get("absorbed_J_m2", 0) / 1e4 if "absorbed_J_m2" in x else None, ".2f"),
                     _fmt(x.get("integral_C_s"), ".0f")])
    L += [_table(["Kinetics", "stand-off (D)", "gas (°C)", "velocity (m/s)", "threshold (ms)",
                  "burns within 300 ms", "heat, cold surface (J/cm²)", "heat into skin (J/cm²)",
                  "(T − 37 °C) × t (°C·s)"], rows), "",
          "Where the threshold crosses the box: the rows above are the surface t(velocity, temperature) at "
          f"{rg.STANDOFFS[0]:g} diameters; exposures longer than it burn. It falls inside 50–300 ms at the hot, "
          "fast end and beyond 300 ms at the cool, slow end, so the box holds burns and exposures without — as "
          "SAE's 70 burns in 183 do. Heat at the threshold is about a quarter of Ripple's 16.4 J/cm² (and close "
          "to the Stoll curve's own 5 J/cm² at 1 s, 50 kW/m² × 1 s); Ripple's time-temperature integral is "
          "more than ten times the model's: his criteria do not describe these fast jets, or their flows "
          "differed (not stated).", ""]
    return L


def _regime_summary(v: va.Validation) -> str:
    """The summary's sentence on the comparisons by regime ('' without them)."""
    r = v.regimes
    if r is None:
        return ""
    def scald(n: str) -> str:
        return _ratio_range([t.ratio for t in r.scalds if t.kinetics == n and t.skin == "Torvi-Dale"])
    return ("By regime, against data no preset was fitted to ([evidence by regime](#evidence-by-regime)): "
            f"the time to deep-dermal damage is {scald(sb.HENRIQUES_1947.name)} × Andrews's non-healing scald "
            f"durations with Henriques, {scald(sb.WEAVER_STOLL_1969.name)} × with Weaver–Stoll; the contact depth "
            "class lies within one of Papp's at 1, 3 and 9 s; a flash on skin held at 5 °C gives no burn and on "
            "resting skin a second-degree one (Log observed light burn inflammation); the second-degree threshold "
            "of a 10 mm hot-air jet crosses the SAE 942217 box, at about a quarter of Ripple's 16.4 J/cm². ")


def _regime_advice(v: va.Validation) -> list[str]:
    """The advice bullets that follow the regime table ([] without it)."""
    r = v.regimes
    if r is None:
        return []
    def scald(n: str) -> str:
        return _ratio_range([t.ratio for t in r.scalds if t.kinetics == n and t.skin == "Torvi-Dale"])
    full = {t.kinetics: t.value for t in r.contact_times if t.skin == "Torvi-Dale" and t.what == "full thickness"}
    ws, he = sb.WEAVER_STOLL_1969.name, sb.HENRIQUES_1947.name
    return [
        "- By regime ([the table](#evidence-by-regime)):",
        "  - *Threshold of short radiant exposures*: Weaver–Stoll, as above (not independent on the Stoll curve); "
        "on Log's pre-cooled flash both presets agree with the observation, so the choice does not matter there.",
        f"  - *Long hot-water thresholds*: for deep-dermal (non-healing) scalds Henriques, {scald(he)} × Andrews's "
        f"durations, independent; Weaver–Stoll, {scald(ws)} ×, is early (on the safe side) by up to a factor of "
        "several at 50–55 °C.",
        f"  - *Contact depth*: either; both predict partial thickness at 1 and 3 s and a deep or superficial dermal "
        f"burn at 9 s, full thickness from {_fmt(full.get(ws), '.3g')} s (Weaver–Stoll) and "
        f"{_fmt(full.get(he), '.3g')} s (Henriques) against Papp's 3–9 s; too deep at 1 s.",
        "  - *Short hot gas*: either; Weaver–Stoll and Henriques thresholds over the SAE box differ by a few "
        "per cent, and both cross it. The stand-off matters more than the kinetics, and it is an assumption.",
    ]
