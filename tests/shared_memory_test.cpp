// Named blocks of shared memory, within this process and across a helper process.

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_mem.h>

#include "support/child_process.h"
#include "support/raised.h"

namespace {

constexpr unsigned page = 4096;

unsigned char* bytes_of(qmgl_mem const& block) {
  return static_cast<unsigned char*>(block.get_address());
}

WYGL_CHILD_ROLE(write_block) {  // args: name, text
  qmgl_mem_shared block(args.at(0).c_str(), 0, qmgl_action_open);
  std::memcpy(block.get_address(), args.at(1).c_str(), args.at(1).size() + 1);
  return 0;
}

}  // namespace

// Blocks and views are whole pages; a view of size 0 maps the whole block, and opening by
// create keeps the size the block was made with.
TEST(SharedMemory, CreateShareAndSizes) {
  std::string const name = unique_object_name("block"), fresh = unique_object_name("fresh");
  qmgl_mem_shared first(name.c_str(), 2 * page + 100, qmgl_action_create);
  EXPECT_EQ(bytes_of(first)[0] | bytes_of(first)[3 * page - 1], 0) << "filled with zeros";
  raised const again = raise_of([&] { qmgl_mem_shared b(name.c_str(), page, qmgl_action_create); });
  EXPECT_EQ(again.type, typeid(exc_already_exists_t));
  EXPECT_EQ(again.code, 0x20030021u);
  EXPECT_STREQ(again.file, "src/qmgl/qmgl_mem");
  EXPECT_EQ(again.message, "exc_already_exists");
  qmgl_mem_shared shared(name.c_str(), 2 * page, qmgl_action_create_or_open);
  qmgl_mem_shared whole(name.c_str(), 0, qmgl_action_open);
  bytes_of(first)[10] = 0x5A;
  bytes_of(shared)[2 * page - 1] = 0xA5;
  bytes_of(whole)[3 * page - 1] = 3;
  EXPECT_EQ(bytes_of(whole)[10], 0x5A);
  EXPECT_EQ(bytes_of(first)[2 * page - 1], 0xA5);
  EXPECT_EQ(bytes_of(first)[3 * page - 1], 3);

  std::tuple<std::string, unsigned, qmgl_action_indicator, std::uint32_t> const rows[] = {
      {name, 3 * page + 1, qmgl_action_open, 5},
      {name, 64 * page, qmgl_action_create_or_open, 5},
      {fresh, 0, qmgl_action_create, 87},
      {name, 0, qmgl_action_create_or_open, 87}};
  for (auto const& [block, size, action, code] : rows) {
    raised const r = raise_of([&] { qmgl_mem_shared b(block.c_str(), size, action); });
    EXPECT_EQ(r.type, typeid(exc_unmapped_t)) << size;
    EXPECT_EQ(r.code, code) << size;
    EXPECT_EQ(r.message, system_text(code).substr(0, 159)) << size;
  }
}

TEST(SharedMemory, LivesWhileHeldAndIsSharedWithAnotherProcess) {
  std::string const name = unique_object_name("block");
  auto created = std::make_unique<qmgl_mem_shared>(name.c_str(), page, qmgl_action_create);
  auto opened = std::make_unique<qmgl_mem_shared>(name.c_str(), page, qmgl_action_open);
  created.reset();
  child_process child("write_block", {name, "from the helper"});
  ASSERT_EQ(child.wait_for_exit(std::chrono::seconds(60)), 0);
  EXPECT_STREQ(static_cast<char const*>(opened->get_address()), "from the helper");
  opened.reset();
  EXPECT_EQ(raise_of([&] { qmgl_mem_shared b(name.c_str(), page, qmgl_action_open); }).code, 2u);
  qmgl_mem_shared again(name.c_str(), page, qmgl_action_create);
  EXPECT_EQ(bytes_of(again)[0], 0) << "a new block";
  qmgl_mem_shared first("", page, qmgl_action_create), second("", page, qmgl_action_create);
  bytes_of(first)[0] = 1;
  EXPECT_EQ(bytes_of(second)[0], 0) << "without a name, each block is its own";
}
