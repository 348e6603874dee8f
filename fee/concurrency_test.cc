// Slip saves from several `tivel rpc` processes at once, and a process
// killed while it saves: numbers are never issued twice, no slip is left
// half written, and the counter never goes back.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "fee/testing/rpc_session.h"
#include "fee/testing/slip_pages.h"

namespace tivel::gf::testing {
namespace {

class ConcurrencyTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { root = std::make_unique<FeeRoot>(GetParam()); }
  long counter() { return static_cast<long>(com::Val(root->scalar("SELECT MAXLSH FROM CD_MAX_LSH").toString())); }
  // Every stored slip has its five details and a snapshot of both; no
  // detail or snapshot row is without its header.
  void expectWholeSlips() {
    const char* headerOf =
        " x WHERE NOT EXISTS (SELECT 1 FROM T_Script s WHERE s.JH = x.JH AND s.Script_Id = x.Script_Id)";
    for (const char* table : {"T_ScrpDtl", "T_Script_Save", "T_ScrpDtl_Save"})
      EXPECT_EQ(root->scalar(std::string("SELECT COUNT(*) FROM ") + table + headerOf).toLong(), 0) << table;
    long slips = root->count("T_Script");
    EXPECT_EQ(root->count("T_ScrpDtl"), 5 * slips);
    EXPECT_EQ(root->count("T_Script_Save"), slips);
    EXPECT_EQ(root->count("T_ScrpDtl_Save"), 5 * slips);
  }
  std::unique_ptr<FeeRoot> root;
};

TEST_P(ConcurrencyTest, ThreeProcessesSavingNewSlipsGetDistinctNumbers) {
  constexpr int kProcesses = 3, kSlips = 20;
  std::vector<std::vector<std::string>> numbers(kProcesses);
  std::vector<std::thread> pages;
  for (int p = 0; p < kProcesses; ++p) {
    pages.emplace_back([&, p] {
      RpcSession s(root->path());
      int64_t gf = s.create("TivelGF.interface");
      for (int i = 0; i < kSlips; ++i) {
        Json a = saveSlip(s, gf, 2026, 12, "01", slipForms(s, gf, "01", "(自动产生)", 5));
        EXPECT_EQ(a["result"], true) << a.dump();
        numbers[p].push_back(a["refs"]["0"].is_string() ? a["refs"]["0"].get<std::string>() : "");
      }
    });
  }
  for (auto& t : pages) t.join();
  std::set<std::string> distinct;
  for (const auto& list : numbers) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kProcesses * kSlips));
  EXPECT_EQ(root->count("T_Script"), kProcesses * kSlips);
  EXPECT_EQ(counter(), kProcesses * kSlips);
  expectWholeSlips();
}

TEST_P(ConcurrencyTest, KilledWhileSavingLeavesNoPartialSlip) {
  long before = 0;
  for (int round = 0; round < 3; ++round) {
    RpcSession s(root->path());
    int64_t gf = s.create("TivelGF.interface");
    std::atomic<int> saved{0};
    std::atomic<bool> ended{false};
    std::thread page([&] {
      for (;;) {
        Json a = saveSlip(s, gf, 2026, 7, "01", slipForms(s, gf, "01", "(自动产生)", 5));
        if (a.is_null() || a["result"] != true) break;  // the process is gone
        ++saved;
      }
      ended = true;
    });
    while (saved < 3 && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(ended) << "the saves stopped before the kill";
    long seen = root->count("CD_MAX_LSH") ? counter() : 0;
    EXPECT_GE(seen, before);
    std::this_thread::sleep_for(std::chrono::milliseconds(7 * round + 3));
    kill(s.pid(), SIGKILL);
    page.join();
    long after = counter();
    EXPECT_GE(after, seen);
    EXPECT_EQ(after, root->count("T_Script"));  // every issued number names a saved slip
    before = after;
    expectWholeSlips();
  }
  // The next save goes on from the counter.
  RpcSession s(root->path());
  int64_t gf = s.create("TivelGF.interface");
  Json a = saveSlip(s, gf, 2026, 7, "01", slipForms(s, gf, "01", "(自动产生)", 5));
  EXPECT_EQ(a["refs"]["0"], "0120267" + std::to_string(before + 1));
}

INSTANTIATE_TEST_SUITE_P(Engines, ConcurrencyTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::gf::testing
