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

bool holdsLogin(std::string_view address) {
  return address.find('@') != std::string_view::npos;
}

std::string addressWithoutLogin(std::string_view address) {
  const auto at = address.rfind('@');
  if (at == std::string_view::npos) return shownName(address);
  const std::string_view text = trimmed(address);
  const auto schemeEnd = text.find("://");
  const bool knownScheme = schemeEnd != std::string_view::npos &&
                           text.data() + schemeEnd < address.data() + at &&
                           transferSchemeOf(text.substr(0, schemeEnd + 3)).has_value();
  const std::string scheme(knownScheme ? text.substr(0, schemeEnd + 3) : std::string_view());
  return shownName(scheme + std::string(address.substr(at + 1)));
}

}  // namespace quillfen
