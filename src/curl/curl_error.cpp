#include "curl/curl_error.h"

namespace quillfen {

namespace {

constexpr std::string_view kNoHandle = "libcurl cannot create a handle";

// "CURLOPT_URL", or the option's number for one this libcurl does not know.
std::string optionName(CURLoption option) {
  const curl_easyoption* known = curl_easy_option_by_id(option);
  if (known == nullptr || known->name == nullptr) return "number " + std::to_string(option);
  return std::string("CURLOPT_") + known->name;
}

struct MailFailure {
  int number;
  std::string_view text;
};

MailFailure mailFailure(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return {errc::kMailHostNotFound, "The mail server cannot be found"};
    case CURLE_COULDNT_CONNECT:
      return {errc::kMailCannotConnect, "Cannot connect to the mail server"};
    case CURLE_OPERATION_TIMEDOUT:
      return {errc::kMailTimedOut, "The mail server did not answer in time"};
    case CURLE_URL_MALFORMAT:
      return {errc::kMailBadServer, "MailServer and MailPort name no mail server"};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return {errc::kMailUntrusted, "The mail server's certificate is not trusted"};
    case CURLE_USE_SSL_FAILED:
      return {errc::kMailNoStartTls, "The mail server does not offer STARTTLS"};
    case CURLE_SSL_CONNECT_ERROR:
      return {errc::kMailTlsFailed, "The TLS handshake with the mail server failed"};
    case CURLE_LOGIN_DENIED:
      return {errc::kMailLoginRefused, "The mail server refused the login"};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return {errc::kMailConnectionLost, "The mail server ended the conversation"};
    default:
      return {errc::kMailTransportOther, "The message could not be sent"};
  }
}

}  // namespace

EasyHandle newEasyHandle(int number) {
  EasyHandle handle(curl_easy_init());
  if (!handle) throw Error(number, std::string(kNoHandle));
  return handle;
}

MultiHandle newMultiHandle(int number) {
  MultiHandle handle(curl_multi_init());
  if (!handle) throw Error(number, std::string(kNoHandle));
  return handle;
}

void appendToSlist(SlistHandle& list, const std::string& text, int number) {
  // On failure libcurl returns null and leaves the list it was given alone.
  curl_slist* longer = curl_slist_append(list.get(), text.c_str());
  if (longer == nullptr) throw Error(number, "libcurl cannot extend a list: out of memory");
  static_cast<void>(list.release());
  list.reset(longer);
}

std::string curlText(CURLcode code, const char* errorBuffer) {
  return errorBuffer != nullptr && errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
}

std::string curlFailureText(std::string_view what, CURLcode code, const char* errorBuffer) {
  return std::string(what) + ": " + curlText(code, errorBuffer);
}

Error curlError(int number, std::string_view what, CURLcode code, const char* errorBuffer) {
  return Error(number, curlFailureText(what, code, errorBuffer));
}

Error curlMultiError(int number, std::string_view what, CURLMcode code) {
  return Error(number, std::string(what) + ": " + curl_multi_strerror(code));
}

void checkSetopt(CURLcode result, CURLoption option, int number) {
  if (result == CURLE_OK) return;
  throw curlError(number, "libcurl refused the setting " + optionName(option), result);
}

int mailErrorNumber(CURLcode code) {
  return mailFailure(code).number;
}

Error mailTransportError(CURLcode code, std::string_view where, std::string_view detail) {
  const MailFailure failure = mailFailure(code);
  std::string description(failure.text);
  description += " (";
  description += where;
  description += "): ";
  description += detail;
  return Error(failure.number, std::move(description));
}

}  // namespace quillfen
