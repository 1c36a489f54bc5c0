// The publication switch across boots on one persistent variable store.
#include "NicpatchTestBoard.h"

#include <gtest/gtest.h>

namespace nicpatch_test {
namespace {

struct SwitchState {
  std::optional<uint8_t> Comparand;
  std::optional<uint8_t> Setup;
  std::optional<std::u16string> Text;
};

SwitchState ReadSwitch(TestBoard &Board) {
  SwitchState State;
  if (auto C = Board.Variable("NicpatchSwitchBaseComparand", SwitchGuid); C && C->Data.size() == 1) {
    State.Comparand = C->Data[0];
    EXPECT_EQ(C->Attributes, NV_BS);
  }
  if (auto P = Board.Variable("NicpatchSetupSwitchVar", SwitchGuid); P && P->Data.size() == 1) {
    State.Setup = P->Data[0];
    EXPECT_EQ(P->Attributes, NV_BS_RT);
  }
  if (auto T = Board.Variable("NicpatchSwitch", MacGuid)) {
    EXPECT_EQ(T->Data.size(), 40u);
    EXPECT_EQ(T->Attributes, NV_BS);
    State.Text = Board.Text("NicpatchSwitch", MacGuid);
  }
  return State;
}

void ExpectSwitch(TestBoard &Board, uint8_t Value) {
  SwitchState State = ReadSwitch(Board);
  EXPECT_EQ(State.Comparand, std::optional<uint8_t>(Value));
  EXPECT_EQ(State.Setup, std::optional<uint8_t>(Value));
  EXPECT_EQ(State.Text, std::optional<std::u16string>(Value ? u"1" : u"0"));
}

// Publication ran: the service was asked and the DSDT carries the table's texts.
void ExpectPublished(TestBoard &Board) {
  ASSERT_NE(Board.EepromMac(), nullptr);
  EXPECT_EQ(Board.EepromMac()->Calls(), 1u);
  EXPECT_EQ(Board.DsdtMacOf("ETH0"), "02:5a:00:00:00:01");
  EXPECT_EQ(Board.Mac(4), DefaultMac(4));
}

// Publication off: nothing asked, DSDT untouched, every MAC variable gone.
void ExpectOff(TestBoard &Board) {
  ASSERT_NE(Board.EepromMac(), nullptr);
  EXPECT_EQ(Board.EepromMac()->Calls(), 0u);
  EXPECT_EQ(Board.CurrentDsdt(), Board.OriginalDsdt());
  for (unsigned Slot = 0; Slot < 9; Slot++) {
    EXPECT_FALSE(Board.Variable("MAC" + std::to_string(Slot), MacGuid).has_value()) << Slot;
  }
}

TEST(NicpatchSwitch, FirstBootCreatesTheSwitchOffAndDeletesMacVariables) {
  TestBoard Board;
  Board.SetText("MAC3", MacGuid, u"00:11:22:33:44:58");
  Board.SetText("MAC8", MacGuid, u"02:00:00:00:00:08");
  host::ImageResult Result = Board.Boot();
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_FALSE(Result.Unloaded);
  ExpectSwitch(Board, 0);
  ExpectOff(Board);
}

TEST(NicpatchSwitch, SetupCopyTurnsItOnAndTextCopyTurnsItOffAtTheNextBoot) {
  TestBoard Board;
  Board.Boot();
  ExpectSwitch(Board, 0);

  Board.SetSwitch(std::nullopt, 1, std::nullopt);
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  ExpectSwitch(Board, 1);
  ExpectPublished(Board);

  // Unchanged copies keep it on.
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  ExpectSwitch(Board, 1);
  ExpectPublished(Board);

  Board.SetSwitch(std::nullopt, std::nullopt, u"0");
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  ExpectSwitch(Board, 0);
  ExpectOff(Board);
}

struct OutcomeRow {
  uint8_t C, P, T, NewC;
};

class NicpatchSwitchOutcome : public testing::TestWithParam<OutcomeRow> {};

TEST_P(NicpatchSwitchOutcome, ReconcilesTheThreeCopies) {
  const OutcomeRow Row = GetParam();
  TestBoard Board;
  Board.SetSwitch(Row.C, Row.P, Row.T ? u"1" : u"0");
  Board.SetText("MAC5", MacGuid, u"02:00:00:00:00:05");
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  ExpectSwitch(Board, Row.NewC);
  if (Row.NewC) {
    ExpectPublished(Board);
    EXPECT_EQ(Board.Mac(5), "02:5a:00:00:00:05"); // the service's text for slot 5
  } else {
    ExpectOff(Board);
  }
}

INSTANTIATE_TEST_SUITE_P(AllRows, NicpatchSwitchOutcome,
                         testing::Values(OutcomeRow{0, 0, 0, 0}, OutcomeRow{1, 1, 1, 1},
                                         OutcomeRow{0, 1, 0, 1}, OutcomeRow{0, 0, 1, 1},
                                         OutcomeRow{0, 1, 1, 1}, OutcomeRow{1, 0, 1, 0},
                                         OutcomeRow{1, 1, 0, 0}, OutcomeRow{1, 0, 0, 0}),
                         [](const testing::TestParamInfo<OutcomeRow> &Info) {
                           const OutcomeRow &Row = Info.param;
                           return "C" + std::to_string(Row.C) + "P" + std::to_string(Row.P) + "T" +
                                  std::to_string(Row.T);
                         });

TEST(NicpatchSwitch, UnacceptableTextIsRewrittenWithoutFlipping) {
  const std::vector<std::u16string> Texts = {u"2", u"01", u"1 ", std::u16string(20, u'1')};
  for (uint8_t State : {0, 1}) {
    for (const std::u16string &Text : Texts) {
      TestBoard Board;
      Board.SetSwitch(State, State, std::nullopt);
      Board.SetText("NicpatchSwitch", MacGuid, Text);
      EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
      SCOPED_TRACE(Narrow(Text) + " with state " + std::to_string(State));
      ExpectSwitch(Board, State);
    }
  }
}

TEST(NicpatchSwitch, OversizedVariablesCountAsMissing) {
  TestBoard Board;
  Board.SetVariable("NicpatchSwitchBaseComparand", SwitchGuid, NV_BS, {1, 1});
  Board.SetVariable("NicpatchSetupSwitchVar", SwitchGuid, NV_BS_RT, {1, 0});
  Board.SetText("NicpatchSwitch", MacGuid, u"1", 42);
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  ExpectSwitch(Board, 0);
}

TEST(NicpatchSwitch, EmptyTextCountsAsZero) {
  TestBoard Board;
  Board.SetSwitch(0, 0, u"");
  Board.Boot();
  // Accepted as it is: state 0 and the empty text kept.
  EXPECT_EQ(ReadSwitch(Board).Text, std::optional<std::u16string>(u""));
  EXPECT_EQ(ReadSwitch(Board).Comparand, std::optional<uint8_t>(0));

  Board.SetSwitch(1, 1, u"");
  Board.Boot();
  ExpectSwitch(Board, 0);
}

TEST(NicpatchSwitch, RememberedStateOtherThanZeroOrOneTurnsItOff) {
  TestBoard Board;
  Board.SetSwitch(5, 5, u"1");
  Board.Boot();
  ExpectSwitch(Board, 0);

  // Even when the text copy is rewritten from the bad value and the setup copy agrees with it.
  Board.SetSwitch(7, 7, u"x");
  Board.SetText("MAC1", MacGuid, u"02:00:00:00:00:01");
  EXPECT_EQ(Board.Boot().Status, EFI_SUCCESS);
  ExpectSwitch(Board, 0);
  ExpectOff(Board);
}

TEST(NicpatchSwitch, OffDeletesOversizedMacVariablesToo) {
  TestBoard Board;
  Board.SetText("MAC2", MacGuid, u"02:00:00:00:00:02", 64);
  Board.Boot();
  ExpectOff(Board);
}

} // namespace
} // namespace nicpatch_test
