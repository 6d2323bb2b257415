// Which port the Linux front ends open when none is named, and how a link finds its port
// again after an unplug: in a devices' folder of the test's own, on ptys.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/port_names.h"
#include "receiver/receiver.h"
#include "serial/reopening_link.h"
#include "tests/support/pty.h"
#include "tests/support/waits.h"

namespace tovmir {
namespace {

// A devices' folder of the test's own.
class Devices : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tovmir-dev-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dev = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dev).c_str()); }
  void Device(const std::string& name) { std::ofstream(dev + "/" + name) << ""; }
  void ById(const std::string& name, const std::string& target) {
    mkdir((dev + "/serial").c_str(), 0755);
    mkdir((dev + "/serial/by-id").c_str(), 0755);
    ASSERT_EQ(symlink(target.c_str(), (dev + "/serial/by-id/" + name).c_str()), 0);
  }
  std::string dev;
};

TEST_F(Devices, TheFirstUsbAdapterElseTheFirstSerialPort) {
  EXPECT_EQ(DefaultPort(dev), dev + "/ttyS0");
  Device("ttyACM0");
  EXPECT_EQ(DefaultPort(dev), dev + "/ttyACM0");
  Device("ttyUSB0");
  EXPECT_EQ(DefaultPort(dev), dev + "/ttyUSB0");
  Device("ttyUSB1");
  ById("usb-Prolific_B-if00-port0", "../../ttyUSB0");
  ById("usb-FTDI_A-if00-port0", "../../ttyUSB1");
  EXPECT_EQ(DefaultPort(dev), dev + "/serial/by-id/usb-FTDI_A-if00-port0");
}

TEST_F(Devices, AnAdapterIsLookedForAgainUnderItsByIdName) {
  Device("ttyUSB0");
  Device("ttyUSB1");
  EXPECT_EQ(ReopenNames(dev + "/ttyUSB0", dev), std::vector<std::string>{dev + "/ttyUSB0"});
  ById("usb-FTDI_A-if00-port0", "../../ttyUSB1");
  ById("usb-Prolific_B-if00-port0", "../../ttyUSB0");
  EXPECT_EQ(ReopenNames(dev + "/ttyUSB0", dev),
            (std::vector<std::string>{dev + "/serial/by-id/usb-Prolific_B-if00-port0",
                                      dev + "/ttyUSB0"}));
  const std::string by_id = dev + "/serial/by-id/usb-FTDI_A-if00-port0";
  EXPECT_EQ(ReopenNames(by_id, dev), std::vector<std::string>{by_id});
}

class Owner : public LinkOwner, public RedrawSink {
 public:
  void LinkByte(std::uint8_t b) override {
    ReceiveByte(state, b, *this);
    ++bytes;
  }
  void LinkOpenFailed(const std::string&, const std::string&, const OsError&) override {}
  void LinkEnded(const OsError&) override { ended = true; }
  void RequestRedraw() override {}
  MeterState state;
  std::atomic<int> bytes{0};
  std::atomic<bool> ended{false};
};

// Unplugged while a network number was half sent; back under its by-id name as another
// ttyUSBn: found there, and the half number forgotten.
TEST_F(Devices, ALinkFindsItsAdapterAgainAndBeginsAfresh) {
  auto first = std::make_unique<test::Pty>(dev + "/ttyUSB0");
  ById("usb-FTDI_A-if00-port0", dev + "/ttyUSB0");
  Owner owner;
  ReopeningLink link(dev + "/ttyUSB0", dev);
  ASSERT_TRUE(link.TryOpen(owner, owner.state)) << link.error().text;
  first->Write("\xAD\x01\x02");
  ASSERT_TRUE(test::Eventually([&] { return owner.bytes == 3; }));
  first->Unplug();
  ASSERT_TRUE(test::Eventually([&] { return owner.ended.load(); }));
  link.Lost();
  EXPECT_TRUE(link.lost());
  EXPECT_FALSE(link.TryOpen(owner, owner.state));
  EXPECT_EQ(link.error().code, ENOENT);

  test::Pty second(dev + "/ttyUSB1");
  unlink((dev + "/serial/by-id/usb-FTDI_A-if00-port0").c_str());
  ById("usb-FTDI_A-if00-port0", dev + "/ttyUSB1");
  owner.ended = false;
  ASSERT_TRUE(link.TryOpen(owner, owner.state)) << link.error().text;
  EXPECT_EQ(link.reopens(), 1);
  EXPECT_FALSE(link.lost());
  second.Write("\x03\x04");
  ASSERT_TRUE(test::Eventually([&] { return owner.bytes == 5; }));
  EXPECT_EQ(owner.state.m_nNetNo, kNetUnknown) << "no number made of two connections";
  EXPECT_TRUE(link.Close());
}

}  // namespace
}  // namespace tovmir
