// Named blocks of shared memory, within this process and across a helper process.

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <typeindex>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_sync.h>

#include "support/child_process.h"
#include "support/raised.h"

namespace {

constexpr char mem_file[] = "src/qmgl/qmgl_mem";
constexpr unsigned page = 4096;

constexpr std::uint32_t error_file_not_found = 2;
constexpr std::uint32_t error_access_denied = 5;
constexpr std::uint32_t error_invalid_handle = 6;
constexpr std::uint32_t error_invalid_parameter = 87;

unsigned char* bytes_of(qmgl_mem const& block) {
  return static_cast<unsigned char*>(block.get_address());
}

void expect_system_error(raised const& r, std::uint32_t code) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, std::type_index(typeid(exc_unmapped_t)));
  EXPECT_EQ(r.code, code);
  EXPECT_STREQ(r.file, mem_file);
  EXPECT_EQ(r.message, narrow_ascii(error_string(code)).substr(0, 159));
}

WYGL_CHILD_ROLE(write_block) {  // args: name, text
  qmgl_mem_shared block(args.at(0).c_str(), 0, qmgl_action_open);
  std::memcpy(block.get_address(), args.at(1).c_str(), args.at(1).size() + 1);
  return 0;
}

TEST(SharedMemory, CreateTwiceRaisesAlreadyExistsAndCreateOrOpenShares) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("block").c_str());
  qmgl_mem_shared first(name, 2 * page, qmgl_action_create);
  ASSERT_NE(first.get_address(), nullptr);
  EXPECT_EQ(bytes_of(first)[0], 0) << "a new block is filled with zeros";
  EXPECT_EQ(bytes_of(first)[2 * page - 1], 0);

  raised const again =
      raise_of([&] { qmgl_mem_shared second(name, 2 * page, qmgl_action_create); });
  EXPECT_TRUE(again.thrown);
  EXPECT_EQ(again.type, std::type_index(typeid(exc_already_exists_t)));
  EXPECT_EQ(again.code, 0x20030021u);
  EXPECT_STREQ(again.file, mem_file);
  EXPECT_EQ(again.message, "exc_already_exists");

  qmgl_mem_shared shared(name, 2 * page, qmgl_action_create_or_open);
  bytes_of(first)[10] = 0x5A;
  EXPECT_EQ(bytes_of(shared)[10], 0x5A);
  bytes_of(shared)[2 * page - 1] = 0xA5;
  EXPECT_EQ(bytes_of(first)[2 * page - 1], 0xA5);
}

TEST(SharedMemory, OpenAfterTheLastHolderIsGoneRaisesFileNotFound) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("block").c_str());
  auto created = std::make_unique<qmgl_mem_shared>(name, page, qmgl_action_create);
  auto opened = std::make_unique<qmgl_mem_shared>(name, page, qmgl_action_open);
  created.reset();
  bytes_of(*opened)[0] = 1;
  qmgl_mem_shared still(name, 0, qmgl_action_open);
  EXPECT_EQ(bytes_of(still)[0], 1) << "alive while one holder remains";
  opened.reset();
  EXPECT_EQ(bytes_of(still)[0], 1);
}

TEST(SharedMemory, OpenOfANameNoProcessHoldsRaisesFileNotFound) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("block").c_str());
  { qmgl_mem_shared gone(name, page, qmgl_action_create); }
  expect_system_error(raise_of([&] { qmgl_mem_shared block(name, page, qmgl_action_open); }),
                      error_file_not_found);
  qmgl_mem_shared fresh(name, page, qmgl_action_create);
  EXPECT_EQ(bytes_of(fresh)[0], 0);
}

TEST(SharedMemory, ViewSizes) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("block").c_str());
  qmgl_mem_shared block(name, 3 * page, qmgl_action_create);
  bytes_of(block)[0] = 1;
  bytes_of(block)[3 * page - 1] = 3;

  qmgl_mem_shared whole(name, 0, qmgl_action_open);
  EXPECT_EQ(bytes_of(whole)[3 * page - 1], 3) << "size 0 maps the whole block";
  qmgl_mem_shared prefix(name, 100, qmgl_action_open);
  EXPECT_EQ(bytes_of(prefix)[0], 1);

  expect_system_error(raise_of([&] { qmgl_mem_shared big(name, 64 * page, qmgl_action_open); }),
                      error_access_denied);
  // Opening by create keeps the size the block was made with.
  expect_system_error(
      raise_of([&] { qmgl_mem_shared big(name, 64 * page, qmgl_action_create_or_open); }),
      error_access_denied);
  // Blocks and views are whole pages.
  qmgl_ntarray_of<char, 0> const small_name(unique_object_name("small").c_str());
  qmgl_mem_shared small(small_name, 100, qmgl_action_create);
  qmgl_mem_shared rounded(small_name, 200, qmgl_action_open);
  bytes_of(rounded)[199] = 9;
  EXPECT_EQ(bytes_of(small)[199], 9);
  expect_system_error(
      raise_of([&] { qmgl_mem_shared big(small_name, page + 1, qmgl_action_open); }),
      error_access_denied);
}

TEST(SharedMemory, CreateWithSizeZeroRaisesInvalidParameter) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("block").c_str());
  expect_system_error(raise_of([&] { qmgl_mem_shared block(name, 0, qmgl_action_create); }),
                      error_invalid_parameter);
  qmgl_mem_shared block(name, page, qmgl_action_create);
  expect_system_error(raise_of([&] { qmgl_mem_shared again(name, 0, qmgl_action_create_or_open); }),
                      error_invalid_parameter);
}

TEST(SharedMemory, ANameOfAnotherKindIsAnInvalidHandle) {
  std::string const lock_name = unique_object_name("lock");
  qmgl_sync_lock_shared lock(lock_name.c_str(), qmgl_action_create);
  for (qmgl_action_indicator action :
       {qmgl_action_open, qmgl_action_create, qmgl_action_create_or_open}) {
    expect_system_error(raise_of([&] { qmgl_mem_shared block(lock_name.c_str(), page, action); }),
                        error_invalid_handle);
  }
  std::string const block_name = unique_object_name("block");
  qmgl_mem_shared block(block_name.c_str(), page, qmgl_action_create);
  raised const as_lock = raise_of(
      [&] { qmgl_sync_lock_shared other(block_name.c_str(), qmgl_action_create_or_open); });
  EXPECT_EQ(as_lock.type, std::type_index(typeid(exc_unmapped_t)));
  EXPECT_EQ(as_lock.code, error_invalid_handle);
}

TEST(SharedMemory, WrittenByAnotherProcessAndReadHere) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("block").c_str());
  qmgl_mem_shared block(name, page, qmgl_action_create);
  child_process child("write_block", {static_cast<char const*>(name), "from the helper"});
  ASSERT_EQ(child.wait_for_exit(std::chrono::seconds(60)), 0);
  EXPECT_STREQ(static_cast<char const*>(block.get_address()), "from the helper");
}

TEST(SharedMemory, WithoutANameEachBlockIsItsOwn) {
  qmgl_mem_shared first("", page, qmgl_action_create);
  qmgl_mem_shared second("", page, qmgl_action_create);
  bytes_of(first)[0] = 1;
  EXPECT_EQ(bytes_of(second)[0], 0);
}

}  // namespace
