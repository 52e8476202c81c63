// A progress bar on standard error for long copies: one line rewritten in
// place, redrawn only when the shown percentage changes.
#ifndef QVT_TOOLS_QVTDB_QVTDB_PROGRESS_H
#define QVT_TOOLS_QVTDB_QVTDB_PROGRESS_H

#include <cstdint>
#include <string>

class qvtdb_Progress {
 public:
  // Draws nothing at all when enabled is false.
  qvtdb_Progress(const std::string& label, std::int64_t total, bool enabled);
  ~qvtdb_Progress();
  qvtdb_Progress(const qvtdb_Progress&) = delete;
  qvtdb_Progress& operator=(const qvtdb_Progress&) = delete;

  void Update(std::int64_t done);
  // Draws the bar full and ends its line; later calls do nothing.
  void Finish();

 private:
  void Draw(std::int64_t done);

  std::string m_Label;
  std::int64_t m_Total;
  bool m_Enabled;
  bool m_Finished = false;
  int m_Shown = -1;  // per mille last drawn
};

#endif  // QVT_TOOLS_QVTDB_QVTDB_PROGRESS_H
