// Start-up when the list engine cannot be built: its buffers cannot be allocated.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "app_fixture.h"

namespace {
// While set, array allocations of an engine buffer's size fail.
bool g_failEngineBuffers = false;
}  // namespace

void* operator new[](std::size_t bytes) {
  if (g_failEngineBuffers && bytes == quorel::AtapiDevice::kBufferBytes) throw std::bad_alloc();
  return ::operator new(bytes);
}
void operator delete[](void* memory) noexcept {
  ::operator delete(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  ::operator delete(memory);
}

namespace quorel::test {
namespace {

TEST_F(AppTest, ListEngineThatCannotBeCreatedGivesThePlainErrorBox) {
  auto drive = AddDrive('E', 1, "KM01");
  g_failEngineBuffers = true;
  Start();
  g_failEngineBuffers = false;

  ASSERT_EQ(machine.messageBoxes.size(), 1u);
  EXPECT_EQ(machine.messageBoxes[0].text, text::kDeviceInitFailed);
  EXPECT_EQ(machine.messageBoxes[0].caption, text::kDeviceInitFailedCaption);
  EXPECT_EQ(machine.messageBoxes[0].type, 0x10u);  // OK, stop icon
  EXPECT_TRUE(view.dialogs.empty());
  EXPECT_EQ(view.terminateCount, 1);
  EXPECT_FALSE(view.closeRemoved);
  EXPECT_EQ(window->ListEngine(), nullptr);
  EXPECT_TRUE(drive->log.empty());
}

}  // namespace
}  // namespace quorel::test
