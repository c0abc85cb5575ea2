"""The Stoll comparison as a reader sees it: log-log axes that read as numbers, every line in a legend."""
from __future__ import annotations

from pathlib import Path

import matplotlib.pyplot as plt
import pytest

from vv import report
from vv import validation as va


def test_stoll_figure_reads(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    points = [va.Point("stoll", name, a, q, t, predicted_s=t * (1.05 if k % 2 else 0.96))
              for name, a in report.SETS for k, (t, q) in enumerate(va.stoll_points())]
    shown: list[plt.Figure] = []
    monkeypatch.setattr(report, "_save", lambda fig, docs, name: shown.append(fig) or name)
    report.validation_figures(va.Validation(points, [], True), tmp_path)
    curve, ratio = shown[0].axes
    assert (curve.get_xscale(), curve.get_yscale()) == ("log", "log")
    shown[0].canvas.draw()
    for ax in (curve, ratio):
        drawn = [line.get_label() for line in ax.get_lines() if len(line.get_xdata())]
        assert len(drawn) == 1 + len(report.SETS)  # Stoll and Chianta (or "predicted = measured") and each set
        assert sorted(drawn) == sorted(t.get_text() for t in ax.get_legend().get_texts()
                                       if not t.get_text().startswith("band"))
        # The flux and time axes span under two decades: 2, 5, 10, 20 ... are labelled, not 10 alone.
        labelled = {t.get_text() for t in ax.get_xticklabels() + ax.get_xticklabels(minor=True)
                    if t.get_text() and ax.get_xlim()[0] <= t.get_position()[0] <= ax.get_xlim()[1]}
        assert len(labelled) >= 4, labelled
    assert all("absorbed = " in t.get_text() for t in ratio.get_legend().get_texts()[:len(report.SETS)])
    plt.close("all")
