"""skinburn: trials, damage kinetics, burn degree and threshold searches on the skinburn program."""
