// The thermal room: the heat conduction solver. Fourier numbers and the
// tridiagonal conduction matrix, the boundary rows, the impinging-jet
// heat-transfer coefficient, and the time march that solves and reports
// every step (and makes it again, silently, for the burn). It may use the
// console, the model state and the numeric, input and report rooms.
#pragma once

// Fourier number of every node. 0 when a node's conductivity, density or
// heat capacity is not positive and finite (the A-matrix would divide by it).
int Fourier();

// Interior rows 2..NODES-1 of the A-matrix; always 1.
void InterNodes();

// Boundary rows of step j for side 'L' (row 1) or 'R' (row NODES).
void Convection(char side, int j);
void Flux(char side, int j);

// What both faces did in step j into LeftStep and RightStep: the step's
// solution u[1..NODES] and the face nodes' temperatures before it.
void FaceSteps(int j, double left_before, double right_before, const double* u);

// Jet heat-transfer coefficient `hbar` (W/(m^2 K)) at the time j DELTAT for
// the skin surface temperature `surface` (K) and the gas temperature `gas`
// (K). Returns 0 after a failure it has reported (hbar is then 0): the run
// must stop, since no coefficient can stand in for the jet's.
int JetConvection(int j, double surface, double gas, double& hbar);

// 0 after reporting (as the first step would) a face word that names no
// face type; 1 when both name one.
int FacesNamed();

// The stages between the input and the march, as a run makes them and a
// check makes them again: the jet coefficient of step 1 (where the left
// face is a CONVECTION face under the jet), the Fourier numbers and the
// interior rows. `stage`, when given, is called before each (a check notes
// where each one's messages begin). False after the failure a stage has
// reported.
bool StartStages(void (*stage)(void* context) = nullptr, void* context = nullptr);

// Where the march hands each history row as it makes it: r = 0 the start,
// else the end of step r, nodes u[1..NODES]. None unless the driver sets one
// (the results bundle's); the second march hands on nothing.
using RowSink = void (*)(int r, const double* u);
void SetRowSink(RowSink sink);

// Steps 1..TIMESTEPS, each solved and reported; the rows of steps 1 and
// TIMESTEPS are kept. Returns 0 when the run must stop (it has reported
// why), 1 otherwise.
int TimeMarch();

// The march made again after TimeMarch, step by step, from the same start
// with the jet coefficients the first march stored: RestartMarch, then
// MarchAgain(j, u) for j = 1..TIMESTEPS gives in u[1..NODES] the bits of
// step j of the first march. Nothing is printed, read or appended.
void RestartMarch();
void MarchAgain(int j, double* u);
