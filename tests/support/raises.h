#pragma once

#include <gmock/gmock.h>

#include <string>

#include "common/error.h"

namespace quillfen::test {

// Matches a call that throws the Error numbered `number` whose description holds `text`.
inline auto raises(int number, const std::string& text = "") {
  return ::testing::Throws<Error>(
      ::testing::AllOf(::testing::Property(&Error::number, number),
                       ::testing::Property(&Error::description, ::testing::HasSubstr(text))));
}

}  // namespace quillfen::test
