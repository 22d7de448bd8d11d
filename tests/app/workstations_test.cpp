// Several workstations on one catalogue: two processes charge the same drug
// through the real inpatient medication window at the same time while a
// third scans the catalogue, each workstation in a folder of its own
// holding links to the shared catalogue and register; and two processes
// looking up and charging in one shared folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "charge_fixture.h"
#include "worker_process.h"

namespace {

namespace fs = std::filesystem;
using apptest::fileText;

pid_t start(std::vector<std::string> args, const fs::path& out) { return apptest::startWorker(args, out); }
int finish(pid_t pid) { return apptest::finishWorker(pid); }
std::string contents(const fs::path& p) { return fileText(p); }

class WorkstationsTest : public apptest::ChargeTest {};

TEST_F(WorkstationsTest, TwoChargingAndOneScanningLoseNoDecrement) {
  constexpr int kTimes = 200, kQuantity = 3, kStock = 5000;
  addDrugs({{"B02", "葡萄糖", "输氧", 7, 1.5f},  // another drug before it
            {"A01", "阿莫西林", "西药", kStock, 12.5f}});
  admit("王五", "1001", 1000);
  admit("赵六", "1002", 1000);
  db::closeAllDatabases();
  for (const char* ws : {"ws1", "ws2"}) {
    fs::create_directory(dir_ / ws);
    fs::create_symlink(dir_ / "ypjbxx.kdb", dir_ / ws / "ypjbxx.kdb");
    fs::create_symlink(dir_ / "zyjbxx.kdb", dir_ / ws / "zyjbxx.kdb");
  }
  const fs::path stop = dir_ / "stop";
  pid_t scanner = start({"scan", dir_.string(), stop.string()}, dir_ / "scan.out");
  pid_t ws1 =
      start({"charge", (dir_ / "ws1").string(), "1001", "A01", std::to_string(kQuantity), std::to_string(kTimes)},
            dir_ / "ws1.out");
  pid_t ws2 =
      start({"charge", (dir_ / "ws2").string(), "1002", "A01", std::to_string(kQuantity), std::to_string(kTimes)},
            dir_ / "ws2.out");
  EXPECT_EQ(finish(ws1), 0);
  EXPECT_EQ(finish(ws2), 0);
  std::ofstream(stop).put('x');
  EXPECT_EQ(finish(scanner), 0);
  EXPECT_EQ(contents(dir_ / "ws1.out"), "200\n");
  EXPECT_EQ(contents(dir_ / "ws2.out"), "200\n");
  EXPECT_GT(std::stoi(contents(dir_ / "scan.out")), 0);

  EXPECT_EQ(stock(), (std::vector<int>{7, kStock - 2 * kTimes * kQuantity}));
  EXPECT_EQ(stored("ws1/1001").size(), size_t(kTimes));
  EXPECT_EQ(stored("ws2/1002").size(), size_t(kTimes));
}

// Two workstations on one folder, each looking up its own drug and
// charging it to its own patient as fast as it can: no look-up is refused
// or emptied by the other's, each charges exactly the drug it listed, and
// the stock is exact.
TEST_F(WorkstationsTest, TwoLookingUpAndChargingInOneFolderEachChargeTheirOwnRow) {
  constexpr int kTimes = 150;
  addDrugs({{"B02", "葡萄糖", "输氧", 5000, 1.5f}, {"A01", "阿莫西林", "西药", 5000, 12.5f}});
  admit("王五", "1001", 1000);
  admit("赵六", "1002", 1000);
  db::closeAllDatabases();
  pid_t ws1 = start({"charge", dir_.string(), "1001", "A01", "2", std::to_string(kTimes)}, dir_ / "ws1.out");
  pid_t ws2 = start({"charge", dir_.string(), "1002", "B02", "3", std::to_string(kTimes)}, dir_ / "ws2.out");
  EXPECT_EQ(finish(ws1), 0);
  EXPECT_EQ(finish(ws2), 0);
  EXPECT_EQ(contents(dir_ / "ws1.out"), std::to_string(kTimes) + "\n");
  EXPECT_EQ(contents(dir_ / "ws2.out"), std::to_string(kTimes) + "\n");
  EXPECT_EQ(stock(), (std::vector<int>{5000 - 3 * kTimes, 5000 - 2 * kTimes}));
  const auto first = stored("1001"), second = stored("1002");
  ASSERT_EQ(first.size(), size_t(kTimes));
  ASSERT_EQ(second.size(), size_t(kTimes));
  for (const auto& line : first) EXPECT_EQ(line[1], "阿莫西林");
  for (const auto& line : second) EXPECT_EQ(line[1], "葡萄糖");
}

}  // namespace
