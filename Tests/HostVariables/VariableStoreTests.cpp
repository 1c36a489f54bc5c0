#include "HostText.h"
#include "ScratchFiles.h"
#include "VariableStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using host::VariableStore;

constexpr EFI_GUID kGuid = {0x158DEF5A, 0xF656, 0x419C, {0xB0, 0x27, 0x7A, 0x31, 0x92, 0xC0, 0x79, 0xD2}};
constexpr EFI_GUID kOtherGuid = {
    0x52350268, 0xC2D5, 0x4687, {0xA2, 0xA6, 0xB6, 0x5E, 0x23, 0x52, 0xDD, 0xCB}};
constexpr UINT32 kNvBs = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
constexpr UINT32 kNvBsRt = kNvBs | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 kBs = EFI_VARIABLE_BOOTSERVICE_ACCESS;

std::filesystem::path TempFile(const std::string &Name) {
  auto Path = std::filesystem::path(board_test::ScratchPath(Name).string() + ".nvram");
  std::filesystem::remove(Path);
  std::filesystem::remove(Path.string() + ".corrupt");
  return Path;
}

EFI_STATUS Put(VariableStore &Store, const char16_t *Name, UINT32 Attributes, std::vector<uint8_t> Data,
               const EFI_GUID &Guid = kGuid) {
  return Store.SetVariable(Name, &Guid, Attributes, Data.size(), Data.empty() ? nullptr : Data.data());
}

std::vector<uint8_t> Get(const VariableStore &Store, const char16_t *Name, EFI_STATUS *Status = nullptr,
                         UINT32 *Attributes = nullptr) {
  std::vector<uint8_t> Data(1024);
  UINTN Size = Data.size();
  EFI_STATUS Result = Store.GetVariable(Name, &kGuid, Attributes, &Size, Data.data());
  if (Status != nullptr) {
    *Status = Result;
  }
  Data.resize(EFI_ERROR(Result) ? 0 : Size);
  return Data;
}

std::vector<std::u16string> Enumerate(const VariableStore &Store) {
  std::vector<std::u16string> Names;
  CHAR16 Name[128] = {};
  EFI_GUID Guid{};
  for (;;) {
    UINTN Size = sizeof(Name);
    EFI_STATUS Status = Store.GetNextVariableName(&Size, Name, &Guid);
    if (Status == EFI_NOT_FOUND) {
      return Names;
    }
    EXPECT_EQ(Status, EFI_SUCCESS);
    if (EFI_ERROR(Status)) {
      return Names;
    }
    Names.emplace_back(Name);
  }
}

TEST(VariableStoreGet, ReturnsDataAndReportsNeededSizeWhenBufferIsSmall) {
  VariableStore Store;
  ASSERT_EQ(Put(Store, u"MAC0", kNvBs, {1, 2, 3, 4, 5}), EFI_SUCCESS);

  UINT32 Attributes = 0;
  UINTN Size = 2;
  uint8_t Buffer[8] = {};
  EXPECT_EQ(Store.GetVariable(u"MAC0", &kGuid, &Attributes, &Size, Buffer), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 5u);
  EXPECT_EQ(Attributes, kNvBs);
  EXPECT_EQ(Buffer[0], 0) << "nothing is copied into a buffer that is too small";

  Size = 0;
  EXPECT_EQ(Store.GetVariable(u"MAC0", &kGuid, nullptr, &Size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 5u);

  Size = sizeof(Buffer);
  Attributes = 0;
  EXPECT_EQ(Store.GetVariable(u"MAC0", &kGuid, &Attributes, &Size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Attributes, 0u) << "no output is written on an error";
  EXPECT_EQ(Size, sizeof(Buffer));
  EXPECT_EQ(Store.GetVariable(u"MAC0", &kGuid, nullptr, &Size, Buffer), EFI_SUCCESS);
  EXPECT_EQ(Size, 5u);
  EXPECT_EQ(std::vector<uint8_t>(Buffer, Buffer + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST(VariableStoreGet, MatchesNameAndGuidAndRejectsBadArguments) {
  VariableStore Store;
  ASSERT_EQ(Put(Store, u"Setup", kBs, {7}, kOtherGuid), EFI_SUCCESS);
  UINTN Size = 4;
  uint8_t Buffer[4];
  EXPECT_EQ(Store.GetVariable(u"Setup", &kGuid, nullptr, &Size, Buffer), EFI_NOT_FOUND);
  EXPECT_EQ(Store.GetVariable(u"setup", &kOtherGuid, nullptr, &Size, Buffer), EFI_NOT_FOUND);
  EXPECT_EQ(Store.GetVariable(u"Setu", &kOtherGuid, nullptr, &Size, Buffer), EFI_NOT_FOUND);
  EXPECT_EQ(Store.GetVariable(nullptr, &kOtherGuid, nullptr, &Size, Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.GetVariable(u"Setup", nullptr, nullptr, &Size, Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.GetVariable(u"Setup", &kOtherGuid, nullptr, nullptr, Buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.GetVariable(u"", &kOtherGuid, nullptr, &Size, Buffer), EFI_NOT_FOUND);
  EXPECT_EQ(Store.GetVariable(u"Setup", &kOtherGuid, nullptr, &Size, Buffer), EFI_SUCCESS);
}

TEST(VariableStoreSet, AttributeRules) {
  VariableStore Store;
  const UINT32 kRtOnly = EFI_VARIABLE_RUNTIME_ACCESS;
  EXPECT_EQ(Put(Store, u"A", kRtOnly, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"A", EFI_VARIABLE_NON_VOLATILE | kRtOnly, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"A", kNvBsRt | EFI_VARIABLE_HARDWARE_ERROR_RECORD, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"A", kNvBs | EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS, {1}), EFI_UNSUPPORTED);
  EXPECT_EQ(Put(Store, u"A", kNvBs | EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS, {1}),
            EFI_UNSUPPORTED);
  EXPECT_EQ(Put(Store, u"A", kNvBs | 0x100, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"", kNvBs, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.SetVariable(u"A", &kGuid, kNvBs, 4, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.SetVariable(nullptr, &kGuid, kNvBs, 1, "x"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.SetVariable(u"A", nullptr, kNvBs, 1, "x"), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Store.List().empty()) << "no refused write may leave a variable behind";

  ASSERT_EQ(Put(Store, u"A", kNvBs, {1}), EFI_SUCCESS);
  EXPECT_EQ(Put(Store, u"A", kNvBsRt, {2}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"A", kBs, {2}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Get(Store, u"A"), std::vector<uint8_t>{1});
  EXPECT_EQ(Put(Store, u"A", kNvBs, {3, 4}), EFI_SUCCESS);
  EXPECT_EQ(Get(Store, u"A"), (std::vector<uint8_t>{3, 4}));
}

TEST(VariableStoreSet, DeletionAndAppend) {
  VariableStore Store;
  ASSERT_EQ(Put(Store, u"A", kNvBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Put(Store, u"B", kBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Put(Store, u"C", kNvBsRt, {1}), EFI_SUCCESS);

  EXPECT_EQ(Put(Store, u"A", kNvBs, {}), EFI_SUCCESS) << "size 0 deletes";
  EXPECT_EQ(Put(Store, u"B", 0, {9}), EFI_SUCCESS) << "attributes 0 delete";
  EXPECT_EQ(Put(Store, u"C", kNvBs, {}), EFI_INVALID_PARAMETER) << "delete with other attributes";
  EXPECT_EQ(Put(Store, u"A", 0, {}), EFI_NOT_FOUND);
  EXPECT_EQ(Enumerate(Store), std::vector<std::u16string>{u"C"});

  EXPECT_EQ(Put(Store, u"C", kNvBsRt | EFI_VARIABLE_APPEND_WRITE, {2, 3}), EFI_SUCCESS);
  EXPECT_EQ(Get(Store, u"C"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Put(Store, u"C", kNvBsRt | EFI_VARIABLE_APPEND_WRITE, {}), EFI_SUCCESS) << "appending nothing";
  EXPECT_EQ(Get(Store, u"C"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Put(Store, u"C", kNvBs | EFI_VARIABLE_APPEND_WRITE, {4}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"D", kBs | EFI_VARIABLE_APPEND_WRITE, {5}), EFI_SUCCESS) << "append creates";
  UINT32 Attributes = 0;
  EFI_STATUS Status;
  EXPECT_EQ(Get(Store, u"D", &Status, &Attributes), std::vector<uint8_t>{5});
  EXPECT_EQ(Attributes, kBs) << "the append bit is not stored";
}

TEST(VariableStoreSet, SizeLimits) {
  VariableStore::Limits Limits;
  Limits.MaxVariableSize = 64;
  Limits.NonVolatileSize = 100;
  VariableStore Store(Limits);
  // "AB" takes 6 bytes with its NUL.
  EXPECT_EQ(Put(Store, u"AB", kNvBs, std::vector<uint8_t>(58)), EFI_SUCCESS);
  EXPECT_EQ(Put(Store, u"CD", kNvBs, std::vector<uint8_t>(59)), EFI_INVALID_PARAMETER)
      << "over the variable limit";
  EXPECT_EQ(Put(Store, u"CD", kNvBs, std::vector<uint8_t>(40)), EFI_OUT_OF_RESOURCES)
      << "over the store size";
  EXPECT_EQ(Put(Store, u"CD", kBs, std::vector<uint8_t>(40)), EFI_SUCCESS) << "volatile space is separate";
  EXPECT_EQ(Put(Store, u"AB", kNvBs | EFI_VARIABLE_APPEND_WRITE, {1}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"AB", kNvBs, std::vector<uint8_t>(30)), EFI_SUCCESS)
      << "a rewrite reuses its own space";
  EXPECT_EQ(Put(Store, u"CD", kNvBs, std::vector<uint8_t>(59)), EFI_INVALID_PARAMETER);

  UINT64 Max = 0, Remaining = 0, MaxVariable = 0;
  ASSERT_EQ(Store.QueryVariableInfo(kNvBs, &Max, &Remaining, &MaxVariable), EFI_SUCCESS);
  EXPECT_EQ(Max, 100u);
  EXPECT_EQ(Remaining, 100u - 36u);
  EXPECT_EQ(MaxVariable, 64u);
  EXPECT_EQ(Store.QueryVariableInfo(EFI_VARIABLE_RUNTIME_ACCESS, &Max, &Remaining, &MaxVariable),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(
      Store.QueryVariableInfo(kNvBs | EFI_VARIABLE_HARDWARE_ERROR_RECORD, &Max, &Remaining, &MaxVariable),
      EFI_UNSUPPORTED);
  EXPECT_EQ(Store.QueryVariableInfo(kNvBs, nullptr, &Remaining, &MaxVariable), EFI_INVALID_PARAMETER);
}

TEST(VariableStoreEnumeration, WalksEveryVariableOnceWithItsGuid) {
  VariableStore Store;
  ASSERT_EQ(Put(Store, u"Same", kBs, {1}, kGuid), EFI_SUCCESS);
  ASSERT_EQ(Put(Store, u"Same", kBs, {2}, kOtherGuid), EFI_SUCCESS);
  ASSERT_EQ(Put(Store, u"LongerName", kNvBs, {3}), EFI_SUCCESS);

  std::set<std::pair<std::u16string, UINT32>> Seen;
  CHAR16 Name[64] = {};
  EFI_GUID Guid{};
  UINTN Size = sizeof(Name);
  while (Store.GetNextVariableName(&Size, Name, &Guid) == EFI_SUCCESS) {
    EXPECT_EQ(Size, (std::u16string(Name).size() + 1) * sizeof(CHAR16));
    EXPECT_TRUE(Seen.insert({Name, Guid.Data1}).second);
    Size = sizeof(Name);
  }
  EXPECT_EQ(Seen.size(), 3u);
  EXPECT_TRUE(Seen.count({u"Same", kOtherGuid.Data1}));
}

TEST(VariableStoreEnumeration, ErrorRules) {
  VariableStore Store;
  CHAR16 Name[64] = {};
  EFI_GUID Guid{};
  UINTN Size = sizeof(Name);
  EXPECT_EQ(Store.GetNextVariableName(&Size, Name, &Guid), EFI_NOT_FOUND) << "empty store";
  ASSERT_EQ(Put(Store, u"LongerName", kNvBs, {3}), EFI_SUCCESS);

  Size = 4;
  EXPECT_EQ(Store.GetNextVariableName(&Size, Name, &Guid), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 22u);
  EXPECT_EQ(Name[0], 0) << "the caller's name is left as it was";

  CHAR16 Unterminated[4] = {u'A', u'B', u'C', u'D'};
  Size = sizeof(Unterminated);
  EXPECT_EQ(Store.GetNextVariableName(&Size, Unterminated, &Guid), EFI_INVALID_PARAMETER);

  CHAR16 Unknown[8] = u"Nope";
  Size = sizeof(Unknown);
  EXPECT_EQ(Store.GetNextVariableName(&Size, Unknown, &Guid), EFI_INVALID_PARAMETER);

  Size = sizeof(Name);
  EXPECT_EQ(Store.GetNextVariableName(nullptr, Name, &Guid), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.GetNextVariableName(&Size, nullptr, &Guid), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Store.GetNextVariableName(&Size, Name, nullptr), EFI_INVALID_PARAMETER);
}

TEST(VariableStoreRuntime, HidesBootServiceVariablesAndRefusesVolatileWrites) {
  VariableStore Store;
  ASSERT_EQ(Put(Store, u"BootOnly", kNvBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Put(Store, u"Runtime", kNvBsRt, {2}), EFI_SUCCESS);
  ASSERT_EQ(Put(Store, u"VolatileRt", kBs | EFI_VARIABLE_RUNTIME_ACCESS, {3}), EFI_SUCCESS);
  Store.MarkBootServicesEnded();

  EFI_STATUS Status;
  Get(Store, u"BootOnly", &Status);
  EXPECT_EQ(Status, EFI_NOT_FOUND);
  EXPECT_EQ(Enumerate(Store), (std::vector<std::u16string>{u"Runtime", u"VolatileRt"}));
  EXPECT_EQ(Put(Store, u"BootOnly", 0, {}), EFI_NOT_FOUND);
  EXPECT_EQ(Put(Store, u"BootOnly", kNvBsRt, {4}), EFI_INVALID_PARAMETER)
      << "no shadow copy of a hidden variable";
  EXPECT_EQ(Put(Store, u"New", kNvBs, {4}), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Put(Store, u"VolatileRt", kBs | EFI_VARIABLE_RUNTIME_ACCESS, {4}), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Put(Store, u"VolatileRt", 0, {}), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Put(Store, u"Runtime", kNvBsRt, {5}), EFI_SUCCESS);
  EXPECT_EQ(Get(Store, u"Runtime"), std::vector<uint8_t>{5});
  EXPECT_EQ(Store.List().size(), 3u);
}

TEST(VariableStorePersistence, SecondBootSeesNonVolatileVariablesOnly) {
  const auto File = TempFile("vars");
  {
    VariableStore FirstBoot;
    ASSERT_TRUE(FirstBoot.AttachFile(File));
    ASSERT_EQ(Put(FirstBoot, u"MAC0", kNvBs, {1, 2}), EFI_SUCCESS);
    ASSERT_EQ(Put(FirstBoot, u"NicpatchSetupSwitchVar", kNvBsRt, {1}, kOtherGuid), EFI_SUCCESS);
    ASSERT_EQ(Put(FirstBoot, u"Volatile", kBs, {9}), EFI_SUCCESS);
    ASSERT_EQ(Put(FirstBoot, u"Gone", kNvBs, {9}), EFI_SUCCESS);
    ASSERT_EQ(Put(FirstBoot, u"Gone", 0, {}), EFI_SUCCESS);
    // No explicit save: every non-volatile change is already on disk.
  }
  VariableStore SecondBoot;
  std::string Error;
  ASSERT_TRUE(SecondBoot.AttachFile(File, &Error)) << Error;
  EXPECT_EQ(Get(SecondBoot, u"MAC0"), (std::vector<uint8_t>{1, 2}));
  auto Switch = SecondBoot.Find("NicpatchSetupSwitchVar", kOtherGuid);
  ASSERT_TRUE(Switch.has_value());
  EXPECT_EQ(Switch->Attributes, kNvBsRt);
  EXPECT_EQ(Switch->Data, std::vector<uint8_t>{1});
  EXPECT_FALSE(SecondBoot.Find("Volatile", kGuid).has_value());
  EXPECT_FALSE(SecondBoot.Find("Gone", kGuid).has_value());
  EXPECT_EQ(SecondBoot.List().size(), 2u);
}

TEST(VariableStorePersistence, CorruptOrTruncatedFileIsReportedAndTreatedAsEmpty) {
  const auto File = TempFile("corrupt");
  {
    VariableStore Boot;
    ASSERT_TRUE(Boot.AttachFile(File));
    ASSERT_EQ(Put(Boot, u"MAC0", kNvBs, std::vector<uint8_t>(40, 0x33)), EFI_SUCCESS);
  }
  std::vector<char> Good;
  {
    std::ifstream In(File, std::ios::binary);
    Good.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  auto Write = [&](const std::vector<char> &Bytes) {
    std::ofstream Out(File, std::ios::binary | std::ios::trunc);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  };
  std::vector<std::vector<char>> Damaged;
  Damaged.emplace_back(Good.begin(), Good.begin() + 10); // truncated header
  Damaged.emplace_back(Good.begin(), Good.end() - 1);    // truncated payload
  Damaged.push_back(Good);
  Damaged.back()[Good.size() - 3] ^= 0x01; // a flipped data bit
  Damaged.push_back(Good);
  Damaged.back()[0] = 'X'; // bad magic
  Damaged.push_back(Good);
  Damaged.back()[8] = 2; // another version

  for (size_t Index = 0; Index < Damaged.size(); Index++) {
    Write(Damaged[Index]);
    VariableStore Boot;
    ASSERT_EQ(Put(Boot, u"Volatile", kBs, {1}), EFI_SUCCESS);
    std::string Error;
    EXPECT_FALSE(Boot.Load(File, &Error)) << "case " << Index;
    EXPECT_FALSE(Error.empty()) << "case " << Index;
    EXPECT_FALSE(Boot.Find("MAC0", kGuid).has_value()) << "case " << Index;
    EXPECT_TRUE(Boot.Find("Volatile", kGuid).has_value()) << "volatile variables are untouched";
  }

  // Booting on a damaged file keeps a copy of it and starts a fresh one.
  VariableStore Boot;
  std::string Error;
  EXPECT_FALSE(Boot.AttachFile(File, &Error));
  EXPECT_TRUE(std::filesystem::exists(File.string() + ".corrupt"));
  ASSERT_EQ(Put(Boot, u"MAC1", kNvBs, {7}), EFI_SUCCESS);
  VariableStore Next;
  EXPECT_TRUE(Next.Load(File, &Error)) << Error;
  EXPECT_TRUE(Next.Find("MAC1", kGuid).has_value());
}

// The in-memory entry point sees the same image as the file loader and names the problem
// without a file name.
TEST(VariableStorePersistence, LoadFromBytesMatchesTheFileLoader) {
  const auto File = TempFile("bytes");
  {
    VariableStore Boot;
    ASSERT_TRUE(Boot.AttachFile(File));
    ASSERT_EQ(Put(Boot, u"MAC0", kNvBs, {1, 2, 3}), EFI_SUCCESS);
  }
  std::ifstream In(File, std::ios::binary);
  std::vector<uint8_t> Image((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  VariableStore Boot;
  ASSERT_EQ(Put(Boot, u"Volatile", kBs, {1}), EFI_SUCCESS);
  std::string Error;
  ASSERT_TRUE(Boot.LoadFromBytes(Image, &Error)) << Error;
  EXPECT_EQ(Get(Boot, u"MAC0"), (std::vector<uint8_t>{1, 2, 3}));

  Image.back() ^= 0x01;
  EXPECT_FALSE(Boot.LoadFromBytes(Image, &Error));
  EXPECT_EQ(Error, "checksum mismatch");
  EXPECT_FALSE(Boot.Find("MAC0", kGuid).has_value());
  EXPECT_TRUE(Boot.Find("Volatile", kGuid).has_value());
}

TEST(VariableStorePersistence, FailedSaveUndoesTheChange) {
  VariableStore Store;
  const auto Directory = std::filesystem::temp_directory_path() / "no-such-dir-for-nvram" / "x.nvram";
  EXPECT_TRUE(Store.AttachFile(Directory)) << "a missing file is an empty store";
  EXPECT_EQ(Put(Store, u"MAC0", kNvBs, {1}), EFI_DEVICE_ERROR);
  EXPECT_FALSE(Store.Find("MAC0", kGuid).has_value());
  EXPECT_EQ(Put(Store, u"Volatile", kBs, {1}), EFI_SUCCESS) << "volatile writes never touch the file";
}

TEST(VariableStoreHelpers, GuidTextAndUtf8RoundTrip) {
  EXPECT_EQ(host::GuidText(kGuid), "158DEF5A-F656-419C-B027-7A3192C079D2");
  auto Parsed = host::ParseGuid("{158def5a-f656-419c-b027-7a3192c079d2}");
  ASSERT_TRUE(Parsed.has_value());
  EXPECT_TRUE(CompareGuidValues(*Parsed, kGuid));
  EXPECT_FALSE(host::ParseGuid("158DEF5A-F656-419C-B027-7A3192C079D").has_value());
  EXPECT_FALSE(host::ParseGuid("158DEF5A+F656-419C-B027-7A3192C079D2").has_value());
  EXPECT_FALSE(host::ParseGuid("158DEF5G-F656-419C-B027-7A3192C079D2").has_value());

  const std::string Text = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";
  EXPECT_EQ(host::Utf8ToUtf16(Text), u"Grüß € 😀");
  EXPECT_EQ(host::Utf16ToUtf8(host::Utf8ToUtf16(Text)), Text);
  EXPECT_EQ(host::Utf8ToUtf16("A\xC3"), u"A\uFFFD") << "a cut sequence does not read past the end";
  EXPECT_EQ(VariableStore::FormatAttributes(kNvBsRt), "NV+BS+RT");
}

} // namespace
