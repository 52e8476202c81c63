// Text progress bar: "label [#####.....]  45.0%  12.3 MiB of 27.0 MiB".
#include "qvtdb_Progress.h"

#include <cstdio>

namespace {
constexpr int kBarWidth = 30;

// "12.3 MiB", "512.0 KiB" or "100 bytes".
std::string Amount(std::int64_t bytes) {
  char text[32];
  if (bytes >= (1 << 20)) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  } else if (bytes >= (1 << 10)) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / (1 << 10));
  } else {
    std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  }
  return text;
}
}  // namespace

qvtdb_Progress::qvtdb_Progress(const std::string& label, std::int64_t total, bool enabled)
    : m_Label(label), m_Total(total), m_Enabled(enabled) {
  if (m_Enabled) Draw(0);
}

qvtdb_Progress::~qvtdb_Progress() {
  // A bar left unfinished (the copy failed) still ends its line, so the
  // error message that follows starts on a line of its own.
  if (m_Enabled && !m_Finished) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

void qvtdb_Progress::Update(std::int64_t done) {
  if (m_Enabled && !m_Finished) Draw(done);
}

void qvtdb_Progress::Finish() {
  if (!m_Enabled || m_Finished) return;
  Draw(m_Total);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  m_Finished = true;
}

void qvtdb_Progress::Draw(std::int64_t done) {
  if (done < 0) done = 0;
  if (m_Total > 0 && done > m_Total) done = m_Total;
  const int perMille = m_Total > 0 ? static_cast<int>(done * 1000 / m_Total) : 1000;
  if (perMille == m_Shown) return;
  m_Shown = perMille;
  char bar[kBarWidth + 1];
  const int filled = perMille * kBarWidth / 1000;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %5.1f%%  %s of %s", m_Label.c_str(), bar, perMille / 10.0, Amount(done).c_str(),
               Amount(m_Total).c_str());
  std::fflush(stderr);
}
