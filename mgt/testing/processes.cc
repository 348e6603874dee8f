#include "mgt/testing/processes.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "mgt/common/module.h"

namespace tivel::mgt::testing {

void runInProcesses(int processes, const std::function<int(int index)>& body) {
  std::vector<pid_t> kids;
  for (int p = 0; p < processes; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
      int failures = 0;
      try {
        resetThreadState();
        failures = body(p);
      } catch (...) {
        failures = 100;
      }
      resetThreadState();
      _exit(failures > 255 ? 255 : failures);
    }
    kids.push_back(pid);
  }
  for (size_t i = 0; i < kids.size(); ++i) {
    int status = 0;
    ASSERT_EQ(waitpid(kids[i], &status, 0), kids[i]);
    ASSERT_TRUE(WIFEXITED(status)) << "process " << i << " did not exit normally";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failures in process " << i;
  }
}

}  // namespace tivel::mgt::testing
