#include "common/transfer_scheme.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "common/text.h"

namespace quillfen {

std::optional<TransferScheme> transferSchemeOf(std::string_view address) {
  const std::string_view text = trimmed(address);
  const auto end = text.find("://");
  if (end == std::string_view::npos) return TransferScheme::Ftp;
  std::string scheme(text.substr(0, end));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (scheme == "ftp") return TransferScheme::Ftp;
  if (scheme == "ftpes") return TransferScheme::FtpExplicitTls;
  if (scheme == "ftps") return TransferScheme::FtpImplicitTls;
  if (scheme == "sftp") return TransferScheme::Sftp;
  return std::nullopt;
}

}  // namespace quillfen
