// The README's examples of tqcass, run as a user runs them: every ```sh
// block of its "## tqcass" section, in a folder of its own with a fresh home,
// with build-plain/tools/tqcass there being the tqcass just built. A README
// that drifts from the program fails here.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "support/SimTestSupport.h"

namespace {

// The ```sh blocks between the heading `section` and the next "## " heading.
std::vector<std::string> ShellBlocks(const std::string& markdown, const std::string& section) {
  std::vector<std::string> blocks;
  std::istringstream in(markdown);
  std::string line, block;
  bool inSection = false, inBlock = false;
  while (std::getline(in, line)) {
    if (!inBlock && line.rfind("## ", 0) == 0) inSection = line == section;
    if (!inSection) continue;
    if (!inBlock && line == "```sh") {
      inBlock = true;
      block.clear();
    } else if (inBlock && line == "```") {
      inBlock = false;
      blocks.push_back(block);
    } else if (inBlock) {
      block += line + "\n";
    }
  }
  return blocks;
}

// The block as a script that stops at the first line that fails (a failure
// inside "a && b" does not stop `bash -e`), saying which line it was.
std::string Script(const std::string& block) {
  std::string script = "set -u\n";
  std::istringstream in(block);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    script += line + " || { echo \"README line failed: $?\" >&2; exit 1; }\n";
  }
  return script;
}

class TqcassReadme : public tqcasstest::TqcassTest {
 protected:
  // Runs `script` with bash in `folder`; the status and the output.
  tqcasstest::Outcome RunScript(const std::string& folder, const std::string& script) {
    simtest::WriteFile(folder + "/readme.sh", script);
    return tqcasstest::RunShell("cd '" + folder + "' && bash readme.sh 2>&1");
  }
};

TEST(TqcassReadmeBlocks, AreFoundAndAStoppedLineStopsTheScript) {
  const std::string markdown =
      "## tqcass\n\ntext\n\n```sh\nt=x\n$t a && $t b\n```\n\n```sh\n$t c\n```\n"
      "## Benchmark\n\n```sh\nbench\n```\n";
  const auto blocks = ShellBlocks(markdown, "## tqcass");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], "t=x\n$t a && $t b\n");
  EXPECT_EQ(blocks[1], "$t c\n");
  simtest::TempDir dir;
  simtest::WriteFile(dir.Sub("s.sh"), Script("false && true\necho reached\n"));
  const int status = std::system(("bash '" + dir.Sub("s.sh") + "' > /dev/null 2>&1").c_str());
  EXPECT_NE(status, 0);
}

TEST_F(TqcassReadme, EveryExampleOfTheTqcassSectionRuns) {
  std::ifstream in(std::string(TQ_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(in) << "README.md not found";
  const std::string markdown((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  const std::vector<std::string> blocks = ShellBlocks(markdown, "## tqcass");
  ASSERT_GE(blocks.size(), 2u);
  int number = 0;
  for (const std::string& block : blocks) {
    ++number;
    SCOPED_TRACE("block " + std::to_string(number) + ":\n" + block);
    // A folder of its own, where build-plain/tools/tqcass is the tqcass
    // under test and every home is new.
    const std::string folder = dir_.Sub("block" + std::to_string(number));
    std::filesystem::create_directories(folder + "/build-plain/tools");
    std::filesystem::create_symlink(TQ_TQCASS_PATH, folder + "/build-plain/tools/tqcass");
    const tqcasstest::Outcome o = RunScript(folder, Script(block));
    EXPECT_EQ(o.status, 0) << o.output;
  }
}

}  // namespace
