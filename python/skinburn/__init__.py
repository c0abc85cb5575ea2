"""skinburn from Python: trials as values, results as arrays, burn degree and threshold searches.

The skinburn program stays the one solver: this package writes its data
directories, runs it with ``--results`` and reads what it wrote; it learns
what a user's data directory holds from ``skinburn --check=json``.

    import skinburn as sb
    trial = sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.linear(sb.celsius(32.5), sb.celsius(37)),
                     sb.HeatFlux(20e3, duration_s=4.0))
    res = sb.run(trial)
    print(sb.assess(res, kinetics=sb.WEAVER_STOLL_1969).verdict())

See docs/python.md for a walk-through.

The modules, lowest first; each imports only modules before it:

    units -> checks -> kinetics -> skin -> criteria -> exposure -> garment
    -> measured -> sampling -> trial -> writer -> scenarios -> program -> results -> assessment
    -> datadir -> tables -> runs -> dispatch -> searches -> spreads
    -> __main__

units, checks: values and their checks; kinetics, skin, criteria: the
damage models, the skins and the burn criteria; exposure, trial,
scenarios: trials as values; garment: a fabric and an air gap in front
of the skin, the fabric solved by the package; measured: a lab's flux or sensor record as
an exposure; sampling, writer: the per-step tables and the
data directory a trial writes;
program: the skinburn binary; results: what a run computed; assessment:
the burn degree of a history; datadir, tables: a user's data directory,
its values and time tables; runs: running trials and directories,
settling grids and cooling times; dispatch: many tasks side by side
(executors, GNU parallel) for the searches and the study tool; searches,
spreads: thresholds and the model-form spread; __main__: the command line.

Each module is named apart from the functions it gives: ``skinburn.run``
is the function, ``skinburn.runs`` its module (likewise ``assess`` and
``assessment``, ``search`` and ``searches``, ``spread`` and ``spreads``).
"""
from .assessment import CRITERIA, Assessment, BelowTheModel, Criterion, assess, assess_history, criterion
from .criteria import KineticsByDegree, KineticsChoiceError, kinetics_choice
from .datadir import DataDirectory, DirectoryChanged
from .exposure import (AIR_1ATM, SKIN_EMISSIVITY, STEFAN_BOLTZMANN, AirbagJet, Convection, Flame, GasTable, HeatFlux, HeldTemperature, InitialProfile,
                       InnerConvection, Insulated, Series, SurfaceTemperature)
from .garment import COTTON_LIKE, Clothed, Fabric, FabricMarch, Garment, GarmentError
from .measured import FluxRecord, RecordError, read_flux_csv, semi_infinite_flux, slug_flux
from .kinetics import (HENRIQUES_1947, KINETICS, PROGRAM_DEFAULT, PROGRAM_OMEGA_FLOOR, WEAVER_STOLL_1969,
                       Kinetics, Regime, damage_integral, kinetics_preset)
from .program import CheckReport, DirectoryInUse, InputError, Program, ProgramError
from .results import JoinedResults, NonFiniteHistory, Results
from .runs import CoolingNotSettled, FlameNotSettled, GarmentNotSettled, fabric_history, GridNotSettled, NotSettled, RunOnRecord, Settlement, run, run_on, settle
from .dispatch import ExecutorShutDown, GnuParallelMissing
from .searches import (BracketError, RootNotSettled, SearchFailure, SearchJob, SearchResult,
                     StillGrowing, search, search_many)
from . import scenarios  # ready-made trials: skinburn.scenarios.flash_fire(...), ...
from .skin import SKINS, TORVI_DALE_1994, UNIFORM_DERMIS, Blood, Layer, Skin, skin_preset
from .spreads import SpreadRow, search_spread, spread, spread_table
from .tables import BeyondCapacity, PhaseRefused, RunOn
from .trial import AutoCooling, AutoGrid, Grid, Trial, UnknownKey, trial_from_dict
from .writer import write_trial
from .units import SkinburnError, Temperature, celsius, kelvin

__version__ = "1.0.0"

__all__ = [
    "SkinburnError", "BeyondCapacity", "COTTON_LIKE", "Clothed", "Fabric", "FabricMarch", "Garment", "GarmentError", "GarmentNotSettled", "fabric_history", "Flame", "FlameNotSettled", "SKIN_EMISSIVITY", "STEFAN_BOLTZMANN", "FluxRecord", "RecordError", "read_flux_csv", "semi_infinite_flux", "slug_flux", "ExecutorShutDown", "GnuParallelMissing", "PhaseRefused", "RootNotSettled", "UnknownKey",
    "AIR_1ATM", "AirbagJet", "CoolingNotSettled", "GridNotSettled", "NotSettled", "Assessment", "AutoCooling", "AutoGrid", "BelowTheModel", "BracketError", "CRITERIA", "CheckReport",
    "Convection", "Criterion", "DataDirectory", "DirectoryChanged", "DirectoryInUse", "GasTable", "Grid", "HENRIQUES_1947",
    "HeatFlux", "HeldTemperature", "InitialProfile", "InnerConvection", "InputError", "Insulated", "KINETICS",
    "Kinetics", "KineticsByDegree", "KineticsChoiceError", "kinetics_choice", "Layer", "NonFiniteHistory", "PROGRAM_DEFAULT", "PROGRAM_OMEGA_FLOOR", "Program", "ProgramError",
    "JoinedResults", "Regime", "Results", "RunOn", "RunOnRecord", "SKINS", "SearchFailure", "SearchJob", "SearchResult", "Series",
    "Settlement", "Skin", "SpreadRow", "StillGrowing", "SurfaceTemperature", "TORVI_DALE_1994", "Temperature",
    "Trial", "UNIFORM_DERMIS", "WEAVER_STOLL_1969", "assess", "assess_history", "celsius", "criterion",
    "damage_integral", "kelvin", "kinetics_preset", "run", "run_on", "search", "search_many", "search_spread",
    "settle", "skin_preset", "spread", "spread_table", "trial_from_dict", "write_trial",
]
