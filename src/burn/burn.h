// The burn room: the Arrhenius damage integral Omega of one node, Omega of
// every node integrated while the march is made a second time (in a thread
// of its own beside the integration when there are cores for it), and the
// burn evaluation with the depths at which Omega equals 1. It may use the
// console, the model state and the numeric, input, report and thermal
// rooms.
#pragma once

// Omega of node OUTNODE from NodeHistory records 1..TIMESTEPS, with record 0
// laid from the node's initial temperature. Below 1e-6 it is exactly 0.
double BurnInjury();

// P exp(-ref_exponent) as m 10^p, P = FREQFACTOR 10^FREQEXP.
void BurnScale(double ref_exponent, double& m, double& p);
// Omega from the scaled integral and its scale; OmegaUnfloored keeps it
// before values below 1e-6 become exactly 0.
double BurnOmega(double integral, double m, double p);

// Omega of every node into OmegaByNode (and OmegaUnflooredByNode), each the
// value BurnInjury gives for the node's history, integrated while the march
// is made a second time. Needs the first march's FirstRow and LastRow.
void BurnEveryNode();

// Every pair of neighbouring nodes (i, i + 1) whose Omega brackets 1
// strictly, in depth order, into Crossings, with the depth where the straight
// line between them reaches 1 (node i at i DELTAX, as the report puts it).
// Found whatever the outcome; the report prints them only for a burn depth.
void FindCrossings();

// The scaled damage rate at time t (the integrator's derivative callback):
// dydx[1] = exp(BurnRefExponent - EOverR / T(t)).
void BurnRate(double t, const double* y, double* dydx);

// The node's temperature at time t from NodeHistory: exact at the records,
// linear between them, the last record's beyond the last.
double HistoryTemperature(double t);

// After the time march: Omega of the output node or of every node, and the
// depth where Omega = 1. Returns 0 when the run must stop with status 1
// (reported); two outcomes end the process itself with status 0.
int BurnEvaluation();
