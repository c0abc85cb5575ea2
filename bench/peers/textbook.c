/*
 * Skin heating and burn depth, the way it is written in an afternoon:
 * the textbook peer of skinburn in the benchmark.
 *
 *   textbook INPUT [--history FILE] [--omega FILE]
 *
 * INPUT is the flat input of peer_input.py (the tables as skinburn lays
 * them). The model: a row of N nodes dx apart, backward Euler in time,
 * central differences in space with the harmonic mean of neighbouring
 * conductivities at each interface, both faces CONVECTION (half-cell energy
 * balance with h and the ambient temperature of the time record at the start
 * of the step), one tridiagonal solve per step by the Thomas algorithm. The
 * whole temperature history is kept, then the Arrhenius damage
 *   Omega = integral of P exp(-E / (R T(t))) dt,   P = freqfactor 10^freqexp
 * is integrated at every node by classical RK4, one step per time record,
 * over the piecewise-linear history, the integrand scaled by the reference
 * temperature Tref = (T(step 1) + T(last step)) / 2 to stay in range.
 *
 * Standard output: node 1's temperature at every step, then where Omega
 * passes through 1 between two nodes (node i at depth (i - 1) dx).
 * --history writes the history as raw doubles, (S + 1) rows of N, row 0 the
 * starting temperatures; --omega writes the N values of Omega.
 *
 * Plain C99: cc -std=c99 -O2 textbook.c -lm
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void die(const char *what)
{
    fprintf(stderr, "textbook: %s\n", what);
    exit(1);
}

static void *alloc(size_t count)
{
    void *p = malloc(count * sizeof(double));
    if (p == NULL) die("out of memory");
    return p;
}

static void read_doubles(FILE *f, double *v, size_t count)
{
    if (fread(v, sizeof(double), count, f) != count) die("input too short");
}

static void write_doubles(const char *path, const double *v, size_t count)
{
    FILE *f = fopen(path, "wb");
    if (f == NULL || fwrite(v, sizeof(double), count, f) != count || fclose(f) != 0) die(path);
}

/* Thomas algorithm for a[i] x[i-1] + b[i] x[i] + c[i] x[i+1] = r[i], i = 0..n-1. */
static void thomas(const double *a, const double *b, const double *c, const double *r,
                   double *x, double *gam, int n)
{
    double bet = b[0];
    int i;
    if (bet == 0.0) die("zero pivot");
    x[0] = r[0] / bet;
    for (i = 1; i < n; i++) {
        gam[i] = c[i - 1] / bet;
        bet = b[i] - a[i] * gam[i];
        if (bet == 0.0) die("zero pivot");
        x[i] = (r[i] - a[i] * x[i - 1]) / bet;
    }
    for (i = n - 2; i >= 0; i--) x[i] -= gam[i + 1] * x[i + 1];
}

int main(int argc, char **argv)
{
    const char *history_path = NULL, *omega_path = NULL;
    char line[256], key[64];
    int n = 0, steps = 0, freqexp = 0, i, j, k;
    double dt = 0, dx = 0, freqfactor = 0, actenergy = 0, gasconst = 0;
    FILE *in;

    if (argc < 2) {
        fprintf(stderr, "usage: textbook INPUT [--history FILE] [--omega FILE]\n");
        return 2;
    }
    for (i = 2; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--history") == 0) history_path = argv[i + 1];
        else if (strcmp(argv[i], "--omega") == 0) omega_path = argv[i + 1];
        else die("unknown option");
    }

    in = fopen(argv[1], "rb");
    if (in == NULL) die(argv[1]);
    if (fgets(line, sizeof line, in) == NULL || strncmp(line, "skinburn-peer-input 1", 21) != 0)
        die("not a peer input");
    while (fgets(line, sizeof line, in) != NULL && strncmp(line, "data", 4) != 0) {
        double value;
        if (sscanf(line, "%63s %lf", key, &value) != 2) die("bad header line");
        if (strcmp(key, "nodes") == 0) n = (int)value;
        else if (strcmp(key, "steps") == 0) steps = (int)value;
        else if (strcmp(key, "deltat") == 0) dt = value;
        else if (strcmp(key, "deltax") == 0) dx = value;
        else if (strcmp(key, "freqfactor") == 0) freqfactor = value;
        else if (strcmp(key, "freqexp") == 0) freqexp = (int)value;
        else if (strcmp(key, "actenergy") == 0) actenergy = value;
        else if (strcmp(key, "gasconst") == 0) gasconst = value;
    }
    if (n < 2 || steps < 1) die("need at least 2 nodes and 1 step");

    double *T0 = alloc(n), *kc = alloc(n), *rho = alloc(n), *cp = alloc(n);
    double *hl = alloc(steps + 1), *tl = alloc(steps + 1), *hr = alloc(steps + 1), *tr = alloc(steps + 1);
    read_doubles(in, T0, n);
    read_doubles(in, kc, n);
    read_doubles(in, rho, n);
    read_doubles(in, cp, n);
    read_doubles(in, hl, steps + 1);
    read_doubles(in, tl, steps + 1);
    read_doubles(in, hr, steps + 1);
    read_doubles(in, tr, steps + 1);
    fclose(in);

    /* The conduction matrix: Fourier numbers, the harmonic mean of the
     * conductivities at each interface as weights on them. Each product and
     * sum is formed in skinburn's order. This matters: at Fo = 6.85 (the
     * 3000-node case) Fo formed as k dt / (rho c dx dx), one unit in the
     * last place away, lets the elimination's rounding warm the deep nodes
     * by 1e-8 K over 30 000 steps, which moves their Omega by 8e-9. */
    double *a = alloc(n), *b = alloc(n), *c = alloc(n), *r = alloc(n), *gam = alloc(n);
    double *fo = alloc(n);
    double *T = alloc((size_t)(steps + 1) * n); /* T[j*n + i]: node i at time j*dt */
    for (i = 0; i < n; i++) fo[i] = (kc[i] * dt) / ((rho[i] * dx) * (cp[i] * dx));
    for (i = 1; i < n - 1; i++) {
        double west = 2 * kc[i - 1] / (kc[i] + kc[i - 1]);
        double east = 2 * kc[i + 1] / (kc[i] + kc[i + 1]);
        a[i] = -west * fo[i];
        c[i] = -east * fo[i];
        b[i] = west * fo[i] + 1 + east * fo[i];
    }
    /* Face nodes own half a cell: the neighbour's weight and the face's
     * heat both count twice. */
    double wl = 4 * kc[1] / (kc[0] + kc[1]);
    double wr = 4 * kc[n - 2] / (kc[n - 2] + kc[n - 1]);
    a[0] = 0;
    c[n - 1] = 0;
    c[0] = -wl * fo[0];
    a[n - 1] = -wr * fo[n - 1];

    /* The time march. */
    memcpy(T, T0, n * sizeof(double));
    for (j = 1; j <= steps; j++) {
        const double *old = T + (size_t)(j - 1) * n;
        double *now = T + (size_t)j * n;
        /* h and the ambient temperature of the record at the step's start. */
        double bl = (dt / dx) * hl[j - 1] / (rho[0] * cp[0]);
        double br = (dt / dx) * hr[j - 1] / (rho[n - 1] * cp[n - 1]);
        b[0] = wl * fo[0] + 1 + 2 * bl;
        b[n - 1] = wr * fo[n - 1] + 1 + 2 * br;
        r[0] = 2 * bl * tl[j - 1] + old[0];
        r[n - 1] = 2 * br * tr[j - 1] + old[n - 1];
        for (i = 1; i < n - 1; i++) r[i] = old[i];
        thomas(a, b, c, r, now, gam, n);
        printf("%6d %10.5f %12.4f\n", j, j * dt, now[0]);
    }

    /* The burn integral, RK4 over every step for every node. */
    double *omega = alloc(n), *scale = alloc(n);
    double EoR = actenergy / gasconst;
    double h = dt;
    for (i = 0; i < n; i++) {
        double Tref = (T[(size_t)1 * n + i] + T[(size_t)steps * n + i]) / 2;
        scale[i] = EoR / Tref;
        omega[i] = 0;
    }
    for (k = 0; k < steps; k++) {
        const double *Ta = T + (size_t)k * n, *Tb = T + (size_t)(k + 1) * n;
        for (i = 0; i < n; i++) {
            /* The history is linear between records: T(t + h/2) is the mean. */
            double Tm = 0.5 * (Ta[i] + Tb[i]);
            double k1 = exp(scale[i] - EoR / Ta[i]);
            double k2 = exp(scale[i] - EoR / Tm);
            double k3 = exp(scale[i] - EoR / Tm);
            double k4 = exp(scale[i] - EoR / Tb[i]);
            omega[i] += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
        }
    }
    /* Back to P exp(-E/(R T)): P exp(-E/(R Tref)) folded in through logs. */
    for (i = 0; i < n; i++)
        omega[i] = exp(log(freqfactor) + freqexp * log(10.0) - scale[i] + log(omega[i]));

    for (i = 0; i + 1 < n; i++) {
        if ((omega[i] > 1) != (omega[i + 1] > 1) && omega[i] != 1 && omega[i + 1] != 1) {
            double depth = (i + (1 - omega[i]) / (omega[i + 1] - omega[i])) * dx;
            printf("Omega = 1 at depth %.6f m (between nodes %d and %d)\n", depth, i + 1, i + 2);
        }
    }
    if (history_path) write_doubles(history_path, T, (size_t)(steps + 1) * n);
    if (omega_path) write_doubles(omega_path, omega, n);
    return 0;
}
