#pragma once

// The job runner tests' fixture: a fresh suite home, a fresh World of fakes,
// source files to back up, and a job spec that runs the fakes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "RunnerFakes.h"
#include "TempDir.h"
#include "platform/log/EventJournal.h"
#include "platform/runner/JobRunner.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace runner_test {

// The calls of a log that mention `text`, in order.
inline std::vector<std::string> Mentioning(const std::vector<std::string>& calls,
                                           const std::string& text) {
  std::vector<std::string> out;
  for (const auto& call : calls) {
    if (call.find(text) != std::string::npos) out.push_back(call);
  }
  return out;
}

// Where `call` is in the log; its size when it is not there.
inline size_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

}  // namespace runner_test

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.Sub("suite"));
    runner_test::World::Get().Reset();
    CEventJournal::Instance().Clear();
    TQJobCtrlClient::SetProcessQuitFlag(false);
    CClientDirectory::Instance().Clear();
  }
  void TearDown() override {
    CClientDirectory::Instance().Clear();
    runner_test::World::Get().Release();
    CClientContext::SetSuiteHome("");
  }

  runner_test::World& world() { return runner_test::World::Get(); }

  // A source file of `size` bytes whose content names it.
  std::string Source(const std::string& name, size_t size = 64) {
    std::string path = home_.Sub("data-" + name);
    std::string content;
    while (content.size() < size) content += name + ":" + std::to_string(content.size()) + ";";
    content.resize(size);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // `node` reports `collectFiles` collect files of `perFile` source files.
  void GiveFiles(const std::string& node, int collectFiles, int perFile) {
    auto& files = world().collectFiles[node];
    files.clear();
    for (int c = 0; c < collectFiles; ++c) {
      std::vector<std::string> list;
      for (int f = 0; f < perFile; ++f) {
        list.push_back(Source(node + "-c" + std::to_string(c) + "-f" + std::to_string(f)));
      }
      files.push_back(list);
    }
  }

  // Two nodes with two collect files of three files each, two streams each.
  TqRunner::JobSpec Spec() {
    world().nodes = {"nodeA", "nodeB"};
    world().streamsPerNode = 2;
    GiveFiles("nodeA", 2, 3);
    GiveFiles("nodeB", 2, 3);
    TqRunner::JobSpec spec;
    spec.coordinatorFactory = &runner_test::CreateCoordinator;
    spec.controllerFactory = &runner_test::CreateController;
    spec.jobId = 4711;
    spec.ombrelId = 2;
    spec.applicationId = 57;
    spec.numberOfStreams = 4;
    spec.mediaAgent = "MA1";
    spec.coordinatorClient = {"cs", 1, "cs.host", 0};
    spec.nodeClients = {{"nodeA", 11, "a.host", 0}, {"nodeB", 12, "b.host", 0}};
    spec.streamFactory = world().Streams();
    spec.limits.pollInterval = std::chrono::milliseconds(5);
    spec.limits.stopGrace = std::chrono::seconds(10);
    spec.limits.phaseTimeout = std::chrono::seconds(60);
    return spec;
  }

  std::string JobResults(const std::string& client, int64_t job = 4711) const {
    return home_.Sub("suite") + "/" + client + "/JobResults/" + std::to_string(job);
  }

  static const TqRunner::PhaseResult* Phase(const TqRunner::JobResult& result,
                                            const std::string& name) {
    for (const auto& phase : result.phases) {
      if (phase.name == name) return &phase;
    }
    return nullptr;
  }

  static const TqRunner::TaskRecord* Task(const TqRunner::PhaseResult& phase, int id) {
    for (const auto& task : phase.tasks) {
      if (task.taskId == id) return &task;
    }
    return nullptr;
  }

  // Every source file of the world's collect files was stored, byte for byte.
  void ExpectEveryFileStored() {
    std::vector<runner_test::StoredItem> stored = world().Stored();
    for (const auto& node : world().collectFiles) {
      for (const auto& list : node.second) {
        for (const std::string& path : list) {
          auto it = std::find_if(stored.begin(), stored.end(),
                                 [&](const runner_test::StoredItem& i) { return i.path == path; });
          ASSERT_NE(it, stored.end()) << path;
          std::ifstream in(path, std::ios::binary);
          std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
          EXPECT_EQ(it->data, content) << path;
          EXPECT_EQ(it->client, node.first) << path;
        }
      }
    }
  }

  TempDir home_;
};
