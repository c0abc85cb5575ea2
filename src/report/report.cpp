// The output report: the trial header, the optional A-matrix and
// initial-temperature listings, and each step's temperatures in one of three
// layouts (one profile at OUTTIME, one node's history, every node every
// step), appended to OUTPUT.TXT or shown on the console in pages of 20.
#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"
#include "model/model.h"
#include "report/report.h"

namespace {

enum class Append { kOk, kOpenFailed, kWriteFailed };

Append Write(std::string_view text) {
  const std::string name = M.DataDir + "OUTPUT.TXT";
  std::FILE* file = std::fopen(name.c_str(), "ab");
  if (!file) return Append::kOpenFailed;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed ? Append::kOk : Append::kWriteFailed;
}

void ReportWriteFailure() {
  console::Printf("Main() Error: %s", "OUTPUT.TXT could not be written completely; the disk may be full\r\n");
}

double Depth(int node) { return node * M.DELTAX - M.DELTAX; }

// "%3d     %9.7f  " of every node: the same at every step, so made once.
struct NodePrefixes {
  std::string text;
  std::vector<std::size_t> end;  // end[i] = end of node i's prefix in text
  int nodes = -1;
  double deltax = 0;

  std::string_view operator[](int i) const {
    return std::string_view(text).substr(end[i - 1], end[i] - end[i - 1]);
  }
  void Build() {
    if (nodes == M.NODES && deltax == M.DELTAX) return;
    LineBuffer line;
    end.assign(1, 0);
    for (int i = 1; i <= M.NODES; ++i) {
      line.Int(i, 3);
      line.Text("     ");
      line.Fixed(Depth(i), 9, 7);
      line.Text("  ");
      end.push_back(line.str().size());
    }
    text = line.str();
    nodes = M.NODES;
    deltax = M.DELTAX;
  }
};
NodePrefixes prefixes;

LineBuffer lines;     // the current group of lines
int history_page = 1; // page counter of the console node history

void ProfileHeader(double time) {
  lines.Text("\nNode    Depth           T(K) @ time ");
  lines.Fixed(time, 10, 5);
  lines.Text(" sec\n");
}

void ProfileLine(int i, double temperature) {
  lines.Text(prefixes[i]);
  lines.Fixed(temperature, 10, 1);
  lines.Text("\r\n");
}

void Flush() {
  console::Print(lines.str());
  lines.clear();
}

// The whole profile on the console, a wait after node 20, 40, ... and one
// after the last.
void ConsoleProfilePaged(const double* u) {
  int page = 1;
  for (int i = 1; i <= M.NODES; ++i) {
    ProfileLine(i, u[i]);
    if (i == 20 * page) {
      Flush();
      console::Wait();
      ++page;
    }
  }
  Flush();
  console::Wait();
}

void AMatrixRows(bool paged) {
  int page = 1;
  lines.Text("           ");
  lines.Fixed(M.AMiddle[1], 20, 12);
  lines.Text(", ");
  lines.Fixed(M.AUpper[1], 20, 12);
  lines.Text("\r\n");
  for (int i = 2; i <= M.NODES - 1; ++i) {
    lines.Fixed(M.ALower[i], 20, 12);
    lines.Text(", ");
    lines.Fixed(M.AMiddle[i], 20, 12);
    lines.Text(", ");
    lines.Fixed(M.AUpper[i], 20, 12);
    lines.Text("\r\n");
    if (paged && i == 20 * page) {
      Flush();
      console::Wait();
      ++page;
    }
  }
  lines.Fixed(M.ALower[M.NODES], 20, 12);
  lines.Text(", ");
  lines.Fixed(M.AMiddle[M.NODES], 20, 12);
  lines.Text("\r\n");
}

void InitialTempLine(int i, int node_width, const char* gap) {
  lines.Int(i, node_width);
  lines.Text("     ");
  lines.Fixed(Depth(i), 9, 7);
  lines.Text(gap);
  lines.Fixed(M.InitTempTable[i].y, 10, 1);
  lines.Text("\r\n");
}

int FilePreRun() {
  console::Printf("%s", "\t\tPlease wait while model is running....");
  console::Blank(20);
  lines.clear();
  lines.Text("\r\n\r\nTRIAL:");
  lines.Int(M.TRIAL, 5);
  lines.Text("    Execution Date: ");
  lines.Str(M.EXECDATE, 8);
  lines.Text("    Executed By: ");
  lines.Str(M.EXECBY, 6);
  lines.Text("\r\n");
  if (M.Scheme == TimeScheme::kBdf2) {
    lines.Text("Time scheme: BDF2, second order in time (step 1 backward Euler)\r\n");
  }
  if (M.MarchOnly) lines.Text("Burn: not evaluated (--march-only): the march and its history alone\r\n");
  if (M.Perfusion) {
    lines.Text("Blood perfusion from PERFUSE.DAT: arterial blood at ");
    lines.Fixed(M.ArterialTemp, 0, 2);
    lines.Text(" K\r\n");
  }
  if (JetCalledIn()) {
    lines.Text("\r\nHbar duration = ");
    lines.Fixed(M.HBARDURATION, 0, 6);
    lines.Text("\r\n");
  }
  if (M.PRINTAMATRIX == 1) {
    lines.Text("A-Matrix Diagonals\r\n");
    lines.Text(" Lower      Middle     Upper  \r\n");
    AMatrixRows(false);
  }
  if (M.PRINTINITTEMP == 1) {
    lines.Text("\n   Node   Depth               T(K):  Initial Temperature Distribution\n");
    for (int i = 1; i <= M.NODES; ++i) InitialTempLine(i, 7, "   ");
  }
  const Append result = Write(lines.str());
  lines.clear();
  if (result == Append::kOpenFailed) {
    console::Printf("Main() Error: %s %s", "OUTPUT.TXT could not be opened or created\r\n",
                    "Make sure the data directory, appended to the call line\n to run this program, exists.\r\n\r\n");
    return 0;
  }
  if (result == Append::kWriteFailed) {
    ReportWriteFailure();
    return 0;
  }
  return 1;
}

void ConsolePreRun() {
  lines.clear();
  if (M.PRINTAMATRIX == 1) {
    lines.Text("A-Matrix Diagonals\r\n   Lower      Middle     Upper  \r\n");
    AMatrixRows(true);
    lines.Text("End of A-matrix.  Press <Enter> to continue...");
    Flush();
    console::Wait();
  }
  if (M.PRINTINITTEMP == 1) {
    lines.Text("\r\nDepth           T(K):  Initial Temperature Distribution\r\n");
    int page = 1;
    for (int i = 1; i <= M.NODES; ++i) {
      InitialTempLine(i, 3, "  ");
      if (i == 20 * page) {
        Flush();
        console::Wait();
        ++page;
      }
    }
    lines.Text("End of Initial Node Temperatures.  Press <Enter> to continue...");
    Flush();
    console::Wait();
  }
  console::Blank(32);
  console::Printf("%s", "\tPlease wait while temperature distribution is generated...");
  console::Blank(12);
}

}  // namespace

int StageError(const char* format, const char* text) {
  console::Printf(format, text);
  console::Print("\r\n");
  return 1;
}

bool AppendOutput(std::string_view text) {
  const Append result = Write(text);
  if (result == Append::kOpenFailed) {
    console::Printf("Main() Error: %s", "OUTPUT.TXT could not be opened or created\r\n");
  } else if (result == Append::kWriteFailed) {
    ReportWriteFailure();
  }
  return result == Append::kOk;
}

int PreRunReport() {
  if (M.VERBOSE == 1) return FilePreRun();
  ConsolePreRun();
  return 1;
}

int StepReport(int j, const double* u) {
  const double time = j * M.DELTAT;
  const bool file = M.VERBOSE == 1;
  lines.clear();
  if (M.OUTTIME != 0) {
    if (time == M.OUTTIME) {
      prefixes.Build();
      ProfileHeader(time);
      for (int i = 1; i <= M.NODES; ++i) ProfileLine(i, u[i]);
      if (!file) {
        Flush();
        console::Wait();
      }
    }
  } else if (M.OUTNODE != 0) {
    const int k = M.OUTNODE;
    if (file) {
      if (j == 1) {
        lines.Text("\nTime Step  Depth(m)     time(sec)       T(K) @ Node ");
        lines.Int(k, 3);
        lines.Text("\n");
      }
      lines.Int(j, 7);
      lines.Text("      ");
      lines.Fixed(Depth(k), 9, 7);
      lines.Text(" ");
    } else {
      if (j == 1) {
        lines.Text("\nDepth(m)     time(sec)       T(K) @ Node ");
        lines.Int(k, 3);
        lines.Text("\n");
        history_page = 1;
      }
      lines.Fixed(Depth(k), 9, 7);
      lines.Text("     ");
    }
    lines.Fixed(time, 10, 5);
    lines.Text("   ");
    lines.Fixed(u[k], 10, 1);
    lines.Text("\r\n");
    if (!file) {
      Flush();
      if (j == 20 * history_page) {
        console::Wait();
        ++history_page;
      }
    }
  } else {
    prefixes.Build();
    ProfileHeader(time);
    if (file) {
      for (int i = 1; i <= M.NODES; ++i) ProfileLine(i, u[i]);
    } else {
      ConsoleProfilePaged(u);
    }
  }
  if (!file) return 1;
  // The file is opened and closed in every step, even one that adds nothing,
  // so that an interrupted run keeps every line written so far.
  const bool ok = AppendOutput(lines.str());
  lines.clear();
  if (!ok) return 0;
  if (j == M.TIMESTEPS && M.BATCH == 0) {
    console::Printf("%s", "Output file created.  Press <Enter> to continue. ");
    console::Wait();
  }
  return 1;
}
