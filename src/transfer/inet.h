#pragma once

namespace quillfen {

class MainForm;

// The synchronous FTP client over the transfer control of frmMain.
class Inet {
 public:
  explicit Inet(MainForm& host);
  ~Inet();
  Inet(const Inet&) = delete;
  Inet& operator=(const Inet&) = delete;

 private:
  MainForm& host_;
};

}  // namespace quillfen
