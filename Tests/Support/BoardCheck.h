// The check at the end of every test board: the boot recorded no error the test did not
// expect (memory errors, accesses where no model is attached, protocol errors of the models,
// and whatever else the core reports as an error).
#pragma once

#include <Board.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace board_test {

// Fails the running test once per error of Built that contains none of the Expected texts.
inline void ExpectNoUnexpectedErrors(const host::Board &Built,
                                     const std::vector<std::string> &Expected = {}) {
  for (const std::string &Error : Built.UnexpectedErrors(Expected)) {
    ADD_FAILURE() << "the board recorded an error the test did not expect: " << Error;
  }
}

} // namespace board_test
