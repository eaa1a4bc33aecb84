// The address and command parsers: any text either parses or is refused with an Error, and a
// parsed GET names two non-empty paths. scripts/fuzz runs this with a per-input time limit, so
// a parser that is not linear in its input fails the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/error.h"
#include "transfer/ftp_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const quillfen::FtpOperation operation = quillfen::parseFtpOperation(text);
    if (operation.kind == quillfen::FtpOperation::Kind::Get &&
        (operation.remote.empty() || operation.local.empty())) {
      std::abort();
    }
  } catch (const quillfen::Error&) {
  }
  try {
    const quillfen::FtpAddress address = quillfen::parseFtpAddress(text, 21);
    if (address.host.empty() || address.port == 0) std::abort();
    (void)quillfen::curlUrl(address, text);
  } catch (const quillfen::Error&) {
  }
  return 0;
}
