#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/exit_code.h"
#include "filestore/posix_file_system.h"
#include "qt_app.h"
#include "run/main_sequence.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"
#include "ui/qt_event_pump.h"
#include "ui/qt_splash_window.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The window front end's event loop over a real transfer from a server that sends slowly.
class QtTransferTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ensureOffscreenApplication(); }

 protected:
  QtTransferTest() { remote.write("slow.bin", content); }

  TransferTimeouts timeouts;
  QtEventPump pump;
  MainForm frmMain{[this] { return std::make_unique<CurlTransferControl>(pump, timeouts); }};
  QtSplashWindow window{askToCloseWithMessageBox};
  TempDir remote, local;
  const std::string content = std::string(256 << 10, 's');
};

// A modal box runs its own loop; the transfer must go on in it. The question stays open three
// times as long as the server may keep the client waiting, and the transfer outlasts that.
TEST_F(QtTransferTest, CloseQuestionLeftOpenPastTheTimeOutsDoesNotFailTheDownload) {
  timeouts = {5s, 1s, 1s};
  const FtpServer server(remote.path(), "backup", "secret", FtpServerOptions::trickling(128 << 10));
  Inet inet(frmMain, pump);
  inet.URL(server.address());
  inet.UserName("backup");
  inet.Password("secret");
  window.show();
  pump.post([this] {
    QTimer::singleShot(3s, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box != nullptr) box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(askToCloseWithMessageBox(*window.form()));
  });
  inet.Execute(inet.URL(), "GET \"slow.bin\" \"" + (local.path() / "slow.bin").string() + "\"");
  EXPECT_EQ(inet.Outcome(), RequestOutcome::Completed) << inet.ResponseInfo();
  EXPECT_EQ(readFile(local.path() / "slow.bin"), content);
}

// Cancel while a download trickles in: the run ends at once, as cancelled, keeping nothing of it.
TEST_F(QtTransferTest, CancelDuringASlowDownloadEndsTheRunAtOnceKeepingNothingOfIt) {
  remote.write("slow.bin", std::string(8 << 20, 's'));
  const FtpServer server(remote.path(), "backup", "secret", FtpServerOptions::trickling(64 << 10));
  std::ofstream(local.path() / "Config.ini")
      << "[Quillfen]\nFtpIPAddress=" << server.address()
      << "\nFtpUserName=backup\nFtpPassword=secret\nDestinationFolder=" << local.str() << "\n";
  FakeEnvironment fakes(local.str());
  Services services{fakes.clock,   fakes.sleeper,
                    pump,          window,
                    window,        fakes.messages,
                    fakes.process, fakes.format,
                    frmMain,       [] { return std::make_unique<PosixFileSystem>(); },
                    nullptr,       nullptr,
                    nullptr};
  const fs::path today = local.path() / formatYyyymmdd(fakes.clock.now().date);

  std::chrono::steady_clock::time_point clicked;
  QTimer download;
  download.callOnTimeout([&] {
    if (!fs::exists(today) || fs::is_empty(today)) return;
    download.stop();
    clicked = std::chrono::steady_clock::now();
    QTest::mouseClick(window.form()->findChild<QPushButton*>("btoCancel"), Qt::LeftButton);
  });
  download.start(50ms);
  RunModule run;
  EXPECT_EQ(Main(run, services, ""), kExitCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - clicked, 2s);
  EXPECT_TRUE(fs::is_empty(today));
}

}  // namespace
}  // namespace quillfen::test
