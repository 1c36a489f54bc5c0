// The EDID files of the display tests (written by Edid/make-edids) and the board's monitor,
// and small edits of a block that keep its checksum good.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "VantorGraphics.h"

namespace vidframe_test {

using Edid = std::vector<uint8_t>;

inline std::string FixturePath(const std::string &Name) {
  return Name == "board-monitor.edid" ? std::string(BOARD_MONITOR_EDID)
                                      : std::string(EDID_FIXTURE_DIR "/") + Name;
}

inline Edid LoadFixture(const std::string &Name) {
  std::ifstream In(FixturePath(Name), std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

inline Edid FixChecksum(Edid Block) {
  Block[127] = static_cast<uint8_t>(-std::accumulate(Block.begin(), Block.begin() + 127, 0u));
  return Block;
}

// Descriptor Index (0 to 3) replaced by Bytes (18), checksum made good.
inline Edid WithDescriptor(Edid Block, unsigned Index, const std::vector<uint8_t> &Bytes) {
  std::copy(Bytes.begin(), Bytes.end(), Block.begin() + 54 + 18 * Index);
  return FixChecksum(Block);
}

// A descriptor that is neither a timing nor range limits.
inline const std::vector<uint8_t> kDummyDescriptor = {0, 0, 0, 0x10, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0,    0, 0, 0, 0, 0};

// Mode-table rows the limits accept.
inline std::vector<unsigned> FittingRows(const VANTOR_DISPLAY_LIMITS &Limits) {
  std::vector<unsigned> Rows;
  for (unsigned Row = 0; Row < VANTOR_MODE_TABLE_ROWS; Row++) {
    if (VantorModeFits(&Limits, &gVantorVideoModes[Row]) == 1) {
      Rows.push_back(Row);
    }
  }
  return Rows;
}

// The rows each of the test displays lists.
inline const std::vector<unsigned> kDefaultRows = {0, 1, 2};
inline const std::vector<unsigned> kSquareRows = {0, 1, 2, 3};
inline const std::vector<unsigned> kBoardRows = {0, 1, 2, 3, 4, 5, 6, 8, 9, 11, 13, 15};
inline const std::vector<unsigned> kFastPanelRows = {0, 1, 2, 3, 5, 6, 8, 9, 11, 13};

} // namespace vidframe_test
