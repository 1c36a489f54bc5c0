// The board's components in build order, and the order its modules are dispatched in. A new
// hardware area is one folder under Platform/Board/ and one line in each list below.
#include "Board.h"

namespace host {

BoardComponent CoreComponent();
BoardComponent PciComponent();
BoardComponent L3cComponent();
BoardComponent VgaComponent();
BoardComponent I2cMailboxComponent();

const std::vector<BoardComponent> &BoardComponents() {
  static const std::vector<BoardComponent> Components = {
      CoreComponent(),
      PciComponent(),
      L3cComponent(),
      VgaComponent(),
      I2cMailboxComponent(),
  };
  return Components;
}

const std::vector<std::string> &DefaultDispatchOrder() {
  static const std::vector<std::string> Order = {
      "Regionhold",
      "Vaultcell",
      "Nicpatch",
      "Bridgemimic",
      "Slabsize",
      "Vidframe",
  };
  return Order;
}

} // namespace host
