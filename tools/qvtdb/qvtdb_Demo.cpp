// qvtdb demo: an analysis writing a results database while a second qvtdb
// process follows it. The writer creates the database and its table
// classes, stores the model (nodes), starts the reader, then writes frame
// after frame, each inside a transaction that ends with a Flush. At the end
// it waits for the reader and prints the info of the file.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

#include "qvt_Database.h"
#include "qvt_ReaderSemaphoreProxy.h"
#include "qvtdb_DemoModel.h"
#include "qvtdb_Info.h"
#include "qvtdb_Platform.h"
#include "qvtdb_Tool.h"

namespace fs = std::filesystem;
namespace model = qvtdb_DemoModel;

namespace {

constexpr const char* kDefaultFile = "qvtdb-demo.odb";

void Expect(qvt_Handle got, unsigned wanted, const char* what) {
  if (got != wanted) {
    throw qvtdb_Failure(std::string("the demo's ") + what + " got handle " + std::to_string(got) + ", not " +
                        std::to_string(wanted));
  }
}

qvt_TableMetadata StepsClass() {
  qvt_TableMetadata steps("steps", 1);
  steps.DefineIntField("step");
  steps.DefineStringField("name");
  steps.DefineStringField("procedure");
  steps.DefineIntField("frames");
  return steps;
}

qvt_TableMetadata FramesClass() {
  qvt_TableMetadata frames("frames", 1);
  frames.DefineIntField("frame");
  frames.DefineIntField("step");
  frames.DefineDoubleField("time");
  frames.DefineFloatField("increment");
  frames.DefineHandleField("U");
  frames.DefineDoubleField("max_u");
  return frames;
}

qvt_TableMetadata NodesClass() {
  qvt_TableMetadata nodes("nodes", 1);
  nodes.DefineIntField("label");
  nodes.DefineDoubleField("x");
  nodes.DefineDoubleField("y");
  nodes.DefineDoubleField("z");
  return nodes;
}

qvt_TableMetadata FieldsClass() {
  qvt_TableMetadata fields("field_outputs", 1);
  fields.DefineStringField("name");
  fields.DefineStringField("description");
  fields.DefineIntField("components");
  return fields;
}

// The writer's side: every object it keeps open, destroyed before the
// database (members go in reverse order).
class Writer {
 public:
  Writer(const std::string& path, bool compressed, int frames)
      : m_File(compressed ? qvt_File::CreateCompressed(path) : qvt_File::Open(path, 2, false)),
        m_Db(qvt_Database::Create(m_File, model::kTypeCode,
                                  "qvtdb demo: a beam loaded over " + std::to_string(frames) + " frames",
                                  static_cast<long>(std::time(nullptr)))),
        m_Steps(m_Db.Table(StepsClass(), 256, -1)),
        m_Frames(m_Db.Table(FramesClass(), 1024, -1)),
        m_Nodes(m_Db.Table(NodesClass(), 4096, -1)),
        m_Fields(m_Db.Table(FieldsClass(), 256, -1)),
        m_Messages(m_Db.TaggedStream(0)),
        m_FrameCount(frames) {
    Expect(m_Steps.Handle(), model::kStepsTable, "steps table");
    Expect(m_Frames.Handle(), model::kFramesTable, "frames table");
    Expect(m_Nodes.Handle(), model::kNodesTable, "nodes table");
    Expect(m_Fields.Handle(), model::kFieldsTable, "field outputs table");
    Expect(m_Messages.Handle(), model::kMessages, "message stream");
    WriteModel();
  }

  void WriteFrame(int frame) {
    const double time = model::Time(frame, m_FrameCount);
    qvt_ReaderSemaphoreProxy transaction(m_Db);
    std::vector<double> values(model::kNodes * model::kComponents);
    double maxU = 0;
    for (int node = 0; node < model::kNodes; ++node) {
      double square = 0;
      for (int c = 0; c < model::kComponents; ++c) {
        const double u = model::Displacement(node, c, time);
        values[static_cast<std::size_t>(node * model::kComponents + c)] = u;
        square += u * u;
      }
      maxU = std::max(maxU, std::sqrt(square));
    }
    qvt_Array<double, 4> u = m_Db.ArrayDouble(model::kComponents, model::kNodes * model::kComponents * 8, 0);
    u.Write(values.data(), model::kNodes);
    u.Flush();
    {
      qvt_Row row = m_Frames.NewRow();
      row.WriteFieldInt("frame", frame);
      row.WriteFieldInt("step", 1);
      row.WriteFieldDouble("time", time);
      row.WriteFieldFloat("increment", static_cast<float>(1.0 / m_FrameCount));
      row.WriteFieldHandle("U", u.Handle());
      row.WriteFieldDouble("max_u", maxU);
    }
    m_Frames.Flush();
    m_Messages.WriteInt(frame, model::Iterations(frame));
    m_Messages.WriteDouble(frame, model::Residual(frame));
    m_Messages.WriteString(frame, "converged");
    m_Messages.Flush();
    m_Db.Flush();
  }

  void Finish() {
    {
      qvt_ReaderSemaphoreProxy transaction(m_Db);
      m_Messages.WriteFixedString(model::kEndOfRun, "analysis complete");
      m_Messages.Flush();
      m_Db.Flush();
    }
  }

  int FlushCount() const { return m_Db.GetFlushCount(); }

 private:
  void WriteModel() {
    {
      qvt_Row step = m_Steps.NewRow();
      step.WriteFieldInt("step", 1);
      step.WriteFieldString("name", "Step-1");
      step.WriteFieldString("procedure", "static, general");
      step.WriteFieldInt("frames", m_FrameCount);
    }
    std::vector<int> labels;
    for (int node = 0; node < model::kNodes; ++node) {
      qvt_Row row = m_Nodes.NewRow();
      row.WriteFieldInt("label", node + 1);
      row.WriteFieldDouble("x", model::NodeX(node));
      row.WriteFieldDouble("y", 0.0);
      row.WriteFieldDouble("z", 0.0);
      labels.push_back(node + 1);
    }
    {
      qvt_Row field = m_Fields.NewRow();
      field.WriteFieldString("name", "U");
      field.WriteFieldString("description", "spatial displacement");
      field.WriteFieldInt("components", model::kComponents);
    }
    qvt_Array<int, 1> nodeLabels = m_Db.ArrayInt(1, model::kNodes * 4, 0);
    Expect(nodeLabels.Handle(), model::kNodeLabels, "node label array");
    nodeLabels.Write(labels.data(), model::kNodes);
    nodeLabels.Flush();
    m_Steps.Flush();
    m_Nodes.Flush();
    m_Fields.Flush();
    m_Messages.Flush();
    m_Db.Flush();
  }

  qvt_File m_File;
  qvt_Database m_Db;
  qvt_Table m_Steps;
  qvt_Table m_Frames;
  qvt_Table m_Nodes;
  qvt_Table m_Fields;
  qvt_TaggedStream m_Messages;
  int m_FrameCount;
};

}  // namespace

int qvtdb_Demo(const qvtdb_DemoOptions& options) {
  const std::string file = options.file.empty() ? kDefaultFile : options.file;
  std::error_code error;
  if (!options.file.empty() && fs::exists(file, error) && !options.force) {
    throw qvtdb_Failure(file + " exists; add --force to overwrite it");
  }
  fs::remove(file, error);
  if (error) throw qvtdb_Failure("cannot remove " + file + ": " + error.message());
  std::cout << "demo: the writer creates " << fs::absolute(file, error).string()
            << (options.compressed ? " (compressed)" : "") << " and writes " << options.frames
            << " frames; a second process follows it" << std::endl;

  int reader = -1;
  int readerStatus = 0;
  try {
    Writer writer(file, options.compressed, options.frames);
    std::cout << "writer: model written: " << model::kNodes << " nodes, flush count " << writer.FlushCount()
              << std::endl;
    reader = qvtdb_StartSelf({"demo-reader", file, "--timeout", "30"});
    for (int frame = 1; frame <= options.frames; ++frame) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
      writer.WriteFrame(frame);
      std::cout << "writer: frame " << frame << "/" << options.frames << " written, flush count "
                << writer.FlushCount() << std::endl;
    }
    writer.Finish();
  } catch (...) {
    if (reader > 0 && qvtdb_StopChild(reader)) qvtdb_WaitChild(reader);
    throw;
  }
  std::cout << "writer: done; closed the database" << std::endl;
  readerStatus = qvtdb_WaitChild(reader);
  std::cout << "\ninfo of " << file << ":\n";
  const int infoStatus = qvtdb_PrintInfo(file, std::cout);
  if (readerStatus != 0) throw qvtdb_Failure("the reader process ended with status " + std::to_string(readerStatus));
  return infoStatus;
}
