// The real program under faults: a full disk, missing rights, a kill in the
// middle of a write, an enormous log line. The files must survive each one,
// and "Done." must never be shown for a version that was not recorded.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "mod_tool.h"
#include "program_runner.h"
#include "test_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace test_support;

void mod_tool(const fs::path& folder, const std::string& config = kConfig,
              const std::string& versions = catalogue(2)) {
  write_file(folder / kLogPath, kLog);
  write_file(folder / kConfigPath, config);
  write_file(folder / kCataloguePath, versions);
}

// A standard mod tool folder, owned by an unprivileged user as a user's own
// folder would be, with the given modes; gives the wrapper that runs the
// program as that user, so that the modes count.
std::string unprivileged_mod_tool(const fs::path& folder,
                                  const std::map<std::string, fs::perms>& modes) {
  mod_tool(folder);
  std::string wrapper;
  if (geteuid() == 0) {  // tests run as root: hand the folder to a user
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      EXPECT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    wrapper = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  }
  for (const auto& [path, mode] : modes) fs::permissions(folder / path, mode);
  return wrapper;
}

struct fault_row {
  const char* name;
  std::function<std::string(const fs::path&)> arrange;  // makes the files, gives the wrapper
  std::string output;
  std::map<std::string, std::string> changed;
};
void PrintTo(const fault_row& row, std::ostream* out) {
  *out << row.name;
}

const std::string kBigConfig = "<UserConfiguration><autoupdate>true</autoupdate>" +
                               std::string(40000, 'x') + "</UserConfiguration>";

const std::vector<fault_row> kFaultRows = {
    {"disk fills up",
     [](const fs::path& folder) {
       mod_tool(folder, kBigConfig, catalogue(1000));
       // 64 blocks of 512 bytes; the signal is ignored, so writes fail instead.
       return std::string("sh -c 'trap \"\" XFSZ; ulimit -f 64; exec \"$0\"'");
     },
     kStart + kChecksum + settings_not_updated("the file would exceed the size limit") + kPrompt +
         not_recorded("the file would exceed the size limit"),
     {}},
    {"read-only catalogue",
     [](const fs::path& folder) {
       return unprivileged_mod_tool(folder, {{kCataloguePath, fs::perms(0444)}});
     },
     kStart + kAsk + not_recorded("the file is read-only"),
     {{kConfigPath, kConfigPatched}}},
    {"folder where nothing can be created",
     [](const fs::path& folder) {
       return unprivileged_mod_tool(folder, {{kCataloguePath, fs::perms(0666)},
                                             {"configs/games/TheForest", fs::perms(0555)}});
     },
     kStart + kAsk + not_recorded("permission denied"),
     {{kConfigPath, kConfigPatched}}},
    {"settings that cannot be read",
     [](const fs::path& folder) {
       return unprivileged_mod_tool(folder, {{kConfigPath, fs::perms(0)}});
     },
     kStart + kChecksum + settings_not_updated("permission denied") + kPrompt + kDone,
     {{kCataloguePath, recorded(catalogue(2))}}},
    {"a 100 MB log line before the marked line",
     [](const fs::path& folder) {
       mod_tool(folder);
       write_file(folder / kLogPath, std::string(100 << 20, 'x') + "\n" + kLog);
       return std::string();
     },
     kStart + kAsk + kDone,
     {{kConfigPath, kConfigPatched}, {kCataloguePath, recorded(catalogue(2))}}},
};

class FaultTest : public testing::TestWithParam<fault_row> {};

TEST_P(FaultTest, FilesSurvive) {
  const fault_row& row = GetParam();
  const fs::path folder = fresh_folder() / "modtool";
  const std::string wrapper = row.arrange(folder);
  auto expected = files_below(folder);
  for (const auto& [path, bytes] : row.changed) expected[path] = bytes;

  const auto run = run_program(folder, "0.48\n", wrapper);

  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, on_console(row.output));
  EXPECT_EQ(files_below(folder), expected);  // also: no temporary file left
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTest, testing::ValuesIn(kFaultRows), test_support::row_name());

pid_t start_program(const fs::path& folder, const fs::path& input) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(input.c_str(), O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    execl(PROGRAM_PATH, PROGRAM_PATH, nullptr);
    _exit(127);
  }
  return pid;
}

// Kills the program at random moments while it records into a catalogue of
// some tens of MB. Afterwards the catalogue is always the old file or the
// new one, whole.
TEST(Faults, KilledAtRandomMomentsTheCatalogueIsOldOrNew) {
  const fs::path folder = fresh_folder() / "modtool";
  const std::string before = catalogue(400000);
  const std::string after = recorded(before);
  ASSERT_GT(before.size(), 25u << 20);
  mod_tool(folder, kConfig, before);
  const fs::path input = folder.parent_path() / "input";
  write_file(input, "0.48\n");

  // One whole run, to know how long a run takes.
  const auto started = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(start_program(folder, input), &status, 0);
  const auto whole_run = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(read_file(folder / kCataloguePath), after);

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole_run).count());
  int old_seen = 0, new_seen = 0;
  for (int kill_number = 0; kill_number < 12; ++kill_number) {
    write_file(folder / kCataloguePath, before);
    const pid_t pid = start_program(folder, input);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);

    const std::string now = read_file(folder / kCataloguePath);
    ASSERT_TRUE(now == before || now == after) << "kill " << kill_number << ", seed " << seed
                                               << ": a catalogue of " << now.size() << " bytes";
    (now == before ? old_seen : new_seen) += 1;
    // A killed program cannot tidy up; its temporary file is all that may stay.
    for (const auto& entry : fs::directory_iterator(folder / "configs/games/TheForest")) {
      if (entry.path().filename() != "Versions.xml") fs::remove(entry.path());
    }
  }
  std::cout << "kills that left the old catalogue: " << old_seen << ", the new one: " << new_seen
            << " (seed " << seed << ")\n";
}

}  // namespace
