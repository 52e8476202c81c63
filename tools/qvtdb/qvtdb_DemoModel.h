// The simulated analysis of the demo: what the writer stores and the reader
// expects. A beam of nodes is loaded over a number of frames; each frame
// stores its nodal displacements as an array, a row of the frames table and
// a few run messages in a tagged stream.
#ifndef QVT_TOOLS_QVTDB_QVTDB_DEMOMODEL_H
#define QVT_TOOLS_QVTDB_QVTDB_DEMOMODEL_H

#include <cmath>

namespace qvtdb_DemoModel {

constexpr const char* kTypeCode = "QVTD";
constexpr int kNodes = 40;
constexpr int kComponents = 3;  // U1, U2, U3 per node
// Handles the writer creates first, so that readers find them without a
// search: the steps and frames tables sit at the two root handles.
constexpr unsigned kStepsTable = 4;
constexpr unsigned kFramesTable = 5;
constexpr unsigned kNodesTable = 6;
constexpr unsigned kFieldsTable = 7;
constexpr unsigned kMessages = 8;
constexpr unsigned kNodeLabels = 9;
// The identifier of the last message: the analysis is over.
constexpr int kEndOfRun = -1;

// Frame f of n (from 1) ends at time f / n.
inline double Time(int frame, int frames) { return static_cast<double>(frame) / frames; }
inline double NodeX(int node) { return static_cast<double>(node) / (kNodes - 1); }
// Displacement component c of a node at time t: a tip-loaded beam bending
// down, with a small sideways sway.
inline double Displacement(int node, int c, double t) {
  const double x = NodeX(node);
  if (c == 0) return 0.0;
  if (c == 1) return -0.01 * t * x * x * (3.0 - x) / 2.0;
  return 0.001 * t * std::sin(3.14159265358979 * x);
}
inline int Iterations(int frame) { return 2 + frame % 3; }
inline double Residual(int frame) { return 1.0e-6 / (frame + 1); }

}  // namespace qvtdb_DemoModel

#endif  // QVT_TOOLS_QVTDB_QVTDB_DEMOMODEL_H
